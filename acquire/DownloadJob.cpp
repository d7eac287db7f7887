#include "acquire/DownloadJob.h"

#include "acquire/ArchiveTransfer.h"
#include "acquire/CurlTransfer.h"
#include "acquire/TileFile.h"
#include "acquire/TileWriter.h"
#include "mapview/TileRequest.h"
#include "settings/AppConfig.h"
#include "settings/ProgramVersion.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QTimer>

namespace {

// The writer's queue (see keepWriterShort).
constexpr int MaxQueuedBodies = 32;
constexpr qint64 MaxQueuedBytes = qint64(64) * 1024 * 1024;
// Qt stops reading from the socket while this much is unread, so a body
// arriving faster than it is judged does not pile up in memory.
constexpr qint64 ReadBufferBytes = 1024 * 1024;
constexpr int WatchIntervalMs = 250;

// An archive streams into its file on the HTTPS worker, which commits it; a
// tile comes back whole and goes to the writer, as on plain HTTP.
bool streamedToFile(const EntryPlan &plan)
{
    return plan.elevation && plan.transport == EntryPlan::Transport::Https;
}

bool refusal(int status)
{
    return status == 401 || status == 403;
}

JobOutcome::Reason reasonOf(FetchResult::Status status)
{
    using Status = FetchResult::Status;
    switch (status) {
    case Status::HttpError:
        return JobOutcome::Reason::HttpStatus;
    case Status::NotContent:
        return JobOutcome::Reason::NotATile;
    case Status::NotSound:
        return JobOutcome::Reason::NotSound;
    case Status::WriteError:
        return JobOutcome::Reason::Unwritable;
    case Status::TooLarge:
        return JobOutcome::Reason::TooLarge;
    case Status::Incomplete:
        return JobOutcome::Reason::Incomplete;
    case Status::DiskFull:
        return JobOutcome::Reason::DiskFull;
    case Status::TransportError:
        return JobOutcome::Reason::Network;
    case Status::TimedOut:
        return JobOutcome::Reason::TimedOut;
    default:
        return JobOutcome::Reason::Transfer;
    }
}

} // namespace

DownloadJob::DownloadJob(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_writer(new TileWriter(this))
    , m_watchdog(new QTimer(this))
    , m_pauseTimer(new QTimer(this))
    , m_retryTimer(new QTimer(this))
    , m_countdown(new QTimer(this))
{
    m_watchdog->setInterval(WatchIntervalMs);
    connect(m_watchdog, &QTimer::timeout, this, &DownloadJob::watch);
    m_pauseTimer->setSingleShot(true);
    m_pauseTimer->setTimerType(Qt::PreciseTimer);
    m_pauseTimer->setInterval(SourceAddress::InternalServerPauseMs);
    connect(m_pauseTimer, &QTimer::timeout, this, [this] {
        m_pausing = false;
        if (m_paused) {
            const EntryPlan plan = std::move(*m_paused);
            m_paused.reset();
            send(plan);
        }
    });
    m_retryTimer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early: the server asked for at least
    // this long.
    m_retryTimer->setTimerType(Qt::PreciseTimer);
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        m_waiting = false;
        m_countdown->stop();
        if (m_heldArchives.empty())
            return sendRequest();
        std::deque<ArchiveEntry> held;
        held.swap(m_heldArchives);
        for (const ArchiveEntry &entry : held)
            sendArchive(entry.plan, entry.retries);
    });
    m_countdown->setInterval(1000);
    connect(m_countdown, &QTimer::timeout, this, &DownloadJob::showWait);
}

DownloadJob::~DownloadJob()
{
    abort();
}

void DownloadJob::begin(const ProxySettings &proxy, const QString &destFolder)
{
    abort();
    m_writer->waitForIdle();
    m_writer->takeTally(); // it was the stopped job's
    m_outcome = JobOutcome();
    m_stop = StopReason();
    m_refusals = 0;
    m_destFolder = destFolder;
    setProxy(proxy);
    // One probe instead of one failure per tile; folders below it are made
    // when a tile goes in.
    const TileFile::Result probe = TileFile::probeFolder(destFolder);
    if (!probe.ok())
        stopFor(probe.diskFull() ? StopReason::Kind::DiskFull : StopReason::Kind::Unwritable, probe.reason());
}

void DownloadJob::setProxy(const ProxySettings &proxy)
{
    m_proxy = proxy;
    // Without a proxy of its own the job follows the application's, as the
    // map view does.
    const QNetworkProxy wanted = proxy.enabled ? proxy.networkProxy() : QNetworkProxy(QNetworkProxy::DefaultProxy);
    if (m_network->proxy() != wanted)
        m_network->setProxy(wanted);
}

bool DownloadJob::canStart(const EntryPlan &plan) const
{
    if (!busy())
        return true;
    // Only tiles behind HTTPS tiles, without a pause of their own; a job that
    // must stop takes nothing more. An elevation archive takes seconds: it
    // gains nothing from being queued early, and the status line names the
    // one in flight.
    return !m_archiveQueue.empty() && !m_reply && !m_waiting && !m_pendingEnd && !m_pausing && !mustStop()
           && int(m_archiveQueue.size()) < ArchivesAhead && plan.transport == EntryPlan::Transport::Https
           && plan.hasAddress() && !plan.pauseFirst && !plan.elevation && !m_archiveElevation;
}

bool DownloadJob::start(const EntryPlan &plan)
{
    if (!canStart(plan))
        return false;
    if (mustStop()) {
        endEntryLater();
        return true;
    }
    if (!plan.hasAddress()) {
        m_outcome.addSkipped(JobOutcome::Reason::NoAddress);
        return false;
    }
    if (!plan.unsafeFormat.isEmpty())
        m_outcome.noteFormat(plan.unsafeFormat, plan.savedExtension);
    if (plan.transport == EntryPlan::Transport::None) {
        m_outcome.addSkipped(JobOutcome::Reason::RefusedScheme);
        return false;
    }
    // Nothing is asked for that could not be kept.
    if (!plan.target.isValid()) {
        m_outcome.addFailed(JobOutcome::Reason::Unwritable);
        return false;
    }
    if (m_skipExisting
        && conditionalTime(plan.target.path(), plan.elevation ? m_limits.archiveBodyLimit : m_limits.tileBodyLimit)
               .isValid()) {
        m_outcome.addUnchanged();
        return false;
    }
    if (plan.pauseFirst) {
        // The in-house server wants its requests spaced out; the window
        // stays responsive meanwhile.
        m_paused = plan;
        m_pausing = true;
        m_pauseTimer->start();
        return true;
    }
    send(plan);
    return true;
}

void DownloadJob::send(const EntryPlan &plan)
{
    if (plan.transport == EntryPlan::Transport::Https)
        return sendArchive(plan);
    m_plan = plan;
    m_retries = 0;
    m_ifModifiedSince = conditionalTime(plan.target.path(), m_limits.tileBodyLimit);
    sendRequest();
}

// A tile already there is asked about, not fetched blindly, but only when it
// is sound: a tile cut short by an earlier run must not be kept forever by
// "not modified".
QDateTime DownloadJob::conditionalTime(const QString &path, qint64 limit) const
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() == 0 || info.size() > qMin(limit, JobLimits::TileBodyLimit))
        return QDateTime();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QDateTime();
    if (!TileContent::check(QByteArray(), file.readAll()).ok())
        return QDateTime();
    return info.lastModified().toUTC();
}

void DownloadJob::sendRequest()
{
    QNetworkRequest request = TileRequest::tileRequest(m_plan.address.url, ProgramVersion::jobUserAgent());
    if (m_ifModifiedSince.isValid())
        request.setRawHeader(QByteArrayLiteral("If-Modified-Since"), AnswerHeaders::httpDate(m_ifModifiedSince));
    m_answer.emplace(m_limits.tileBodyLimit);
    m_watch.emplace(m_limits.connectTimeoutSeconds, m_limits.lowSpeedSeconds, m_limits.lowSpeedBytes);
    m_cut = AnswerBody::Ending::Complete;
    m_cutByJob = false;
    m_received = 0;
    m_watch->start();

    m_reply = m_network->get(request);
    QNetworkReply *reply = m_reply;
    m_headers.clear();
    connect(reply, &QNetworkReply::redirected, this, [this, reply] { m_headers.noteRedirect(*reply); });
    reply->setReadBufferSize(ReadBufferBytes);
    connect(reply, &QNetworkReply::downloadProgress, this, &DownloadJob::downloadProgress);
    connect(reply, &QNetworkReply::errorOccurred, this, &DownloadJob::requestError);
    connect(reply, &QNetworkReply::metaDataChanged, this, &DownloadJob::readHeaders);
    connect(reply, &QNetworkReply::readyRead, this, &DownloadJob::readBody);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { replyFinished(reply); });
    if (!m_watchdog->isActive())
        m_watchdog->start();
}

void DownloadJob::sendArchive(const EntryPlan &plan, int retries)
{
    if (!m_archives) {
        m_archives = new ArchiveTransfer(this);
        connect(m_archives, &ArchiveTransfer::finished, this, &DownloadJob::archiveEnded);
    }
    CurlTransfer::Options options;
    options.userAgent = ProgramVersion::jobUserAgent();
    options.caBundle = AppConfig::instance().caBundle;
    options.proxy = m_proxy;
    options.maxRedirects = TileRequest::MaxRedirects;
    options.connectTimeoutSeconds = m_limits.connectTimeoutSeconds;
    options.lowSpeedSeconds = m_limits.lowSpeedSeconds;
    options.lowSpeedBytes = m_limits.lowSpeedBytes;
    options.maxBodyBytes = plan.elevation ? m_limits.archiveBodyLimit : m_limits.tileBodyLimit;
    options.ifModifiedSince = conditionalTime(plan.target.path(), options.maxBodyBytes);
    const QString streamTo = streamedToFile(plan) ? plan.target.path() : QString();
    m_archiveQueue.push_back(ArchiveEntry{m_archives->start(plan.address.text, streamTo, options), plan, retries});
    m_archiveElevation = plan.elevation;
}

// The headers of an answer (after a redirect, of the next one).
void DownloadJob::readHeaders()
{
    m_watch->answered();
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_answer->begin(status, m_headers.value(*m_reply, QByteArrayLiteral("Content-Type")),
                    m_headers.bodyLength(*m_reply));
    if (m_answer->refused())
        cut(AnswerBody::Ending::Complete); // by its announced length, before a byte of it is read
}

void DownloadJob::readBody()
{
    while (m_reply->bytesAvailable() > 0) {
        const QByteArray piece = m_reply->read(qMin<qint64>(m_reply->bytesAvailable(), ReadBufferBytes));
        if (piece.isEmpty())
            break;
        m_received += piece.size();
        if (!m_answer->add(piece.constData(), piece.size()))
            return cut(AnswerBody::Ending::Complete); // the body says why
    }
}

void DownloadJob::watch()
{
    if (!m_reply)
        return m_watchdog->stop();
    if (m_watch->expired(m_received))
        cut(AnswerBody::Ending::TimedOut);
}

// Ends the reply in flight for a reason of the job's own; its finished()
// then concludes the entry with that ending.
void DownloadJob::cut(AnswerBody::Ending why)
{
    if (!m_reply || m_cutByJob)
        return;
    m_cutByJob = true;
    m_cut = why;
    m_watchdog->stop();
    QNetworkReply *reply = m_reply;
    reply->disconnect(this);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { replyFinished(reply); });
    reply->abort();
}

void DownloadJob::replyFinished(QNetworkReply *done)
{
    if (done != m_reply)
        return;
    // The watchdog keeps ticking into the next request; it stops itself
    // when it finds none.
    if (!m_cutByJob && done->isReadable())
        readBody(); // what arrived with the end; may cut (a no-op on a finished reply)
    AnswerBody::Ending ending = m_cut;
    if (!m_cutByJob) {
        const QNetworkReply::NetworkError error = done->error();
        if (error == QNetworkReply::NoError)
            ending = AnswerBody::Ending::Complete;
        else if (error == QNetworkReply::TooManyRedirectsError || error == QNetworkReply::InsecureRedirectError
                 || !m_answer->begun())
            ending = AnswerBody::Ending::Network;
        else
            ending = AnswerBody::Ending::CutShort; // headers came, the body did not (reset, broken encoding)
    }
    if (!m_answer->begun())
        m_answer->begin(done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), QByteArray(), -1);
    FetchResult result = m_answer->finish(ending, done->errorString(), m_ifModifiedSince.isValid(),
                                          m_headers.lastModified(*done));
    result.retryAfter = m_headers.value(*done, QByteArrayLiteral("Retry-After"));
    releaseReply();
    if (conclude(result, m_retries, m_plan)) {
        ++m_retries;
        m_writer->startWriting();
        return; // the same tile is asked for again later
    }
    keepWriterShort();
    emit tileFinished();
    m_writer->startWriting();
}

// A tile is stored only from a successful answer whose body is complete and
// is what its type says; documents (WMS exceptions and error pages come with
// status 200 too) never are. One decision for both transports.
bool DownloadJob::conclude(const FetchResult &result, int retries, const EntryPlan &plan)
{
    using Status = FetchResult::Status;
    if (result.httpCode > 0 && result.status != Status::Aborted)
        m_outcome.noteAnswer(result.bodyLength);
    if (result.status == Status::HttpError && (result.httpCode == 429 || result.httpCode == 503)
        && retries < JobLimits::MaxRetries) {
        const qint64 waitMs = JobLimits::retryAfterMs(result.retryAfter);
        if (waitMs >= 0) {
            retryLater(qMin<qint64>(waitMs, m_limits.maxRetryWaitMs), int(result.httpCode));
            return true;
        }
    }
    if (!(result.status == Status::HttpError && refusal(int(result.httpCode))))
        m_refusals = 0;
    switch (result.status) {
    case Status::Ok:
        if (streamedToFile(plan))
            m_outcome.addStored();
        else // the writer is woken once the next request is on its way
            m_writer->writeLater(plan.target.path(), result.body, result.lastModified, result.contentType);
        break;
    case Status::Unchanged:
    case Status::NotModified:
        m_outcome.addUnchanged();
        break;
    case Status::Aborted:
        break; // Stop: counted for nothing
    case Status::DiskFull:
        m_outcome.addFailed(JobOutcome::Reason::DiskFull);
        stopFor(StopReason::Kind::DiskFull, result.errorString);
        break;
    default:
        m_outcome.addFailed(reasonOf(result.status), int(result.httpCode));
        if (result.status == Status::HttpError && refusal(int(result.httpCode)))
            countRefusal(result);
        break;
    }
    return false;
}

void DownloadJob::retryLater(qint64 waitMs, int status)
{
    m_waiting = true;
    m_waitStatus = status;
    m_retryTimer->start(int(waitMs));
    m_countdown->start();
    showWait();
}

void DownloadJob::showWait()
{
    emit waiting((qMax(0, m_retryTimer->remainingTime()) + 999) / 1000, m_waitStatus);
}

void DownloadJob::countRefusal(const FetchResult &result)
{
    if (++m_refusals < JobLimits::RefusalStreak || mustStop())
        return;
    m_stop.kind = StopReason::Kind::Refused;
    m_stop.folder = m_destFolder;
    m_stop.httpStatus = int(result.httpCode);
    m_stop.refusals = m_refusals;
    m_stop.serverText = result.refusalText;
}

void DownloadJob::stopFor(StopReason::Kind kind, const QString &detail)
{
    if (mustStop())
        return;
    m_stop.kind = kind;
    m_stop.folder = m_destFolder;
    m_stop.detail = detail;
}

DownloadJob::StopReason DownloadJob::stopReason() const
{
    if (m_stop.kind == StopReason::Kind::None && m_writer->diskFull()) {
        StopReason full;
        full.kind = StopReason::Kind::DiskFull;
        full.folder = m_destFolder;
        full.detail = m_writer->diskFullResult().reason();
        return full;
    }
    return m_stop;
}

void DownloadJob::archiveEnded(int id, const FetchResult &result)
{
    if (m_archiveQueue.empty() || id != m_archiveQueue.front().id)
        return; // a transfer of a stopped job
    const ArchiveEntry ended = m_archiveQueue.front();
    m_archiveQueue.pop_front();
    if (conclude(result, ended.retries, ended.plan)) {
        // No request until the wait is over: the tiles queued behind this one
        // are taken back (the one that may already be on its way is ended)
        // and sent again after it, in their order.
        m_heldArchives.clear();
        m_heldArchives.push_back(ended);
        ++m_heldArchives.back().retries;
        for (const ArchiveEntry &queued : m_archiveQueue)
            m_heldArchives.push_back(queued);
        dropQueuedArchives();
        return;
    }
    // The transfers queued behind one that stopped the job end unheard.
    if (mustStop() && !m_archiveQueue.empty())
        dropQueuedArchives();
    keepWriterShort();
    emit archiveFinished(ArchiveRequestId, !result.ok());
    m_writer->startWriting();
}

// An entry of a job that must stop ends without a request; the window hears
// of it from the event loop, as of any other entry, and asks mustStop().
void DownloadJob::endEntryLater()
{
    m_pendingEnd = true;
    const quint32 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation != m_generation || !m_pendingEnd)
            return;
        m_pendingEnd = false;
        emit tileFinished();
    });
}

void DownloadJob::abort()
{
    ++m_generation;
    m_pendingEnd = false;
    m_watchdog->stop();
    m_pauseTimer->stop();
    m_paused.reset();
    m_pausing = false;
    m_retryTimer->stop();
    m_countdown->stop();
    m_waiting = false;
    m_heldArchives.clear();
    if (m_reply) {
        QNetworkReply *stopped = m_reply;
        releaseReply(); // disconnected first: the aborted reply reports nothing
        stopped->abort();
    }
    dropQueuedArchives();
}

// When the disk (or the sound-tile check) is slower than the network, it
// sets the pace: the bodies waiting for it stay few and small.
void DownloadJob::keepWriterShort()
{
    if (m_writer->pending() > MaxQueuedBodies || m_writer->pendingBytes() > MaxQueuedBytes)
        m_writer->waitForIdle();
}

JobOutcome DownloadJob::finish()
{
    m_writer->waitForIdle();
    const TileWriter::Tally tally = m_writer->takeTally();
    m_outcome.addStored(tally.stored);
    m_outcome.addUnchanged(tally.unchanged);
    m_outcome.addFailed(JobOutcome::Reason::DiskFull, 0, tally.diskFullFailures);
    m_outcome.addFailed(JobOutcome::Reason::Unwritable, 0, tally.failed - tally.diskFullFailures);
    m_outcome.addFailed(JobOutcome::Reason::NotSound, 0, tally.unsound);
    if (tally.diskFullFailures > 0)
        stopFor(StopReason::Kind::DiskFull, tally.diskFull.reason());
    return m_outcome;
}

void DownloadJob::dropQueuedArchives()
{
    if (m_archives)
        m_archives->abortAll();
    m_archiveQueue.clear();
}

void DownloadJob::releaseReply()
{
    if (!m_reply)
        return;
    m_reply->disconnect(this);
    m_reply->deleteLater();
    m_reply = nullptr;
    m_answer.reset();
}
