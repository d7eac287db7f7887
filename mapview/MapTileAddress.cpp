#include "mapview/MapTileAddress.h"

#include "mapview/TileTemplate.h"
#include "settings/SourceKind.h"

namespace MapTileAddress {

namespace {

QString zxyPath(const TileId &tile)
{
    return QStringLiteral("%1/%2/%3.png").arg(tile.zoom).arg(tile.x).arg(tile.y);
}

} // namespace

Form formOf(const MapServer &server)
{
    if (server.sourceMode < SourceKind::FirstListedServer)
        return Form::Standard;
    if (server.serverPort == 0)
        return Form::Plain;
    return server.tileServerMode ? Form::Template : Form::Service;
}

QUrl tileAddress(const QUrl &standardBase, const MapServer &server, const TileId &tile)
{
    QUrl url;
    switch (formOf(server)) {
    case Form::Standard:
        url = standardBase;
        url.setPath(QLatin1Char('/') + zxyPath(tile));
        url.setQuery(QString());
        return url;
    case Form::Plain: {
        // A listed server arrives as the address the user entered
        // ("http://host/tiles/"); one without a scheme is asked over http.
        QString entered = server.serverHost.trimmed();
        if (!entered.contains(QLatin1String("://")))
            entered.prepend(QStringLiteral("http://"));
        url = QUrl(entered, QUrl::TolerantMode);
        url.setQuery(QString());
        url.setFragment(QString());
        QString path = url.path();
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        url.setPath(path + zxyPath(tile), QUrl::TolerantMode);
        return url;
    }
    case Form::Template:
    case Form::Service: {
        TileTemplate::PathAndQuery target;
        if (server.tileServerMode) {
            target = TileTemplate::templateTarget(server.serverPath, server.serverQuery, server.storageMode, tile);
        } else {
            target.path = server.serverPath;
            target.query = TileTemplate::wmsGetMapQuery(server.serverQuery, server.imageFormat, tile);
        }
        if (!target.path.isEmpty() && !target.path.startsWith(QLatin1Char('/')))
            target.path.prepend(QLatin1Char('/'));
        url.setScheme(QStringLiteral("http"));
        url.setHost(server.serverHost);
        url.setPort(server.serverPort);
        url.setPath(target.path, QUrl::TolerantMode);
        if (!target.query.isEmpty())
            url.setQuery(target.query, QUrl::TolerantMode);
        return url;
    }
    }
    return url;
}

} // namespace MapTileAddress
