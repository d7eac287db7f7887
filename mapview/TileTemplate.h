#pragma once

#include "mapview/TileId.h"

#include <QString>

// Address pieces that the map view and the download job compose alike: the
// zoom/x/y path, tile-template servers and Web Map Service GetMap queries.
// Pure functions.
namespace TileTemplate {

// "zoom/x/y.png", the path of a tile below a standard tile server.
QString tilePath(const TileId &tile);

// scheme://host[:port] of a configured server URL (no path, no trailing '/').
// A text without a scheme counts as https.
QString serverBase(const QString &configuredUrl);

struct PathAndQuery
{
    QString path;
    QString query; // without the '?'; empty when there is none
};

// Path and query of a tile-template server: the template is path +
// "{zoomLevel}/{x}/{y}.png" for the two zoom/x/y storage layouts without a
// query (path alone when it already holds "zoomLevel"), otherwise path + "?" +
// query; then the placeholders are filled in.
PathAndQuery templateTarget(const QString &path, const QString &query, const QString &storageMode,
                            const TileId &tile);

// Query text of a WMS GetMap request for one 256 x 256 tile: service, request,
// version, the configured items as written, then styles, format, srs, width,
// height (each only when not configured) and the 12-decimal bbox (in Mercator
// metres when an srs item names epsg:900913 in any letter case).
QString wmsGetMapQuery(const QString &configuredQuery, const QString &format, const TileId &tile);

// "image/jpeg" for jpg/jpeg, otherwise "image/" + the lower-case word.
QString wmsImageFormat(const QString &format);

} // namespace TileTemplate
