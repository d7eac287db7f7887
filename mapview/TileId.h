#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QtGlobal>

// One tile of the standard grid (x, y, zoom). Elevation jobs reuse the same
// record for (longitude, latitude, region). Ordered by x, then y, then zoom.
struct TileId
{
    qint32 x = 0;
    qint32 y = 0;
    qint32 zoom = 0;

    friend constexpr bool operator==(const TileId &a, const TileId &b)
    {
        return a.x == b.x && a.y == b.y && a.zoom == b.zoom;
    }
    friend constexpr bool operator!=(const TileId &a, const TileId &b) { return !(a == b); }
    friend constexpr bool operator<(const TileId &a, const TileId &b)
    {
        return a.x != b.x ? a.x < b.x : a.y != b.y ? a.y < b.y : a.zoom < b.zoom;
    }
};

inline uint qHash(const TileId &tile, uint seed = 0) noexcept
{
    return qHash((quint64(quint32(tile.x)) << 32) ^ (quint64(quint32(tile.y)) << 8)
                     ^ quint64(quint32(tile.zoom)),
                 seed);
}

Q_DECLARE_TYPEINFO(TileId, Q_PRIMITIVE_TYPE);
Q_DECLARE_METATYPE(TileId)
