#include "app/JobChunks.h"

#include "app/JobSteps.h"

qint64 JobChunks::first(const GeoArea &area, int fromZoom, int toZoom, int sourceKind, int listLimit,
                        CopyThread *copyWorker)
{
    m_area = area;
    m_sourceKind = sourceKind;
    m_listLimit = listLimit;
    m_tiles.clear();
    return list(fromZoom, toZoom, copyWorker);
}

bool JobChunks::next(int toZoom, qint64 *listed, CopyThread *copyWorker)
{
    const int fromZoom = m_restartZoom;
    m_restartZoom = 0;
    if (fromZoom == 0 || !JobSteps::chunkRemains(fromZoom, toZoom, m_sourceKind))
        return false;
    // The area stays the one read at the job's start.
    const qint64 count = list(fromZoom, toZoom, copyWorker);
    if (listed)
        *listed = count;
    return true;
}

void JobChunks::clear()
{
    m_tiles.clear();
    m_restartZoom = 0;
}

qint64 JobChunks::list(int fromZoom, int toZoom, CopyThread *copyWorker)
{
    const TileEnumerator::Result result =
        JobSteps::enumerateChunk(m_area, fromZoom, toZoom, m_sourceKind, m_tiles, m_listLimit, copyWorker);
    m_restartZoom = result.restartZoom;
    return result.listed();
}
