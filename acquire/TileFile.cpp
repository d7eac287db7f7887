#include "acquire/TileFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Result = TileFile::Result;

Result failed(const QString &path, Result::Failure failure, const QString &error)
{
    Result r;
    r.outcome = Result::Outcome::Failed;
    r.failure = failure;
    r.path = path;
    r.error = error;
    return r;
}

// A failed system call: errno is exact here.
Result systemFailure(const QString &path, Result::Failure failure, int savedErrno)
{
    return failed(path, TileFile::isDiskFullError(savedErrno) ? Result::Failure::DiskFull : failure,
                  savedErrno ? qt_error_string(savedErrno) : QStringLiteral("nothing written"));
}

Result stored(const QString &path, Result::Outcome outcome = Result::Outcome::Stored)
{
    Result r;
    r.outcome = outcome;
    r.path = path;
    return r;
}

int openExclusive(const QByteArray &name)
{
    int fd;
    do {
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Writes all of the bytes; false with errno set (0 for a write that took nothing).
bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = 0;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

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

// A file system may report a failed write-back only at the close.
bool closeChecked(int fd)
{
    return ::close(fd) == 0 || errno == EINTR;
}

// Makes the folder with its parents; returns those it made, outermost first.
QStringList makeFolder(const QString &folder, bool *ok)
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

// Only empty folders go: a file another entry put there meanwhile keeps its folder.
void takeBack(const QStringList &made)
{
    for (auto it = made.crbegin(); it != made.crend(); ++it)
        QDir().rmdir(*it);
}

// Renames without replacing where the file system can refuse in one call.
bool renameNoReplace(const QByteArray &from, const QByteArray &to)
{
#if defined(Q_OS_LINUX) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
}

} // namespace

QString TileFile::Result::reason() const
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

bool TileFile::isDiskFullError(int systemError)
{
#ifdef EDQUOT
    if (systemError == EDQUOT)
        return true;
#endif
    return systemError == ENOSPC || systemError == EFBIG;
}

TileFile::TileFile(const QString &path)
    : m_path(path)
{
    m_result.path = path;
}

TileFile::~TileFile()
{
    discard();
}

// The temporary beside the file, in a folder made if need be.
bool TileFile::open()
{
    if (m_opened)
        return m_result.ok();
    m_opened = true;
    m_replacing = QFileInfo::exists(m_path);
    const QString folder = QFileInfo(m_path).absolutePath();
    bool made = false;
    m_madeFolders = makeFolder(folder, &made);
    if (!made) {
        m_result = failed(m_path, Result::Failure::Folder, QStringLiteral("cannot make %1").arg(folder));
        return false;
    }
    int lastErrno = 0;
    for (int attempt = 0; attempt < 8 && m_fd < 0; ++attempt) {
        m_temporary = QStringLiteral("%1.%2.part").arg(m_path).arg(QRandomGenerator::global()->generate(), 8, 16,
                                                                    QLatin1Char('0'));
        m_fd = openExclusive(QFile::encodeName(m_temporary));
        lastErrno = errno;
        if (m_fd < 0 && lastErrno != EEXIST)
            break;
    }
    if (m_fd >= 0)
        return true;
    m_temporary.clear();
    m_result = systemFailure(m_path, Result::Failure::Create, lastErrno);
    takeBack(m_madeFolders);
    m_madeFolders.clear();
    return false;
}

bool TileFile::append(const char *data, qint64 size)
{
    if (!open())
        return false;
    if (size <= 0)
        return true;
    if (!writeAll(m_fd, data, size)) {
        m_result = systemFailure(m_path, Result::Failure::ShortWrite, errno);
        return false;
    }
    m_size += size;
    return true;
}

TileFile::Result TileFile::commit(const QDateTime &modified)
{
    if (!m_result.ok()) {
        discard();
        return m_result;
    }
    if (!open())
        return m_result;
    const QFileInfo old(m_path);
    const bool replacing = m_replacing;
    // An empty answer is no reason to lose a tile that has content.
    if (m_size == 0 && old.isFile() && old.size() > 0) {
        discard();
        return m_result = stored(m_path, Result::Outcome::Unchanged);
    }
    setModified(m_fd, modified);
    // A replaced file is synced first: the old one must not give way to a
    // new one that a crash could still cut short.
    int failedErrno = 0;
    if (replacing && ::fdatasync(m_fd) != 0)
        failedErrno = errno ? errno : EIO;
    const int fd = m_fd;
    m_fd = -1;
    if (!closeChecked(fd) && failedErrno == 0)
        failedErrno = errno ? errno : EIO;
    if (failedErrno != 0) {
        m_result = systemFailure(m_path, Result::Failure::Flush, failedErrno);
        discard();
        return m_result;
    }
    const QByteArray from = QFile::encodeName(m_temporary);
    const QByteArray to = QFile::encodeName(m_path);
    // A new file never overwrites one that appeared meanwhile.
    const bool renamed = replacing ? ::rename(from.constData(), to.constData()) == 0 : renameNoReplace(from, to);
    if (!renamed) {
        m_result = systemFailure(m_path, Result::Failure::Rename, errno);
        discard();
        return m_result;
    }
    m_temporary.clear();
    m_madeFolders.clear();
    return m_result = stored(m_path);
}

void TileFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(QFile::encodeName(m_temporary).constData());
        m_temporary.clear();
    }
    takeBack(m_madeFolders);
    m_madeFolders.clear();
}

TileFile::Result TileFile::store(const QString &path, const QByteArray &body, const QDateTime &modified)
{
    // Most tiles of a job are new, and most of their folders are there: the
    // file is created first and the folder made only when it is missing. A
    // folder taken back by a failed file of another writer meanwhile is made
    // again.
    const QByteArray name = QFile::encodeName(path);
    int fd = openExclusive(name);
    int openErrno = errno;
    QStringList made;
    for (int attempt = 0; fd < 0 && (openErrno == ENOENT || openErrno == ENOTDIR) && attempt < 3; ++attempt) {
        const QString parent = QFileInfo(path).absolutePath();
        bool ok = false;
        made += makeFolder(parent, &ok);
        if (!ok) {
            takeBack(made);
            return failed(path, Result::Failure::Folder, QStringLiteral("cannot make %1").arg(parent));
        }
        fd = openExclusive(name);
        openErrno = errno;
    }
    if (fd < 0 && openErrno == EEXIST)
        return replace(path, body, modified);
    if (fd < 0) {
        takeBack(made);
        return systemFailure(path, Result::Failure::Create, openErrno);
    }
    Result::Failure failure = Result::Failure::None;
    int failedErrno = 0;
    if (!writeAll(fd, body.constData(), body.size())) {
        failedErrno = errno;
        failure = Result::Failure::ShortWrite;
    } else {
        setModified(fd, modified);
    }
    if (!closeChecked(fd) && failure == Result::Failure::None) {
        failedErrno = errno;
        failure = Result::Failure::Flush;
    }
    if (failure == Result::Failure::None)
        return stored(path);
    ::unlink(name.constData());
    takeBack(made);
    return systemFailure(path, failure, failedErrno);
}

TileFile::Result TileFile::replace(const QString &path, const QByteArray &body, const QDateTime &modified)
{
    TileFile file(path);
    if (!file.append(body.constData(), body.size()))
        return file.result();
    return file.commit(modified);
}

TileFile::Result TileFile::probeFolder(const QString &folder)
{
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        return failed(folder, Result::Failure::Folder, QStringLiteral("cannot make %1").arg(folder));
    const QString probe = QDir(folder).filePath(
        QStringLiteral(".tilewright-probe-%1").arg(QCoreApplication::applicationPid()));
    const QByteArray name = QFile::encodeName(probe);
    ::unlink(name.constData()); // left by a process of the same number that died
    const int fd = openExclusive(name);
    if (fd < 0)
        return systemFailure(folder, Result::Failure::Create, errno);
    Result result = stored(folder);
    const QByteArray bytes("probe");
    if (!writeAll(fd, bytes.constData(), bytes.size()))
        result = systemFailure(folder, Result::Failure::ShortWrite, errno);
    else if (::fsync(fd) != 0)
        result = systemFailure(folder, Result::Failure::Flush, errno);
    if (!closeChecked(fd) && result.ok())
        result = systemFailure(folder, Result::Failure::Flush, errno);
    if (::unlink(name.constData()) != 0 && errno != ENOENT && result.ok())
        result = failed(folder, Result::Failure::Remove, QStringLiteral("cannot remove %1").arg(probe));
    return result;
}
