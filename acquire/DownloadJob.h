#pragma once

#include "acquire/EntryPlan.h"
#include "acquire/JobLimits.h"
#include "acquire/JobOutcome.h"
#include "mapview/AnswerHeaders.h"
#include "mapview/TileContent.h"
#include "settings/ProxySettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>

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
//   DownloadJob::readBody        the body arrives piece by piece, bounded in
//                                size and judged by TileContent::Checker
//   DownloadJob::replyFinished   a complete body that is a tile goes to the
//                                TileWriter's thread, which replaces the old
//                                file only with the complete new one; a server
//                                that asks to wait is asked again later
//   tileFinished / archiveFinished run DownloadRun's loop again: the next
//                                entry, the next chunk, or the end
//   DownloadJob::endText         waits for the writer and gives the status
//                                line's text for the job's end
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
    // Waits for the writer and gives the job's outcome.
    JobOutcome finish();
    // The status line's text at the job's end: why it stopped, or the
    // outcome's end text.
    QString endText(const QString &destFolder);

    // The job may not go on: the destination takes no files, the disk is
    // full, or the server keeps refusing. stopText() says why.
    bool mustStop() const { return !m_stopText.isEmpty(); }
    QString stopText() const { return m_stopText; }

    // Whether start() would take this entry now: when nothing is in flight,
    // or when HTTPS transfers are and this entry is one too. Such an entry
    // waits on the transfer worker behind the others and is sent the moment
    // the one before it ends: still one request on the wire, but no wait for
    // this thread between two tiles.
    bool canStart(const EntryPlan &plan) const;
    bool busy() const { return m_reply || !m_archiveQueue.empty() || m_waiting || m_pendingEnd; }
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
    // A text for the status line while the job waits for the server.
    void statusText(const QString &text);

private:
    // Why the job ended a reply itself.
    enum class Cut { None, TooLarge, TimedOut, Broken };
    // An HTTPS transfer handed to the worker, with the folders made for it
    // (taken back when nothing came).
    struct ArchiveEntry
    {
        int id = 0;
        QStringList madeFolders;
        EntryPlan plan;
        int retries = 0; // asked again after the server asked to wait
    };

    void sendRequest();
    void sendArchive(const EntryPlan &plan, const QStringList &madeFolders, int retries = 0);
    void dropQueuedArchives();
    void readHeaders();
    void readBody();
    void watch();
    void cut(Cut why);
    void replyFinished(QNetworkReply *done);
    void recordAnswer(QNetworkReply *done);
    bool answerStatus(QNetworkReply *done, int status);
    void retryLater(qint64 waitMs, int status);
    void showWait(int status);
    void countRefusal(int status, const QString &text);
    void archiveEnded(int id, int status, int httpCode, const QString &error, const QByteArray &retryAfter);
    bool retryArchives(const ArchiveEntry &ended, int httpStatus, const QByteArray &retryAfter);
    void checkDisk();
    void endEntryLater();
    void releaseReply();
    QDateTime conditionalTime(const QString &path, qint64 limit) const;

    Limits m_limits;
    QNetworkAccessManager *m_network = nullptr;
    TileWriter *m_writer = nullptr;
    ArchiveTransfer *m_archives = nullptr; // made for the first HTTPS entry
    ProxySettings m_proxy;
    QString m_destFolder;
    QString m_stopText;

    // The plain-HTTP entry in flight.
    EntryPlan m_plan;
    QNetworkReply *m_reply = nullptr;
    QDateTime m_ifModifiedSince;
    AnswerHeaders m_headers; // of m_reply, redirects taken off
    int m_retries = 0;
    int m_status = 0;           // of the answer being read
    QByteArray m_body;          // a 2xx body, up to the size bound
    QByteArray m_errorHead;     // the start of an error answer's body
    std::unique_ptr<TileContent::Checker> m_checker;
    Cut m_cut = Cut::None;
    QTimer *m_watchdog = nullptr;
    QElapsedTimer m_sinceStart;  // of the request
    QElapsedTimer m_window;      // of the low-speed measure
    qint64 m_received = 0;       // bytes of the answer so far, headers counted as one
    qint64 m_windowStart = 0;
    bool m_answered = false;

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
