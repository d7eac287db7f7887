#include "settings/SourceDestination.h"

#include "settings/AppConfig.h"
#include "settings/SourceKind.h"

#include <QFileInfo>

namespace SourceDestination {

namespace {

const QString MapData = QStringLiteral("mapdata/maps/");

QString firstExisting(const QStringList &candidates)
{
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isDir())
            return candidate;
    }
    return QString();
}

} // namespace

QStringList mapDataRoots()
{
    return {AppConfig::dPath(MapData), AppConfig::cPath(MapData)};
}

QString standardSubFolder(int kind)
{
    switch (kind) {
    case SourceKind::StandardTiles:
        return QStringLiteral("earth/openstreetmap/");
    case SourceKind::SeamarkTiles:
        return QStringLiteral("earth/openseamap/seamarks/");
    default:
        return QString();
    }
}

QString standardDestination(const QString &current, int kind, const QStringList &roots)
{
    QString base = firstExisting(roots);
    if (base.isEmpty()) {
        base = withOneTrailingSlash(current);
        for (int other : {int(SourceKind::StandardTiles), int(SourceKind::SeamarkTiles)}) {
            const QString sub = standardSubFolder(other);
            if (base.endsWith(sub) && base.size() > sub.size()
                && base.at(base.size() - sub.size() - 1) == QLatin1Char('/')) {
                base.chop(sub.size());
                break;
            }
        }
    }
    return withOneTrailingSlash(withOneTrailingSlash(base) + standardSubFolder(kind));
}

bool isRelativeFolder(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    QString path = folder;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.startsWith(QLatin1Char('/')))
        return false;
    if (path.size() >= 2 && path.at(1) == QLatin1Char(':'))
        return false; // "C:..." names a drive, with or without a slash after it
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return false;
    }
    return true;
}

QString themeDestination(const QString &current, const QString &sourceDir, const QStringList &roots)
{
    if (isRelativeFolder(sourceDir)) {
        QStringList candidates;
        for (const QString &root : roots)
            candidates << withOneTrailingSlash(root) + sourceDir;
        const QString found = firstExisting(candidates);
        if (!found.isEmpty())
            return withOneTrailingSlash(found);
    }
    return withOneTrailingSlash(current);
}

QString serverDestination(const QString &current, const QString &serverHost, int port)
{
    QString name;
    for (const QChar c : serverHost.trimmed().toLower()) {
        const bool safe = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                          || c == QLatin1Char('.') || c == QLatin1Char('-');
        name += safe ? c : QLatin1Char('_');
    }
    // A name of dots alone would climb out of the map data.
    if (name.isEmpty() || name.count(QLatin1Char('.')) == name.size())
        return withOneTrailingSlash(current);
    if (port > 0)
        name += QStringLiteral("_%1").arg(port);
    return withOneTrailingSlash(AppConfig::dPath(MapData + QStringLiteral("earth/") + name));
}

QString withOneTrailingSlash(QString path)
{
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path + QLatin1Char('/');
}

} // namespace SourceDestination
