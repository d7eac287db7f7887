#include "app/JobTexts.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocale>

namespace {

// The counts that are not stored, each with its most frequent reason.
QString partial(const JobOutcome &outcome, const QString &finished)
{
    const QLocale locale;
    QString text = finished.arg(locale.toString(outcome.stored()), locale.toString(outcome.entries()));
    if (outcome.unchanged() > 0)
        text += QCoreApplication::translate("CvTilewright", ", %1 unchanged").arg(locale.toString(outcome.unchanged()));
    if (outcome.failed() > 0) {
        const auto most = outcome.mostFrequentFailure();
        text += QCoreApplication::translate("CvTilewright", ", %1 failed (%2)").arg(locale.toString(outcome.failed()), JobTexts::reason(most.first, most.second));
    }
    if (outcome.skipped() > 0)
        text += QCoreApplication::translate("CvTilewright", ", %1 skipped (%2)").arg(locale.toString(outcome.skipped()), JobTexts::reason(outcome.mostFrequentSkip()));
    return text;
}

QString stopped(const DownloadJob::StopReason &stop)
{
    using Kind = DownloadJob::StopReason::Kind;
    switch (stop.kind) {
    case Kind::None:
        break;
    case Kind::Unwritable:
        return QCoreApplication::translate("CvTilewright", "Download failed: no tile could be written to %1").arg(stop.folder);
    case Kind::DiskFull:
        return QCoreApplication::translate("CvTilewright", "Download stopped: cannot write to %1 (%2)").arg(stop.folder, stop.detail);
    case Kind::Refused:
        if (stop.serverText.isEmpty())
            return QCoreApplication::translate("CvTilewright", "Download stopped: the server refused %1 requests in a row (HTTP %2)")
                .arg(stop.refusals)
                .arg(stop.httpStatus);
        return QCoreApplication::translate("CvTilewright", "Download stopped: the server refused %1 requests in a row (HTTP %2): %3")
            .arg(stop.refusals)
            .arg(stop.httpStatus)
            .arg(stop.serverText);
    }
    return QString();
}

} // namespace

QString JobTexts::downloadEnd(const JobOutcome &outcome, const DownloadJob::StopReason &stop, const QString &destFolder)
{
    if (stop.kind != DownloadJob::StopReason::Kind::None)
        return stopped(stop);
    if (outcome.entries() == 0)
        return QCoreApplication::translate("CvTilewright", "Nothing to download: the area holds no tile at these zoom levels");
    // Entries without an address were never meant for the destination.
    const int addressed = outcome.entries() - outcome.skipped(JobOutcome::Reason::NoAddress);
    if (addressed > 0 && outcome.failed(JobOutcome::Reason::Unwritable) == addressed)
        return QCoreApplication::translate("CvTilewright", "Download failed: no tile could be written to %1").arg(destFolder);
    if (outcome.stored() == outcome.entries()) {
        if (!outcome.unsafeFormat().isEmpty())
            return QCoreApplication::translate("CvTilewright", "Download finished! The tile format \"%1\" is no file extension; tiles were saved as .%2")
                .arg(outcome.unsafeFormat(), outcome.savedExtension());
        return QCoreApplication::translate("CvTilewright", "Download finished!");
    }
    return partial(outcome, QCoreApplication::translate("CvTilewright", "Download finished: %1 of %2 tiles stored"));
}

QString JobTexts::copyEnd(const JobOutcome &outcome)
{
    if (outcome.stored() == outcome.entries())
        return QCoreApplication::translate("CvTilewright", "Copy finished!");
    return partial(outcome, QCoreApplication::translate("CvTilewright", "Copy finished: %1 of %2 tiles copied"));
}

QString JobTexts::reason(JobOutcome::Reason reason, int httpStatus)
{
    using Reason = JobOutcome::Reason;
    static const QHash<int, QString> words{
        {int(Reason::NoAddress), QStringLiteral("no address")},
        {int(Reason::RefusedScheme), QStringLiteral("not a tile server")},
        {int(Reason::Unwritable), QStringLiteral("not writable")},
        {int(Reason::Network), QStringLiteral("network error")},
        {int(Reason::NotATile), QStringLiteral("not a tile")},
        {int(Reason::NotSound), QStringLiteral("not a sound tile")},
        {int(Reason::Transfer), QStringLiteral("transfer failed")},
        {int(Reason::TooLarge), QStringLiteral("too large")},
        {int(Reason::TimedOut), QStringLiteral("timed out")},
        {int(Reason::Incomplete), QStringLiteral("incomplete body")},
        {int(Reason::DiskFull), QStringLiteral("disk full")},
        {int(Reason::Missing), QStringLiteral("no source tile")},
    };
    if (reason == Reason::HttpStatus)
        return QStringLiteral("HTTP %1").arg(httpStatus);
    return words.value(int(reason));
}

QString JobTexts::entry(const EntryPlan &plan)
{
    if (plan.elevation)
        return QCoreApplication::translate("CvTilewright", "Download SRTM (%1):")
            .arg(SourceAddress::srtmRegionFolder(plan.entry.zoom));
    return QCoreApplication::translate("CvTilewright", "Download Level %1/Tile %2 :")
        .arg(plan.entry.zoom)
        .arg(plan.shownName);
}

QString JobTexts::waiting(int secondsLeft, int httpStatus)
{
    return QCoreApplication::translate("CvTilewright", "The server asked to wait: asking again in %1 s (HTTP %2)").arg(secondsLeft).arg(httpStatus);
}

QString JobTexts::copiedTile(int zoom, int tile)
{
    return QCoreApplication::translate("CvTilewright", "Copy Level %1/Tile %2:").arg(zoom).arg(tile);
}

QString JobTexts::descriptionsFailed(const QString &error)
{
    if (error.isEmpty())
        return QString();
    return QCoreApplication::translate("CvTilewright", " (the descriptions for other programs could not be written: %1)")
        .arg(error);
}

namespace {

QString unsoundWord(TileContent::Reason reason)
{
    switch (reason) {
    case TileContent::Reason::Incomplete:
    case TileContent::Reason::LengthMismatch:
        return QCoreApplication::translate("CvTilewright", "incomplete");
    case TileContent::Reason::Document:
        return QCoreApplication::translate("CvTilewright", "an error document");
    case TileContent::Reason::NotItsType:
        return QCoreApplication::translate("CvTilewright", "not an image");
    case TileContent::Reason::Corrupt:
    case TileContent::Reason::Unsound:
    case TileContent::Reason::Ok:
        break;
    }
    return QCoreApplication::translate("CvTilewright", "corrupt");
}

} // namespace

QString JobTexts::exportEnd(const MbtilesExport::Result &result, const QString &target)
{
    const QLocale locale;
    if (result.cancelled)
        return QCoreApplication::translate("CvTilewright", "Export stopped: %1 was left as it was").arg(target);
    if (!result.ok)
        return QCoreApplication::translate("CvTilewright", "Export failed: %1; %2 was left as it was")
            .arg(result.error, target);
    if (result.skipped() == 0)
        return QCoreApplication::translate("CvTilewright", "Export finished: %1 tiles packed into %2")
            .arg(locale.toString(result.packed), target);
    QMap<QString, qint64> skipped; // the same word for reasons alike
    for (auto it = result.unsound.cbegin(); it != result.unsound.cend(); ++it)
        skipped[unsoundWord(it.key())] += it.value();
    QStringList why;
    for (auto it = skipped.cbegin(); it != skipped.cend(); ++it)
        why << QStringLiteral("%1 %2").arg(locale.toString(it.value()), it.key());
    if (result.otherFormat > 0)
        why << QCoreApplication::translate("CvTilewright", "%1 not %2")
                   .arg(locale.toString(result.otherFormat), result.format.toUpper());
    if (result.unreadable > 0)
        why << QCoreApplication::translate("CvTilewright", "%1 unreadable").arg(locale.toString(result.unreadable));
    if (result.duplicate > 0)
        why << QCoreApplication::translate("CvTilewright", "%1 twice in the folder").arg(locale.toString(result.duplicate));
    return QCoreApplication::translate("CvTilewright", "Export finished: %1 of %2 tiles packed into %3, %4 skipped (%5)")
        .arg(locale.toString(result.packed), locale.toString(result.found), target,
             locale.toString(result.skipped()), why.join(QStringLiteral(", ")));
}

QString JobTexts::exportProgress(qint64 done, qint64 total)
{
    const QLocale locale;
    return QCoreApplication::translate("CvTilewright", "Export MBTiles: %1 of %2 tiles")
        .arg(locale.toString(done), locale.toString(total));
}
