#include "acquire/TileFiles.h"

#include <QRegularExpression>

namespace TileFiles {

namespace {

bool isPlainWord(const QString &word)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_+-]+$"));
    return plain.match(word).hasMatch();
}

QString lastAddressPart(const QString &addressText)
{
    // The query of a template address never names the file; a path does.
    QString path = addressText.section(QLatin1Char('?'), 0, 0);
    return path.section(QLatin1Char('/'), -1);
}

} // namespace

bool Target::isSafeFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
           && !name.contains(QLatin1Char('\0'));
}

QString tileFolder(const QString &root, const TileId &tile)
{
    return QStringLiteral("%1%2/%3/").arg(root).arg(tile.zoom).arg(tile.x);
}

QString tileFile(const QString &root, const TileId &tile)
{
    return tileFolder(root, tile) + QStringLiteral("%1.png").arg(tile.y);
}

QString safeExtension(const QString &format, bool *changed)
{
    if (changed)
        *changed = false;
    if (isPlainWord(format))
        return format;
    if (changed)
        *changed = true;
    // Keep the most specific piece ("image/png" -> "png"), stripped of
    // everything that could leave the folder or hide the file.
    const QStringList pieces = QString(format).replace(QLatin1Char('\\'), QLatin1Char('/'))
                                   .split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (auto it = pieces.crbegin(); it != pieces.crend(); ++it) {
        QString word;
        for (const QChar c : *it) {
            if (c.isLetterOrNumber() && c.unicode() < 128)
                word += c;
        }
        if (!word.isEmpty())
            return word;
    }
    return QStringLiteral("png");
}

Target target(const QString &destFolder, const SourceAddress::TileSource &source, const TileId &entry,
              const QString &addressText)
{
    Target t;
    if (source.sourceKind == SourceKind::ElevationArchives) {
        const QString region = SourceAddress::srtmRegionFolder(entry.zoom);
        if (region.isEmpty())
            return Target();
        t.folder = destFolder + region + QLatin1Char('/');
        t.fileName = lastAddressPart(addressText);
        return t;
    }
    t.folder = tileFolder(destFolder, entry);
    if (source.isTheme())
        t.fileName = QStringLiteral("%1.%2").arg(entry.y).arg(safeExtension(source.themeFormat));
    else if (SourceKind::isServerSource(source.sourceKind) && !source.tileLayout)
        t.fileName = QStringLiteral("%1.png").arg(entry.y);
    else
        t.fileName = lastAddressPart(addressText);
    return t;
}

} // namespace TileFiles
