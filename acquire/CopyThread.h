#pragma once

#include "mapview/TileId.h"

#include <QMutex>
#include <QString>
#include <QThread>

#include <atomic>
#include <deque>

// Copies the tiles of a copy job from one zoom/x/y tree into another, one
// tile at a time, on its own thread. Reports every copied tile with
// sendUpdate(zoom, y) and the end of the run with sendUpdate(-1, -1).
class CopyThread : public QThread
{
    Q_OBJECT

public:
    explicit CopyThread(QObject *parent = nullptr);
    // Stops a running copy after the tile in hand and waits for it.
    ~CopyThread() override;

    void addTile(int x, int y, int zoom);
    // Drops every queued tile; a new copy job starts from an empty queue.
    void clearQueue();
    int queuedTiles() const;
    // Starts the run over the queued tiles; does nothing when none is queued.
    void startCopy(const QString &source, const QString &destination);

    // Pause between two tiles, so a copy never floods the disk.
    static constexpr int PauseMs = 10;

public slots:
    void stopProcess();

signals:
    void sendUpdate(const int &iZoom, const int &iTile);

protected:
    void run() override;

private:
    bool takeFirst(TileId *tile);
    static bool copyTile(const QString &sourceFile, const QString &targetFolder,
                         const QString &targetFile);

    std::atomic_bool stopFlag{false};
    // Guards tileQueue: a new job may be queued right after Stop, while the
    // worker still finishes its tile.
    mutable QMutex stopMutex;
    QString sourceDir;
    QString targetDir;
    std::deque<TileId> tileQueue;

    Q_DISABLE_COPY(CopyThread)
};
