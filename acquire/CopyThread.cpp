#include "acquire/CopyThread.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>

CopyThread::CopyThread(QObject *parent)
    : QThread(parent)
{
}

CopyThread::~CopyThread()
{
    stopProcess();
    wait();
}

void CopyThread::addTile(int x, int y, int zoom)
{
    QMutexLocker lock(&stopMutex);
    tileQueue.push_back(TileId{x, y, zoom});
}

void CopyThread::clearQueue()
{
    QMutexLocker lock(&stopMutex);
    tileQueue.clear();
}

int CopyThread::queuedTiles() const
{
    QMutexLocker lock(&stopMutex);
    return int(tileQueue.size());
}

void CopyThread::startCopy(const QString &source, const QString &destination)
{
    if (queuedTiles() == 0)
        return;
    // A run that is still finishing its last tile after Stop must end before
    // the strings it reads change.
    wait();
    stopFlag = false;
    sourceDir = source;
    targetDir = destination;
    start(InheritPriority);
}

void CopyThread::stopProcess()
{
    QMutexLocker lock(&stopMutex);
    stopFlag = true;
}

bool CopyThread::takeFirst(TileId *tile)
{
    QMutexLocker lock(&stopMutex);
    if (tileQueue.empty())
        return false;
    *tile = tileQueue.front();
    tileQueue.pop_front();
    return true;
}

bool CopyThread::copyTile(const QString &sourceFile, const QString &targetFolder,
                          const QString &targetFile)
{
    QFile source(sourceFile);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    if (!QDir(targetFolder).exists() && !QDir().mkpath(targetFolder))
        return false;
    // The old tile is replaced only once the new one is complete on disk.
    QSaveFile target(targetFile);
    if (!target.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError || target.write(bytes) != bytes.size()) {
        target.cancelWriting();
        return false;
    }
    return target.commit();
}

void CopyThread::run()
{
    const int count = queuedTiles();
    if (count == 0)
        return;
    for (int i = 0; i < count; ++i) {
        TileId tile;
        if (!takeFirst(&tile))
            break;
        const QString sourceFile = sourceDir + QStringLiteral("/%1/%2/%3.png")
                                                   .arg(tile.zoom).arg(tile.x).arg(tile.y);
        const QString targetFolder = QStringLiteral("%1%2/%3/").arg(targetDir).arg(tile.zoom).arg(tile.x);
        const QString targetFile = targetFolder + QStringLiteral("%1.png").arg(tile.y);
        if (copyTile(sourceFile, targetFolder, targetFile))
            emit sendUpdate(tile.zoom, tile.y);

        if (queuedTiles() == 0) {
            stopFlag = true;
            break;
        }
        if (stopFlag)
            break;
        msleep(PauseMs);
    }
    emit sendUpdate(-1, -1);
}
