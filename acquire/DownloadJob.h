#pragma once

#include "acquire/AnswerBody.h"
#include "acquire/EntryPlan.h"
#include "acquire/FetchResult.h"
#include "acquire/JobLimits.h"
#include "acquire/JobOutcome.h"
#include "acquire/TransferWatch.h"
#include "mapview/AnswerHeaders.h"
#include "settings/ProxySettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QNetworkReply>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <optional>

class ArchiveTransfer;
class QNetworkAccessManager;
class QTimer;
class TileWriter;

// The road of one tile, from the Download button to its file:
//   CvTilewright::slot_download  counts the visible area and starts a
//                                DownloadRun, which begins a job here (the
//                                destination is probed once) and lists the
//                                first chunk of the area
//   DownloadRun::goOn            plans the front entry (EntryPlan: address,
//                                file, transport) and hands it to start()
//                                whenever canStart() says the job takes it
//   DownloadJob::start           sends a GET through Qt (conditional when a
//                                sound tile is already there), or queues the
//                                HTTPS transfer on ArchiveTransfer's thread,
//                                a few tiles ahead of the one running
//   AnswerBody                   on both transports the body arrives piece by
//                                piece, bounded in size and judged by its
//                                framing; the transfer's end becomes one
//                                FetchResult (plain HTTP here, HTTPS on the
//                                worker, which commits an archive's file
//                                through TileFile)
//   DownloadJob::conclude        one decision for both: a tile's body goes to
//                                the TileWriter's thread, which judges it sound
//                                and stores it (TileFile again); a server that asks to wait is asked
//                                again later; refusals, a full disk and every
//                                count are decided here
//   tileFinished / archiveFinished run DownloadRun's loop again: the next
//                                entry, the next chunk, or the end
//   DownloadJob::finish          waits for the writer and gives the outcome and
//                                why the job stopped; app/ words them
// Strictly one request is on the wire at a time; every entry lands in the
// outcome's counts: stored, unchanged, failed with its reason, or skipped.
class DownloadJob : public QObject
{
    Q_OBJECT

public:
    // The request id every archive completion carries.
    static constexpr int ArchiveRequestId = 1001;
    // HTTPS entries handed to the transfer worker at most at a time, the
    // running one included.
    static constexpr int ArchivesAhead = 3;

    // The bounds of the job's requests; tests shorten them.
    struct Limits
    {
        int connectTimeoutSeconds = JobLimits::ConnectTimeoutSeconds;
        int lowSpeedSeconds = JobLimits::LowSpeedSeconds;
        int lowSpeedBytes = JobLimits::LowSpeedBytesPerSecond;
        qint64 tileBodyLimit = JobLimits::TileBodyLimit;
        qint64 archiveBodyLimit = JobLimits::ArchiveBodyLimit;
        int maxRetryWaitMs = JobLimits::MaxRetryWaitMs;
    };

    explicit DownloadJob(QObject *parent = nullptr);
    // Ends the request in flight; writes what is queued.
    ~DownloadJob() override;

    void setLimits(const Limits &limits) { m_limits = limits; }
    // A sound tile already at its place is kept without a request (counted
    // unchanged), instead of being asked about with a conditional request.
    void setSkipExisting(bool skip) { m_skipExisting = skip; }
    const Limits &limits() const { return m_limits; }

    // A new job for the destination folder: what a stopped job still had to
    // write is written first, the counts start from zero, and the folder is
    // made and probed once. A destination that takes no file stops the job
    // before its first request.
    void begin(const ProxySettings &proxy, const QString &destFolder);
    // The proxy for the requests from now on (plain HTTP and HTTPS).
    void setProxy(const ProxySettings &proxy);
    // Sends the entry's request. False when the entry ended at once (no
    // address, no file name, no tile server); it is counted then. A job that
    // must stop sends nothing and reports the entry's end from the event loop.
    bool start(const EntryPlan &plan);
    // Stop: the request in flight (or the wait before asking again) ends and
    // reports nothing; its old tile stays.
    void abort();
    // Why a job may not go on.
    struct StopReason
    {
        enum class Kind {
            None,
            Unwritable, // the destination takes no file
            DiskFull,   // no space, quota or file-size limit left
            Refused     // the server refused RefusalStreak requests in a row
        };
        Kind kind = Kind::None;
        QString folder;      // the destination
        QString detail;      // Unwritable, DiskFull: the system's reason
        int httpStatus = 0;  // Refused: the last refusal's status
        int refusals = 0;    // Refused: how many in a row
        QString serverText;  // Refused: the first line of the server's text
    };

    // Waits for the writer and gives the job's outcome.
    JobOutcome finish();

    // The job may not go on: the destination takes no files, the disk is
    // full, or the server keeps refusing. stopReason() says why.
    bool mustStop() const { return stopReason().kind != StopReason::Kind::None; }
    StopReason stopReason() const;

    // Whether start() would take this entry now: when nothing is in flight,
    // or when HTTPS transfers are and this entry is one too. Such an entry
    // waits on the transfer worker behind the others and is sent the moment
    // the one before it ends: still one request on the wire, but no wait for
    // this thread between two tiles.
    bool canStart(const EntryPlan &plan) const;
    bool busy() const { return m_reply || !m_archiveQueue.empty() || m_waiting || m_pendingEnd || m_pausing; }
    bool archiveInFlight() const { return !m_archiveQueue.empty(); }
    // Waiting before the same tile is asked for again.
    bool waitingToRetry() const { return m_waiting; }
    QNetworkAccessManager *networkManager() const { return m_network; }
    QNetworkReply *reply() const { return m_reply; }
    const JobOutcome &outcome() const { return m_outcome; }

signals:
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void requestError(QNetworkReply::NetworkError code);
    // The plain-HTTP entry in flight has ended, stored or failed.
    void tileFinished();
    // The HTTPS entry in flight has ended; error: nothing was stored.
    void archiveFinished(int requestId, bool error);
    // The job waits for the server before asking again; sent once a second.
    void waiting(int secondsLeft, int httpStatus);

private:
    // An HTTPS transfer handed to the worker.
    struct ArchiveEntry
    {
        int id = 0;
        EntryPlan plan;
        int retries = 0; // asked again after the server asked to wait
    };

    void send(const EntryPlan &plan);
    void sendRequest();
    void sendArchive(const EntryPlan &plan, int retries = 0);
    void dropQueuedArchives();
    void readHeaders();
    void readBody();
    void watch();
    void cut(AnswerBody::Ending why);
    void replyFinished(QNetworkReply *done);
    void archiveEnded(int id, const FetchResult &result);
    // What an entry's answer comes to, the same for both transports. True
    // when the entry goes on after a wait the server asked for. An Ok tile
    // body goes to the writer; an archive the transfer has committed itself.
    bool conclude(const FetchResult &result, int retries, const EntryPlan &plan);
    void keepWriterShort();
    void retryLater(qint64 waitMs, int status);
    void showWait();
    void countRefusal(const FetchResult &result);
    void stopFor(StopReason::Kind kind, const QString &detail);
    void endEntryLater();
    void releaseReply();
    QDateTime conditionalTime(const QString &path, qint64 limit) const;

    Limits m_limits;
    bool m_skipExisting = false;
    QNetworkAccessManager *m_network = nullptr;
    TileWriter *m_writer = nullptr;
    ArchiveTransfer *m_archives = nullptr; // made for the first HTTPS entry
    ProxySettings m_proxy;
    QString m_destFolder;
    StopReason m_stop;

    // The plain-HTTP entry in flight.
    EntryPlan m_plan;
    QNetworkReply *m_reply = nullptr;
    QDateTime m_ifModifiedSince;
    AnswerHeaders m_headers; // of m_reply, redirects taken off
    int m_retries = 0;
    std::optional<AnswerBody> m_answer;
    std::optional<TransferWatch> m_watch;
    AnswerBody::Ending m_cut = AnswerBody::Ending::Complete; // set when the job ended the reply
    bool m_cutByJob = false;
    QTimer *m_watchdog = nullptr;
    qint64 m_received = 0; // bytes of the answer so far

    // The in-house server's pause before the entry's request.
    QTimer *m_pauseTimer = nullptr;
    std::optional<EntryPlan> m_paused;
    bool m_pausing = false;

    // Waiting for the server before asking again.
    QTimer *m_retryTimer = nullptr;
    QTimer *m_countdown = nullptr;
    bool m_waiting = false;
    int m_waitStatus = 0;

    int m_refusals = 0;       // 401/403 answers in a row
    bool m_pendingEnd = false; // an entry of a stopped job reports its end
    quint32 m_generation = 0;  // bumped by abort(): late reports are dropped
    // The HTTPS transfers handed to the worker, in the order they run.
    std::deque<ArchiveEntry> m_archiveQueue;
    // Sent again, in this order, when the wait the server asked for is over.
    std::deque<ArchiveEntry> m_heldArchives;
    bool m_archiveElevation = false; // the last one queued is an elevation archive
    JobOutcome m_outcome;

    Q_DISABLE_COPY(DownloadJob)
};
