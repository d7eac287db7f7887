#include "acquire/DownloadJob.h"

#include "acquire/ArchiveTransfer.h"
#include "acquire/CurlTransfer.h"
#include "acquire/TileWriter.h"
#include "mapview/TileContent.h"
#include "mapview/TileRequest.h"
#include "settings/AppConfig.h"
#include "settings/ProgramVersion.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QThread>

namespace {

// When the disk is slower than the network, the disk sets the pace.
constexpr int MaxQueuedBodies = 32;

JobOutcome::Reason failureOf(CurlTransfer::Status status)
{
    switch (status) {
    case CurlTransfer::Status::HttpError:
        return JobOutcome::Reason::HttpStatus;
    case CurlTransfer::Status::NotContent:
        return JobOutcome::Reason::NotATile;
    case CurlTransfer::Status::WriteError:
        return JobOutcome::Reason::Unwritable;
    default:
        return JobOutcome::Reason::Transfer;
    }
}

} // namespace

DownloadJob::DownloadJob(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_writer(new TileWriter(this))
{
}

DownloadJob::~DownloadJob()
{
    abort();
}

void DownloadJob::begin(const ProxySettings &proxy)
{
    m_writer->waitForIdle();
    m_writer->takeFailures(); // they were the stopped job's
    m_outcome = JobOutcome();
    m_checkedFolder.clear();
    setProxy(proxy);
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

bool DownloadJob::start(const EntryPlan &plan)
{
    if (busy())
        return false;
    if (!plan.hasAddress()) {
        m_outcome.addSkipped(JobOutcome::Reason::NoAddress);
        return false;
    }
    if (!plan.unsafeFormat.isEmpty())
        m_outcome.noteFormat(plan.unsafeFormat, plan.savedExtension);
    // Nothing is asked for that could not be kept.
    if (!plan.target.isValid() || !folderWritable(plan.target.folder)) {
        m_outcome.addFailed(JobOutcome::Reason::Unwritable);
        return false;
    }
    if (plan.pauseFirst && plan.transport != EntryPlan::Transport::None)
        QThread::msleep(SourceAddress::InternalServerPauseMs);
    switch (plan.transport) {
    case EntryPlan::Transport::Http:
        sendRequest(plan);
        return true;
    case EntryPlan::Transport::Https:
        sendArchive(plan);
        return true;
    case EntryPlan::Transport::None:
        break;
    }
    m_outcome.addSkipped(JobOutcome::Reason::RefusedScheme);
    return false;
}

bool DownloadJob::folderWritable(const QString &folder)
{
    if (folder == m_checkedFolder)
        return true;
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isWritable())
        return false;
    m_checkedFolder = folder;
    return true;
}

void DownloadJob::sendRequest(const EntryPlan &plan)
{
    m_replyPath = plan.target.path();
    m_reply = m_network->get(TileRequest::tileRequest(plan.address.url, ProgramVersion::jobUserAgent()));
    QNetworkReply *reply = m_reply;
    connect(reply, &QNetworkReply::downloadProgress, this, &DownloadJob::downloadProgress);
    connect(reply, &QNetworkReply::errorOccurred, this, &DownloadJob::requestError);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { replyFinished(reply); });
}

void DownloadJob::sendArchive(const EntryPlan &plan)
{
    if (!m_archives) {
        m_archives = new ArchiveTransfer(this);
        connect(m_archives, &ArchiveTransfer::finished, this,
                [this](int id, int status, const QString &) { archiveEnded(id, status); });
    }
    CurlTransfer::Options options;
    options.userAgent = ProgramVersion::jobUserAgent();
    options.caBundle = AppConfig::instance().caBundle;
    options.proxy = m_proxy;
    options.maxRedirects = TileRequest::MaxRedirects;
    m_archiveId = m_archives->start(plan.address.text, plan.target.path(), options);
}

void DownloadJob::replyFinished(QNetworkReply *done)
{
    if (done != m_reply)
        return;
    recordAnswer(done);
    releaseReply();
    if (m_writer->pending() > MaxQueuedBodies)
        m_writer->waitForIdle();
    emit tileFinished();
}

// A tile is stored only from a successful answer that is not a document (WMS
// exceptions and error pages come with status 200 too). An empty body gives
// an empty tile file.
void DownloadJob::recordAnswer(QNetworkReply *done)
{
    const int status = done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (done->error() != QNetworkReply::NoError) {
        if (status >= 300)
            m_outcome.addFailed(JobOutcome::Reason::HttpStatus, status);
        else
            m_outcome.addFailed(JobOutcome::Reason::Network);
        return;
    }
    if (status < 200 || status > 299) {
        m_outcome.addFailed(JobOutcome::Reason::HttpStatus, status);
        return;
    }
    const QByteArray body = done->readAll();
    if (!body.isEmpty() && TileContent::isNonImageDocument(done->rawHeader(QByteArrayLiteral("Content-Type")), body)) {
        m_outcome.addFailed(JobOutcome::Reason::NotATile);
        return;
    }
    m_writer->write(m_replyPath, body);
    m_outcome.addStored();
}

void DownloadJob::archiveEnded(int id, int status)
{
    if (id != m_archiveId)
        return; // a transfer of a stopped job
    m_archiveId = 0;
    const auto result = CurlTransfer::Status(status);
    if (result == CurlTransfer::Status::Ok)
        m_outcome.addStored();
    else
        m_outcome.addFailed(failureOf(result));
    emit archiveFinished(ArchiveRequestId, result != CurlTransfer::Status::Ok);
}

void DownloadJob::abort()
{
    if (m_reply) {
        QNetworkReply *stopped = m_reply;
        releaseReply(); // disconnected first: the aborted reply reports nothing
        stopped->abort();
    }
    if (m_archives)
        m_archives->abortAll();
    m_archiveId = 0;
}

JobOutcome DownloadJob::finish()
{
    m_writer->waitForIdle();
    m_outcome.storedButNotWritten(m_writer->takeFailures());
    return m_outcome;
}

void DownloadJob::releaseReply()
{
    if (!m_reply)
        return;
    m_reply->disconnect(this);
    m_reply->deleteLater();
    m_reply = nullptr;
    m_replyPath.clear();
}
