#include "cli/VerifyCommand.h"

#include "acquire/JobLimits.h"
#include "acquire/SourceAddress.h"
#include "cli/ExitCode.h"
#include "cli/RequestSource.h"
#include "cli/JobRunner.h"
#include "cli/JsonSummary.h"
#include "cli/MbtilesCheck.h"
#include "cli/ProxyArgument.h"
#include "cli/SourceArgument.h"
#include "cli/StopSignal.h"
#include "mapview/TileContent.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

namespace {

// The type a tile's extension claims, so a body in no image format at all
// fails instead of passing as an unknown one.
QByteArray typeOf(const QString &extension)
{
    const QString e = extension.toLower();
    if (e == QLatin1String("jpg") || e == QLatin1String("jpeg"))
        return QByteArrayLiteral("image/jpeg");
    if (e == QLatin1String("zip"))
        return QByteArrayLiteral("application/zip");
    if (e == QLatin1String("png") || e == QLatin1String("gif") || e == QLatin1String("webp") || e == QLatin1String("bmp"))
        return "image/" + e.toLatin1();
    return QByteArray();
}

} // namespace

VerifyCommand::VerifyCommand(const CommandLine &line)
    : m_line(line)
{
}

QString VerifyCommand::judge(const QString &path)
{
    QFile file(path);
    if (file.size() == 0)
        return QStringLiteral("empty file");
    const bool archive = path.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive);
    if (file.size() > (archive ? JobLimits::ArchiveBodyLimit : JobLimits::TileBodyLimit))
        return QStringLiteral("too large");
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unreadable: %1").arg(file.errorString());
    const TileContent::Verdict verdict = TileContent::check(typeOf(QFileInfo(path).suffix()), file.readAll());
    if (verdict.ok())
        return QString();
    return TileContent::reasonName(verdict.reason) + QStringLiteral(": ") + verdict.text;
}

// zoom/x/y.ext of a tile, or Region/N47E011.hgt.zip of an elevation archive
// (longitude, latitude, region number, as the download job lists them).
bool VerifyCommand::entryOf(const QString &relativePath, TileId *entry)
{
    static const QRegularExpression tileName(QStringLiteral("^(\\d{1,2})/(\\d{1,7})/(\\d{1,7})\\.[A-Za-z0-9_+-]+$"));
    static const QRegularExpression archiveName(QStringLiteral("^([A-Za-z_]+)/([NS])(\\d{2})([EW])(\\d{3})\\.hgt\\.zip$"));
    QRegularExpressionMatch match = tileName.match(relativePath);
    if (match.hasMatch()) {
        *entry = TileId{match.captured(2).toInt(), match.captured(3).toInt(), match.captured(1).toInt()};
        return true;
    }
    match = archiveName.match(relativePath);
    if (!match.hasMatch())
        return false;
    for (int region = 1; region <= 6; ++region) {
        if (SourceAddress::srtmRegionFolder(region) == match.captured(1)) {
            const int lat = match.captured(3).toInt() * (match.captured(2) == QLatin1String("S") ? -1 : 1);
            const int lon = match.captured(5).toInt() * (match.captured(4) == QLatin1String("W") ? -1 : 1);
            *entry = TileId{lon, lat, region};
            return true;
        }
    }
    return false;
}

std::vector<VerifyCommand::BadTile> VerifyCommand::check(const QString &root, qint64 *checked, StopSignal *stopSignal)
{
    std::vector<BadTile> bad;
    *checked = 0;
    QDirIterator files(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        TileId entry;
        if (!entryOf(path.mid(root.size()), &entry))
            continue;
        ++*checked;
        const QString reason = judge(path);
        if (!reason.isEmpty())
            bad.push_back(BadTile{entry, path, reason});
        // A long walk still hears a stop signal.
        if (stopSignal && *checked % 256 == 0) {
            QCoreApplication::processEvents();
            if (stopSignal->received())
                break;
        }
    }
    std::sort(bad.begin(), bad.end(), [](const BadTile &a, const BadTile &b) { return a.path < b.path; });
    return bad;
}

int VerifyCommand::run(StopSignal *stopSignal)
{
    if (QFileInfo(m_line.tree).isFile())
        return checkPack(stopSignal);
    const QString root = QDir::cleanPath(QDir::current().absoluteFilePath(m_line.tree)) + QLatin1Char('/');
    if (!QFileInfo(root).isDir()) {
        std::fprintf(stderr, "tilewright verify: %s is no folder\n", qPrintable(m_line.tree));
        return ExitCode::Usage;
    }
    std::optional<RequestSource> request;
    if (!m_line.source.isEmpty()) {
        request = RequestSource::read(m_line.source, m_line.proxy);
        if (!request)
            return ExitCode::Usage;
    }

    qint64 checked = 0;
    const std::vector<BadTile> bad = check(root, &checked, stopSignal);
    bool interrupted = stopSignal && stopSignal->received();
    QJsonArray list;
    for (const BadTile &tile : bad) {
        list.append(QJsonObject{{QStringLiteral("path"), tile.path.mid(root.size())}, {QStringLiteral("reason"), tile.reason}});
        if (!m_line.json)
            std::printf("%s: %s\n", qPrintable(tile.path.mid(root.size())), qPrintable(tile.reason));
    }

    int repaired = 0;
    int stillBad = int(bad.size());
    int code = bad.empty() ? ExitCode::Done : ExitCode::SomeFailed;
    JsonSummary summary(QStringLiteral("verify"));
    if (request && !bad.empty() && !interrupted) {
        JobRunner::Options options;
        options.source = request->source.source();
        options.proxy = request->proxy.settings();
        options.toZoom = CommandLine::MaxZoom;
        options.progress = ProgressLine::modeFor(stderr, m_line.quiet);
        JobRunner runner(options);
        DownloadRun::Job job;
        job.sourceKind = options.source.sourceKind;
        job.destFolder = root;
        // A tile source repairs tiles, the elevation source archives.
        const bool archives = job.sourceKind == SourceKind::ElevationArchives;
        for (const BadTile &tile : bad) {
            if (tile.path.endsWith(QLatin1String(".hgt.zip")) == archives)
                job.tiles.push_back(tile.tile);
        }
        const JobRunner::Result result = runner.run(job, qint64(bad.size()), stopSignal);
        interrupted = result.interrupted;
        repaired = 0;
        for (const BadTile &tile : bad)
            repaired += judge(tile.path).isEmpty() ? 1 : 0;
        stillBad = int(bad.size()) - repaired;
        code = result.exitCode();
        if (code == ExitCode::Done && stillBad > 0)
            code = ExitCode::SomeFailed;
        if (!m_line.quiet)
            std::fprintf(stderr, "Repair: %s\n", qPrintable(result.endText));
        summary.set(QStringLiteral("repair"), QJsonObject{{QStringLiteral("end"), result.endText},
                                                           {QStringLiteral("stored"), result.outcome.stored()},
                                                           {QStringLiteral("failed"), result.outcome.failed()}});
    }
    if (interrupted)
        code = ExitCode::Interrupted;
    if (!m_line.quiet)
        std::fprintf(stderr, "%lld tiles checked, %d bad%s\n", checked, int(bad.size()),
                     request && !bad.empty() ? qPrintable(QStringLiteral(", %1 repaired, %2 still bad").arg(repaired).arg(stillBad)) : "");
    if (m_line.json) {
        summary.set(QStringLiteral("checked"), checked);
        summary.set(QStringLiteral("bad"), list);
        summary.set(QStringLiteral("repaired"), repaired);
        summary.set(QStringLiteral("still_bad"), stillBad);
        summary.set(QStringLiteral("interrupted"), interrupted);
        summary.set(QStringLiteral("exit"), code);
        summary.print();
    }
    return code;
}

// An MBTiles file is only judged: its tiles are replaced by repairing the
// folder it was packed from and packing it again.
int VerifyCommand::checkPack(StopSignal *stopSignal)
{
    if (!m_line.source.isEmpty()) {
        std::fprintf(stderr, "tilewright verify: --repair works on a tile folder, not on an MBTiles file\n");
        return ExitCode::Usage;
    }
    QJsonArray list;
    MbtilesCheck check;
    qint64 checked = 0;
    const bool read = check.run(
        m_line.tree,
        [this, &list](const TileId &tile, const QString &reason) {
            const QString name = QStringLiteral("%1/%2/%3").arg(tile.zoom).arg(tile.x).arg(tile.y);
            list.append(QJsonObject{{QStringLiteral("path"), name}, {QStringLiteral("reason"), reason}});
            if (!m_line.json)
                std::printf("%s: %s\n", qPrintable(name), qPrintable(reason));
        },
        &checked,
        [stopSignal] {
            QCoreApplication::processEvents();
            return stopSignal && stopSignal->received() != 0;
        });
    if (!read) {
        std::fprintf(stderr, "tilewright verify: %s is no readable MBTiles file (%s)\n", qPrintable(m_line.tree),
                     qPrintable(check.error()));
        return ExitCode::Usage;
    }
    const bool interrupted = stopSignal && stopSignal->received();
    const int code = interrupted ? ExitCode::Interrupted : list.isEmpty() ? ExitCode::Done : ExitCode::SomeFailed;
    if (!m_line.quiet)
        std::fprintf(stderr, "%lld tiles checked, %d bad\n", checked, int(list.size()));
    if (m_line.json) {
        JsonSummary summary(QStringLiteral("verify"));
        summary.set(QStringLiteral("checked"), checked);
        summary.set(QStringLiteral("bad"), list);
        summary.set(QStringLiteral("interrupted"), interrupted);
        summary.set(QStringLiteral("exit"), code);
        summary.print();
    }
    return code;
}
