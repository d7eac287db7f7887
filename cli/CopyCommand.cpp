#include "cli/CopyCommand.h"

#include "acquire/CopyThread.h"
#include "acquire/JobSize.h"
#include "acquire/TileFile.h"
#include "app/CopyRun.h"
#include "app/JobChunks.h"
#include "app/JobTexts.h"
#include "cli/ExitCode.h"
#include "cli/JobRunner.h"
#include "cli/JsonSummary.h"
#include "cli/ProgressLine.h"
#include "cli/StopSignal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

CopyCommand::CopyCommand(const CommandLine &line)
    : m_line(line)
{
}

int CopyCommand::run(StopSignal *stopSignal)
{
    auto folder = [](const QString &path) { return QDir::cleanPath(QDir::current().absoluteFilePath(path)) + QLatin1Char('/'); };
    const QString from = folder(m_line.from);
    const QString dest = folder(m_line.dest);
    if (!QFileInfo(from).isDir()) {
        std::fprintf(stderr, "tilewright copy: --from %s is no folder\n", qPrintable(m_line.from));
        return ExitCode::Usage;
    }
    if (from == dest) {
        std::fprintf(stderr, "tilewright copy: --from and --dest are the same folder\n");
        return ExitCode::Usage;
    }
    const TileFile::Result probe = TileFile::probeFolder(dest);
    if (!probe.ok()) {
        std::fprintf(stderr, "tilewright copy: cannot write to %s (%s)\n", qPrintable(dest), qPrintable(probe.reason()));
        return ExitCode::Unusable;
    }

    const qint64 total = JobSize::countTiles(m_line.area, m_line.fromZoom, m_line.toZoom);
    CopyThread worker;
    JobChunks chunks;
    CopyRun copyRun(chunks);
    const int toZoom = m_line.toZoom;
    copyRun.setDownloadZoom([toZoom] { return toZoom; });
    QEventLoop loop;
    QString endText;
    bool ended = false;
    bool interrupted = false;
    QObject::connect(&copyRun, &CopyRun::chunkDue, &loop, [&copyRun] { copyRun.copyChunk(); }, Qt::QueuedConnection);
    QObject::connect(&worker, &CopyThread::sendUpdate, &loop, [&copyRun](int zoom, int tile) { copyRun.workerReport(zoom, tile); });
    QObject::connect(&copyRun, &CopyRun::ended, &loop, [&](const QString &text) {
        endText = text;
        ended = true;
        loop.quit();
    });
    if (stopSignal) {
        QObject::connect(stopSignal, &StopSignal::requested, &loop, [&] {
            if (interrupted)
                return;
            interrupted = true;
            // The worker ends after the tile in hand; no next chunk follows.
            chunks.clear();
            worker.stopProcess();
            if (!worker.isRunning() && !ended) { // between two chunks: no report comes
                endText = JobTexts::copyEnd(copyRun.outcome());
                loop.quit();
            }
        });
    }
    ProgressLine progress(ProgressLine::modeFor(stderr, m_line.quiet), QStringLiteral("tiles"), total);
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] { progress.update(copyRun.outcome().entries()); });
    QElapsedTimer clock;
    clock.start();
    copyRun.start(&worker, CopyRun::Job{m_line.area, m_line.fromZoom, 0, from, dest});
    if (!ended) {
        tick.start();
        loop.exec();
    }
    tick.stop();
    progress.update(copyRun.outcome().entries());
    progress.finish();

    const JobOutcome &outcome = copyRun.outcome();
    int code = ExitCode::Done;
    if (interrupted)
        code = ExitCode::Interrupted;
    else if (outcome.failed(JobOutcome::Reason::DiskFull) > 0)
        code = ExitCode::Unusable;
    else if (outcome.failed() > 0)
        code = ExitCode::SomeFailed;
    if (interrupted)
        endText = JobRunner::interruptedText(QStringLiteral("Copy"), outcome, total);
    if (!m_line.quiet)
        std::fprintf(stderr, "%s\n", qPrintable(endText));
    if (m_line.json) {
        JsonSummary summary(QStringLiteral("copy"));
        summary.addOutcome(outcome);
        summary.set(QStringLiteral("end"), endText);
        summary.set(QStringLiteral("seconds"), double(clock.elapsed()) / 1000.0);
        summary.set(QStringLiteral("interrupted"), interrupted);
        summary.set(QStringLiteral("exit"), code);
        summary.print();
    }
    return code;
}
