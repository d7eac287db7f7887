#include "acquire/ArchiveTransfer.h"

#include "acquire/CurlEngine.h"

#include <QMetaObject>

ArchiveTransfer::ArchiveTransfer(QObject *parent)
    : QObject(parent)
{
    CurlTransfer::ensureGlobalInit();
    qRegisterMetaType<FetchResult>();
    m_thread = std::thread([this] { run(); });
}

ArchiveTransfer::~ArchiveTransfer()
{
    abortAll();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

int ArchiveTransfer::start(const QString &url, const QString &localPath,
                           const CurlTransfer::Options &options)
{
    const int id = ++m_lastId;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(Job{id, url, localPath, options});
    }
    m_wake.notify_all();
    return id;
}

void ArchiveTransfer::abortAll()
{
    m_abortUpTo.store(m_lastId);
}

void ArchiveTransfer::run()
{
    // One handle for the worker's life: consecutive tiles of one server
    // travel over one kept-alive connection.
    CurlEngine engine;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_jobs.empty() || m_stop; });
        if (m_stop)
            return;
        const Job job = m_jobs.front();
        m_jobs.pop_front();
        lock.unlock();
        const CurlTransfer::AbortTest ended = [this, id = job.id]() { return id <= m_abortUpTo.load(); };
        const CurlTransfer::Result result =
            job.localPath.isEmpty() ? CurlTransfer::fetch(engine, job.url, job.options, ended)
                                    : CurlTransfer::fetchToFile(engine, job.url, job.localPath, job.options, ended);
        lock.lock();
        m_done.push_back(Done{job.id, result});
        // Delivered on the owner's thread; the destructor waits for this
        // thread, so the owner is alive when the call is posted.
        QMetaObject::invokeMethod(this, "deliverResults", Qt::QueuedConnection);
    }
}

void ArchiveTransfer::deliverResults()
{
    for (;;) {
        Done done;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_done.empty())
                return;
            done = m_done.front();
            m_done.pop_front();
        }
        emit finished(done.id, done.result);
    }
}
