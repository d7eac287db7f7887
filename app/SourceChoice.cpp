#include "app/SourceChoice.h"

#include "settings/AppConfig.h"
#include "settings/ServerList.h"
#include "settings/SourceDestination.h"
#include "settings/SourceKind.h"

#include <QFileInfo>
#include <QUrl>

SourceChoice::Applied SourceChoice::apply(const SourceState &before, const ChosenSource &chosen,
                                          const QString &osmTileUrl, const QString &seamarkTileUrl,
                                          const QStringList &mapDataRoots)
{
    Applied out;
    out.state = before;
    SourceState &state = out.state;
    SourceAddress::TileSource &source = state.source;
    state.downloadMode = chosen.downloadMode;
    source.tileLayout = chosen.tileLayout;
    const int k = chosen.sourceIndex;
    if (!state.downloadMode) {
        // A copy keeps the download source kind; only the folder changes.
        source.sourceFolder = chosen.sourceText;
        out.copyMode = true;
        return out;
    }

    source.themeActive = k > 2 && k == chosen.themeIndex;
    if (source.themeActive)
        source.sourceFolder = chosen.serverHost;
    else if (k > 2)
        source.sourceFolder = chosen.sourceText;
    if (SourceKind::isMercatorTiles(k)) {
        state.destFolder = SourceDestination::standardDestination(state.destFolder, k, mapDataRoots);
        out.destinationShown = true;
    }
    source.sourceKind = k;
    if (k > 2 && !source.themeActive && source.tileLayout)
        source.sourceFolder = ServerList::downloadForm(source.sourceFolder);
    // Sources without a folder of their own get one named after their server,
    // so their tiles do not land among another source's.
    // Chosen again, the source keeps the destination it has (maybe one the
    // person picked).
    const bool changed = k != before.source.sourceKind || source.sourceFolder != before.source.sourceFolder
                         || source.themeActive != before.source.themeActive;
    if (changed && (k == SourceKind::ElevationArchives || (k > 2 && !source.themeActive))) {
        QString text = k == SourceKind::ElevationArchives ? AppConfig::instance().srtmUrl : source.sourceFolder.trimmed();
        if (!text.contains(QLatin1String("://")))
            text.prepend(QStringLiteral("http://"));
        const QUrl server(text, QUrl::TolerantMode);
        const QString proposed = SourceDestination::serverDestination(state.destFolder, server.host(), server.port());
        out.destinationShown = proposed != state.destFolder;
        state.destFolder = proposed;
    }

    MapTarget &map = out.map;
    if (k == SourceKind::SeamarkTiles)
        map.host = QUrl(seamarkTileUrl).host();
    else if (k < SourceKind::FirstListedServer)
        map.host = QUrl(osmTileUrl).host();
    else
        map.host = source.sourceFolder;
    map.path = source.themePath;
    map.query = source.themeQuery;
    map.storageMode = source.themeStorageMode;
    map.format = source.themeFormat;
    map.mode = k == SourceKind::ElevationArchives ? 0 : k;
    map.viaHost = !source.themeActive;
    if (source.themeActive) {
        const int port = source.themePort.toInt();
        map.port = source.tileLayout ? port : -port;
    }
    return out;
}

SourceState SourceChoice::importTheme(const SourceState &before, const DgmlTheme &theme,
                                      const QStringList &mapDataRoots)
{
    SourceState state = before;
    SourceAddress::TileSource &source = state.source;
    state.themeName = theme.name;
    source.themeHost = theme.host;
    source.themeProtocol = theme.protocol;
    source.themePath = theme.path;
    source.themeQuery = theme.query;
    source.themeStorageMode = theme.storageMode;
    source.themePort = theme.port;
    if (theme.hasSourceDir)
        state.themeSourceDir = theme.sourceDir;
    if (theme.hasFormat)
        source.themeFormat = theme.format;
    for (const QString &folder : theme.sourceDirs)
        state.destFolder = SourceDestination::themeDestination(state.destFolder, folder, mapDataRoots);

    return state;
}

QString SourceChoice::themeFolder()
{
    const QString earth = QStringLiteral("mapdata/maps/earth/");
    for (const QString &folder : {AppConfig::dPath(earth), AppConfig::cPath(earth)}) {
        if (QFileInfo(folder).isDir())
            return folder;
    }
    return QString();
}
