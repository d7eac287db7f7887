#pragma once

#include "mapview/TileId.h"
#include "mapview/TileTemplate.h"
#include "settings/SourceKind.h"

#include <QString>
#include <QUrl>

// Download addresses of every source kind, composed from a description of the
// chosen source and one entry of the tile list. Pure functions: the download
// job only calls them.
namespace SourceAddress {

// What the download job knows about its source (the window's members).
struct TileSource
{
    int sourceKind = SourceKind::StandardTiles;
    bool tileLayout = true;    // zoom/x/y tiles (true) or a Web Map Service (false)
    bool themeActive = false;  // the imported map theme is the source
    QString sourceFolder;      // the listed server's address as the user entered it
    QString themeProtocol = QStringLiteral("http");
    QString themeHost;
    QString themePort;         // decimal text
    QString themePath;
    QString themeQuery;
    QString themeStorageMode;  // "OpenStreetMap", "Custom", "WebMapService", ...
    QString themeFormat;       // image format word, e.g. "png" or "jpg"

    // The imported theme applies only to a server source.
    bool isTheme() const { return themeActive && SourceKind::isServerSource(sourceKind); }
};

// One composed address: the text kept by the job and the same address parsed.
// An entry that yields no request (elevation region outside 1..6) gives an
// empty, invalid address.
struct Address
{
    QUrl url;
    QString text;
    bool isValid() const { return !text.isEmpty() && url.isValid(); }
};

// The address for one list entry: (x, y, zoom), or (longitude, latitude,
// region) for elevation archives.
Address downloadAddress(const TileSource &source, const TileId &entry);
// An imported theme's server as its requests go to it: "scheme://host:port"
// (http when the theme names no protocol).
QString themeServer(const TileSource &source);

// --- elevation archives ----------------------------------------------------

// Region number 1..6 of a whole-degree cell (first matching row wins).
int srtmContinent(int lon, int lat);
// "Africa", "Australia", "Eurasia", "Islandes", "North_America",
// "South_America" for 1..6; empty for any other number.
QString srtmRegionFolder(int region);
// The region's folder on the archive server: as above, but "Islands" for 4.
QString srtmServerFolder(int region);
// Archive file name of a cell, e.g. "N47E011.hgt.zip", "S03W005.hgt.zip".
QString srtmFileName(int lon, int lat);

// --- address rules that run before composing -----------------------------

// Requests to the in-house tile server are spaced out by this pause.
constexpr int InternalServerPauseMs = 50;
bool needsInternalServerPause(const QString &sourceFolder);
// This host's terms forbid bulk downloads: such a source never gets a request.
bool isRejectedHost(const QString &sourceFolder);

} // namespace SourceAddress
