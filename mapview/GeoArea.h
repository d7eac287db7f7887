#pragma once

// A geographic area in degrees, in the order the map view reports it.
// No clamping: a view reaching past the world's edge reports an area beyond it.
struct GeoArea
{
    double west = 0.0;
    double north = 0.0;
    double east = 0.0;
    double south = 0.0;
};
