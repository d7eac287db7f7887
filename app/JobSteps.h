#pragma once

#include "acquire/TileEnumerator.h"
#include "mapview/GeoArea.h"

#include <QtGlobal>

#include <deque>

class CopyThread;

// The choices between the steps of a tile job, free of the window.
namespace JobSteps {

enum class Next {
    Entry, // the next entry of the chunk
    Chunk, // the chunk is done, the levels after the list limit follow
    End    // the job is done
};

// The step after an entry of a download job.
Next afterEntry(bool listEmpty, int restartZoom);

// True while a next chunk from fromZoom is still to do: the download zoom may
// have been lowered below it meanwhile, and the elevation archives are always
// listed in one chunk.
bool chunkRemains(int fromZoom, int toZoom, int sourceKind);

// Lists the chunk of a job starting at fromZoom into list (elevation
// archives always in one chunk) and, for a copy job, hands the same entries
// to the copy worker's emptied queue.
TileEnumerator::Result enumerateChunk(const GeoArea &area, int fromZoom, int toZoom, int sourceKind,
                                      std::deque<TileId> &list, int listLimit, CopyThread *copyWorker);

// The progress bar's maximum for a chunk of listed entries (from 1).
int barMaximum(qint64 listed);

} // namespace JobSteps
