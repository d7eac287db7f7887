#pragma once

#include "acquire/TileFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Writes downloaded tile bodies on a thread of its own, in the order given,
// so the next request goes out while the disk works. Each body is first judged
// sound (the content check that inflates a PNG's image data costs more than
// its transfer, so it runs here, beside the next request, not before it); a
// sound one goes through TileFile::store, which decides how a tile file is
// created or replaced. An unsound body replaces nothing.
class TileWriter : public QObject
{
    Q_OBJECT

public:
    using WriteResult = TileFile::Result;

    // Counts since the last takeTally().
    struct Tally
    {
        int stored = 0;
        int unchanged = 0;
        int failed = 0;
        int diskFullFailures = 0; // of failed: the disk was full
        int unsound = 0;          // judged no sound tile: nothing written
        QString firstUnsound;     // why the first of them was not
        WriteResult firstFailure; // the first failed write, if any
        WriteResult diskFull;     // the first write that found the disk full, if any
    };

    explicit TileWriter(QObject *parent = nullptr);
    // Writes what is queued, then ends the thread.
    ~TileWriter() override;

    // modified: when valid, the time the stored file gets (the server's
    // Last-Modified), so a later conditional request asks about that time.
    // contentType: the answer's, for the content check.
    void write(const QString &path, const QByteArray &body, const QDateTime &modified = QDateTime(),
               const QByteArray &contentType = QByteArray());
    // The same, but the thread is woken only by startWriting() (or anything
    // that waits for it): a caller with more urgent work first, such as
    // sending the next request, pays for waking the thread after that.
    void writeLater(const QString &path, const QByteArray &body, const QDateTime &modified = QDateTime(),
                    const QByteArray &contentType = QByteArray());
    void startWriting();
    // Blocks until every queued body is on disk (or failed).
    void waitForIdle();
    int pending() const;
    // Bytes of the bodies not yet written.
    qint64 pendingBytes() const;
    // Writes that failed since the last call (resets the whole tally).
    int takeFailures();
    Tally takeTally();
    // True once a write found the disk full, until the next takeTally().
    bool diskFull() const;
    // The first write that found the disk full since the last takeTally().
    WriteResult diskFullResult() const;

private:
    struct Job
    {
        QString path;
        QByteArray body;
        QDateTime modified;
        QByteArray contentType;
    };
    void run();
    void count(const WriteResult &result);

    // Standard locks, which the thread sanitizer sees through.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    bool m_busy = false;
    qint64 m_pendingBytes = 0;
    bool m_stop = false;
    Tally m_tally;
    std::thread m_thread;

    Q_DISABLE_COPY(TileWriter)
};
