#include "cli/SourceArgument.h"

#include "app/SourceChoice.h"
#include "settings/AppConfig.h"
#include "settings/DgmlReader.h"
#include "settings/SourceDestination.h"

#include <QFileInfo>
#include <QUrl>

namespace {

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

} // namespace

SourceArgument SourceArgument::parse(const QString &text)
{
    SourceArgument argument;
    SourceAddress::TileSource &source = argument.m_source;
    const QString word = text.trimmed();
    if (word == QLatin1String("osm")) {
        source.sourceKind = SourceKind::StandardTiles;
    } else if (word == QLatin1String("seamarks")) {
        source.sourceKind = SourceKind::SeamarkTiles;
    } else if (word == QLatin1String("srtm")) {
        source.sourceKind = SourceKind::ElevationArchives;
    } else if (word.startsWith(QLatin1String("wms:"))) {
        QString address = word.mid(4);
        while (address.endsWith(QLatin1Char('/')))
            address.chop(1);
        if (!isWebAddress(QUrl(address)))
            argument.m_error = QStringLiteral("tilewright: \"%1\" names no http(s) Web Map Service").arg(text);
        source.sourceKind = SourceKind::FirstListedServer;
        source.tileLayout = false;
        source.sourceFolder = address;
    } else if (word.contains(QLatin1String("://"))) {
        if (!isWebAddress(QUrl(word)))
            argument.m_error = QStringLiteral("tilewright: \"%1\" is no http(s) tile server address").arg(text);
        else if (word.contains(QLatin1Char('{')))
            argument.readTemplate(word);
        else {
            source.sourceKind = SourceKind::FirstListedServer;
            // The tiles are asked for below the address as given.
            source.sourceFolder = word.endsWith(QLatin1Char('/')) ? word : word + QLatin1Char('/');
        }
    } else if (QFileInfo::exists(word)) {
        argument.readTheme(word);
    } else {
        argument.m_error = QStringLiteral("tilewright: unknown source \"%1\" (osm, seamarks, srtm, an http(s) "
                                          "address or template, wms:ADDRESS or a .dgml theme file)").arg(text);
    }
    return argument;
}

// A template is a theme in all but name: its server, its path with the
// placeholders the theme reader knows and the format its path ends in.
void SourceArgument::readTemplate(const QString &text)
{
    QString pattern = text;
    pattern.replace(QLatin1String("{z}"), QLatin1String("{zoomLevel}"))
        .replace(QLatin1String("{zoom}"), QLatin1String("{zoomLevel}"));
    if (!pattern.contains(QLatin1String("{zoomLevel}")) || !pattern.contains(QLatin1String("{x}"))
        || !pattern.contains(QLatin1String("{y}"))) {
        m_error = QStringLiteral("tilewright: the template \"%1\" needs {z}, {x} and {y}").arg(text);
        return;
    }
    const int start = pattern.indexOf(QLatin1Char('/'), pattern.indexOf(QLatin1String("://")) + 3);
    const QString server = start < 0 ? pattern : pattern.left(start);
    const QString rest = start < 0 ? QStringLiteral("/") : pattern.mid(start);
    const QUrl serverUrl(server);
    m_source.sourceKind = SourceKind::FirstListedServer;
    m_source.themeActive = true;
    m_source.themeProtocol = serverUrl.scheme().toLower();
    m_source.themeHost = serverUrl.host();
    m_source.themePort = QString::number(serverUrl.port(m_source.themeProtocol == QLatin1String("https") ? 443 : 80));
    m_source.themePath = rest.section(QLatin1Char('?'), 0, 0);
    m_source.themeQuery = rest.section(QLatin1Char('?'), 1);
    m_source.themeStorageMode = QStringLiteral("Custom");
    const QString last = m_source.themePath.section(QLatin1Char('/'), -1);
    m_source.themeFormat = last.contains(QLatin1Char('.')) ? last.section(QLatin1Char('.'), -1) : QStringLiteral("png");
    m_source.sourceFolder = m_source.themeHost;
}

void SourceArgument::readTheme(const QString &fileName)
{
    DgmlReader reader;
    const DgmlReader::Result result = reader.readFile(fileName);
    switch (result) {
    case DgmlReader::Result::Read:
        break;
    case DgmlReader::Result::NoDownloadUrl:
        m_error = QStringLiteral("tilewright: the theme %1 names no download server").arg(fileName);
        return;
    case DgmlReader::Result::Error:
        m_error = QStringLiteral("tilewright: the theme %1 cannot be read: %2").arg(fileName, reader.errorString());
        return;
    default:
        m_error = QStringLiteral("tilewright: the theme %1 cannot be read (no readable file of a theme's size)").arg(fileName);
        return;
    }
    SourceState state;
    state = SourceChoice::importTheme(state, reader.theme(), SourceDestination::mapDataRoots());
    m_source = state.source;
    m_license = reader.theme().license;
    m_source.sourceKind = SourceKind::FirstListedServer;
    m_source.themeActive = true;
    m_source.tileLayout = m_source.themeStorageMode != QLatin1String("WebMapService");
    m_source.sourceFolder = m_source.themeHost;
}

QString SourceArgument::serverAddress() const
{
    const AppConfig &config = AppConfig::instance();
    switch (m_source.sourceKind) {
    case SourceKind::StandardTiles:
        return config.osmTileUrl;
    case SourceKind::SeamarkTiles:
        return config.seamarkTileUrl;
    case SourceKind::ElevationArchives:
        return config.srtmUrl;
    default:
        return m_source.isTheme() ? SourceAddress::themeServer(m_source) : m_source.sourceFolder;
    }
}
