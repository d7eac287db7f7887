#pragma once

#include "acquire/JobOutcome.h"
#include "acquire/TileEnumerator.h"
#include "mapview/GeoArea.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class CopyThread;
class JobChunks;

// The copy job's steps, free of the window: each chunk is listed onto the
// copy worker's queue and handed to it; the worker's reports are counted;
// when its run is over the levels after the list limit follow, or the job
// ends with the copy's end text. The tile list is the one the download run
// keeps: one job runs at a time.
class CopyRun : public QObject
{
    Q_OBJECT

public:
    // A copy job as it is started, fixed for the whole job.
    struct Job
    {
        GeoArea area;
        int fromZoom = 0;
        int sourceKind = 0;
        QString sourceFolder;
        QString destFolder;
        int listLimit = TileEnumerator::ListLimit;
    };

    explicit CopyRun(JobChunks &chunks, QObject *parent = nullptr);

    // Read at the start and before each next chunk: lowered during a job, it
    // ends the job below the levels left.
    void setDownloadZoom(const std::function<int()> &downloadZoom) { m_downloadZoom = downloadZoom; }

    // Lists the first chunk; the end may be reported before this returns (an
    // area with nothing to copy).
    void start(CopyThread *worker, const Job &job);
    // Hands the chunk listed to the worker. A chunk it cannot take ends at
    // once, as the worker would end it.
    void copyChunk();
    // The worker's reports: one per copied tile (zoom, row), then (-1, -1)
    // when its run is over, after the last tile or after Stop.
    void workerReport(int zoom, int tile);
    // Once the worker's run is over: the levels after the list limit, or the
    // end when none are left.
    void nextChunk();

    const JobOutcome &outcome() const { return m_outcome; }

signals:
    // A chunk is listed: the progress bar counts its copied tiles from 0 to
    // its entries, so it is full only when every listed tile was copied.
    void barRange(int minimum, int maximum);
    // The chunk listed goes to the worker next (copyChunk()).
    void chunkDue();
    // A tile copied: the status line's text, and the bar's value, the tiles
    // of the chunk copied so far.
    void tileText(const QString &text);
    void barValue(int copied);
    void ended(const QString &endText);

private:
    void startChunk(qint64 listed);
    void finish();

    JobChunks &m_chunks;
    QPointer<CopyThread> m_worker;
    std::function<int()> m_downloadZoom;
    QString m_sourceFolder;
    QString m_destFolder;
    int m_sourceKind = 0;
    JobOutcome m_outcome;
    int m_copiedInChunk = 0;

    Q_DISABLE_COPY(CopyRun)
};
