#include "app/DestinationFolder.h"

#include "acquire/ElevationMosaic.h"
#include "acquire/TileFolderDescription.h"
#include "settings/SourceKind.h"

#include "settings/AppConfig.h"
#include "settings/SourceDestination.h"

#include <QFileInfo>
#include <QSaveFile>

namespace DestinationFolder {

QString defaultDestination()
{
    const QString relative = QStringLiteral("mapdata/maps/earth/openstreetmap");
    for (const QString &candidate : {AppConfig::dPath(relative), AppConfig::cPath(relative)}) {
        if (QFileInfo(candidate).isDir())
            return candidate + QLatin1Char('/');
    }
    // Not created here: a download creates the folders it needs.
    return AppConfig::cPath(QStringLiteral("temp/"));
}

QString pickedDestination(const QString &folder)
{
    return SourceDestination::withOneTrailingSlash(folder);
}

QByteArray projectionText()
{
    // y_0 has no ".0", unlike x_0: readers of existing files compare bytes.
    return QByteArrayLiteral("proj=merc\n"
                             "ellps=WGS84\n"
                             "a=6378137\n"
                             "b=6378137\n"
                             "lat_ts=0.0\n"
                             "lon_0=0.0\n"
                             "x_0=0.0\n"
                             "y_0=0\n"
                             "k=1.0\n"
                             "units=m\n");
}

bool writeProjectionFile(const QString &folder)
{
    QSaveFile file(pickedDestination(folder) + QStringLiteral("map.prj"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(projectionText());
    return file.commit();
}

QString describeContents(const QString &folder, int sourceKind)
{
    if (sourceKind == SourceKind::ElevationArchives)
        return ElevationMosaic::write(folder).error;
    return TileFolderDescription::write(folder).error;
}

} // namespace DestinationFolder
