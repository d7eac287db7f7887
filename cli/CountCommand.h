#pragma once

#include "cli/CommandLine.h"
#include "mapview/TileId.h"

#include <vector>

class StopSignal;

// tilewright count: the tiles of an area per level and in total, counted from
// the grid without listing them, and what the job would cost: the bytes
// from a small sample of real tiles and the time at one request at a time.
class CountCommand
{
public:
    explicit CountCommand(const CommandLine &line);
    int run(StopSignal *stopSignal);

    // Up to perLevel tiles of each level, spread evenly over the area.
    static std::vector<TileId> sampleTiles(const GeoArea &area, int fromZoom, int toZoom, int perLevel);

private:
    const CommandLine &m_line;
};
