#include "app/DownloadZoomRule.h"

#include "settings/SourceKind.h"

#include <QCoreApplication>
#include <QtGlobal>

namespace DownloadZoomRule {

int maxDownloadZoom(int currentZoom)
{
    switch (currentZoom) {
    case 1: case 2: return 7;
    case 3: case 4: return 9;
    case 5: case 6: return 10;
    case 7: case 8: return 11;
    case 9: return 13;
    case 10: case 11: return 14;
    case 12: case 13: return 15;
    case 14: return 16;
    default: return 0;
    }
}

bool limitApplies(bool downloadMode, int sourceKind, const QString &sourceFolder)
{
    return downloadMode
           && (SourceKind::isMercatorTiles(sourceKind)
               || sourceFolder.contains(QLatin1String("openstreetmap")));
}

int afterValueChanged(int requested, int currentZoom, bool applies)
{
    // Below the current zoom the next paint raises it.
    if (requested < currentZoom || !applies)
        return requested;
    const int limit = maxDownloadZoom(currentZoom);
    return limit == 0 ? requested : qMin(requested, limit);
}

int afterPaint(int shown, int currentZoom, bool applies)
{
    if (currentZoom > shown)
        return currentZoom;
    const int limit = maxDownloadZoom(currentZoom);
    if (currentZoom < shown && applies && limit != 0 && shown > limit)
        return limit;
    return shown;
}

QString loweredText(int limit, int currentZoom)
{
    return QCoreApplication::translate("CvTilewright",
                                       "Download zoom lowered to %1: at map zoom %2 the public tile servers' usage "
                                       "policy allows downloads up to zoom %1. Zoom the map in for deeper levels.")
        .arg(limit)
        .arg(currentZoom);
}

} // namespace DownloadZoomRule
