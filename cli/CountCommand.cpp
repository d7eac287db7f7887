#include "cli/CountCommand.h"

#include "acquire/EntryPlan.h"
#include "acquire/JobSize.h"
#include "acquire/TileEnumerator.h"
#include "app/JobAdmission.h"
#include "app/JobRate.h"
#include "cli/ExitCode.h"
#include "cli/JobRunner.h"
#include "cli/RequestSource.h"
#include "cli/JsonSummary.h"
#include "cli/ProxyArgument.h"
#include "cli/SourceArgument.h"
#include "settings/AppConfig.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QLocale>
#include <QTemporaryDir>

#include <cstdio>

CountCommand::CountCommand(const CommandLine &line)
    : m_line(line)
{
}

std::vector<TileId> CountCommand::sampleTiles(const GeoArea &area, int fromZoom, int toZoom, int perLevel)
{
    std::vector<TileId> tiles;
    for (int z = fromZoom; z <= toZoom && perLevel > 0; ++z) {
        const TileEnumerator::LevelRange r = TileEnumerator::levelRange(area, z);
        const qint64 last = (qint64(1) << z) - 1;
        const qint64 x0 = qMax<qint64>(r.xMin, 0), x1 = qMin<qint64>(r.xMax, last);
        const qint64 y0 = qMax<qint64>(r.yMin, 0), y1 = qMin<qint64>(r.yMax, last);
        if (x1 < x0 || y1 < y0)
            continue;
        const qint64 rows = y1 - y0 + 1;
        const qint64 cells = (x1 - x0 + 1) * rows;
        const qint64 n = qMin<qint64>(perLevel, cells);
        for (qint64 k = 0; k < n; ++k) {
            const qint64 index = (2 * k + 1) * cells / (2 * n);
            tiles.push_back(TileId{qint32(x0 + index / rows), qint32(y0 + index % rows), z});
        }
    }
    return tiles;
}

int CountCommand::run(StopSignal *stopSignal)
{
    const std::optional<RequestSource> request = RequestSource::read(m_line.source, m_line.proxy);
    if (!request)
        return ExitCode::Usage;
    const SourceArgument &source = request->source;
    const ProxyArgument &proxy = request->proxy;
    const AppConfig &config = AppConfig::instance();
    const bool archives = source.source().sourceKind == SourceKind::ElevationArchives;
    const JobAdmission::Job admissionJob{m_line.area, m_line.fromZoom, m_line.toZoom, source.source(), true};

    // A sample only where the source allows bulk downloads: the public
    // standard server's policy leaves no room for tiles nobody looks at.
    const SourcePolicy policy = JobAdmission::policyFor(source.source(), true, config.osmTileUrl);
    const bool sampling = policy.bulkAllowed && !SourceAddress::isRejectedHost(source.source().sourceFolder);
    std::vector<TileId> sample;
    if (sampling && archives) {
        std::deque<TileId> cells;
        TileEnumerator::enumerateElevation(m_line.area, cells);
        const size_t n = qMin<size_t>(size_t(m_line.sample), cells.size());
        for (size_t k = 0; k < n; ++k)
            sample.push_back(cells[(2 * k + 1) * cells.size() / (2 * n)]);
    } else if (sampling) {
        sample = sampleTiles(m_line.area, m_line.fromZoom, m_line.toZoom, m_line.sample);
    }

    std::vector<qint64> sizes;
    double rate = -1;
    JobOutcome sampled;
    bool interrupted = false;
    if (!sample.empty()) {
        QTemporaryDir scratch;
        JobRunner::Options options;
        options.source = source.source();
        options.proxy = proxy.settings();
        options.toZoom = m_line.toZoom;
        options.progress = ProgressLine::modeFor(stderr, m_line.quiet);
        options.progressWhat = QStringLiteral("sampled");
        JobRate pace;
        const QString server = JobAdmission::serverOf(source.source(), true);
        pace.start(server);
        JobRunner runner(options);
        DownloadRun::Job job;
        job.sourceKind = source.source().sourceKind;
        job.destFolder = scratch.path() + QLatin1Char('/');
        job.tiles = sample;
        const JobRunner::Result result = runner.run(job, qint64(sample.size()), stopSignal);
        pace.finish(result.outcome.answered());
        rate = pace.entriesPerSecond(server);
        sampled = result.outcome;
        interrupted = result.interrupted;
        // The stored tiles only: the descriptions written beside them are no sample.
        for (const TileId &tile : sample) {
            const QFileInfo stored(EntryPlan::plan(source.source(), job.destFolder, tile).target.path());
            if (stored.isFile())
                sizes.push_back(stored.size());
        }
    }
    const JobAdmission admission = JobAdmission::decide(admissionJob, config.osmTileUrl, sizes, rate);
    const JobSize::Estimate &estimate = admission.estimate();

    const QLocale numbers = QLocale::c();
    QJsonArray levels;
    if (!archives) {
        for (int z = m_line.fromZoom; z <= m_line.toZoom; ++z) {
            const qint64 tiles = JobSize::countTiles(m_line.area, z, z);
            levels.append(QJsonObject{{QStringLiteral("zoom"), z}, {QStringLiteral("tiles"), tiles}});
            if (!m_line.json)
                std::printf("zoom %2d: %s tiles\n", z, qPrintable(numbers.toString(tiles)));
        }
    }
    const QString unit = archives ? QStringLiteral("archives") : QStringLiteral("tiles");
    if (m_line.json) {
        JsonSummary summary(QStringLiteral("count"));
        summary.set(QStringLiteral("levels"), levels);
        summary.set(archives ? QStringLiteral("archives") : QStringLiteral("tiles"), estimate.tiles);
        summary.set(QStringLiteral("sampled"), sampled.stored());
        summary.set(QStringLiteral("sample_failed"), sampled.failed());
        summary.set(QStringLiteral("bytes"), estimate.bytes);
        summary.set(QStringLiteral("bytes_from_sample"), !sizes.empty());
        summary.set(QStringLiteral("seconds"), estimate.seconds);
        summary.set(QStringLiteral("refused"), admission.verdict() == JobAdmission::Verdict::Refuse);
        summary.set(QStringLiteral("interrupted"), interrupted);
        summary.print();
    } else {
        std::printf("total: %s %s\n", qPrintable(numbers.toString(estimate.tiles)), qPrintable(unit));
        const QString size = JobAdmission::sizeText(estimate.bytes);
        if (!sizes.empty())
            std::printf("size: about %s (median of %d sampled)\n", qPrintable(size), int(sizes.size()));
        else
            std::printf("size: about %s (no sample: %s)\n", qPrintable(size),
                        !sampling ? "the source's policy allows none" : m_line.sample == 0 ? "none asked for" : "none could be fetched");
        if (estimate.seconds >= 0)
            std::printf("time: about %s at one request at a time\n", qPrintable(JobAdmission::durationText(estimate.seconds)));
        if (admission.verdict() == JobAdmission::Verdict::Refuse)
            std::printf("note: a download of this job is refused: the public OpenStreetMap server allows at most %s tiles per job\n",
                        qPrintable(numbers.toString(SourcePolicy::PublicOsmMaxTiles)));
    }
    return interrupted ? ExitCode::Interrupted : ExitCode::Done;
}
