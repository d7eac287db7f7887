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
// Like the tile writer, a std::thread works a queue guarded by a standard
// mutex (which the thread sanitizer sees); the event loop only carries a
// wake-up without data, and the results are taken under the lock.
class ArchiveTransfer : public QObject
{
    Q_OBJECT

public:
    explicit ArchiveTransfer(QObject *parent = nullptr);
    // Ends the running transfer (within a second) and waits for the worker.
    ~ArchiveTransfer() override;

    // Queues a transfer behind any running one; returns its id (> 0). An
    // empty localPath keeps the body in memory: the result carries it.
    int start(const QString &url, const QString &localPath, const CurlTransfer::Options &options);
    // Ends every transfer started so far; each still reports finished().
    void abortAll();

signals:
    // The transfer's result, whole.
    void finished(int id, const FetchResult &result);

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
