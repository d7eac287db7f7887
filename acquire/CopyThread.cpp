#include "acquire/CopyThread.h"

#include "acquire/TileFiles.h"
#include "mapview/TileContent.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSaveFile>

#if defined(__SANITIZE_THREAD__)
#define TW_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TW_TSAN 1
#endif
#endif
#ifdef TW_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// QMutex locks through futexes inside the Qt library, where the thread
// sanitizer cannot see them; this locker tells it that the lock orders the
// accesses it guards (a no-op in ordinary builds).
class StopLock
{
public:
    explicit StopLock(QMutex &mutex) : m_mutex(mutex)
    {
        m_mutex.lock();
        acquired();
    }
    ~StopLock()
    {
        released();
        m_mutex.unlock();
    }
    // Waits on condition with the lock released, until woken or the deadline.
    void wait(QWaitCondition &condition, QDeadlineTimer deadline)
    {
        released();
        condition.wait(&m_mutex, deadline);
        acquired();
    }

private:
    void acquired()
    {
#ifdef TW_TSAN
        __tsan_acquire(&m_mutex);
#endif
    }
    void released()
    {
#ifdef TW_TSAN
        __tsan_release(&m_mutex);
#endif
    }

    QMutex &m_mutex;
    Q_DISABLE_COPY(StopLock)
};

constexpr qint64 NsPerSecond = 1000 * 1000 * 1000;
constexpr qint64 PauseNs = qint64(CopyThread::PauseMs) * 1000 * 1000;

} // namespace

CopyThread::CopyThread(QObject *parent)
    : QThread(parent)
{
}

CopyThread::~CopyThread()
{
    stopProcess();
    wait();
    StopLock lock(stopMutex);
    tileQueue.clear();
    reports.clear();
}

void CopyThread::addTile(int x, int y, int zoom)
{
    StopLock lock(stopMutex);
    tileQueue.push_back(TileId{x, y, zoom});
}

void CopyThread::clearQueue()
{
    StopLock lock(stopMutex);
    tileQueue.clear();
}

int CopyThread::queuedTiles() const
{
    StopLock lock(stopMutex);
    return int(tileQueue.size());
}

bool CopyThread::startCopy(const QString &source, const QString &destination)
{
    if (queuedTiles() == 0)
        return false;
    // A run that is still finishing its tile after Stop must end before the
    // strings it reads change; whatever it still had to report is stale now.
    wait();
    StopLock lock(stopMutex);
    reports.clear();
    failures = Failures();
    ++runNumber;
    stopFlag = false;
    sourceDir = source;
    targetDir = destination;
    start(InheritPriority);
    return true;
}

void CopyThread::stopProcess()
{
    StopLock lock(stopMutex);
    stopFlag = true;
    stopRequested.wakeAll();
}

bool CopyThread::takeFirst(TileId *tile)
{
    StopLock lock(stopMutex);
    if (tileQueue.empty())
        return false;
    *tile = tileQueue.front();
    tileQueue.pop_front();
    return true;
}

bool CopyThread::queueEmptyOrStopped()
{
    StopLock lock(stopMutex);
    if (tileQueue.empty())
        stopFlag = true;
    return stopFlag;
}

// Sleeps until the deadline (nanoseconds on the monotonic clock); a stop
// request ends the pause at once. Returns false when the run must stop.
bool CopyThread::pauseUntil(qint64 deadlineNs)
{
    QDeadlineTimer deadline(Qt::PreciseTimer);
    deadline.setPreciseDeadline(deadlineNs / NsPerSecond, deadlineNs % NsPerSecond, Qt::PreciseTimer);
    StopLock lock(stopMutex);
    while (!stopFlag) {
        if (deadline.hasExpired())
            return true;
        lock.wait(stopRequested, deadline);
    }
    return false;
}

void CopyThread::postReport(int zoom, int tile)
{
    // Posted under the lock that deliverReports takes: the hand-over of the
    // event is then ordered by a lock the thread sanitizer sees (the lock of
    // Qt's own event queue is hidden from it).
    StopLock lock(stopMutex);
    reports.push_back(Report{zoom, tile});
    QMetaObject::invokeMethod(this, "deliverReports", Qt::QueuedConnection);
}

void CopyThread::deliverReports()
{
    std::vector<Report> pending;
    {
        StopLock lock(stopMutex);
        pending.swap(reports);
    }
    const quint32 run = runNumber;
    const QPointer<CopyThread> alive(this);
    for (const Report &report : pending) {
        emit sendUpdate(report.zoom, report.tile);
        // A receiver may have started a new run from a report (the next
        // chunk), or closed the window that owns this worker.
        if (!alive || runNumber != run)
            break;
    }
}

CopyThread::Copy CopyThread::copyTile(const QString &sourceFile, const QString &targetFolder,
                                      const QString &targetFile)
{
    QFile source(sourceFile);
    if (!source.open(QIODevice::ReadOnly))
        return Copy::Missing;
    if (!QDir(targetFolder).exists() && !QDir().mkpath(targetFolder))
        return Copy::Unwritable;
    // The old tile is replaced only once the new one is complete on disk.
    QSaveFile target(targetFile);
    if (!target.open(QIODevice::WriteOnly))
        return Copy::Unwritable;
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError || !TileContent::check(QByteArray(), bytes).ok()) {
        target.cancelWriting();
        return Copy::Missing;
    }
    if (target.write(bytes) != bytes.size()) {
        target.cancelWriting();
        return Copy::Unwritable;
    }
    return target.commit() ? Copy::Copied : Copy::Unwritable;
}

CopyThread::Failures CopyThread::runFailures() const
{
    StopLock lock(stopMutex);
    return failures;
}

void CopyThread::run()
{
    const int count = queuedTiles();
    if (count == 0)
        return;
    // Each tile starts one pause after the previous one was due, so the time a
    // copy takes is part of the pause instead of adding up over the run; a
    // tile that overran its slot moves the schedule on rather than being
    // caught up with a burst.
    qint64 due = QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs();
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            due = qMax(due + PauseNs, QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs());
            if (!pauseUntil(due))
                break;
        }
        TileId tile;
        if (!takeFirst(&tile))
            break;
        // The source folder is named without its trailing '/'.
        const QString sourceFile = TileFiles::tileFile(sourceDir + QLatin1Char('/'), tile);
        const QString targetFolder = TileFiles::tileFolder(targetDir, tile);
        const QString targetFile = TileFiles::tileFile(targetDir, tile);
        switch (copyTile(sourceFile, targetFolder, targetFile)) {
        case Copy::Copied:
            postReport(tile.zoom, tile.y);
            break;
        case Copy::Missing: {
            StopLock lock(stopMutex);
            ++failures.missing;
            break;
        }
        case Copy::Unwritable: {
            StopLock lock(stopMutex);
            ++failures.unwritable;
            break;
        }
        }
        if (queueEmptyOrStopped())
            break;
    }
    postReport(-1, -1);
}
