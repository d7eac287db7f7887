#pragma once

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
// so the next request goes out while the disk works. An existing tile is
// replaced atomically (temporary file, then rename), so a failed write never
// costs the old tile; a new tile is written directly (created only where no
// file is) and removed again if the write fails. Missing zoom/x folders are
// made when a tile goes into them and removed again when that write fails. No
// temporary file or partial tile is ever left behind.
class TileWriter : public QObject
{
    Q_OBJECT

public:
    struct WriteResult
    {
        enum class Outcome {
            Stored,    // the body is on disk under the path
            Unchanged, // an empty body met a non-empty tile, which was kept
            Failed     // nothing changed on disk; failure says why
        };
        enum class Failure {
            None,
            Folder,     // the folder cannot be made
            Create,     // the file (or its temporary) cannot be created
            ShortWrite, // fewer bytes were written than given
            Flush,      // buffered bytes could not be written out
            Rename,     // the complete temporary could not replace the old tile
            Remove,     // (probe) the probe file could not be removed
            DiskFull    // no space, quota or file-size limit: stop asking for more
        };
        Outcome outcome = Outcome::Stored;
        Failure failure = Failure::None;
        QString path;
        QString error; // the system's text
        bool ok() const { return outcome != Outcome::Failed; }
        bool diskFull() const { return failure == Failure::DiskFull; }
        // "disk full: No space left on device"
        QString reason() const;
    };

    // Counts since the last takeTally().
    struct Tally
    {
        int stored = 0;
        int unchanged = 0;
        int failed = 0;
        int diskFullFailures = 0; // of failed: the disk was full
        WriteResult firstFailure; // the first failed write, if any
        WriteResult diskFull;     // the first write that found the disk full, if any
    };

    explicit TileWriter(QObject *parent = nullptr);
    // Writes what is queued, then ends the thread.
    ~TileWriter() override;

    // modified: when valid, the time the stored file gets (the server's
    // Last-Modified), so a later conditional request asks about that time.
    void write(const QString &path, const QByteArray &body, const QDateTime &modified = QDateTime());
    // The same, but the thread is woken only by startWriting() (or anything
    // that waits for it): a caller with more urgent work first, such as
    // sending the next request, pays for waking the thread after that.
    void writeLater(const QString &path, const QByteArray &body, const QDateTime &modified = QDateTime());
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

    // The write itself, on the calling thread.
    static bool writeTile(const QString &path, const QByteArray &body, QString *error = nullptr);
    static WriteResult store(const QString &path, const QByteArray &body, const QDateTime &modified = QDateTime());
    // Makes the folder (with its parents) and writes and removes a probe file
    // in it: the destination can take tiles.
    static WriteResult probeFolder(const QString &folder);
    // Makes the folder with its parents for a file written elsewhere (an
    // HTTPS transfer); returns the folders it made, outermost first, or
    // *ok false. removeMadeFolders takes them back when no file went in.
    static QStringList makeFolder(const QString &folder, bool *ok);
    static void removeMadeFolders(const QStringList &made);

private:
    struct Job
    {
        QString path;
        QByteArray body;
        QDateTime modified;
    };
    void run();
    static int openNew(const QByteArray &name);
    static WriteResult replace(const QString &path, const QByteArray &body, const QDateTime &modified);

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
