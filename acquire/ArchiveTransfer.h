#pragma once

#include "acquire/CurlTransfer.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Runs HTTPS transfers (CurlTransfer) one after the other on a worker thread,
// so the window stays responsive. Each start() gets an id; its end is
// reported by finished() on the owner's thread, through the event loop.
class ArchiveTransfer : public QObject
{
    Q_OBJECT

public:
    explicit ArchiveTransfer(QObject *parent = nullptr);
    // Ends the running transfer (within a second) and waits for the worker.
    ~ArchiveTransfer() override;

    // Queues a transfer behind any running one; returns its id (> 0).
    int start(const QString &url, const QString &localPath, const CurlTransfer::Options &options);
    // Ends every transfer started so far; each still reports finished().
    void abortAll();

signals:
    // httpCode: the final answer's status, 0 when none came; retryAfter: its
    // Retry-After header, for a 429 or 503.
    void finished(int id, int status, int httpCode, const QString &errorString, const QByteArray &retryAfter);

private slots:
    void deliverResults();

private:
    struct Job
    {
        int id = 0;
        QString url;
        QString localPath;
        CurlTransfer::Options options;
    };
    struct Done
    {
        int id = 0;
        CurlTransfer::Result result;
    };
    void run();

    // Jobs and results pass under a standard lock (visible to the thread
    // sanitizer); the event loop only carries the wake-up.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    std::deque<Done> m_done;
    bool m_stop = false;
    int m_lastId = 0;
    // Transfers with an id up to this one are ended.
    std::atomic_int m_abortUpTo{0};
    std::thread m_thread;

    Q_DISABLE_COPY(ArchiveTransfer)
};
