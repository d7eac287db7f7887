#include "acquire/SourceAddress.h"

#include "mapview/TileGeometry.h"
#include "settings/AppConfig.h"

#include <QStringList>

namespace SourceAddress {

namespace {

Address fromText(const QString &text)
{
    Address address;
    address.text = text;
    address.url = QUrl(text, QUrl::TolerantMode);
    return address;
}

QString elevationPath(const TileId &entry)
{
    const QString folder = srtmServerFolder(entry.zoom);
    if (folder.isEmpty())
        return QString();
    return QStringLiteral("/%1/%2").arg(folder, srtmFileName(entry.x, entry.y));
}

Address themeAddress(const TileSource &source, const TileId &tile)
{
    TileTemplate::PathAndQuery target;
    if (source.tileLayout) {
        target = TileTemplate::templateTarget(source.themePath, source.themeQuery, source.themeStorageMode, tile);
    } else {
        target.path = source.themePath;
        target.query = TileTemplate::wmsGetMapQuery(source.themeQuery, source.themeFormat, tile);
    }
    // A theme with a relative path would give no usable address at all; a
    // leading '/' is what such a server expects.
    if (!target.path.isEmpty() && !target.path.startsWith(QLatin1Char('/')))
        target.path.prepend(QLatin1Char('/'));
    QString text = themeServer(source) + target.path;
    if (!target.query.isEmpty())
        text += QLatin1Char('?') + target.query;
    return fromText(text);
}

// The configured archive base keeps its path (the folder above the regions);
// credentials, query and fragment of a configured address are no part of it.
QString elevationBase(const QString &configuredUrl)
{
    QString text = configuredUrl.trimmed();
    if (!text.contains(QLatin1String("://")))
        text.prepend(QStringLiteral("https://"));
    QString base = QUrl(text, QUrl::TolerantMode)
                       .adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::StripTrailingSlash)
                       .toString();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

} // namespace

// A theme without protocol would give no usable address; http is what such
// a server expects.
QString themeServer(const TileSource &source)
{
    const QString scheme = source.themeProtocol.isEmpty() ? QStringLiteral("http") : source.themeProtocol;
    return scheme + QStringLiteral("://") + source.themeHost + QLatin1Char(':')
           + QString::number(source.themePort.trimmed().toInt());
}

Address downloadAddress(const TileSource &source, const TileId &entry)
{
    const AppConfig &config = AppConfig::instance();
    switch (source.sourceKind) {
    case SourceKind::StandardTiles:
        return fromText(TileTemplate::serverBase(config.osmTileUrl) + QLatin1Char('/') + TileTemplate::tilePath(entry));
    case SourceKind::SeamarkTiles:
        return fromText(TileTemplate::serverBase(config.seamarkTileUrl) + QStringLiteral("/seamark/") + TileTemplate::tilePath(entry));
    case SourceKind::ElevationArchives: {
        const QString path = elevationPath(entry);
        if (path.isEmpty())
            return Address();
        return fromText(elevationBase(config.srtmUrl) + path);
    }
    default:
        break;
    }
    if (source.themeActive)
        return themeAddress(source, entry);
    if (source.tileLayout) {
        // Taken as entered: the address must end in '/' to yield zoom/x/y.
        return fromText(source.sourceFolder + TileTemplate::tilePath(entry));
    }
    // A GetMap request only: servers that take the first of repeated
    // parameters (WMS names are case-insensitive) would otherwise answer a
    // leading REQUEST=GetCapabilities with their capabilities document.
    const TileGeometry::TileBounds box = TileGeometry::tileBounds(entry);
    // A listed server is kept with its trailing "/" (the tile form); the
    // service path brings its own.
    QString server = source.sourceFolder;
    if (server.endsWith(QLatin1Char('/')))
        server.chop(1);
    return fromText(server
                    + QStringLiteral("/wms?layers=esat&service=WMS"
                                     "&request=GetMap&version=1.1.1&styles=&format=image/jpeg"
                                     "&srs=EPSG:4326&width=256&height=256&bbox=%1,%2,%3,%4")
                          .arg(QString::number(box.west, 'g', 6), QString::number(box.south, 'g', 6),
                               QString::number(box.east, 'g', 6), QString::number(box.north, 'g', 6)));
}

int srtmContinent(int lon, int lat)
{
    auto within = [](int v, int low, int high) { return v >= low && v <= high; };
    if (within(lon, -14, 180) && within(lat, 36, 61))
        return 3;
    if (within(lon, 61, 180) && within(lat, -11, 36))
        return 3;
    if (within(lon, -26, 60) && within(lat, -35, 35))
        return 1;
    if (within(lon, -170, -42) && within(lat, 15, 61))
        return 5;
    if (within(lon, -95, -32) && within(lat, -56, 15))
        return 6;
    if (within(lon, 113, 180) && within(lat, -45, -10))
        return 2;
    return 4;
}

QString srtmRegionFolder(int region)
{
    switch (region) {
    case 1: return QStringLiteral("Africa");
    case 2: return QStringLiteral("Australia");
    case 3: return QStringLiteral("Eurasia");
    case 4: return QStringLiteral("Islandes");
    case 5: return QStringLiteral("North_America");
    case 6: return QStringLiteral("South_America");
    default: return QString();
    }
}

QString srtmServerFolder(int region)
{
    // The archive servers spell the region of the islands "Islands"; the
    // local folder keeps its own name, so existing trees stay valid.
    if (region == 4)
        return QStringLiteral("Islands");
    return srtmRegionFolder(region);
}

QString srtmFileName(int lon, int lat)
{
    const QChar ns = lat >= 0 ? QLatin1Char('N') : QLatin1Char('S');
    const QChar ew = lon >= 0 ? QLatin1Char('E') : QLatin1Char('W');
    return QStringLiteral("%1%2%3%4.hgt.zip")
        .arg(ns)
        .arg(qAbs(lat), 2, 10, QLatin1Char('0'))
        .arg(ew)
        .arg(qAbs(lon), 3, 10, QLatin1Char('0'));
}

bool needsInternalServerPause(const QString &sourceFolder)
{
    const QString server = AppConfig::instance().internalTileServer;
    return !server.isEmpty() && sourceFolder.contains(server);
}

bool isRejectedHost(const QString &sourceFolder)
{
    return sourceFolder.contains(QLatin1String("google"));
}

} // namespace SourceAddress
