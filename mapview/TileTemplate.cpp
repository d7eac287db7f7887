#include "mapview/TileTemplate.h"

#include "mapview/TileGeometry.h"

#include <QStringList>
#include <QUrl>

namespace TileTemplate {

namespace {

QString fixed12(double value)
{
    return QString::number(value, 'f', 12);
}

} // namespace

QString tilePath(const TileId &tile)
{
    return QStringLiteral("%1/%2/%3.png").arg(tile.zoom).arg(tile.x).arg(tile.y);
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

} // namespace TileTemplate
