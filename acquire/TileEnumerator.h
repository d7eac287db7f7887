#pragma once

#include "mapview/GeoArea.h"
#include "mapview/TileId.h"

#include <QtGlobal>

#include <deque>
#include <functional>

// Turns a geographic area and a zoom range into the entries of a job's tile
// list. Entries go straight onto the caller's list (12 bytes each), so even a
// single level of a million tiles costs no more than the list itself.
namespace TileEnumerator {

// The list is cut after the level during which it grew beyond this many
// entries; the remaining levels form the next chunk.
constexpr int ListLimit = 25000;

// Called for every entry put on the list (the copy worker's queue follows it).
using EntrySink = std::function<void(const TileId &)>;

struct Result
{
    qint64 total = 0;    // cells visited
    qint64 skipped = 0;  // cells outside the grid (column or row outside 0 .. 2^z - 1)
    int restartZoom = 0; // first level not enumerated because of the limit; 0 = none

    qint64 listed() const { return total - skipped; }
};

// Column and row range of the area at one level, also where it reaches past
// the grid; a latitude past the grid's north or south edge gives row -1 or
// 2^zoom.
struct LevelRange
{
    int xMin = 0;
    int xMax = -1;
    int yMin = 0;
    int yMax = -1;
};
LevelRange levelRange(const GeoArea &area, int zoom);

// Whole-degree bounds of the elevation cells of an area: edges truncated
// toward zero (views far past the world's edge held to what an int carries).
struct DegreeRange
{
    int west = 0;
    int east = -1;
    int south = 0;
    int north = -1;
};
DegreeRange elevationRange(const GeoArea &area);

// Every tile of the area for the levels fromZoom..toZoom, level by level,
// column by column, rows north to south. Cells outside the grid are counted
// as skipped and not listed, so a level lists at most 4^zoom cells. Once the list holds more than listLimit entries
// (and levels remain), enumeration stops at the start of the next level.
Result enumerateTiles(const GeoArea &area, int fromZoom, int toZoom, std::deque<TileId> &list,
                      int listLimit = ListLimit, const EntrySink &alsoTo = EntrySink());

// Whole-degree elevation cells (lon, lat, region) of the area: edges truncated
// toward zero, latitudes south to north, longitudes west to east. No limit.
Result enumerateElevation(const GeoArea &area, std::deque<TileId> &list,
                          const EntrySink &alsoTo = EntrySink());

} // namespace TileEnumerator
