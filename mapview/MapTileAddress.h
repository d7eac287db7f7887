#pragma once

#include "mapview/TileId.h"

#include <QString>
#include <QUrl>

// Addresses from which the map view fetches the tiles it shows. Template and
// Web Map Service forms are those of the download addresses.
namespace MapTileAddress {

// The map view's server description (what setServer/setServerHost store).
struct MapServer
{
    int sourceMode = 0;        // 0 standard map, 1 seamarks (standard base map), 3+ configured server
    QString serverHost;        // host name, or a listed server's full address
    QString serverPath;        // path or path template
    QString serverQuery;       // query or WMS items
    QString storageMode;       // "OpenStreetMap", "Custom", ...
    QString imageFormat;       // "png", "jpg", ...
    int serverPort = 0;        // 0: none configured
    bool tileServerMode = true; // false: Web Map Service
};

enum class Form { Standard, Plain, Template, Service };

Form formOf(const MapServer &server);

// The address of tile (x, y, zoom). standardBase is scheme://host[:port] of
// the public tile server; its scheme is kept (those servers answer HTTPS).
// Configured servers are asked over http unless their address names a scheme.
QUrl tileAddress(const QUrl &standardBase, const MapServer &server, const TileId &tile);

} // namespace MapTileAddress
