#include "app/JobSteps.h"

#include "acquire/CopyThread.h"
#include "settings/SourceKind.h"

#include <climits>

namespace JobSteps {

Next afterEntry(bool listEmpty, int restartZoom)
{
    if (!listEmpty)
        return Next::Entry;
    return restartZoom != 0 ? Next::Chunk : Next::End;
}

bool chunkRemains(int fromZoom, int toZoom, int sourceKind)
{
    return fromZoom <= toZoom && sourceKind != SourceKind::ElevationArchives;
}

TileEnumerator::Result enumerateChunk(const GeoArea &area, int fromZoom, int toZoom, int sourceKind,
                                      std::deque<TileId> &list, int listLimit, CopyThread *copyWorker)
{
    TileEnumerator::EntrySink copyQueue;
    if (copyWorker) {
        copyWorker->clearQueue();
        copyQueue = [copyWorker](const TileId &tile) { copyWorker->addTile(tile.x, tile.y, tile.zoom); };
    }
    if (sourceKind == SourceKind::ElevationArchives)
        return TileEnumerator::enumerateElevation(area, list, copyQueue);
    return TileEnumerator::enumerateTiles(area, fromZoom, toZoom, list, listLimit, copyQueue);
}

int barMaximum(qint64 listed)
{
    return int(qBound<qint64>(1, listed, INT_MAX));
}

} // namespace JobSteps
