#pragma once

#include "mapview/GeoArea.h"
#include "mapview/TileId.h"

#include <QPoint>

// Web Mercator tile grid: at zoom z the world is n(z) = 2^z tiles square, each
// 256 pixels, column x counted eastward from 180° W, row y southward from
// about 85.0511° N. The map view keeps its position as fractional tile
// coordinates at its current zoom; degrees only appear where a position
// leaves the view (read-out, download area, WMS bounding boxes).
namespace TileGeometry {

constexpr int TileSize = 256;
constexpr int HalfTileSize = 128;
constexpr double PixelToTile = 0.00390625; // 1 / 256
constexpr int MinViewZoom = 1;
constexpr int MaxViewZoom = 17;

constexpr double Pi = 3.141592653589793;
constexpr double TwoPi = 6.283185307179586;
constexpr double RadToDeg = 57.29577951308232;
constexpr double DegToRad = 0.017453292519943295;
// Half the world's width in spherical Mercator ("epsg:900913") metres.
constexpr double MercatorHalfWidth = 20037508.34;

// Tiles per row and column, computed in floating point (2.0^z).
double tilesPerSide(int zoom);
// The same as an integer (1 << z); zoom must be 0..30.
int tileCount(int zoom);
// True when 0 <= x, y < 2^zoom. There is no wrap-around.
bool tileExists(int x, int y, int zoom);

// Longitude of grid column position x (any real value, also outside the grid).
double tileXToLon(double x, int zoom);
// Latitude of grid row position y (any real value, also outside the grid).
double tileYToLat(double y, int zoom);
double lonToMercatorX(double lon);
double latToMercatorY(double lat);

// Column and row holding a point, rounded down (the download enumeration's
// conversions). Non-finite or far out-of-range inputs saturate to the int range.
int lonToTileX(double lon, int zoom);
int latToTileY(double lat, int zoom);

// West, north, east, south in degrees of a width x height pixel view centred
// on (centerX, centerY) tiles at zoom. Not clamped to the grid.
GeoArea visibleArea(int width, int height, double centerX, double centerY, int zoom);

// Placement of tiles on one axis of the view: tile firstTile begins at pixel
// firstPixel (<= 0) and covers pixel 0; further tiles follow every 256 pixels.
struct AxisPlacement
{
    int firstTile = 0;
    int firstPixel = 0;
};
AxisPlacement placeAxis(int length, double center);

int clampViewZoom(int zoom);

struct ZoomResult
{
    int zoom = 1;
    double centerX = 1.0;
    double centerY = 1.0;
    bool changed = false;
};
// New zoom and centre after zooming to requestedZoom (clamped to 1..17) about
// an anchor in widget pixels; the map point under the anchor stays under it.
ZoomResult zoomAt(QPoint anchor, int width, int height, int oldZoom, int requestedZoom,
                  double centerX, double centerY);

// The tile one level up that holds tile (x >= 0, y >= 0).
TileId parentTile(const TileId &tile);
// Top-left corner of the tile's 128 x 128 quarter inside its parent's image.
QPoint parentQuadrant(const TileId &tile);

// Edges of a tile, in degrees or in Mercator metres.
struct TileBounds
{
    double west = 0.0;
    double south = 0.0;
    double east = 0.0;
    double north = 0.0;
};
TileBounds tileBounds(const TileId &tile);
TileBounds tileBoundsMercator(const TileId &tile);

} // namespace TileGeometry
