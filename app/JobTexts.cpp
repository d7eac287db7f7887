#include "app/JobTexts.h"

#include "app/JobAdmission.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocale>
#include <QStringList>

#include <algorithm>

namespace {

// "90 HTTP 404, 6 HTTP 500"; a single reason alone needs no count when
// whole says it already.
QString reasonList(const QList<JobOutcome::Count> &counts, int whole, bool countAlone)
{
    const QLocale locale;
    if (counts.size() == 1 && (!countAlone || counts.front().count == whole))
        return JobTexts::reason(counts.front().reason, counts.front().httpStatus);
    QStringList parts;
    for (const JobOutcome::Count &count : counts)
        parts << QCoreApplication::translate("CvTilewright", "%1 %2").arg(locale.toString(count.count), JobTexts::reason(count.reason, count.httpStatus));
    return parts.join(QStringLiteral(", "));
}

// Failures without the 404s that only say "no data here".
QList<JobOutcome::Count> realFailures(const JobOutcome &outcome, bool noDataIs404)
{
    QList<JobOutcome::Count> counts = outcome.failures();
    if (noDataIs404) {
        counts.erase(std::remove_if(counts.begin(), counts.end(),
                                    [](const JobOutcome::Count &c) {
                                        return c.reason == JobOutcome::Reason::HttpStatus && c.httpStatus == 404;
                                    }),
                     counts.end());
    }
    return counts;
}

int sum(const QList<JobOutcome::Count> &counts)
{
    int total = 0;
    for (const JobOutcome::Count &count : counts)
        total += count.count;
    return total;
}

QString noDataText(int places, int sourceKind)
{
    const QString number = QLocale().toString(places);
    if (sourceKind == SourceKind::SeamarkTiles)
        return places == 1 ? QCoreApplication::translate("CvTilewright", "1 place has no seamarks") : QCoreApplication::translate("CvTilewright", "%1 places have no seamarks").arg(number);
    return places == 1 ? QCoreApplication::translate("CvTilewright", "1 place has no elevation data") : QCoreApplication::translate("CvTilewright", "%1 places have no elevation data").arg(number);
}

// The counts that are not stored, each reason with its count.
QString partial(const JobOutcome &outcome, const QString &finished, const QList<JobOutcome::Count> &failures)
{
    const QLocale locale;
    QString text = finished.arg(locale.toString(outcome.stored()), locale.toString(outcome.entries()));
    if (outcome.unchanged() > 0)
        text += QCoreApplication::translate("CvTilewright", ", %1 unchanged").arg(locale.toString(outcome.unchanged()));
    const int failed = sum(failures);
    if (failed > 0)
        text += QCoreApplication::translate("CvTilewright", ", %1 failed (%2)").arg(locale.toString(failed), reasonList(failures, failed, false));
    if (outcome.skipped() > 0)
        text += QCoreApplication::translate("CvTilewright", ", %1 skipped (%2)").arg(locale.toString(outcome.skipped()), reasonList(outcome.skips(), outcome.skipped(), false));
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

QString JobTexts::downloadEnd(const JobOutcome &outcome, const DownloadJob::StopReason &stop, const QString &destFolder,
                              int sourceKind)
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
    const QLocale locale;
    // Seamarks exist only at sea and elevation cells only over land: a 404
    // there means "nothing here", not a failure.
    const bool noDataIs404 = sourceKind == SourceKind::SeamarkTiles || sourceKind == SourceKind::ElevationArchives;
    const int noData = noDataIs404 ? outcome.failedWithStatus(404) : 0;
    const QList<JobOutcome::Count> failures = realFailures(outcome, noDataIs404);
    const int lost = sum(failures) + outcome.skipped();
    if (outcome.stored() == 0 && outcome.unchanged() == 0 && lost > 0) {
        QList<JobOutcome::Count> all = failures + outcome.skips();
        std::stable_sort(all.begin(), all.end(),
                         [](const JobOutcome::Count &a, const JobOutcome::Count &b) { return a.count > b.count; });
        QString text = QCoreApplication::translate("CvTilewright", "Download failed: none of %1 tiles stored — %2")
                           .arg(locale.toString(outcome.entries()), reasonList(all, outcome.entries() - noData, true));
        if (noData > 0)
            text += QCoreApplication::translate("CvTilewright", "; %1").arg(noDataText(noData, sourceKind));
        return text;
    }
    if (lost == 0 && noData > 0) {
        QString text = outcome.stored() == 1 ? QCoreApplication::translate("CvTilewright", "Download finished: 1 tile stored")
                                             : QCoreApplication::translate("CvTilewright", "Download finished: %1 tiles stored").arg(locale.toString(outcome.stored()));
        if (outcome.unchanged() > 0)
            text += QCoreApplication::translate("CvTilewright", ", %1 unchanged").arg(locale.toString(outcome.unchanged()));
        return text + QCoreApplication::translate("CvTilewright", "; %1").arg(noDataText(noData, sourceKind));
    }
    QString text = partial(outcome, QCoreApplication::translate("CvTilewright", "Download finished: %1 of %2 tiles stored"), failures);
    if (noData > 0)
        text += QCoreApplication::translate("CvTilewright", "; %1").arg(noDataText(noData, sourceKind));
    return text;
}

QString JobTexts::copyEnd(const JobOutcome &outcome)
{
    if (outcome.stored() == outcome.entries())
        return QCoreApplication::translate("CvTilewright", "Copy finished!");
    return partial(outcome, QCoreApplication::translate("CvTilewright", "Copy finished: %1 of %2 tiles copied"), outcome.failures());
}

QString JobTexts::progress(qint64 done, qint64 total, double perSecond, qint64 bytes)
{
    const QLocale locale;
    const QString separator = QStringLiteral(" \u00b7 ");
    QStringList parts{QCoreApplication::translate("CvTilewright", "%1 / %2").arg(locale.toString(done), locale.toString(total))};
    if (perSecond > 0) {
        const QString pace = perSecond < 10 ? locale.toString(perSecond, 'f', 1) : locale.toString(qRound64(perSecond));
        parts << QCoreApplication::translate("CvTilewright", "%1 tiles/s").arg(pace);
        if (total > done)
            parts << QCoreApplication::translate("CvTilewright", "%1 left").arg(JobAdmission::durationText(qint64((total - done) / perSecond + 0.5)));
    }
    if (bytes > 0)
        parts << JobAdmission::sizeText(bytes);
    return parts.join(separator);
}

QString JobTexts::mixedFolderQuestion(const QString &heldName, const QString &wantedName)
{
    return QCoreApplication::translate("CvTilewright", "This folder holds tiles of %1. Download %2 tiles into it?").arg(heldName, wantedName);
}

QString JobTexts::reason(JobOutcome::Reason reason, int httpStatus)
{
    using Reason = JobOutcome::Reason;
    static const QHash<int, const char *> words{
        {int(Reason::NoAddress), QT_TRANSLATE_NOOP("CvTilewright", "no address for this source")},
        {int(Reason::RefusedScheme), QT_TRANSLATE_NOOP("CvTilewright", "not a tile server")},
        {int(Reason::Unwritable), QT_TRANSLATE_NOOP("CvTilewright", "not writable")},
        {int(Reason::Network), QT_TRANSLATE_NOOP("CvTilewright", "network error")},
        {int(Reason::NotATile), QT_TRANSLATE_NOOP("CvTilewright", "not a tile")},
        {int(Reason::NotSound), QT_TRANSLATE_NOOP("CvTilewright", "not a sound tile")},
        {int(Reason::Transfer), QT_TRANSLATE_NOOP("CvTilewright", "transfer failed")},
        {int(Reason::TooLarge), QT_TRANSLATE_NOOP("CvTilewright", "too large")},
        {int(Reason::TimedOut), QT_TRANSLATE_NOOP("CvTilewright", "timed out")},
        {int(Reason::Incomplete), QT_TRANSLATE_NOOP("CvTilewright", "incomplete body")},
        {int(Reason::DiskFull), QT_TRANSLATE_NOOP("CvTilewright", "disk full")},
        {int(Reason::Missing), QT_TRANSLATE_NOOP("CvTilewright", "no source tile")},
    };
    if (reason == Reason::HttpStatus)
        return QCoreApplication::translate("CvTilewright", "HTTP %1").arg(httpStatus);
    const char *word = words.value(int(reason));
    return word ? QCoreApplication::translate("CvTilewright", word) : QString();
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
