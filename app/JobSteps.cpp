#include "app/JobSteps.h"

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

int barMaximum(qint64 listed)
{
    return int(qBound<qint64>(1, listed, INT_MAX));
}

} // namespace JobSteps
