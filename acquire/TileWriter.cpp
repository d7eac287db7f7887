#include "acquire/TileWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QThread>

TileWriter::TileWriter(QObject *parent)
    : QObject(parent)
{
    m_thread = QThread::create([this] { run(); });
    m_thread->setObjectName(QStringLiteral("TileWriter"));
    m_thread->start();
}

TileWriter::~TileWriter()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_wake.wakeAll();
    }
    m_thread->wait();
    delete m_thread;
}

void TileWriter::write(const QString &path, const QByteArray &body)
{
    QMutexLocker lock(&m_mutex);
    m_queue.push_back(Job{path, body});
    m_wake.wakeAll();
}

void TileWriter::waitForIdle()
{
    QMutexLocker lock(&m_mutex);
    while (!m_queue.empty() || m_busy)
        m_idle.wait(&m_mutex);
}

int TileWriter::pending() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_queue.size()) + (m_busy ? 1 : 0);
}

int TileWriter::takeFailures()
{
    QMutexLocker lock(&m_mutex);
    const int failures = m_failures;
    m_failures = 0;
    return failures;
}

void TileWriter::run()
{
    QMutexLocker lock(&m_mutex);
    for (;;) {
        while (m_queue.empty() && !m_stop)
            m_wake.wait(&m_mutex);
        if (m_queue.empty())
            return; // stopped and drained
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        const bool ok = writeTile(job.path, job.body);
        lock.relock();
        m_busy = false;
        if (!ok)
            ++m_failures;
        if (m_queue.empty())
            m_idle.wakeAll();
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
