#pragma once

#include "mapview/GeoArea.h"

#include <QtGlobal>

#include <vector>

// The size of a whole job, all levels, from the grid bounds alone: a few
// operations per level, nothing enumerated. Agrees exactly with what the
// enumeration lists.
namespace JobSize {

// Tiles of the area for the levels fromZoom..toZoom inside the grid.
qint64 countTiles(const GeoArea &area, int fromZoom, int toZoom);
// Whole-degree elevation cells of the area.
qint64 countElevationCells(const GeoArea &area);

// Median of the sizes (0 for none).
qint64 medianBytes(std::vector<qint64> sizes);

struct Estimate
{
    qint64 tiles = 0;
    qint64 bytes = 0;    // tiles x the typical tile size
    qint64 seconds = -1; // -1: no earlier job to judge the rate by
};
// typicalTileBytes <= 0 counts as defaultTileBytes; tilesPerSecond <= 0
// leaves the time unknown.
Estimate estimate(qint64 tiles, qint64 typicalTileBytes, qint64 defaultTileBytes, double tilesPerSecond);

} // namespace JobSize
