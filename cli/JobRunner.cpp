#include "cli/JobRunner.h"

#include "app/JobTexts.h"
#include "cli/ExitCode.h"
#include "cli/StopSignal.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

int JobRunner::Result::exitCode() const
{
    using Kind = DownloadJob::StopReason::Kind;
    if (interrupted)
        return ExitCode::Interrupted;
    if (hostRejected)
        return ExitCode::Refused;
    if (stop.kind == Kind::Unwritable || stop.kind == Kind::DiskFull)
        return ExitCode::Unusable;
    // Entries without an address were never meant for the destination.
    const int notKept = outcome.failed() + outcome.skipped() - outcome.skipped(JobOutcome::Reason::NoAddress);
    if (notKept > 0 || stop.kind != Kind::None)
        return ExitCode::SomeFailed;
    return ExitCode::Done;
}

QString JobRunner::interruptedText(const QString &job, const JobOutcome &outcome, qint64 total)
{
    return QStringLiteral("%1 interrupted after %2 of %3 tiles: %4 stored, %5 unchanged, %6 failed, %7 skipped")
        .arg(job)
        .arg(outcome.entries())
        .arg(total)
        .arg(outcome.stored())
        .arg(outcome.unchanged())
        .arg(outcome.failed())
        .arg(outcome.skipped());
}

JobRunner::JobRunner(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
}

JobRunner::~JobRunner() = default;

JobRunner::Result JobRunner::run(const DownloadRun::Job &job, qint64 total, StopSignal *stopSignal)
{
    Result result;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    const int count = qMax(1, m_options.jobs);
    int running = count;
    auto oneEnded = [&running, &loop] {
        if (--running == 0)
            loop.quit();
    };
    std::vector<QString> endTexts(static_cast<size_t>(count));
    const SourceAddress::TileSource source = m_options.source;
    const ProxySettings proxy = m_options.proxy;
    const int toZoom = m_options.toZoom;
    for (int i = 0; i < count; ++i) {
        m_jobs.push_back(std::make_unique<DownloadJob>());
        m_jobs.back()->setLimits(m_options.limits);
        m_jobs.back()->setSkipExisting(m_options.skipExisting);
        m_runs.push_back(std::make_unique<DownloadRun>());
        DownloadRun *downloadRun = m_runs.back().get();
        downloadRun->setInputs(DownloadRun::Inputs{[source] { return source; }, [proxy] { return proxy; },
                                                   [toZoom] { return toZoom; }});
        connect(downloadRun, &DownloadRun::ended, &loop, [&endTexts, i, oneEnded](const QString &text) {
            endTexts[size_t(i)] = text;
            oneEnded();
        });
        connect(downloadRun, &DownloadRun::hostRejected, &loop, [&result, oneEnded] {
            result.hostRejected = true;
            oneEnded();
        });
        if (m_options.progress != ProgressLine::Mode::Quiet) {
            connect(downloadRun, &DownloadRun::waitText, &loop, [](const QString &text) {
                std::fprintf(stderr, "\n%s\n", qPrintable(text));
            });
        }
    }
    ProgressLine progress(m_options.progress, m_options.progressWhat, total);
    auto entriesDone = [this] {
        qint64 done = 0;
        for (const auto &downloadRun : m_runs)
            done += downloadRun->entries();
        return done;
    };
    QTimer tick;
    tick.setInterval(100);
    connect(&tick, &QTimer::timeout, &loop, [&] { progress.update(entriesDone()); });
    if (stopSignal) {
        connect(stopSignal, &StopSignal::requested, &loop, [&] {
            if (result.interrupted)
                return;
            result.interrupted = true;
            // The requests in flight are dropped; what arrived whole is
            // still written when each job finishes below.
            for (const auto &downloadRun : m_runs)
                downloadRun->stop();
            loop.quit();
        });
    }
    for (int i = 0; i < count; ++i) {
        DownloadRun::Job share = job;
        share.share = i;
        share.shares = count;
        m_runs[size_t(i)]->start(m_jobs[size_t(i)].get(), share);
    }
    // Runs may end inside start() (nothing to fetch, a destination that
    // takes nothing): only then is there nothing to wait for.
    bool anyRunning = false;
    for (const auto &downloadRun : m_runs)
        anyRunning = anyRunning || downloadRun->running();
    if (anyRunning && running > 0 && !result.interrupted && !result.hostRejected) {
        tick.start();
        loop.exec();
    }
    tick.stop();
    for (const auto &downloadRun : m_runs)
        downloadRun->disconnect(&loop);
    for (size_t i = 0; i < m_jobs.size(); ++i) {
        if (m_runs[i]->running())
            m_runs[i]->stop(); // another run was rejected: this one ends too
        result.outcome.merge(m_jobs[i]->finish());
        const DownloadJob::StopReason stop = m_jobs[i]->stopReason();
        if (result.stop.kind == DownloadJob::StopReason::Kind::None)
            result.stop = stop;
    }
    progress.update(entriesDone());
    progress.finish();
    result.seconds = double(clock.elapsed()) / 1000.0;
    result.endText = JobTexts::downloadEnd(result.outcome, result.stop, job.destFolder);
    // What a run's end text says beyond its counts (the descriptions beside
    // the tiles that could not be written) is said once for all.
    for (size_t i = 0; i < m_jobs.size(); ++i) {
        const QString counts = JobTexts::downloadEnd(m_jobs[i]->outcome(), m_jobs[i]->stopReason(), job.destFolder);
        if (endTexts[i].startsWith(counts) && endTexts[i].size() > counts.size()) {
            result.endText += endTexts[i].mid(counts.size());
            break;
        }
    }
    return result;
}
