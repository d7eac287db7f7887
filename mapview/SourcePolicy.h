#pragma once

#include <QString>
#include <QUrl>

// What a tile source's operators ask of a program that uses it: the credit
// shown on the map and whether, and how far, bulk downloads are welcome.
struct SourcePolicy
{
    // Above this many tiles (all levels) a job asks before it starts.
    static constexpr qint64 AskAboveTiles = 50000;
    // The public OpenStreetMap tile server forbids bulk downloading for
    // offline use; jobs up to this size stay within what a viewer fetches.
    static constexpr qint64 PublicOsmMaxTiles = 5000;
    // Size assumed for a tile when the map view holds none of the source.
    static constexpr qint64 DefaultTileBytes = 20 * 1024;

    QString name;
    QString attribution;      // shown on the map; empty: none
    bool bulkAllowed = true;
    qint64 maxJobTiles = -1;  // -1: no limit

    bool allowsJob(qint64 tiles) const { return maxJobTiles < 0 || tiles <= maxJobTiles; }

    // host is tile.openstreetmap.org or one of its subdomains.
    static bool isPublicOsmHost(const QString &host);
    // host is tiles.openseamap.org or one of its subdomains.
    static bool isPublicSeamarkHost(const QString &host);

    // The policy of a source kind (settings/SourceKind.h). standardServer is
    // the configured standard tile server (its host decides the bulk rule);
    // themeLicense the short licence text of an imported theme, if any.
    static SourcePolicy forSource(int sourceKind, const QUrl &standardServer, bool themeActive,
                                  const QString &themeLicense = QString());
};
