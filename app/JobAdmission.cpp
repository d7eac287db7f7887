#include "app/JobAdmission.h"

#include "mapview/TileTemplate.h"
#include "settings/SourceKind.h"

#include <QCoreApplication>
#include <QLocale>
#include <QUrl>

namespace {

QString hostOf(const QString &address)
{
    QString text = address.trimmed();
    if (!text.contains(QLatin1String("://")))
        text.prepend(QStringLiteral("http://"));
    return QUrl(text, QUrl::TolerantMode).host();
}

} // namespace

QString JobAdmission::serverOf(const SourceAddress::TileSource &source, bool download)
{
    if (!download)
        return QString();
    // The address of one entry names the server as the requests reach it,
    // scheme and port included; an elevation entry needs a region.
    const TileId probe = source.sourceKind == SourceKind::ElevationArchives ? TileId{11, 47, 3} : TileId{0, 0, 1};
    const QUrl url = SourceAddress::downloadAddress(source, probe).url;
    if (!url.isValid() || url.host().isEmpty())
        return hostOf(source.sourceFolder);
    return url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo).toString();
}

SourcePolicy JobAdmission::policyFor(const SourceAddress::TileSource &source, bool download,
                                     const QString &standardServer)
{
    SourcePolicy policy = SourcePolicy::forSource(source.sourceKind, QUrl(TileTemplate::serverBase(standardServer)),
                                                  source.themeActive);
    if (!download) {
        policy.bulkAllowed = true;
        policy.maxJobTiles = -1;
        return policy;
    }
    if (SourceKind::isServerSource(source.sourceKind)) {
        const QString host = source.isTheme() ? source.themeHost : hostOf(source.sourceFolder);
        if (SourcePolicy::isPublicOsmHost(host)) {
            policy.bulkAllowed = false;
            policy.maxJobTiles = SourcePolicy::PublicOsmMaxTiles;
        }
    }
    return policy;
}

bool JobAdmission::allowsParallel(const SourceAddress::TileSource &source, const QString &standardServer,
                                  const QString &seamarkServer)
{
    QString host;
    switch (source.sourceKind) {
    case SourceKind::StandardTiles:
        host = hostOf(TileTemplate::serverBase(standardServer));
        break;
    case SourceKind::SeamarkTiles:
        host = hostOf(TileTemplate::serverBase(seamarkServer));
        break;
    case SourceKind::ElevationArchives:
        return true;
    default:
        host = source.isTheme() ? source.themeHost : hostOf(source.sourceFolder);
        break;
    }
    return !SourcePolicy::isPublicOsmHost(host) && !SourcePolicy::isPublicSeamarkHost(host);
}

JobAdmission JobAdmission::decide(const Job &job, const QString &standardServer,
                                  const std::vector<qint64> &mapTileSizes, double tilesPerSecond)
{
    JobAdmission admission;
    admission.m_archives = job.source.sourceKind == SourceKind::ElevationArchives;
    admission.m_download = job.download;
    const qint64 entries = admission.m_archives ? JobSize::countElevationCells(job.area)
                                                : JobSize::countTiles(job.area, job.fromZoom, job.toZoom);
    // The map view shows the job's own source only while tiles are downloaded.
    qint64 typical = 0;
    if (admission.m_archives)
        typical = TypicalArchiveBytes;
    else if (job.download)
        typical = JobSize::medianBytes(mapTileSizes);
    admission.m_estimate = JobSize::estimate(entries, typical, SourcePolicy::DefaultTileBytes, tilesPerSecond);

    const SourcePolicy policy = policyFor(job.source, job.download, standardServer);
    admission.m_limit = policy.maxJobTiles;
    if (!policy.allowsJob(entries))
        admission.m_verdict = Verdict::Refuse;
    else if (entries > SourcePolicy::AskAboveTiles)
        admission.m_verdict = Verdict::Ask;
    return admission;
}

QString JobAdmission::amountText(qint64 entries, bool archives)
{
    const QString number = QLocale().toString(entries);
    if (archives)
        return entries == 1 ? QCoreApplication::translate("CvTilewright", "1 archive") : QCoreApplication::translate("CvTilewright", "%1 archives").arg(number);
    return entries == 1 ? QCoreApplication::translate("CvTilewright", "1 tile") : QCoreApplication::translate("CvTilewright", "%1 tiles").arg(number);
}

QString JobAdmission::sizeText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1);
}

QString JobAdmission::durationText(qint64 seconds)
{
    if (seconds < 60)
        return QCoreApplication::translate("CvTilewright", "%1 s").arg(qMax<qint64>(seconds, 1));
    const qint64 minutes = (seconds + 59) / 60;
    if (minutes < 60)
        return QCoreApplication::translate("CvTilewright", "%1 min").arg(minutes);
    return QCoreApplication::translate("CvTilewright", "%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString JobAdmission::countText() const
{
    const QString amount = amountText(m_estimate.tiles, m_archives);
    return m_download ? QCoreApplication::translate("CvTilewright", "Download: %1").arg(amount) : QCoreApplication::translate("CvTilewright", "Copy: %1").arg(amount);
}

QString JobAdmission::questionText() const
{
    const QString amount = amountText(m_estimate.tiles, m_archives);
    const QString size = sizeText(m_estimate.bytes);
    QString text = m_download ? QCoreApplication::translate("CvTilewright", "This job downloads %1 in all levels, about %2.").arg(amount, size)
                              : QCoreApplication::translate("CvTilewright", "This job copies %1 in all levels, about %2.").arg(amount, size);
    text += QLatin1Char('\n');
    text += m_estimate.seconds < 0 ? QCoreApplication::translate("CvTilewright", "How long it takes is unknown: no job has had answers from this server yet.")
                                   : QCoreApplication::translate("CvTilewright", "At the pace of the last job it takes about %1.")
                                         .arg(durationText(m_estimate.seconds));
    text += QLatin1Char('\n') + QCoreApplication::translate("CvTilewright", "Start it?");
    return text;
}

QString JobAdmission::refusalText() const
{
    return QCoreApplication::translate("CvTilewright", "The usage policy of the public OpenStreetMap tile server forbids bulk downloading for offline "
              "use, so a job of more than %1 tiles from it does not start (this one has %2). To download it, "
              "use a server that allows it: a server of your list (Source), an imported map theme (Import "
              "MapView Dgml), or your own tile server named in the environment variable TILEWRIGHT_OSM_TILE_URL.")
        .arg(QLocale().toString(m_limit), QLocale().toString(m_estimate.tiles));
}

QString JobAdmission::notStartedText() const
{
    if (m_verdict == Verdict::Refuse)
        return QCoreApplication::translate("CvTilewright", "Download refused: more than %1 tiles from the public OpenStreetMap server.")
            .arg(QLocale().toString(m_limit));
    return QCoreApplication::translate("CvTilewright", "Not started: %1.").arg(amountText(m_estimate.tiles, m_archives));
}
