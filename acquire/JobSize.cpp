#include "acquire/JobSize.h"

#include "acquire/TileEnumerator.h"

#include <algorithm>
#include <cmath>

namespace JobSize {

namespace {

qint64 cellsWithin(qint64 first, qint64 last, qint64 gridSize)
{
    const qint64 from = qMax<qint64>(first, 0);
    const qint64 to = qMin<qint64>(last, gridSize - 1);
    return to < from ? 0 : to - from + 1;
}

} // namespace

qint64 countTiles(const GeoArea &area, int fromZoom, int toZoom)
{
    qint64 count = 0;
    for (int z = fromZoom; z <= toZoom; ++z) {
        if (z < 0 || z > 30)
            continue;
        const TileEnumerator::LevelRange r = TileEnumerator::levelRange(area, z);
        const qint64 grid = qint64(1) << z;
        count += cellsWithin(r.xMin, r.xMax, grid) * cellsWithin(r.yMin, r.yMax, grid);
    }
    return count;
}

qint64 countElevationCells(const GeoArea &area)
{
    const TileEnumerator::DegreeRange d = TileEnumerator::elevationRange(area);
    if (d.east < d.west || d.north < d.south)
        return 0;
    return (qint64(d.east) - d.west + 1) * (qint64(d.north) - d.south + 1);
}

qint64 medianBytes(std::vector<qint64> sizes)
{
    if (sizes.empty())
        return 0;
    const auto middle = sizes.begin() + std::ptrdiff_t(sizes.size() / 2);
    std::nth_element(sizes.begin(), middle, sizes.end());
    return *middle;
}

Estimate estimate(qint64 tiles, qint64 typicalTileBytes, qint64 defaultTileBytes, double tilesPerSecond)
{
    Estimate e;
    e.tiles = tiles;
    e.bytes = tiles * (typicalTileBytes > 0 ? typicalTileBytes : defaultTileBytes);
    if (tilesPerSecond > 0 && std::isfinite(tilesPerSecond))
        e.seconds = qint64(std::ceil(double(tiles) / tilesPerSecond));
    return e;
}

} // namespace JobSize
