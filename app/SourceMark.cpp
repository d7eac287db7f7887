#include "app/SourceMark.h"

#include "app/JobAdmission.h"
#include "settings/SourceKind.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

namespace {

const QString OsmId = QStringLiteral("openstreetmap");
const QString SeamarkId = QStringLiteral("openseamap-seamarks");
const QString SrtmId = QStringLiteral("srtm3");
const qint64 MaxMarkBytes = 4096;

// Built-in sources are named in the window's language, whoever wrote the mark.
QString builtInName(const QString &id)
{
    if (id == OsmId)
        return QStringLiteral("OpenStreetMap");
    if (id == SeamarkId)
        return QCoreApplication::translate("CvTilewright", "OpenSeaMap seamarks");
    if (id == SrtmId)
        return QCoreApplication::translate("CvTilewright", "SRTM elevation");
    return QString();
}

QString markPath(const QString &folder)
{
    return QDir(folder).filePath(SourceMark::fileName());
}

} // namespace

SourceMark SourceMark::of(const SourceAddress::TileSource &source, const QString &themeName)
{
    SourceMark mark;
    switch (source.sourceKind) {
    case SourceKind::StandardTiles:
        mark.id = OsmId;
        break;
    case SourceKind::SeamarkTiles:
        mark.id = SeamarkId;
        break;
    case SourceKind::ElevationArchives:
        mark.id = SrtmId;
        break;
    default:
        if (source.isTheme()) {
            mark.id = SourceAddress::themeServer(source) + source.themePath;
            mark.name = themeName.isEmpty() ? source.themeHost : themeName;
        } else {
            mark.id = source.sourceFolder.trimmed();
            const QString host = QUrl(JobAdmission::serverOf(source, true)).host();
            mark.name = host.isEmpty() ? mark.id : host;
        }
        return mark;
    }
    mark.name = builtInName(mark.id);
    return mark;
}

std::optional<SourceMark> SourceMark::read(const QString &folder)
{
    QFile file(markPath(folder));
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxMarkBytes)
        return std::nullopt;
    SourceMark mark;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.startsWith(QLatin1String("source=")))
            mark.id = text.mid(7);
        else if (text.startsWith(QLatin1String("name=")))
            mark.name = text.mid(5);
    }
    if (mark.id.isEmpty())
        return std::nullopt;
    const QString builtIn = builtInName(mark.id);
    if (!builtIn.isEmpty())
        mark.name = builtIn;
    else if (mark.name.isEmpty())
        mark.name = mark.id;
    return mark;
}

bool SourceMark::writeTo(const QString &folder) const
{
    if (id.isEmpty() || !QDir(folder).exists())
        return false;
    QSaveFile file(markPath(folder));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("source=" + id.toUtf8() + "\nname=" + name.toUtf8() + '\n');
    return file.commit();
}

std::optional<SourceMark> SourceMark::otherIn(const QString &folder, const SourceMark &wanted)
{
    const std::optional<SourceMark> held = read(folder);
    if (held && held->id != wanted.id)
        return held;
    return std::nullopt;
}
