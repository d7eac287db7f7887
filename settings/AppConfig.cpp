#include "settings/AppConfig.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QStandardPaths>

namespace {

AppConfig *s_instance = nullptr;

QString withoutTrailingSlash(QString url)
{
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

QString asFolder(QString path)
{
    path = QDir::fromNativeSeparators(path);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

} // namespace

AppConfig::AppConfig()
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    auto value = [&env](const char *name, const QString &fallback) {
        const QString v = env.value(QLatin1String(name));
        return v.isEmpty() ? fallback : v;
    };
    osmTileUrl = withoutTrailingSlash(value("TILEWRIGHT_OSM_TILE_URL",
                                            QStringLiteral("https://tile.openstreetmap.org")));
    seamarkTileUrl = withoutTrailingSlash(value("TILEWRIGHT_SEAMARK_TILE_URL",
                                                QStringLiteral("https://tiles.openseamap.org")));
    srtmUrl = withoutTrailingSlash(value("TILEWRIGHT_SRTM_URL", QStringLiteral("https://srtm.kurviger.de/SRTM3")));
    // A private-range address: only an in-house tile server ever has it.
    internalTileServer = value("TILEWRIGHT_INTERNAL_TILE_SERVER", QStringLiteral("192.168.178.20"));
    caBundle = env.value(QStringLiteral("TILEWRIGHT_CA_BUNDLE"));
#ifdef Q_OS_WIN
    const QString defaultD = QStringLiteral("D:/");
    const QString defaultC = QStringLiteral("C:/");
#else
    // Nothing may ever create a literal "C:" folder in the working directory.
    const QString defaultD = QDir::homePath();
    const QString defaultC = QDir::homePath();
#endif
    rootD = asFolder(value("TILEWRIGHT_ROOT_D", defaultD));
    rootC = asFolder(value("TILEWRIGHT_ROOT_C", defaultC));
    // "none" keeps the map view off the disk (measurements, tests).
    const QString userCache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    mapCacheDir = QDir::fromNativeSeparators(
        value("TILEWRIGHT_MAP_CACHE_DIR", userCache.isEmpty() ? QString() : userCache + QStringLiteral("/map-tiles")));
    if (mapCacheDir == QLatin1String("none"))
        mapCacheDir.clear();
    while (mapCacheDir.size() > 1 && mapCacheDir.endsWith(QLatin1Char('/')))
        mapCacheDir.chop(1);
    // Anything but a positive number keeps the default.
    bool ok = false;
    const int delay = env.value(QStringLiteral("TILEWRIGHT_PROXY_DELAY_MS")).toInt(&ok);
    if (ok && delay > 0)
        proxyDelayMs = delay;
}

const AppConfig &AppConfig::instance()
{
    if (!s_instance)
        s_instance = new AppConfig;
    return *s_instance;
}

void AppConfig::reload()
{
    delete s_instance;
    s_instance = new AppConfig;
}
