#pragma once

#include "acquire/DownloadJob.h"
#include "acquire/JobOutcome.h"
#include "app/DownloadRun.h"
#include "cli/ProgressLine.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class StopSignal;

// Runs one download job the way the window does (DownloadRun over a
// DownloadJob), or several side by side over disjoint shares of its list,
// each one request at a time over its own connections, until all have ended
// or a stop signal came. Then every job's writer has written what it had:
// nothing half-written is left.
class JobRunner : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        SourceAddress::TileSource source;
        ProxySettings proxy;
        int toZoom = 0;
        int jobs = 1;
        bool skipExisting = false;
        ProgressLine::Mode progress = ProgressLine::Mode::Quiet;
        QString progressWhat = QStringLiteral("tiles");
        DownloadJob::Limits limits;
    };

    struct Result
    {
        JobOutcome outcome;          // all jobs' counts together
        DownloadJob::StopReason stop; // the first job that had to stop, if any
        QString endText;             // the window's end text for the counts
        bool interrupted = false;    // a stop signal ended the jobs
        bool hostRejected = false;   // the source's host never gets a request
        double seconds = 0;
        int exitCode() const;
    };

    // "Download interrupted after 149 of 341 tiles: 149 stored, 0 unchanged,
    // 0 failed, 0 skipped" (job: "Download", "Copy").
    static QString interruptedText(const QString &job, const JobOutcome &outcome, qint64 total);

    explicit JobRunner(const Options &options, QObject *parent = nullptr);
    ~JobRunner() override;

    // job.share and job.shares are set for each of the jobs; total is the
    // number of entries of the whole job, for the progress line.
    Result run(const DownloadRun::Job &job, qint64 total, StopSignal *stopSignal);

private:
    Options m_options;
    std::vector<std::unique_ptr<DownloadJob>> m_jobs;
    std::vector<std::unique_ptr<DownloadRun>> m_runs;

    Q_DISABLE_COPY(JobRunner)
};
