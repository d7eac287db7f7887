#pragma once

#include <QString>

// The program's endpoints and folder roots. Each has the real default and an
// environment override; the environment is read once, on first use, and
// nowhere else in the program.
//
//   TILEWRIGHT_OSM_TILE_URL          standard tile server (scheme, host, optional port)
//   TILEWRIGHT_SEAMARK_TILE_URL      seamark tile server
//   TILEWRIGHT_SRTM_URL              elevation archive base, up to the region folders
//   TILEWRIGHT_INTERNAL_TILE_SERVER  IPv4 text whose presence in a source address
//                                    makes each request wait 50 ms
//   TILEWRIGHT_CA_BUNDLE             extra CA file trusted for HTTPS transfers
//   TILEWRIGHT_ROOT_D, _C            the folders that stand for the drives D:/ and C:/
//   TILEWRIGHT_MAP_CACHE_DIR         folder of the map view's disk cache ("none": no
//                                    disk cache)
//   TILEWRIGHT_PROXY_DELAY_MS        time from the window's start to the proxy
//                                    detection (a positive whole number)
class AppConfig
{
public:
    static const AppConfig &instance();

    // Base addresses without a trailing slash, e.g. "https://tile.openstreetmap.org".
    QString osmTileUrl;
    QString seamarkTileUrl;
    QString srtmUrl;
    QString internalTileServer;
    QString caBundle;
    // Folder paths ending in "/": "D:/" and "C:/" on Windows, the home folder elsewhere.
    QString rootD;
    QString rootC;
    // Where the map view keeps the tiles it fetched between starts: the
    // subfolder "map-tiles" of the user's cache folder (without a trailing
    // slash; empty for none).
    QString mapCacheDir;
    // The window looks for the system's proxy this long after it started.
    int proxyDelayMs = DefaultProxyDelayMs;
    static constexpr int DefaultProxyDelayMs = 3000;

    // "D:/mapdata/maps/..." becomes dPath("mapdata/maps/...").
    static QString dPath(const QString &relative) { return instance().rootD + relative; }
    static QString cPath(const QString &relative) { return instance().rootC + relative; }

    // Reads the environment again; only tests that change it need this.
    static void reload();

private:
    AppConfig();
};
