#include "acquire/DownloadJob.h"

#include "acquire/ArchiveTransfer.h"
#include "acquire/CurlTransfer.h"
#include "acquire/TileWriter.h"
#include "mapview/TileRequest.h"
#include "settings/AppConfig.h"
#include "settings/ProgramVersion.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QThread>
#include <QTimer>

namespace {

// When the disk is slower than the network, the disk sets the pace; the
// bodies waiting for it stay few and small.
constexpr int MaxQueuedBodies = 32;
constexpr qint64 MaxQueuedBytes = qint64(64) * 1024 * 1024;
// Qt stops reading from the socket while this much is unread, so a body
// arriving faster than it is judged does not pile up in memory.
constexpr qint64 ReadBufferBytes = 1024 * 1024;
// Of an error answer only its start is kept, for the first line of its text.
constexpr int ErrorHeadBytes = 1024;
constexpr int WatchIntervalMs = 250;

JobOutcome::Reason failureOf(CurlTransfer::Status status)
{
    switch (status) {
    case CurlTransfer::Status::HttpError:
        return JobOutcome::Reason::HttpStatus;
    case CurlTransfer::Status::NotContent:
        return JobOutcome::Reason::NotATile;
    case CurlTransfer::Status::WriteError:
        return JobOutcome::Reason::Unwritable;
    case CurlTransfer::Status::TooLarge:
        return JobOutcome::Reason::TooLarge;
    case CurlTransfer::Status::Incomplete:
        return JobOutcome::Reason::Incomplete;
    case CurlTransfer::Status::DiskFull:
        return JobOutcome::Reason::DiskFull;
    case CurlTransfer::Status::TransportError:
        return JobOutcome::Reason::Network;
    default:
        return JobOutcome::Reason::Transfer;
    }
}

JobOutcome::Reason failureOf(TileContent::Reason reason)
{
    switch (reason) {
    case TileContent::Reason::Document:
    case TileContent::Reason::NotItsType:
        return JobOutcome::Reason::NotATile;
    default:
        return JobOutcome::Reason::Incomplete;
    }
}

// The first line of a text answer, as plain printable text of bounded length:
// servers that block a program say why there, hostile ones may say anything.
QString firstLine(const QByteArray &contentType, const QByteArray &head)
{
    // Servers label error texts by the extension asked for, too; binary
    // bodies are left out.
    const bool text = contentType.trimmed().toLower().startsWith("text/");
    if (!text && (TileContent::hasImageSignature(head) || head.contains('\0')))
        return QString();
    const QString line = QString::fromUtf8(head.left(head.indexOf('\n'))).left(200);
    QString printable;
    for (const QChar c : line)
        printable += c.isPrint() ? c : QLatin1Char(' ');
    return printable.simplified();
}

bool refusal(int status)
{
    return status == 401 || status == 403;
}

} // namespace

DownloadJob::DownloadJob(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_writer(new TileWriter(this))
    , m_watchdog(new QTimer(this))
    , m_retryTimer(new QTimer(this))
    , m_countdown(new QTimer(this))
{
    m_watchdog->setInterval(WatchIntervalMs);
    connect(m_watchdog, &QTimer::timeout, this, &DownloadJob::watch);
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
            sendArchive(entry.plan, entry.madeFolders, entry.retries);
    });
    m_countdown->setInterval(1000);
    connect(m_countdown, &QTimer::timeout, this, [this] { showWait(m_waitStatus); });
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
    m_stopText.clear();
    m_refusals = 0;
    m_destFolder = destFolder;
    setProxy(proxy);
    // One probe instead of one failure per tile; folders below it are made by
    // the writer when a tile goes in.
    const TileWriter::WriteResult probe = TileWriter::probeFolder(destFolder);
    if (probe.diskFull())
        m_stopText = QCoreApplication::translate("CvTilewright", "Download stopped: cannot write to %1 (%2)").arg(destFolder, probe.reason());
    else if (!probe.ok())
        m_stopText = QCoreApplication::translate("CvTilewright", "Download failed: no tile could be written to %1").arg(destFolder);
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
    return !m_archiveQueue.empty() && !m_reply && !m_waiting && !m_pendingEnd && !mustStop()
           && int(m_archiveQueue.size()) < ArchivesAhead && plan.transport == EntryPlan::Transport::Https
           && plan.hasAddress() && !plan.pauseFirst && !plan.elevation && !m_archiveElevation;
}

bool DownloadJob::start(const EntryPlan &plan)
{
    if (!canStart(plan))
        return false;
    checkDisk();
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
    if (plan.pauseFirst)
        QThread::msleep(SourceAddress::InternalServerPauseMs);
    if (plan.transport == EntryPlan::Transport::Https) {
        // The transfer writes into the folder; it is taken back if nothing came.
        bool made = false;
        QStringList folders = TileWriter::makeFolder(plan.target.folder, &made);
        if (!made) {
            m_outcome.addFailed(JobOutcome::Reason::Unwritable);
            return false;
        }
        sendArchive(plan, folders);
        return true;
    }
    m_plan = plan;
    m_retries = 0;
    m_ifModifiedSince = conditionalTime(plan.target.path(), m_limits.tileBodyLimit);
    sendRequest();
    return true;
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
    m_status = 0;
    m_body.clear();
    m_errorHead.clear();
    m_checker.reset();
    m_cut = Cut::None;
    m_received = 0;
    m_windowStart = 0;
    m_answered = false;
    m_sinceStart.start();
    m_window.start();

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

void DownloadJob::sendArchive(const EntryPlan &plan, const QStringList &madeFolders, int retries)
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
    m_archiveQueue.push_back(
        ArchiveEntry{m_archives->start(plan.address.text, plan.target.path(), options), madeFolders, plan, retries});
    m_archiveElevation = plan.elevation;
}

// The headers of an answer (after a redirect, of the next one).
void DownloadJob::readHeaders()
{
    m_answered = true;
    m_received = qMax<qint64>(m_received, 1);
    m_status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_body.clear();
    m_errorHead.clear();
    m_checker.reset();
    if (m_status < 200 || m_status > 299)
        return;
    const QByteArray type = m_headers.value(*m_reply, QByteArrayLiteral("Content-Type"));
    const qint64 length = m_headers.bodyLength(*m_reply);
    if (length > m_limits.tileBodyLimit)
        return cut(Cut::TooLarge); // refused before a byte of it is read
    if (length > 0)
        m_body.reserve(int(length));
    m_checker = std::make_unique<TileContent::Checker>(type, length);
}

void DownloadJob::readBody()
{
    const Cut why = [this] {
        while (m_reply->bytesAvailable() > 0) {
            const QByteArray piece = m_reply->read(qMin<qint64>(m_reply->bytesAvailable(), ReadBufferBytes));
            if (piece.isEmpty())
                break;
            m_received += piece.size();
            if (m_status < 200 || m_status > 299) {
                m_errorHead += piece.left(ErrorHeadBytes - m_errorHead.size());
                continue;
            }
            if (m_body.size() + piece.size() > m_limits.tileBodyLimit)
                return Cut::TooLarge;
            if (!m_checker)
                m_checker = std::make_unique<TileContent::Checker>();
            m_body += piece;
            m_checker->add(piece);
            if (m_checker->failed())
                return Cut::Broken; // no need to wait for the rest
        }
        return Cut::None;
    }();
    if (why != Cut::None)
        cut(why);
}

// No answer within the connect time, or slower than the low-speed limit for
// its whole period: a server that accepts and never answers, or trickles a
// byte a second, must not hold the job on one tile for good.
void DownloadJob::watch()
{
    if (!m_reply)
        return m_watchdog->stop();
    if (!m_answered && m_sinceStart.elapsed() >= qint64(m_limits.connectTimeoutSeconds) * 1000)
        return cut(Cut::TimedOut);
    const qint64 period = qint64(m_limits.lowSpeedSeconds) * 1000;
    if (m_window.elapsed() < period)
        return;
    if (m_received - m_windowStart < qint64(m_limits.lowSpeedBytes) * m_limits.lowSpeedSeconds)
        return cut(Cut::TimedOut);
    m_windowStart = m_received;
    m_window.restart();
}

// Ends the reply in flight for a reason of the job's own; its finished()
// then counts the entry by that reason.
void DownloadJob::cut(Cut why)
{
    if (!m_reply || m_cut != Cut::None)
        return;
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
    if (m_cut == Cut::None && done->isReadable())
        readBody(); // what arrived with the end; may cut (a no-op on a finished reply)
    recordAnswer(done);
    releaseReply();
    if (m_waiting) {
        m_writer->startWriting();
        return; // the same tile is asked for again later
    }
    checkDisk();
    if (m_writer->pending() > MaxQueuedBodies || m_writer->pendingBytes() > MaxQueuedBytes)
        m_writer->waitForIdle();
    emit tileFinished();
    m_writer->startWriting();
}

// A tile is stored only from a successful answer whose body is complete and
// is what its type says; documents (WMS exceptions and error pages come with
// status 200 too) never are. An empty body gives an empty tile file where
// there was none; the writer keeps a tile that has content.
void DownloadJob::recordAnswer(QNetworkReply *done)
{
    const int status = done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!refusal(status) || m_cut != Cut::None)
        m_refusals = 0;
    switch (m_cut) {
    case Cut::None:
        break;
    case Cut::TooLarge:
        return m_outcome.addFailed(JobOutcome::Reason::TooLarge);
    case Cut::TimedOut:
        return m_outcome.addFailed(JobOutcome::Reason::TimedOut);
    case Cut::Broken:
        return m_outcome.addFailed(failureOf(m_checker ? m_checker->verdict().reason : TileContent::Reason::Corrupt));
    }
    if (status == 304 && m_ifModifiedSince.isValid())
        return m_outcome.addUnchanged();
    if (done->error() == QNetworkReply::TooManyRedirectsError || done->error() == QNetworkReply::InsecureRedirectError)
        return m_outcome.addFailed(JobOutcome::Reason::Network);
    if (status >= 300) {
        answerStatus(done, status);
        return;
    }
    if (done->error() != QNetworkReply::NoError) {
        // Headers came and the body did not: cut short (reset, broken encoding).
        const bool bodyCut = status >= 200 && status <= 299;
        return m_outcome.addFailed(bodyCut ? JobOutcome::Reason::Incomplete : JobOutcome::Reason::Network);
    }
    if (status < 200) {
        return m_outcome.addFailed(JobOutcome::Reason::HttpStatus, status);
    }
    if (!m_checker)
        m_checker = std::make_unique<TileContent::Checker>();
    const TileContent::Verdict verdict = m_checker->verdict();
    if (!verdict.ok())
        return m_outcome.addFailed(failureOf(verdict.reason));
    const QDateTime modified = m_headers.lastModified(*done);
    // The writer is woken once the next request is on its way.
    m_writer->writeLater(m_plan.target.path(), m_body, modified);
    m_body.clear();
}

// Answers outside 2xx: the server may ask to come back later, or refuse the
// program altogether.
bool DownloadJob::answerStatus(QNetworkReply *done, int status)
{
    if (status == 429 || status == 503) {
        const qint64 waitMs = JobLimits::retryAfterMs(m_headers.value(*done, QByteArrayLiteral("Retry-After")));
        if (waitMs >= 0 && m_retries < JobLimits::MaxRetries) {
            ++m_retries;
            retryLater(qMin<qint64>(waitMs, m_limits.maxRetryWaitMs), status);
            return true;
        }
    }
    m_outcome.addFailed(JobOutcome::Reason::HttpStatus, status);
    if (refusal(status))
        countRefusal(status, firstLine(m_headers.value(*done, QByteArrayLiteral("Content-Type")), m_errorHead));
    return false;
}

void DownloadJob::retryLater(qint64 waitMs, int status)
{
    m_waiting = true;
    m_waitStatus = status;
    m_retryTimer->start(int(waitMs));
    m_countdown->start();
    showWait(status);
}

void DownloadJob::showWait(int status)
{
    const int seconds = (qMax(0, m_retryTimer->remainingTime()) + 999) / 1000;
    emit statusText(QCoreApplication::translate("CvTilewright", "The server asked to wait: asking again in %1 s (HTTP %2)").arg(seconds).arg(status));
}

void DownloadJob::countRefusal(int status, const QString &text)
{
    if (++m_refusals < JobLimits::RefusalStreak || mustStop())
        return;
    if (text.isEmpty())
        m_stopText = QCoreApplication::translate("CvTilewright", "Download stopped: the server refused %1 requests in a row (HTTP %2)")
                         .arg(m_refusals)
                         .arg(status);
    else
        m_stopText = QCoreApplication::translate("CvTilewright", "Download stopped: the server refused %1 requests in a row (HTTP %2): %3")
                         .arg(m_refusals)
                         .arg(status)
                         .arg(text);
}

void DownloadJob::archiveEnded(int id, int status, int httpCode, const QString &error, const QByteArray &retryAfter)
{
    if (m_archiveQueue.empty() || id != m_archiveQueue.front().id)
        return; // a transfer of a stopped job
    const ArchiveEntry ended = m_archiveQueue.front();
    const QStringList &madeFolders = ended.madeFolders;
    m_archiveQueue.pop_front();
    const auto result = CurlTransfer::Status(status);
    const bool stored = CurlTransfer::succeeded(result);
    if (!stored) {
        // A transfer still to come may write into the same new folder.
        if (m_archiveQueue.empty())
            TileWriter::removeMadeFolders(madeFolders);
        else
            m_archiveQueue.front().madeFolders = madeFolders + m_archiveQueue.front().madeFolders;
    }
    const int httpStatus = result == CurlTransfer::Status::HttpError ? httpCode : 0;
    if (result == CurlTransfer::Status::HttpError) {
        if (retryArchives(ended, httpStatus, retryAfter))
            return; // the entry goes on after the wait
    }
    if (!refusal(httpStatus))
        m_refusals = 0;
    switch (result) {
    case CurlTransfer::Status::Ok:
        m_outcome.addStored();
        break;
    case CurlTransfer::Status::Unchanged:
    case CurlTransfer::Status::NotModified:
        m_outcome.addUnchanged();
        break;
    case CurlTransfer::Status::DiskFull:
        m_outcome.addFailed(JobOutcome::Reason::DiskFull);
        if (!mustStop())
            m_stopText = QCoreApplication::translate("CvTilewright", "Download stopped: cannot write to %1 (%2)")
                             .arg(m_destFolder, QStringLiteral("disk full: %1").arg(error));
        break;
    default:
        m_outcome.addFailed(failureOf(result), httpStatus);
        if (refusal(httpStatus))
            countRefusal(httpStatus, QString());
        break;
    }
    // The transfers queued behind one that stopped the job end unheard.
    if (mustStop() && !m_archiveQueue.empty())
        dropQueuedArchives();
    emit archiveFinished(ArchiveRequestId, !stored);
}

// A server that asks to wait gets no request until the wait is over: the
// tiles queued behind this one are taken back (the one that may already be
// on its way is ended) and sent again after it, in their order.
bool DownloadJob::retryArchives(const ArchiveEntry &ended, int httpStatus, const QByteArray &retryAfter)
{
    if (httpStatus != 429 && httpStatus != 503)
        return false;
    const qint64 waitMs = JobLimits::retryAfterMs(retryAfter);
    if (waitMs < 0 || ended.retries >= JobLimits::MaxRetries)
        return false;
    m_heldArchives.clear();
    m_heldArchives.push_back(ended);
    ++m_heldArchives.back().retries;
    for (const ArchiveEntry &queued : m_archiveQueue)
        m_heldArchives.push_back(queued);
    if (m_archives)
        m_archives->abortAll();
    m_archiveQueue.clear();
    retryLater(qMin<qint64>(waitMs, m_limits.maxRetryWaitMs), httpStatus);
    return true;
}

void DownloadJob::checkDisk()
{
    if (!mustStop() && m_writer->diskFull())
        m_stopText = QCoreApplication::translate("CvTilewright", "Download stopped: cannot write to %1 (%2)").arg(m_destFolder, m_writer->diskFullResult().reason());
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

JobOutcome DownloadJob::finish()
{
    m_writer->waitForIdle();
    const TileWriter::Tally tally = m_writer->takeTally();
    m_outcome.addStored(tally.stored);
    m_outcome.addUnchanged(tally.unchanged);
    m_outcome.addFailed(JobOutcome::Reason::DiskFull, 0, tally.diskFullFailures);
    m_outcome.addFailed(JobOutcome::Reason::Unwritable, 0, tally.failed - tally.diskFullFailures);
    return m_outcome;
}

QString DownloadJob::endText(const QString &destFolder)
{
    const JobOutcome outcome = finish();
    checkDisk();
    if (mustStop())
        return m_stopText;
    return outcome.downloadEndText(destFolder);
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
    m_body = QByteArray();
    m_checker.reset();
}
