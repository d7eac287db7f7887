#include "acquire/TileEnumerator.h"

#include "acquire/SourceAddress.h"
#include "mapview/TileGeometry.h"

#include <cmath>

namespace TileEnumerator {

namespace {

// Degrees truncated toward zero; views far past the world's edge (or a
// broken area) are held to a range an int can carry.
int truncateDegrees(double value)
{
    if (!std::isfinite(value))
        return 0;
    return int(qBound(-100000.0, value, 100000.0));
}

} // namespace

LevelRange levelRange(const GeoArea &area, int zoom)
{
    LevelRange range;
    range.xMin = TileGeometry::lonToTileX(area.west, zoom);
    range.xMax = TileGeometry::lonToTileX(area.east, zoom);
    range.yMin = TileGeometry::latToTileY(area.north, zoom);
    range.yMax = TileGeometry::latToTileY(area.south, zoom);
    return range;
}

Result enumerateTiles(const GeoArea &area, int fromZoom, int toZoom, std::deque<TileId> &list,
                      int listLimit, const EntrySink &alsoTo)
{
    Result result;
    bool limitReached = false;
    for (int z = fromZoom; z <= toZoom; ++z) {
        if (limitReached) {
            result.restartZoom = z;
            break;
        }
        const LevelRange r = levelRange(area, z);
        if (r.yMin > r.yMax)
            continue;
        const qint64 rows = qint64(r.yMax) - r.yMin + 1;
        for (qint64 x = r.xMin; x <= r.xMax; ++x) {
            result.total += rows;
            if (x < 0) {
                result.skipped += rows;
                continue;
            }
            // Rows north of the grid (negative) are skipped; rows past the
            // south edge are still requested, the server answers them.
            const int yStart = qMax(r.yMin, 0);
            if (yStart > r.yMin)
                result.skipped += qint64(yStart) - r.yMin;
            for (qint64 y = yStart; y <= r.yMax; ++y) {
                const TileId tile{qint32(x), qint32(y), qint32(z)};
                list.push_back(tile);
                if (alsoTo)
                    alsoTo(tile);
            }
            if (z < toZoom && list.size() > size_t(qMax(listLimit, 0)))
                limitReached = true;
        }
    }
    return result;
}

DegreeRange elevationRange(const GeoArea &area)
{
    DegreeRange range;
    range.west = truncateDegrees(area.west);
    range.east = truncateDegrees(area.east);
    range.south = truncateDegrees(area.south);
    range.north = truncateDegrees(area.north);
    return range;
}

Result enumerateElevation(const GeoArea &area, std::deque<TileId> &list, const EntrySink &alsoTo)
{
    Result result;
    const DegreeRange d = elevationRange(area);
    for (int lat = d.south; lat <= d.north; ++lat) {
        for (int lon = d.west; lon <= d.east; ++lon) {
            const TileId cell{lon, lat, SourceAddress::srtmContinent(lon, lat)};
            list.push_back(cell);
            if (alsoTo)
                alsoTo(cell);
            ++result.total;
        }
    }
    return result;
}

} // namespace TileEnumerator
