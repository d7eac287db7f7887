#include "acquire/CopyThread.h"

#include "acquire/JobLimits.h"
#include "acquire/TileFile.h"
#include "acquire/TileFiles.h"
#include "mapview/TileContent.h"

#include <QFile>
#include <QPointer>

namespace {

using StopLock = std::unique_lock<std::mutex>;
using Clock = std::chrono::steady_clock;
constexpr auto Pause = std::chrono::milliseconds(CopyThread::PauseMs);

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
    stopRequested.notify_all();
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

// Sleeps until the deadline; a stop request ends the pause at once. Returns
// false when the run must stop.
bool CopyThread::pauseUntil(Clock::time_point deadline)
{
    StopLock lock(stopMutex);
    return !stopRequested.wait_until(lock, deadline, [this] { return stopFlag.load(); });
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

CopyThread::Copy CopyThread::copyTile(const QString &sourceFile, const QString &targetFile)
{
    QFile source(sourceFile);
    // A tile is small; anything larger than a tile body is no tile.
    if (!source.open(QIODevice::ReadOnly) || source.size() > JobLimits::TileBodyLimit)
        return Copy::Missing;
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return Copy::Missing;
    // A broken source tile is never copied over a good one.
    if (!TileContent::check(QByteArray(), bytes).ok())
        return Copy::Unsound;
    const TileFile::Result stored = TileFile::store(targetFile, bytes);
    if (stored.ok())
        return Copy::Copied;
    return stored.diskFull() ? Copy::DiskFull : Copy::Unwritable;
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
    Clock::time_point due = Clock::now();
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            due = std::max(due + Pause, Clock::now());
            if (!pauseUntil(due))
                break;
        }
        TileId tile;
        if (!takeFirst(&tile))
            break;
        // The source folder is named without its trailing '/'.
        const QString sourceFile = TileFiles::tileFile(sourceDir + QLatin1Char('/'), tile);
        const QString targetFile = TileFiles::tileFile(targetDir, tile);
        switch (copyTile(sourceFile, targetFile)) {
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
        case Copy::Unsound: {
            StopLock lock(stopMutex);
            ++failures.unsound;
            break;
        }
        case Copy::DiskFull: {
            // Nothing more fits: the rest of the run would fail the same way.
            StopLock lock(stopMutex);
            ++failures.diskFull;
            stopFlag = true;
            break;
        }
        }
        if (queueEmptyOrStopped())
            break;
    }
    postReport(-1, -1);
}
