#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Writes downloaded tile bodies on a thread of its own, in the order given,
// so the next request goes out while the disk works. An existing tile is
// replaced atomically (temporary file, then rename), so a failed write never
// costs the old tile; a new tile is written directly and removed again if the
// write fails.
class TileWriter : public QObject
{
    Q_OBJECT

public:
    explicit TileWriter(QObject *parent = nullptr);
    // Writes what is queued, then ends the thread.
    ~TileWriter() override;

    void write(const QString &path, const QByteArray &body);
    // Blocks until every queued body is on disk (or failed).
    void waitForIdle();
    int pending() const;
    // Writes that failed since the last call.
    int takeFailures();

    // The write itself, on the calling thread.
    static bool writeTile(const QString &path, const QByteArray &body, QString *error = nullptr);

private:
    struct Job
    {
        QString path;
        QByteArray body;
    };
    void run();

    // Standard locks, which the thread sanitizer sees through.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    bool m_busy = false;
    bool m_stop = false;
    int m_failures = 0;
    std::thread m_thread;

    Q_DISABLE_COPY(TileWriter)
};
