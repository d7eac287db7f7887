#include "acquire/TileWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Result = TileWriter::WriteResult;

bool isDiskFullErrno(int e)
{
#ifdef EDQUOT
    if (e == EDQUOT)
        return true;
#endif
    return e == ENOSPC || e == EFBIG;
}

// Qt keeps the system's text, not its number; the number is read right after
// the failing call where it is still at hand, and the text compared too.
bool isDiskFull(const QFileDevice &file, int savedErrno)
{
    if (isDiskFullErrno(savedErrno) || file.error() == QFileDevice::ResourceError)
        return true;
    const QString text = file.errorString();
    for (int e : {ENOSPC, EFBIG})
        if (text == qt_error_string(e))
            return true;
#ifdef EDQUOT
    if (text == qt_error_string(EDQUOT))
        return true;
#endif
    return false;
}

Result failed(const QString &path, Result::Failure failure, const QString &error)
{
    Result r;
    r.outcome = Result::Outcome::Failed;
    r.failure = failure;
    r.path = path;
    r.error = error;
    return r;
}

Result fileFailure(const QString &path, Result::Failure failure, const QFileDevice &file, int savedErrno)
{
    return failed(path, isDiskFull(file, savedErrno) ? Result::Failure::DiskFull : failure, file.errorString());
}

// A failed system call of our own: errno is exact here.
Result systemFailure(const QString &path, Result::Failure failure, int savedErrno)
{
    return failed(path, isDiskFullErrno(savedErrno) ? Result::Failure::DiskFull : failure,
                  savedErrno ? qt_error_string(savedErrno) : QString());
}

// Makes the folder and remembers what it made, so a failed first tile leaves
// no empty zoom/x folders behind.
class FolderMaker
{
public:
    explicit FolderMaker(const QString &folder)
        : m_made(TileWriter::makeFolder(folder, &m_ok))
    {
    }
    bool ok() const { return m_ok; }
    void undo() const { TileWriter::removeMadeFolders(m_made); }

private:
    bool m_ok = false;
    QStringList m_made;
};

// Gives the open, complete file the server's time. A time that cannot be set
// costs nothing but a later unconditional request.
void setModified(int fd, const QDateTime &modified)
{
    if (!modified.isValid())
        return;
    const qint64 ms = modified.toMSecsSinceEpoch();
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // the access time stays
    times[1].tv_sec = time_t(ms / 1000);
    times[1].tv_nsec = long(ms % 1000) * 1000000L;
    if (times[1].tv_nsec < 0) {
        times[1].tv_sec -= 1;
        times[1].tv_nsec += 1000000000L;
    }
    ::futimens(fd, times);
}

} // namespace

QString TileWriter::WriteResult::reason() const
{
    QString what;
    switch (failure) {
    case Failure::None:
        return outcome == Outcome::Unchanged ? QStringLiteral("empty body, old tile kept") : QString();
    case Failure::Folder:
        what = QStringLiteral("folder cannot be made");
        break;
    case Failure::Create:
        what = QStringLiteral("file cannot be created");
        break;
    case Failure::ShortWrite:
        what = QStringLiteral("short write");
        break;
    case Failure::Flush:
        what = QStringLiteral("failed flush");
        break;
    case Failure::Rename:
        what = QStringLiteral("failed rename");
        break;
    case Failure::Remove:
        what = QStringLiteral("file cannot be removed");
        break;
    case Failure::DiskFull:
        what = QStringLiteral("disk full");
        break;
    }
    return error.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, error);
}

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

void TileWriter::write(const QString &path, const QByteArray &body, const QDateTime &modified)
{
    writeLater(path, body, modified);
    startWriting();
}

void TileWriter::writeLater(const QString &path, const QByteArray &body, const QDateTime &modified)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(Job{path, body, modified});
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
        const WriteResult result = store(job.path, job.body, job.modified);
        const qint64 bytes = job.body.size();
        job = Job(); // the body is released off the lock too
        lock.lock();
        m_busy = false;
        m_pendingBytes -= bytes;
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
        if (m_queue.empty())
            m_idle.notify_all();
    }
}

bool TileWriter::writeTile(const QString &path, const QByteArray &body, QString *error)
{
    const WriteResult result = store(path, body);
    if (!result.ok() && error)
        *error = result.reason();
    return result.ok();
}

TileWriter::WriteResult TileWriter::store(const QString &path, const QByteArray &body, const QDateTime &modified)
{
    // Most tiles of a job are new, and most of their folders are there: the
    // file is created first and the folder made only when it is missing.
    const QByteArray name = QFile::encodeName(path);
    int fd = openNew(name);
    int openErrno = errno;
    std::optional<FolderMaker> folder;
    if (fd < 0 && (openErrno == ENOENT || openErrno == ENOTDIR)) {
        const QString parent = QFileInfo(path).absolutePath();
        folder.emplace(parent);
        if (!folder->ok())
            return failed(path, WriteResult::Failure::Folder, QStringLiteral("cannot make %1").arg(parent));
        fd = openNew(name);
        openErrno = errno;
    }
    if (fd < 0 && openErrno == EEXIST)
        return replace(path, body, modified);
    if (fd < 0) {
        if (folder)
            folder->undo();
        return systemFailure(path, WriteResult::Failure::Create, openErrno);
    }

    int failedErrno = 0;
    WriteResult::Failure failure = WriteResult::Failure::None;
    const char *data = body.constData();
    qint64 left = body.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failedErrno = n < 0 ? errno : 0;
            failure = WriteResult::Failure::ShortWrite;
            break;
        }
        data += n;
        left -= n;
    }
    if (failure == WriteResult::Failure::None)
        setModified(fd, modified);
    // A file system may report a failed write-back only at the close.
    if (::close(fd) != 0 && failure == WriteResult::Failure::None && errno != EINTR) {
        failedErrno = errno;
        failure = WriteResult::Failure::Flush;
    }
    if (failure == WriteResult::Failure::None) {
        WriteResult stored;
        stored.path = path;
        return stored;
    }
    ::unlink(name.constData());
    if (folder)
        folder->undo();
    return systemFailure(path, failure, failedErrno);
}

int TileWriter::openNew(const QByteArray &name)
{
    int fd;
    do {
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// An existing tile: the old one stays until the new one is complete.
TileWriter::WriteResult TileWriter::replace(const QString &path, const QByteArray &body, const QDateTime &modified)
{
    const QFileInfo info(path);
    // An empty answer is no reason to lose a tile that has content.
    if (body.isEmpty() && info.isFile() && info.size() > 0) {
        WriteResult kept;
        kept.outcome = WriteResult::Outcome::Unchanged;
        kept.path = path;
        return kept;
    }
    // Unbuffered: a buffered flush that writes only part of the buffer still
    // reports success, and the file would be committed short.
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fileFailure(path, WriteResult::Failure::Create, file, errno);
    errno = 0;
    if (file.write(body) != body.size())
        return fileFailure(path, WriteResult::Failure::ShortWrite, file, errno);
    // The complete temporary takes the time; the rename keeps it.
    setModified(int(file.handle()), modified);
    errno = 0;
    if (!file.commit()) {
        const int savedErrno = errno;
        const bool renameFailed = file.error() == QFileDevice::RenameError;
        return fileFailure(path, renameFailed ? WriteResult::Failure::Rename : WriteResult::Failure::Flush, file,
                           savedErrno);
    }
    WriteResult stored;
    stored.path = path;
    return stored;
}

QStringList TileWriter::makeFolder(const QString &folder, bool *ok)
{
    QStringList made;
    QString missing = QDir::cleanPath(folder);
    while (!missing.isEmpty() && !QFileInfo::exists(missing)) {
        made.prepend(missing);
        const QString parent = QFileInfo(missing).path();
        if (parent == missing)
            break;
        missing = parent;
    }
    *ok = made.isEmpty() ? QFileInfo(folder).isDir() : QDir().mkpath(folder);
    return made;
}

void TileWriter::removeMadeFolders(const QStringList &made)
{
    for (auto it = made.crbegin(); it != made.crend(); ++it)
        QDir().rmdir(*it); // only empty folders go
}

TileWriter::WriteResult TileWriter::probeFolder(const QString &folder)
{
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        return failed(folder, WriteResult::Failure::Folder, QStringLiteral("cannot make %1").arg(folder));
    const QString probe = QDir(folder).filePath(
        QStringLiteral(".tilewright-probe-%1").arg(QCoreApplication::applicationPid()));
    QFile file(probe);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fileFailure(folder, WriteResult::Failure::Create, file, errno);
    const QByteArray bytes("probe");
    errno = 0;
    const bool written = file.write(bytes) == bytes.size();
    int savedErrno = errno;
    const bool flushed = written && file.flush();
    if (written && !flushed)
        savedErrno = errno;
    file.close();
    const bool closed = file.error() == QFileDevice::NoError;
    WriteResult result;
    result.path = folder;
    if (!written)
        result = fileFailure(folder, WriteResult::Failure::ShortWrite, file, savedErrno);
    else if (!flushed || !closed)
        result = fileFailure(folder, WriteResult::Failure::Flush, file, savedErrno);
    if (!QFile::remove(probe) && QFileInfo::exists(probe) && result.ok())
        result = failed(folder, WriteResult::Failure::Remove, QStringLiteral("cannot remove %1").arg(probe));
    return result;
}
