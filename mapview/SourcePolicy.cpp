#include "mapview/SourcePolicy.h"

#include "settings/SourceKind.h"

namespace {

bool isHostOrBelow(const QString &host, const QString &publicHost)
{
    const QString h = host.trimmed().toLower();
    // A trailing dot names the same host.
    const QString bare = h.endsWith(QLatin1Char('.')) ? h.chopped(1) : h;
    return bare == publicHost || bare.endsWith(QLatin1Char('.') + publicHost);
}

} // namespace

bool SourcePolicy::isPublicOsmHost(const QString &host)
{
    return isHostOrBelow(host, QStringLiteral("tile.openstreetmap.org"));
}

bool SourcePolicy::isPublicSeamarkHost(const QString &host)
{
    return isHostOrBelow(host, QStringLiteral("tiles.openseamap.org"));
}

SourcePolicy SourcePolicy::forSource(int sourceKind, const QUrl &standardServer, bool themeActive,
                                     const QString &themeLicense)
{
    SourcePolicy policy;
    switch (sourceKind) {
    case SourceKind::StandardTiles:
        policy.name = QStringLiteral("OpenStreetMap");
        policy.attribution = QStringLiteral("\u00a9 OpenStreetMap contributors");
        if (isPublicOsmHost(standardServer.host())) {
            policy.bulkAllowed = false;
            policy.maxJobTiles = PublicOsmMaxTiles;
        }
        break;
    case SourceKind::SeamarkTiles:
        policy.name = QStringLiteral("OpenSeaMap");
        policy.attribution = QStringLiteral("\u00a9 OpenStreetMap contributors, \u00a9 OpenSeaMap");
        break;
    case SourceKind::ElevationArchives:
        policy.name = QStringLiteral("SRTM");
        // The archives have no map of their own: the map shows the
        // standard tiles meanwhile, and they keep their credit.
        policy.attribution = QStringLiteral("\u00a9 OpenStreetMap contributors");
        break;
    default:
        // A listed server's terms are unknown here: nothing is invented.
        if (themeActive) {
            policy.name = QStringLiteral("Theme");
            policy.attribution = themeLicense.trimmed();
        } else {
            policy.name = QStringLiteral("Server");
        }
        break;
    }
    return policy;
}
