#include "mapview/TileGeometry.h"

#include <cmath>
#include <limits>

namespace TileGeometry {

namespace {

int floorToInt(double value)
{
    if (std::isnan(value))
        return 0;
    const double f = std::floor(value);
    if (f <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (f >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return int(f);
}

} // namespace

double tilesPerSide(int zoom)
{
    return std::pow(2.0, zoom);
}

int tileCount(int zoom)
{
    return 1 << zoom;
}

bool tileExists(int x, int y, int zoom)
{
    if (zoom < 0 || zoom > 30)
        return false;
    const int n = tileCount(zoom);
    return x >= 0 && y >= 0 && x < n && y < n;
}

double tileXToLon(double x, int zoom)
{
    return x / tilesPerSide(zoom) * 360.0 - 180.0;
}

double tileYToLat(double y, int zoom)
{
    const double t = Pi - y * TwoPi / tilesPerSide(zoom);
    return std::atan((std::exp(t) - std::exp(-t)) * 0.5) * RadToDeg;
}

double lonToMercatorX(double lon)
{
    return lon * MercatorHalfWidth / 180.0;
}

double latToMercatorY(double lat)
{
    return std::log(std::tan((lat + 90.0) * Pi / 360.0)) / DegToRad * MercatorHalfWidth / 180.0;
}

int lonToTileX(double lon, int zoom)
{
    return floorToInt((lon + 180.0) / 360.0 * tilesPerSide(zoom));
}

int latToTileY(double lat, int zoom)
{
    const double r = lat * DegToRad;
    return floorToInt((1.0 - std::log(std::tan(r) + 1.0 / std::cos(r)) / Pi) / 2.0 * tilesPerSide(zoom));
}

GeoArea visibleArea(int width, int height, double centerX, double centerY, int zoom)
{
    const double left = centerX - width * 0.5 * PixelToTile;
    const double right = centerX + width * 0.5 * PixelToTile;
    const double top = centerY - height * 0.5 * PixelToTile;
    const double bottom = centerY + height * 0.5 * PixelToTile;
    GeoArea area;
    area.west = tileXToLon(left, zoom);
    area.north = tileYToLat(top, zoom);
    area.east = tileXToLon(right, zoom);
    area.south = tileYToLat(bottom, zoom);
    return area;
}

AxisPlacement placeAxis(int length, double center)
{
    AxisPlacement placement;
    placement.firstTile = floorToInt(center);
    placement.firstPixel = int(length / 2 - (center - placement.firstTile) * TileSize);
    if (placement.firstPixel > 0) {
        const int k = (placement.firstPixel - 1) / TileSize + 1;
        placement.firstTile -= k;
        placement.firstPixel -= TileSize * k;
    }
    return placement;
}

int clampViewZoom(int zoom)
{
    return zoom < MinViewZoom ? MinViewZoom : zoom > MaxViewZoom ? MaxViewZoom : zoom;
}

ZoomResult zoomAt(QPoint anchor, int width, int height, int oldZoom, int requestedZoom,
                  double centerX, double centerY)
{
    ZoomResult result;
    result.zoom = clampViewZoom(requestedZoom);
    result.centerX = centerX;
    result.centerY = centerY;
    if (result.zoom == oldZoom) {
        result.zoom = oldZoom;
        return result;
    }
    const double dx = (anchor.x() - width / 2) * PixelToTile;
    const double dy = (anchor.y() - height / 2) * PixelToTile;
    // Old zooms outside 0..30 (a hand-edited settings value) go through pow.
    const double f = (oldZoom >= 0 && oldZoom <= 30)
                         ? double(1 << result.zoom) / double(1 << oldZoom)
                         : std::pow(2.0, result.zoom - oldZoom);
    result.centerX = (centerX + dx) * f - dx;
    result.centerY = (centerY + dy) * f - dy;
    result.changed = true;
    return result;
}

TileId parentTile(const TileId &tile)
{
    return TileId{tile.x / 2, tile.y / 2, tile.zoom - 1};
}

QPoint parentQuadrant(const TileId &tile)
{
    return QPoint((tile.x % 2) * HalfTileSize, (tile.y % 2) * HalfTileSize);
}

TileBounds tileBounds(const TileId &tile)
{
    TileBounds b;
    b.west = tileXToLon(tile.x, tile.zoom);
    b.east = tileXToLon(double(tile.x) + 1.0, tile.zoom);
    b.north = tileYToLat(tile.y, tile.zoom);
    b.south = tileYToLat(double(tile.y) + 1.0, tile.zoom);
    return b;
}

TileBounds tileBoundsMercator(const TileId &tile)
{
    const TileBounds d = tileBounds(tile);
    TileBounds b;
    b.west = lonToMercatorX(d.west);
    b.east = lonToMercatorX(d.east);
    b.north = latToMercatorY(d.north);
    b.south = latToMercatorY(d.south);
    return b;
}

} // namespace TileGeometry
