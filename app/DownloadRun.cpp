#include "app/DownloadRun.h"

#include "acquire/DownloadJob.h"
#include "app/DestinationFolder.h"
#include "app/JobSteps.h"
#include "app/JobTexts.h"

#include <QScopedValueRollback>

DownloadRun::DownloadRun(QObject *parent)
    : QObject(parent)
{
}

void DownloadRun::attach(DownloadJob *downloadJob)
{
    if (m_job == downloadJob)
        return;
    if (m_job)
        m_job->disconnect(this);
    m_job = downloadJob;
    connect(m_job, &DownloadJob::tileFinished, this, &DownloadRun::entryEnded);
    connect(m_job, &DownloadJob::archiveFinished, this, &DownloadRun::archiveEnded);
    connect(m_job, &DownloadJob::waiting, this,
            [this](int secondsLeft, int httpStatus) { emit waitText(JobTexts::waiting(secondsLeft, httpStatus)); });
}

void DownloadRun::start(DownloadJob *downloadJob, const Job &job)
{
    attach(downloadJob);
    m_held.reset();
    m_entries = 0;
    m_listed = 0;
    m_shares = qMax(1, job.shares);
    m_share = qBound(0, job.share, m_shares - 1);
    m_stopped = false;
    m_running = true;
    m_destFolder = job.destFolder;
    m_sourceKind = job.sourceKind;
    m_final.reset();
    m_completed = false;
    {
        // Whoever answers the first chunk's news by asking to go on finds
        // the loop below about to run.
        const QScopedValueRollback<bool> listing(m_looping, true);
        m_job->begin(m_inputs.proxy(), m_destFolder);
        qint64 listed = 0;
        if (job.tiles.empty()) {
            listed = m_chunks.first(job.area, job.fromZoom, m_inputs.downloadZoom(), job.sourceKind, job.listLimit);
        } else {
            m_chunks.clear();
            m_chunks.tiles().assign(job.tiles.cbegin(), job.tiles.cend());
            listed = qint64(job.tiles.size());
        }
        emit barRange(1, JobSteps::barMaximum(listed));
    }
    goOn();
}

// Entries that end at once are passed over here, in the loop, never by
// recursion: a long run of tiles without an address costs no stack.
void DownloadRun::goOn()
{
    if (m_looping || !m_running || !m_job)
        return; // the loop further up goes on by itself
    m_looping = true;
    while (m_running) {
        if (!m_held && !planFront()) {
            if (m_job->busy())
                break; // the entry in flight reports its end
            if (m_job->mustStop() || !nextChunk()) {
                m_looping = false;
                return finish();
            }
            continue;
        }
        if (m_held->rejectedHost) {
            const QString host = m_inputs.source().sourceFolder;
            m_looping = false;
            stop();
            emit hostRejected(host);
            return;
        }
        if (!m_job->canStart(*m_held))
            break; // its turn comes with the end of an entry in flight
        startHeld();
    }
    m_looping = false;
}

void DownloadRun::stop()
{
    m_running = false;
    m_stopped = true;
    m_held.reset();
    m_chunks.clear();
    if (m_job)
        m_job->abort();
}

JobOutcome DownloadRun::outcome() const
{
    if (m_final)
        return *m_final;
    return m_job ? m_job->outcome() : JobOutcome();
}

void DownloadRun::entryEnded()
{
    if (!m_running)
        return; // a late report of a stopped run
    // Disk full, a server that keeps refusing, a destination that takes no
    // file: nothing more is started, and the job ends once nothing is in flight.
    if (m_job && m_job->mustStop()) {
        m_held.reset();
        m_chunks.clear();
    }
    goOn();
}

void DownloadRun::archiveEnded(int requestId, bool error)
{
    Q_UNUSED(error) // a failed archive does not stop the job
    if (requestId == m_archiveRequestId)
        entryEnded();
}

bool DownloadRun::planFront()
{
    std::deque<TileId> &tiles = m_chunks.tiles();
    while (!tiles.empty() && m_listed++ % m_shares != m_share)
        tiles.pop_front(); // another run's share
    if (tiles.empty())
        return false;
    m_held = EntryPlan::plan(m_inputs.source(), m_destFolder, tiles.front());
    tiles.pop_front();
    return true;
}

// False when the entry ended at once; the job has counted it then.
bool DownloadRun::startHeld()
{
    const EntryPlan plan = std::move(*m_held);
    m_held.reset();
    ++m_entries;
    if (plan.transport == EntryPlan::Transport::Https)
        m_archiveRequestId = DownloadJob::ArchiveRequestId;
    if (plan.hasAddress()) {
        m_address = plan.address.text;
        emit entryText(JobTexts::entry(plan));
    }
    m_job->setProxy(m_inputs.proxy());
    return m_job->start(plan);
}

// The list is worked off and nothing is in flight: the levels after the list
// limit follow, up to the download zoom as it is now.
bool DownloadRun::nextChunk()
{
    if (m_chunks.restartZoom() == 0)
        return false;
    emit restarting();
    qint64 listed = 0;
    if (!m_chunks.next(m_inputs.downloadZoom(), &listed))
        return false;
    emit barRange(1, JobSteps::barMaximum(listed));
    return true;
}

void DownloadRun::finish()
{
    if (!m_running)
        return; // stopped meanwhile: Stop has said what there is to say
    m_running = false;
    m_held.reset();
    m_chunks.clear();
    m_final = m_job->finish();
    m_completed = !m_job->mustStop();
    QString text = JobTexts::downloadEnd(*m_final, m_job->stopReason(), m_destFolder, m_sourceKind);
    if (m_final->stored() + m_final->unchanged() > 0)
        text += JobTexts::descriptionsFailed(DestinationFolder::describeContents(m_destFolder, m_sourceKind));
    emit ended(text);
}
