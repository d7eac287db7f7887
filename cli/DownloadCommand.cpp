#include "cli/DownloadCommand.h"

#include "app/DestinationFolder.h"
#include "app/JobAdmission.h"
#include "cli/ExitCode.h"
#include "cli/JobRunner.h"
#include "cli/RequestSource.h"
#include "cli/JsonSummary.h"
#include "cli/PackCommand.h"
#include "cli/ProxyArgument.h"
#include "cli/SourceArgument.h"
#include "settings/AppConfig.h"

#include <QDir>
#include <QLocale>
#include <QUrl>

#include <cstdio>

DownloadCommand::DownloadCommand(const CommandLine &line)
    : m_line(line)
{
}

int DownloadCommand::refuse(const QString &why) const
{
    std::fprintf(stderr, "tilewright download: refused: %s\n", qPrintable(why));
    if (m_line.json) {
        JsonSummary summary(QStringLiteral("download"));
        summary.set(QStringLiteral("refused"), why);
        summary.set(QStringLiteral("exit"), ExitCode::Refused);
        summary.print();
    }
    return ExitCode::Refused;
}

int DownloadCommand::run(StopSignal *stopSignal)
{
    const std::optional<RequestSource> request = RequestSource::read(m_line.source, m_line.proxy);
    if (!request)
        return ExitCode::Usage;
    const SourceArgument &source = request->source;
    const ProxyArgument &proxy = request->proxy;

    // The same admission as the window's, before anything is made or sent.
    const AppConfig &config = AppConfig::instance();
    const JobAdmission admission = JobAdmission::decide(
        JobAdmission::Job{m_line.area, m_line.fromZoom, m_line.toZoom, source.source(), true}, config.osmTileUrl, {}, -1);
    if (SourceAddress::isRejectedHost(source.source().sourceFolder))
        return refuse(QStringLiteral("the terms of %1 forbid bulk downloads").arg(source.source().sourceFolder));
    if (admission.verdict() == JobAdmission::Verdict::Refuse)
        return refuse(QStringLiteral("the usage policy of the public OpenStreetMap tile server forbids bulk downloading; "
                                     "a job from it may have at most %1 tiles, this one has %2. Use a server that allows it "
                                     "(a tile server address, a theme, or your own server in TILEWRIGHT_OSM_TILE_URL).")
                          .arg(QLocale::c().toString(SourcePolicy::PublicOsmMaxTiles), QLocale::c().toString(admission.entries())));
    if (m_line.parallel > 1 && !JobAdmission::allowsParallel(source.source(), config.osmTileUrl, config.seamarkTileUrl))
        return refuse(QStringLiteral("--parallel is not allowed for the public OpenStreetMap and OpenSeaMap servers: "
                                     "their operators ask for one request at a time"));

    const QString dest = QDir::cleanPath(QDir::current().absoluteFilePath(m_line.dest)) + QLatin1Char('/');
    const ProgressLine::Mode mode = ProgressLine::modeFor(stderr, m_line.quiet);
    if (!m_line.quiet)
        std::fprintf(stderr, "%s\n", qPrintable(admission.countText()));

    JobRunner::Options options;
    options.source = source.source();
    options.proxy = proxy.settings();
    options.toZoom = m_line.toZoom;
    options.jobs = m_line.parallel;
    options.skipExisting = m_line.skipExisting;
    options.progress = mode;
    options.progressWhat = source.source().sourceKind == SourceKind::ElevationArchives ? QStringLiteral("archives")
                                                                                        : QStringLiteral("tiles");
    JobRunner runner(options);
    DownloadRun::Job job;
    job.area = m_line.area;
    job.fromZoom = m_line.fromZoom;
    job.sourceKind = source.source().sourceKind;
    job.destFolder = dest;
    const JobRunner::Result result = runner.run(job, admission.entries(), stopSignal);
    int code = result.exitCode();
    // The window writes the grid's projection beside standard and seamark tiles.
    if (SourceKind::isMercatorTiles(job.sourceKind) && result.outcome.stored() > 0)
        DestinationFolder::writeProjectionFile(dest);

    QString endText = result.endText;
    if (result.interrupted)
        endText = JobRunner::interruptedText(QStringLiteral("Download"), result.outcome, admission.entries());
    if (!m_line.quiet)
        std::fprintf(stderr, "%s\n", qPrintable(endText));

    JsonSummary summary(QStringLiteral("download"));
    // Packed only when the tree is complete: a phone gets no half region.
    if (code == ExitCode::Done && !m_line.mbtiles.isEmpty()) {
        const SourcePolicy policy = SourcePolicy::forSource(job.sourceKind, QUrl(config.osmTileUrl),
                                                            source.source().themeActive, source.license());
        code = PackCommand::pack(PackCommand::Pack{dest, m_line.mbtiles, policy.attribution,
                                                   job.sourceKind == SourceKind::SeamarkTiles},
                                 stopSignal, mode, m_line.quiet, &summary);
    }
    if (m_line.json) {
        summary.addOutcome(result.outcome);
        summary.set(QStringLiteral("end"), endText);
        summary.set(QStringLiteral("seconds"), result.seconds);
        summary.set(QStringLiteral("interrupted"), result.interrupted);
        summary.set(QStringLiteral("exit"), code);
        summary.print();
    }
    return code;
}
