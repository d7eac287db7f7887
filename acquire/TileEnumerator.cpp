#include "acquire/TileEnumerator.h"

#include "acquire/SourceAddress.h"
#include "mapview/TileGeometry.h"

#include <cmath>
#include <limits>

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

// The grid's north and south edge: the latitude of row 0's top.
const double EdgeLatitude = TileGeometry::tileYToLat(0.0, 0);

// Rows grow without bound towards the poles, and the conversion saturates
// or breaks down there; a latitude past the grid's edge is the first row
// beyond it, which is all the enumeration needs to know.
int rowOf(double lat, int zoom)
{
    if (lat > EdgeLatitude)
        return -1;
    if (lat < -EdgeLatitude)
        return TileGeometry::tileCount(zoom);
    return TileGeometry::latToTileY(lat, zoom);
}

// a * b for counts of columns and rows, held at the largest qint64.
qint64 cellCount(qint64 a, qint64 b)
{
    if (a <= 0 || b <= 0)
        return 0;
    if (a > std::numeric_limits<qint64>::max() / b)
        return std::numeric_limits<qint64>::max();
    return a * b;
}

qint64 saturatingAdd(qint64 a, qint64 b)
{
    return a > std::numeric_limits<qint64>::max() - b ? std::numeric_limits<qint64>::max() : a + b;
}

} // namespace

LevelRange levelRange(const GeoArea &area, int zoom)
{
    LevelRange range;
    range.xMin = TileGeometry::lonToTileX(area.west, zoom);
    range.xMax = TileGeometry::lonToTileX(area.east, zoom);
    range.yMin = rowOf(area.north, zoom);
    range.yMax = rowOf(area.south, zoom);
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
        if (r.yMin > r.yMax || r.xMin > r.xMax)
            continue;
        // Only cells of the grid exist: columns and rows outside 0 .. 2^z - 1
        // (west, north, east or south of it) are counted as skipped, so a
        // level never lists more than 4^z cells however far the view reaches.
        const qint64 n = TileGeometry::tileCount(z);
        const qint64 columns = qint64(r.xMax) - r.xMin + 1;
        const qint64 rows = qint64(r.yMax) - r.yMin + 1;
        const qint64 x0 = qMax<qint64>(r.xMin, 0), x1 = qMin<qint64>(r.xMax, n - 1);
        const qint64 y0 = qMax<qint64>(r.yMin, 0), y1 = qMin<qint64>(r.yMax, n - 1);
        const qint64 cells = cellCount(columns, rows);
        const qint64 listed = cellCount(x1 - x0 + 1, y1 - y0 + 1);
        result.total = saturatingAdd(result.total, cells);
        result.skipped = saturatingAdd(result.skipped, cells - listed);
        for (qint64 x = x0; x <= x1; ++x) {
            for (qint64 y = y0; y <= y1; ++y) {
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
