#pragma once

// Small helpers the job tests share: areas, expected tile lists, and files
// read, written and listed on real temporary trees.

#include "acquire/TileEnumerator.h"
#include "mapview/GeoArea.h"
#include "mapview/TileId.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "settings/SettingsKeys.h"
#include <QSize>
#include <QStringList>
#include <QVector>

#include <climits>
#include <cmath>
#include <deque>

namespace TestFiles {

inline GeoArea area(double west, double north, double east, double south)
{
    GeoArea a;
    a.west = west;
    a.north = north;
    a.east = east;
    a.south = south;
    return a;
}

// Fractional grid position of a longitude / latitude, computed independently
// of the program's own conversions.
inline double tileX(double lon, int zoom)
{
    return (lon + 180.0) / 360.0 * std::ldexp(1.0, zoom);
}

inline double tileY(double lat, int zoom)
{
    const double r = lat * M_PI / 180.0;
    return (1.0 - std::log(std::tan(r) + 1.0 / std::cos(r)) / M_PI) / 2.0 * std::ldexp(1.0, zoom);
}

inline QString tilePath(const TileId &t)
{
    return QStringLiteral("%1/%2/%3.png").arg(t.zoom).arg(t.x).arg(t.y);
}

// Stores the map view that shows the area at zoom, for the next map widget
// built; mapSize() is the widget size that shows (nearly) exactly that area.
inline void storeMapView(const GeoArea &view, int zoom)
{
    QSettings settings;
    SettingsKeys::MapCenterX.write(settings, (tileX(view.west, zoom) + tileX(view.east, zoom)) / 2);
    SettingsKeys::MapCenterY.write(settings, (tileY(view.north, zoom) + tileY(view.south, zoom)) / 2);
    SettingsKeys::MapZoom.write(settings, uint(zoom));
}

inline QSize mapSize(const GeoArea &view, int zoom)
{
    const double width = (tileX(view.east, zoom) - tileX(view.west, zoom)) * 256;
    const double height = (tileY(view.south, zoom) - tileY(view.north, zoom)) * 256;
    return QSize(qMax(1, int(std::lround(width))), qMax(1, int(std::lround(height))));
}

// Every tile of the area over the zoom range, in job order, without a limit.
inline QVector<TileId> tilesOf(const GeoArea &a, int fromZoom, int toZoom)
{
    std::deque<TileId> list;
    TileEnumerator::enumerateTiles(a, fromZoom, toZoom, list, INT_MAX);
    return QVector<TileId>(list.begin(), list.end());
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Every file below root, as sorted paths relative to it (hidden ones too),
// but for the descriptions for other programs (*.xml, *.vrt) that a job
// writes into root itself.
inline QStringList filesBelow(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = QDir(root).relativeFilePath(it.next());
        // The folder's descriptions for other programs and the mark naming its
        // source are no tiles and no leftovers.
        if (!file.contains(QLatin1Char('/')) && (file.endsWith(QLatin1String(".xml")) || file.endsWith(QLatin1String(".vrt"))))
            continue;
        if (file != QLatin1String(".cvtilewright-source"))
            files << file;
    }
    files.sort();
    return files;
}

// Number of files below root.
inline int countFilesBelow(const QString &root)
{
    int n = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

// A field of this process's /proc status in KiB ("VmRSS:", "VmHWM:"); -1
// where there is none.
inline qint64 processStatusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace TestFiles
