#include "acquire/TileWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

void TileWriter::write(const QString &path, const QByteArray &body)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(Job{path, body});
    }
    m_wake.notify_all();
}

void TileWriter::waitForIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

int TileWriter::pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_queue.size()) + (m_busy ? 1 : 0);
}

int TileWriter::takeFailures()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int failures = m_failures;
    m_failures = 0;
    return failures;
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
        const bool ok = writeTile(job.path, job.body);
        job = Job(); // the body is released off the lock too
        lock.lock();
        m_busy = false;
        if (!ok)
            ++m_failures;
        if (m_queue.empty())
            m_idle.notify_all();
    }
}

bool TileWriter::writeTile(const QString &path, const QByteArray &body, QString *error)
{
    if (QFileInfo::exists(path)) {
        // Replace: the old tile stays until the new one is complete.
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(body) == body.size() && file.commit())
            return true;
        if (error)
            *error = file.errorString();
        return false;
    }
    QFile file(path);
    if (file.open(QIODevice::NewOnly | QIODevice::WriteOnly) && file.write(body) == body.size() && file.flush()) {
        file.close();
        if (file.error() == QFileDevice::NoError)
            return true;
    }
    if (error)
        *error = file.errorString();
    // Only what this call created is removed; a file that appeared meanwhile
    // (NewOnly failed) is left alone.
    if (file.isOpen() || file.error() != QFileDevice::OpenError) {
        file.close();
        file.remove();
    }
    return false;
}
