#pragma once

#include "acquire/TileEnumerator.h"
#include "mapview/GeoArea.h"
#include "mapview/TileId.h"

#include <QtGlobal>

#include <deque>

class CopyThread;

// The tile list of a job, listed one chunk at a time: a deep zoom range is
// not listed at once; the levels after the list limit follow once the list
// has been worked off. Download and copy jobs list the same way and differ
// only in who works the list off. A copy job's chunk also goes onto the copy
// worker's emptied queue.
class JobChunks
{
public:
    // Lists the first chunk of a job over area from fromZoom; gives the
    // number of entries listed. Elevation archives are always one chunk.
    qint64 first(const GeoArea &area, int fromZoom, int toZoom, int sourceKind, int listLimit,
                 CopyThread *copyWorker = nullptr);
    // Lists the next chunk once the list is worked off, up to the download
    // zoom as it is now. False when the job is complete: nothing was pending,
    // or the download zoom was lowered below the levels still to do.
    bool next(int toZoom, qint64 *listed, CopyThread *copyWorker = nullptr);
    // Nothing more is listed: the list is emptied and no chunk is pending.
    void clear();

    std::deque<TileId> &tiles() { return m_tiles; }
    const std::deque<TileId> &tiles() const { return m_tiles; }
    // The level at which listing stopped at the limit; 0 = none pending.
    const int &restartZoom() const { return m_restartZoom; }

private:
    qint64 list(int fromZoom, int toZoom, CopyThread *copyWorker);

    GeoArea m_area;
    int m_sourceKind = 0;
    int m_listLimit = TileEnumerator::ListLimit;
    std::deque<TileId> m_tiles;
    int m_restartZoom = 0;
};
