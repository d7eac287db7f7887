#include "mapview/SourcePolicy.h"

#include "settings/SourceKind.h"

bool SourcePolicy::isPublicOsmHost(const QString &host)
{
    const QString h = host.trimmed().toLower();
    const QString publicHost = QStringLiteral("tile.openstreetmap.org");
    // A trailing dot names the same host.
    const QString bare = h.endsWith(QLatin1Char('.')) ? h.chopped(1) : h;
    return bare == publicHost || bare.endsWith(QLatin1Char('.') + publicHost);
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
