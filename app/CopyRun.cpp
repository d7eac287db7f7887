#include "app/CopyRun.h"

#include "acquire/CopyThread.h"
#include "app/DestinationFolder.h"
#include "app/JobChunks.h"
#include "app/JobSteps.h"
#include "app/JobTexts.h"

CopyRun::CopyRun(JobChunks &chunks, QObject *parent)
    : QObject(parent)
    , m_chunks(chunks)
{
}

void CopyRun::start(CopyThread *worker, const Job &job)
{
    m_worker = worker;
    m_sourceFolder = job.sourceFolder;
    m_destFolder = job.destFolder;
    m_sourceKind = job.sourceKind;
    m_outcome = JobOutcome();
    startChunk(m_chunks.first(job.area, job.fromZoom, m_downloadZoom(), job.sourceKind, job.listLimit, worker));
}

// The chunk just listed is on the worker's queue as well.
void CopyRun::startChunk(qint64 listed)
{
    m_copiedInChunk = 0;
    emit barRange(0, JobSteps::barMaximum(listed));
    if (m_chunks.tiles().empty())
        finish();
    else
        emit chunkDue();
}

void CopyRun::copyChunk()
{
    if (m_chunks.tiles().empty())
        return;
    if (!m_worker || !m_worker->startCopy(m_sourceFolder, m_destFolder))
        workerReport(-1, -1); // nothing the worker could take
}

void CopyRun::workerReport(int zoom, int tile)
{
    if (zoom >= 0 || tile >= 0) {
        m_outcome.addStored();
        emit tileText(JobTexts::copiedTile(zoom, tile));
        emit barValue(++m_copiedInChunk);
        return;
    }
    bool full = false;
    if (m_worker) {
        const CopyThread::Failures failed = m_worker->runFailures();
        full = failed.diskFull > 0;
        m_outcome.addFailed(JobOutcome::Reason::Missing, 0, failed.missing);
        m_outcome.addFailed(JobOutcome::Reason::Unwritable, 0, failed.unwritable);
        m_outcome.addFailed(JobOutcome::Reason::NotSound, 0, failed.unsound);
        m_outcome.addFailed(JobOutcome::Reason::DiskFull, 0, failed.diskFull);
    }
    m_chunks.tiles().clear();
    // The enumeration stopped at its list limit: the job goes on with the
    // next levels.
    if (m_chunks.restartZoom() != 0 && !full)
        return nextChunk();
    finish();
}

void CopyRun::nextChunk()
{
    if (!m_chunks.tiles().empty() || m_chunks.restartZoom() == 0)
        return;
    qint64 listed = 0;
    // The download zoom may have been lowered below the levels still to do:
    // the job is complete as it stands.
    if (m_chunks.next(m_downloadZoom(), &listed, m_worker))
        startChunk(listed);
    else
        finish();
}

// The copied tiles are described for other programs like downloaded ones.
void CopyRun::finish()
{
    QString text = JobTexts::copyEnd(m_outcome);
    if (m_outcome.stored() + m_outcome.unchanged() > 0)
        text += JobTexts::descriptionsFailed(DestinationFolder::describeContents(m_destFolder, m_sourceKind));
    emit ended(text);
}
