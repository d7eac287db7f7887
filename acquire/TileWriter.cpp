#include "acquire/TileWriter.h"

#include "mapview/TileContent.h"

TileWriter::TileWriter(QObject *parent)
    : QObject(parent)
{
    m_thread = std::thread([this] { run(); });
}

TileWriter::~TileWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void TileWriter::write(const QString &path, const QByteArray &body, const QDateTime &modified,
                       const QByteArray &contentType)
{
    writeLater(path, body, modified, contentType);
    startWriting();
}

void TileWriter::writeLater(const QString &path, const QByteArray &body, const QDateTime &modified,
                            const QByteArray &contentType)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(Job{path, body, modified, contentType});
    m_pendingBytes += body.size();
}

void TileWriter::startWriting()
{
    m_wake.notify_all();
}

void TileWriter::waitForIdle()
{
    m_wake.notify_all(); // bodies queued without waking the thread
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

int TileWriter::pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_queue.size()) + (m_busy ? 1 : 0);
}

qint64 TileWriter::pendingBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pendingBytes;
}

int TileWriter::takeFailures()
{
    return takeTally().failed;
}

TileWriter::Tally TileWriter::takeTally()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Tally tally = m_tally;
    m_tally = Tally();
    return tally;
}

bool TileWriter::diskFull() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tally.diskFull.diskFull();
}

TileWriter::WriteResult TileWriter::diskFullResult() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tally.diskFull;
}

void TileWriter::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_queue.empty() || m_stop; });
        if (m_queue.empty())
            return; // stopped and drained
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        const TileContent::Verdict verdict = TileContent::check(job.contentType, job.body);
        const WriteResult result = verdict.ok() ? TileFile::store(job.path, job.body, job.modified) : WriteResult();
        const qint64 bytes = job.body.size();
        job = Job(); // the body is released off the lock too
        lock.lock();
        m_busy = false;
        m_pendingBytes -= bytes;
        if (verdict.ok())
            count(result);
        else if (m_tally.unsound++ == 0)
            m_tally.firstUnsound = verdict.text;
        if (m_queue.empty())
            m_idle.notify_all();
    }
}

// Under the lock.
void TileWriter::count(const WriteResult &result)
{
    switch (result.outcome) {
    case WriteResult::Outcome::Stored:
        ++m_tally.stored;
        break;
    case WriteResult::Outcome::Unchanged:
        ++m_tally.unchanged;
        break;
    case WriteResult::Outcome::Failed:
        if (m_tally.failed++ == 0)
            m_tally.firstFailure = result;
        if (result.diskFull()) {
            ++m_tally.diskFullFailures;
            if (!m_tally.diskFull.diskFull())
                m_tally.diskFull = result;
        }
        break;
    }
}
