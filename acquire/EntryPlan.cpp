#include "acquire/EntryPlan.h"

EntryPlan EntryPlan::plan(const SourceAddress::TileSource &chosen, const QString &destFolder,
                          const TileId &entry)
{
    SourceAddress::TileSource source = chosen;
    source.themeFormat = themeFormatOf(source);

    EntryPlan p;
    p.entry = entry;
    p.elevation = source.sourceKind == SourceKind::ElevationArchives;
    p.pauseFirst = SourceAddress::needsInternalServerPause(source.sourceFolder);
    p.rejectedHost = SourceAddress::isRejectedHost(source.sourceFolder);
    if (p.rejectedHost)
        return p;
    p.address = SourceAddress::downloadAddress(source, entry);
    if (!p.hasAddress())
        return p;

    p.target = TileFiles::target(destFolder, source, entry, p.address.text);
    if (source.isTheme()) {
        bool reduced = false;
        const QString extension = TileFiles::safeExtension(source.themeFormat, &reduced);
        if (reduced) {
            p.unsafeFormat = source.themeFormat;
            p.savedExtension = extension;
        }
        p.shownName = p.target.fileName;
    } else {
        p.shownName = p.address.text.section(QLatin1Char('/'), -1);
    }

    // Only tile servers are asked; a theme naming a local scheme (file:, qrc:,
    // data:) would copy local files into the tile folder.
    const QString scheme = p.address.url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        p.transport = Transport::Https;
    else if (scheme == QLatin1String("http"))
        p.transport = Transport::Http;
    return p;
}

QString EntryPlan::themeFormatOf(const SourceAddress::TileSource &source)
{
    if (source.isTheme() && source.themeFormat.isEmpty())
        return QStringLiteral("png");
    return source.themeFormat;
}
