#pragma once

#include "acquire/EntryPlan.h"
#include "acquire/JobOutcome.h"
#include "settings/ProxySettings.h"

#include <QNetworkReply>
#include <QObject>
#include <QString>

class ArchiveTransfer;
class QNetworkAccessManager;
class TileWriter;

// The road of one tile, from the Download button to its file:
//   CvTilewright::slot_download  enumerates the visible area into the window's
//                                tile list and begins a job here
//   CvTilewright::downloadFile   takes the front entry, lets EntryPlan decide
//                                its address, file and transport, and hands
//                                the plan to start()
//   DownloadJob::start           makes sure the zoom/x folder can be written
//                                (once per folder and job), then sends a GET
//                                through Qt, or queues the HTTPS transfer on
//                                ArchiveTransfer's thread (libcurl)
//   DownloadJob::replyFinished   a 2xx answer that is not a document goes to
//                                the TileWriter's thread, which replaces the
//                                old file only with the complete new one
//   tileFinished / archiveFinished reach CvTilewright::finished /
//                                httpRequestFinished, which go on with the
//                                next entry, the next chunk, or the end
//   DownloadJob::finish          waits for the writer and hands back the
//                                JobOutcome whose end text the status line shows
// Strictly one request is in flight at a time; every entry lands in the
// outcome's counts, stored or failed with its reason.
class DownloadJob : public QObject
{
    Q_OBJECT

public:
    // The request id every archive completion carries.
    static constexpr int ArchiveRequestId = 1001;

    explicit DownloadJob(QObject *parent = nullptr);
    // Ends the request in flight; writes what is queued.
    ~DownloadJob() override;

    // A new job: what a stopped job still had to write is written first,
    // the counts start from zero and folders are checked anew.
    void begin(const ProxySettings &proxy);
    // The proxy for the requests from now on (plain HTTP and HTTPS).
    void setProxy(const ProxySettings &proxy);
    // Sends the entry's request. False when the entry ended at once (no
    // address, nothing writable, no tile server); it is counted then.
    bool start(const EntryPlan &plan);
    // Stop: the request in flight is ended and reports nothing; its old tile stays.
    void abort();
    // Waits for the writer and gives the job's outcome.
    JobOutcome finish();

    bool busy() const { return m_reply || m_archiveId != 0; }
    bool archiveInFlight() const { return m_archiveId != 0; }
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

private:
    bool folderWritable(const QString &folder);
    void sendRequest(const EntryPlan &plan);
    void sendArchive(const EntryPlan &plan);
    void replyFinished(QNetworkReply *done);
    void recordAnswer(QNetworkReply *done);
    void archiveEnded(int id, int status);
    void releaseReply();

    QNetworkAccessManager *m_network = nullptr;
    TileWriter *m_writer = nullptr;
    ArchiveTransfer *m_archives = nullptr; // made for the first HTTPS entry
    ProxySettings m_proxy;
    QNetworkReply *m_reply = nullptr;
    QString m_replyPath;     // where the answer in flight goes
    int m_archiveId = 0;     // transfer waited for; 0 = none
    QString m_checkedFolder; // created and writable in this job
    JobOutcome m_outcome;

    Q_DISABLE_COPY(DownloadJob)
};
