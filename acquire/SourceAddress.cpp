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

QString zxyPath(const TileId &tile)
{
    return QStringLiteral("%1/%2/%3.png").arg(tile.zoom).arg(tile.x).arg(tile.y);
}

QString fixed12(double value)
{
    return QString::number(value, 'f', 12);
}

QString elevationPath(const TileId &entry)
{
    const QString folder = srtmRegionFolder(entry.zoom);
    if (folder.isEmpty())
        return QString();
    return QStringLiteral("/srtm/version2_1/SRTM3/%1/%2").arg(folder, srtmFileName(entry.x, entry.y));
}

Address themeAddress(const TileSource &source, const TileId &tile)
{
    PathAndQuery target;
    if (source.tileLayout) {
        target = templateTarget(source.themePath, source.themeQuery, source.themeStorageMode, tile);
    } else {
        target.path = source.themePath;
        target.query = wmsGetMapQuery(source.themeQuery, source.themeFormat, tile);
    }
    // A theme without protocol or with a relative path would give no usable
    // address at all; http and a leading '/' are what such a server expects.
    const QString scheme = source.themeProtocol.isEmpty() ? QStringLiteral("http") : source.themeProtocol;
    if (!target.path.isEmpty() && !target.path.startsWith(QLatin1Char('/')))
        target.path.prepend(QLatin1Char('/'));
    QString text = scheme + QStringLiteral("://") + source.themeHost + QLatin1Char(':')
                   + QString::number(source.themePort.trimmed().toInt()) + target.path;
    if (!target.query.isEmpty())
        text += QLatin1Char('?') + target.query;
    return fromText(text);
}

} // namespace

Address downloadAddress(const TileSource &source, const TileId &entry)
{
    const AppConfig &config = AppConfig::instance();
    switch (source.sourceKind) {
    case StandardTiles:
        return fromText(serverBase(config.osmTileUrl) + QLatin1Char('/') + zxyPath(entry));
    case SeamarkTiles:
        return fromText(serverBase(config.seamarkTileUrl) + QStringLiteral("/seamark/") + zxyPath(entry));
    case ElevationArchives: {
        const QString path = elevationPath(entry);
        if (path.isEmpty())
            return Address();
        return fromText(serverBase(config.srtmUrl) + path);
    }
    default:
        break;
    }
    if (source.themeActive)
        return themeAddress(source, entry);
    if (source.tileLayout) {
        // Taken as entered: the address must end in '/' to yield zoom/x/y.
        return fromText(source.sourceFolder + zxyPath(entry));
    }
    // A GetMap request only: servers that take the first of repeated
    // parameters (WMS names are case-insensitive) would otherwise answer a
    // leading REQUEST=GetCapabilities with their capabilities document.
    const TileGeometry::TileBounds box = TileGeometry::tileBounds(entry);
    return fromText(source.sourceFolder
                    + QStringLiteral("/wms?layers=esat&service=WMS"
                                     "&request=GetMap&version=1.1.1&styles=&format=image/jpeg"
                                     "&srs=EPSG:4326&width=256&height=256&bbox=%1,%2,%3,%4")
                          .arg(QString::number(box.west, 'g', 6), QString::number(box.south, 'g', 6),
                               QString::number(box.east, 'g', 6), QString::number(box.north, 'g', 6)));
}

QString serverBase(const QString &configuredUrl)
{
    QString text = configuredUrl.trimmed();
    if (!text.contains(QLatin1String("://")))
        text.prepend(QStringLiteral("https://"));
    const QUrl url(text, QUrl::TolerantMode);
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
        .toString();
}

PathAndQuery templateTarget(const QString &path, const QString &query, const QString &storageMode,
                            const TileId &tile)
{
    QString pattern;
    if (query.isEmpty()
        && (storageMode == QLatin1String("OpenStreetMap") || storageMode == QLatin1String("Custom"))) {
        pattern = path.contains(QLatin1String("zoomLevel")) ? path
                                                            : path + QStringLiteral("{zoomLevel}/{x}/{y}.png");
    } else {
        pattern = path + QLatin1Char('?') + query;
    }
    pattern.replace(QLatin1String("{zoomLevel}"), QString::number(tile.zoom));
    pattern.replace(QLatin1String("{x}"), QString::number(tile.x));
    pattern.replace(QLatin1String("{y}"), QString::number(tile.y));

    PathAndQuery target;
    const int mark = pattern.indexOf(QLatin1Char('?'));
    if (mark < 0) {
        target.path = pattern;
    } else {
        target.path = pattern.left(mark);
        target.query = pattern.mid(mark + 1);
    }
    return target;
}

QString wmsImageFormat(const QString &format)
{
    const QString word = format.toLower();
    if (word == QLatin1String("jpg") || word == QLatin1String("jpeg"))
        return QStringLiteral("image/jpeg");
    return QStringLiteral("image/") + word;
}

QString wmsGetMapQuery(const QString &configuredQuery, const QString &format, const TileId &tile)
{
    QStringList items{QStringLiteral("service=WMS"), QStringLiteral("request=GetMap"),
                      QStringLiteral("version=1.1.1")};
    bool hasStyles = false;
    bool hasFormat = false;
    bool hasSrs = false;
    bool metres = false;
    const QStringList pieces = configuredQuery.split(QLatin1Char('&'));
    for (const QString &piece : pieces) {
        const QString key = piece.section(QLatin1Char('='), 0, 0);
        const QString value = piece.section(QLatin1Char('='), 1, 1);
        items << key + QLatin1Char('=') + value;
        // Presence tests are exact; only the Mercator test ignores letter case.
        hasStyles = hasStyles || key == QLatin1String("styles");
        hasFormat = hasFormat || key == QLatin1String("format");
        hasSrs = hasSrs || key == QLatin1String("srs");
        if (key.toLower() == QLatin1String("srs") && value.toLower() == QLatin1String("epsg:900913"))
            metres = true;
    }
    if (!hasStyles)
        items << QStringLiteral("styles=");
    if (!hasFormat)
        items << QStringLiteral("format=") + wmsImageFormat(format);
    if (!hasSrs)
        items << QStringLiteral("srs=EPSG:4326");
    items << QStringLiteral("width=256") << QStringLiteral("height=256");
    const TileGeometry::TileBounds box =
        metres ? TileGeometry::tileBoundsMercator(tile) : TileGeometry::tileBounds(tile);
    items << QStringLiteral("bbox=%1,%2,%3,%4")
                 .arg(fixed12(box.west), fixed12(box.south), fixed12(box.east), fixed12(box.north));
    return items.join(QLatin1Char('&'));
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
