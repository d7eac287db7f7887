#pragma once

#include "mapview/TileId.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

// Copies the tiles of a copy job from one zoom/x/y tree into another, one
// tile at a time, on its own thread. Reports every copied tile with
// sendUpdate(zoom, y) and the end of the run with sendUpdate(-1, -1).
//
// The reports reach the receivers on the thread that owns this object (the
// GUI thread), and only those of the run started last: after Stop and a quick
// new job, what the stopped run still had to say is dropped, so its end
// report cannot end the new job.
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
    // Starts a run over the queued tiles; does nothing and returns false when
    // none is queued. A stopped run still finishing its tile is waited for.
    bool startCopy(const QString &source, const QString &destination);

    // Tiles of the last run that were not copied, by why; read when the
    // run's end is reported (every count is made before that report).
    struct Failures
    {
        int missing = 0;    // no readable tile in the source tree
        int unwritable = 0; // the target could not be written
        int unsound = 0;    // the source tile is no sound image
        int diskFull = 0;   // the destination is full: the run stopped there
    };
    Failures runFailures() const;

    // Tiles start at least this far apart, so a copy never floods the disk.
    static constexpr int PauseMs = 10;

public slots:
    void stopProcess();

signals:
    void sendUpdate(const int &iZoom, const int &iTile);

protected:
    void run() override;

private slots:
    void deliverReports();

private:
    struct Report
    {
        int zoom;
        int tile;
    };

    bool takeFirst(TileId *tile);
    bool queueEmptyOrStopped();
    bool pauseUntil(std::chrono::steady_clock::time_point deadline);
    void postReport(int zoom, int tile);
    enum class Copy { Copied, Missing, Unwritable, Unsound, DiskFull };
    static Copy copyTile(const QString &sourceFile, const QString &targetFile);

    std::atomic_bool stopFlag{false};
    // Guards tileQueue and the reports not yet delivered: a new job may be
    // queued right after Stop, while the worker still finishes its tile. A
    // standard lock, which the thread sanitizer sees through.
    mutable std::mutex stopMutex;
    std::condition_variable stopRequested;
    QString sourceDir;
    QString targetDir;
    std::deque<TileId> tileQueue;
    std::vector<Report> reports;
    Failures failures; // of the current run
    // Counts the runs started; a delivery stops when a newer run has begun.
    quint32 runNumber = 0;

    Q_DISABLE_COPY(CopyThread)
};
