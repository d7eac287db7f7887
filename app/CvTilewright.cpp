#include "app/CvTilewright.h"
#include "ui_CvTilewright.h"

#include "acquire/CopyThread.h"
#include "app/DestinationFolder.h"
#include "app/DownloadZoomRule.h"
#include "app/ProgramFiles.h"
#include "mapview/CvMapWidget.h"
#include "settings/AppConfig.h"
#include "settings/ProgramVersion.h"
#include "settings/SourceKind.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

CvTilewright::CvTilewright(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
    , ui(std::make_unique<Ui::CvTilewrightClass>())
{
    ui->setupUi(this);

    toolBar = nullptr;
    helpToolButton = nullptr;
    infoToolButton = nullptr;
    importToolButton = nullptr;
    restartZoom = 0;
    setupToolBar();

    mapWidget = new CvMapWidget(ui->groupBox);
    mapWidget->setMinimumHeight(256);
    ui->verticalLayout->addWidget(mapWidget);

    connect(ui->cancleButton, &QPushButton::clicked, this, &CvTilewright::cancelDownload);
    connect(ui->browseButton, &QPushButton::clicked, this, &CvTilewright::browseFolder);
    connect(ui->zoomTo, QOverload<int>::of(&QSpinBox::valueChanged), this, &CvTilewright::setZoomTo);
    connect(this, &CvTilewright::updateProgress, this, &CvTilewright::slot_update);
    connect(this, &CvTilewright::nextCopy, this, &CvTilewright::copyFile);

    ui->cancleButton->setEnabled(false);
    ui->progressBar->setMinimum(0);
    ui->progressBar->setMaximum(1);
    ui->progressBar->setValue(0);

    proxyPort = 80;
    useProxy = false;
    askProxy = true;
    downloadMode = true;
    tileLayout = true;
    sourceKind = 0;
    themeProtocol = QStringLiteral("http");
    currentRequestId = 0;
    requestAborted = false;
    themeActive = false;

    destFolder = DestinationFolder::defaultDestination();

    currentZoom = 2;
    ui->tilesFolder->setText(destFolder);
    ui->zoomTo->setValue(currentZoom);

    copyThread = new CopyThread;
    connect(copyThread, &CopyThread::sendUpdate, this, &CvTilewright::slot_update);

    setWindowIcon(QIcon(QStringLiteral(":CvTilewright/icons/035_cv_tilewright.ico")));

    startProxyTimer();
}

CvTilewright::~CvTilewright()
{
    if (reply) {
        requestAborted = true;
        reply->abort();
    }
    delete copyThread;
    copyThread = nullptr;
}

void CvTilewright::setupToolBar()
{
    toolBar = ui->mainToolBar;
    infoToolButton = addToolButton(QStringLiteral(":CvTilewright/icons/info.png"), tr("Info"),
                                   QKeySequence(), &CvTilewright::about);
    helpToolButton = addToolButton(QStringLiteral(":CvTilewright/icons/query.png"), tr("Help"),
                                   QKeySequence(tr("F1")), &CvTilewright::help);
    toolBar->addSeparator();
    importToolButton = addToolButton(QStringLiteral(":CvTilewright/icons/map.png"), tr("Import MapView Dgml"),
                                     QKeySequence(tr("F3")), &CvTilewright::import);
}

// A parentless tool button handed to the tool bar, which takes it over.
QToolButton *CvTilewright::addToolButton(const QString &icon, const QString &toolTip,
                                         const QKeySequence &shortcut, void (CvTilewright::*slot)())
{
    auto *button = new QToolButton;
    button->setIcon(QIcon(icon));
    button->setToolTip(toolTip);
    if (!shortcut.isEmpty())
        button->setShortcut(shortcut);
    button->setEnabled(true);
    connect(button, &QToolButton::clicked, this, slot);
    toolBar->addWidget(button);
    return button;
}

void CvTilewright::setJobRunning(bool running)
{
    ui->okButton->setEnabled(!running);
    ui->urlButton->setEnabled(!running);
    ui->downloadButton->setEnabled(!running);
    ui->browseButton->setEnabled(!running);
    ui->cancleButton->setEnabled(running);
}

// ---- paint step and the download-zoom rule ---------------------------------

void CvTilewright::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    updatePositionAndZoom();
}

void CvTilewright::updatePositionAndZoom()
{
    if (!mapWidget)
        return;
    const GeoArea area = mapWidget->visibleArea();
    currentZoom = mapWidget->mapZoom();
    ui->zoomLabel->setText(tr("Current Zoomlevel: %1").arg(currentZoom));
    ui->lonLabel->setText(tr("Longitude: %1").arg(area.west + (area.east - area.west) / 2, 0, 'g', 6));
    ui->latLabel->setText(tr("Latitude: %1").arg(area.south + (area.north - area.south) / 2, 0, 'g', 6));

    const int shown = ui->zoomTo->value();
    const int wanted = DownloadZoomRule::afterPaint(shown, currentZoom, zoomLimitApplies());
    if (wanted != shown)
        ui->zoomTo->setValue(wanted);
}

bool CvTilewright::zoomLimitApplies() const
{
    return DownloadZoomRule::limitApplies(downloadMode, sourceKind, sourceFolder);
}

void CvTilewright::setZoomTo(int iZoom)
{
    const int wanted = DownloadZoomRule::afterValueChanged(iZoom, currentZoom, zoomLimitApplies());
    if (wanted != iZoom)
        ui->zoomTo->setValue(wanted);
}

// ---- window commands --------------------------------------------------------

void CvTilewright::about()
{
    QMessageBox::about(this, tr("About Tilewright"),
                       tr("<h3>Tilewright %1</h3>"
                          "<p>Fills a local map tile folder for offline use: OpenStreetMap "
                          "tiles, OpenSeaMap seamarks, SRTM elevation archives and the tile "
                          "servers of your own list.</p>"
                          "<p>Map data &copy; OpenStreetMap contributors.</p>"
                          "<p>&copy; Corvane &mdash; "
                          "<a href=\"https://www.corvane.com/\">www.corvane.com</a></p>")
                           .arg(ProgramVersion::text()));
}

void CvTilewright::help()
{
    QDesktopServices::openUrl(ProgramFiles::manualUrl(QCoreApplication::applicationDirPath()));
}

void CvTilewright::browseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Select folder to store map tiles"), destFolder, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    destFolder = folder + QLatin1Char('/');
    ui->tilesFolder->setText(destFolder);
    // Only the Mercator tile sources get a projection file; a file that cannot
    // be written is passed over.
    if (SourceKind::isMercatorTiles(sourceKind))
        DestinationFolder::writeProjectionFile(folder);
}

// ---- proxy ------------------------------------------------------------------

void CvTilewright::startProxyTimer()
{
    if (!proxyTimer) {
        proxyTimer = new QTimer(this);
        connect(proxyTimer, &QTimer::timeout, this, &CvTilewright::slot_proxy);
    }
    proxyTimer->start(AppConfig::instance().proxyDelayMs);
}

void CvTilewright::slot_proxy()
{
    if (proxyTimer)
        proxyTimer->stop();
    useProxy = configureProxy();
}

bool CvTilewright::configureProxy()
{
    QUrl query;
    if (SourceKind::isServerSource(sourceKind))
        query = QUrl(QStringLiteral("http://") + QUrl::fromUserInput(sourceFolder).host());
    else
        query = QUrl(AppConfig::instance().osmTileUrl);
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(query));
    QNetworkProxy candidate;
    if (!proxies.isEmpty()) {
        candidate = proxies.first();
        if (candidate.type() == QNetworkProxy::NoProxy) {
            const QList<QNetworkProxy> app = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(query));
            if (!app.isEmpty() && app.first().type() != QNetworkProxy::NoProxy)
                candidate = app.first();
        }
    }
    const QString host = candidate.type() == QNetworkProxy::NoProxy ? QString() : candidate.hostName();
    if (host.isEmpty()) {
        mapWidget->setProxy(proxyHost, proxyUser, proxyPassword, proxyPort, false);
        return false;
    }
    if (!askProxy && useProxy) {
        mapWidget->setProxy(proxyHost, proxyUser, proxyPassword, proxyPort, true);
        return true;
    }
    // Credentials are asked for by the proxy dialog; until the user has given
    // any, the proxy the system names is used as it stands.
    proxyHost = host;
    if (candidate.port() > 0)
        proxyPort = candidate.port();
    mapWidget->setProxy(proxyHost, proxyUser, proxyPassword, proxyPort, true);
    return true;
}

// ---- source choice and theme import -----------------------------------------

void CvTilewright::slot_url()
{
}

void CvTilewright::import()
{
}

// ---- download job -----------------------------------------------------------
// (the job's own headers are kept with its section)

#include "acquire/ArchiveTransfer.h"
#include "acquire/SourceAddress.h"
#include "mapview/TileContent.h"
#include "acquire/TileEnumerator.h"
#include "acquire/TileFiles.h"
#include "acquire/TileWriter.h"
#include "mapview/TileGeometry.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QThread>

#include <climits>

namespace {

const QByteArray UserAgent = ProgramVersion::jobUserAgent();
constexpr int ArchiveRequestId = 1001;
// A server that keeps redirecting is given up after this many hops.
constexpr int MaxRedirects = 5;

} // namespace

int CvTilewright::listLimit = TileEnumerator::ListLimit;

int CvTilewright::lonToTileX(double lon, int zoom)
{
    return TileGeometry::lonToTileX(lon, zoom);
}

int CvTilewright::latToTileY(double lat, int zoom)
{
    return TileGeometry::latToTileY(lat, zoom);
}

int CvTilewright::srtmContinent(int lon, int lat)
{
    return SourceAddress::srtmContinent(lon, lat);
}

void CvTilewright::slot_download()
{
    if (!mapWidget || !tileList.empty())
        return;
    downloadArea = mapWidget->visibleArea();
    currentZoom = mapWidget->mapZoom();

    // Wired whatever the mode: a chunked copy job goes on through
    // slotRestartDownload as well.
    connect(this, &CvTilewright::nextDownload, this, &CvTilewright::downloadFile, Qt::UniqueConnection);
    connect(this, &CvTilewright::restartDownload, this, &CvTilewright::slotRestartDownload,
            Qt::UniqueConnection);
    if (downloadMode && !networkManager) {
        networkManager = new QNetworkAccessManager(this);
        if (useProxy)
            networkManager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, proxyHost,
                                                   quint16(proxyPort), proxyUser, proxyPassword));
    }
    if (downloadMode && !tileWriter)
        tileWriter = new TileWriter(this);
    if (tileWriter) {
        tileWriter->waitForIdle(); // what a stopped job still had to write
        tileWriter->takeFailures();
    }
    lastTileFolder.clear();

    jobEntries = 0;
    jobUnwritable = 0;
    jobFormatNote.clear();
    restartZoom = 0;
    enumerateChunk(currentZoom, ui->zoomTo->value());
    setJobRunning(true);
    startChunk();
}

// Hands the chunk just enumerated to the job's worker: the copy worker or the
// one-request-at-a-time download.
void CvTilewright::startChunk()
{
    if (!downloadMode) {
        if (tileList.empty())
            endJob(tr("Copy finished!"));
        else
            emit nextCopy();
        return;
    }
    emit nextDownload();
}

// Fills tileList (and, for a copy job, the copy worker's queue) and sets the
// progress bar for the chunk starting at fromZoom.
void CvTilewright::enumerateChunk(int fromZoom, int toZoom)
{
    TileEnumerator::EntrySink copyQueue;
    if (!downloadMode && copyThread) {
        copyThread->clearQueue();
        CopyThread *worker = copyThread;
        copyQueue = [worker](const TileId &tile) { worker->addTile(tile.x, tile.y, tile.zoom); };
    }
    TileEnumerator::Result result;
    if (sourceKind == SourceKind::ElevationArchives)
        result = TileEnumerator::enumerateElevation(downloadArea, tileList, copyQueue);
    else
        result = TileEnumerator::enumerateTiles(downloadArea, fromZoom, toZoom, tileList, listLimit, copyQueue);
    restartZoom = result.restartZoom;

    ui->progressBar->setMinimum(1);
    ui->progressBar->setMaximum(int(qBound<qint64>(1, result.listed(), INT_MAX)));
    ui->progressBar->setValue(1);
}

void CvTilewright::slotRestartDownload()
{
    if (!mapWidget || !tileList.empty() || restartZoom == 0)
        return;
    const int toZoom = ui->zoomTo->value();
    const int fromZoom = restartZoom;
    restartZoom = 0;
    // The download zoom was lowered below the levels still to do: the job is
    // complete as it stands.
    if (fromZoom > toZoom || sourceKind == SourceKind::ElevationArchives) {
        if (downloadMode)
            endDownloadJob();
        else
            endJob(tr("Copy finished!"));
        return;
    }
    enumerateChunk(fromZoom, toZoom);
    startChunk();
}

void CvTilewright::downloadFile()
{
    // Strictly one request at a time.
    if (reply || archiveTransferId != 0)
        return;
    // Entries that fail before a request (no address, no writable file) are
    // passed over here in a loop, never by recursion.
    while (!tileList.empty()) {
        const TileId entry = tileList.front();
        tileList.pop_front();
        if (SourceAddress::needsInternalServerPause(sourceFolder))
            QThread::msleep(SourceAddress::InternalServerPauseMs);
        if (SourceAddress::isRejectedHost(sourceFolder)) {
            QMessageBox::information(this, tr("Tilewright"),
                                     tr("Download from host %1 rejected!").arg(sourceFolder));
            cancelDownload();
            return;
        }
        if (startEntry(entry))
            return;
    }
    goOnAfterEntry();
}

// Composes the address and local place of one entry and sends its request.
bool CvTilewright::startEntry(const TileId &entry)
{
    // A theme without format is saved as png; it is asked for as png from the
    // first tile on (a WMS asked for "image/" answers with an exception).
    const bool theme = themeActive && sourceKind >= SourceKind::FirstListedServer;
    if (theme && themeFormat.isEmpty())
        themeFormat = QStringLiteral("png");

    SourceAddress::TileSource source;
    source.sourceKind = sourceKind;
    source.tileLayout = tileLayout;
    source.themeActive = themeActive;
    source.sourceFolder = sourceFolder;
    source.themeProtocol = themeProtocol;
    source.themeHost = themeHost;
    source.themePort = themePort;
    source.themePath = themePath;
    source.themeQuery = themeQuery;
    source.themeStorageMode = themeStorageMode;
    source.themeFormat = themeFormat;

    const SourceAddress::Address address = SourceAddress::downloadAddress(source, entry);
    if (!address.isValid())
        return false;
    downloadUrl = address.text;

    if (theme && jobFormatNote.isEmpty()) {
        bool reduced = false;
        const QString extension = TileFiles::safeExtension(themeFormat, &reduced);
        if (reduced)
            jobFormatNote = tr("Download finished! The tile format \"%1\" is no file extension; "
                               "tiles were saved as .%2")
                                .arg(themeFormat, extension);
    }
    const TileFiles::Target target = TileFiles::target(destFolder, source, entry, downloadUrl);

    ++jobEntries;
    if (sourceKind == SourceKind::ElevationArchives)
        showTileStatus(tr("Download SRTM (%1):").arg(SourceAddress::srtmRegionFolder(entry.zoom)));
    else
        showTileStatus(tr("Download Level %1/Tile %2 :")
                           .arg(entry.zoom)
                           .arg(theme ? target.fileName : downloadUrl.section(QLatin1Char('/'), -1)));
    ui->progressBar->setValue(ui->progressBar->value() + 1);

    if (!target.isValid()) {
        ++jobUnwritable;
        return false;
    }
    // Nothing is asked for that could not be kept.
    if (target.folder != lastTileFolder) {
        if (!QDir().mkpath(target.folder) || !QFileInfo(target.folder).isWritable()) {
            ++jobUnwritable;
            return false;
        }
        lastTileFolder = target.folder;
    }
    requestAborted = false;

    const QString scheme = address.url.scheme().toLower();
    if (scheme == QLatin1String("https")) {
        currentRequestId = ArchiveRequestId;
        return downloadArchive(downloadUrl, target.path());
    }
    // Only tile servers are asked; a theme naming a local scheme (file:, qrc:,
    // data:) would copy local files into the tile folder.
    if (scheme != QLatin1String("http"))
        return false;

    pendingTilePath = target.path();
    QNetworkRequest request(address.url);
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setRawHeader(QByteArrayLiteral("User-Agent"), UserAgent);
    reply = networkManager->get(request);
    connect(reply, &QNetworkReply::downloadProgress, this, &CvTilewright::updateDataReadProgress);
    connect(reply, &QNetworkReply::errorOccurred, this, &CvTilewright::error);
    connect(reply, &QNetworkReply::finished, this, &CvTilewright::finished);
    return true;
}

void CvTilewright::finished()
{
    if (!reply)
        return;
    if (requestAborted) {
        reply->abort();
        releaseReply();
        pendingTilePath.clear();
        return;
    }
    // A tile is stored only from a successful answer that is not a document
    // (WMS exceptions and error pages come with status 200 too). An empty body
    // gives an empty tile file.
    if (reply->error() == QNetworkReply::NoError && !pendingTilePath.isEmpty() && tileWriter) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray body = reply->readAll();
        const bool document = !body.isEmpty()
                              && TileContent::isNonImageDocument(reply->rawHeader(QByteArrayLiteral("Content-Type")),
                                                                 body);
        if (status >= 200 && status <= 299 && !document)
            tileWriter->write(pendingTilePath, body);
    }
    pendingTilePath.clear();
    releaseReply();
    // When the disk is slower than the network, the disk sets the pace.
    if (tileWriter && tileWriter->pending() > 32)
        tileWriter->waitForIdle();
    goOnAfterEntry();
}

void CvTilewright::httpRequestFinished(int requestId, bool error)
{
    Q_UNUSED(error) // a failed archive does not stop the job
    if (requestId != currentRequestId)
        return;
    if (requestAborted)
        return; // nothing of the stopped transfer was kept
    goOnAfterEntry();
}

// The step after every entry: the next entry, the next chunk, or the end.
void CvTilewright::goOnAfterEntry()
{
    if (!tileList.empty())
        emit nextDownload();
    else if (restartZoom != 0)
        emit restartDownload();
    else
        endDownloadJob();
}

void CvTilewright::endDownloadJob()
{
    if (tileWriter) {
        tileWriter->waitForIdle();
        jobUnwritable += tileWriter->takeFailures();
    }
    if (jobEntries > 0 && jobUnwritable == jobEntries)
        endJob(tr("Download failed: no tile could be written to %1").arg(destFolder));
    else if (!jobFormatNote.isEmpty())
        endJob(jobFormatNote);
    else
        endJob(tr("Download finished!"));
}

// The first text of a burst shows at once, the last one when the interval is
// over; texts in between are passed over.
void CvTilewright::showTileStatus(const QString &text)
{
    constexpr int StatusIntervalMs = 40;
    if (!statusThrottle) {
        statusThrottle = new QTimer(this);
        statusThrottle->setSingleShot(true);
        connect(statusThrottle, &QTimer::timeout, this, [this] {
            if (pendingStatus.isEmpty())
                return;
            ui->progLab->setText(pendingStatus);
            pendingStatus.clear();
            statusThrottle->start(StatusIntervalMs);
        });
    }
    if (statusThrottle->isActive()) {
        pendingStatus = text;
        return;
    }
    ui->progLab->setText(text);
    statusThrottle->start(StatusIntervalMs);
}

void CvTilewright::endJob(const QString &status)
{
    if (statusThrottle)
        statusThrottle->stop();
    pendingStatus.clear();
    ui->progLab->setText(status);
    // A bar whose minimum is 1 would ignore the value 0.
    ui->progressBar->setMinimum(0);
    ui->progressBar->setValue(0);
    setJobRunning(false);
}

void CvTilewright::releaseReply()
{
    if (!reply)
        return;
    reply->disconnect(this);
    reply->deleteLater();
    reply = nullptr;
}

void CvTilewright::cancelDownload()
{
    if (downloadMode) {
        requestAborted = true;
        if (reply)
            reply->abort(); // its finished() runs at once and drops the partial body
        releaseReply();
        pendingTilePath.clear();
        if (archiveTransfer)
            archiveTransfer->abortAll();
        archiveTransferId = 0;
        if (statusThrottle)
            statusThrottle->stop();
        pendingStatus.clear();
        ui->progLab->setText(tr("Download canceled!"));
    } else if (copyThread) {
        copyThread->stopProcess();
    }
    // A stopped job of either kind must not go on with its next chunk.
    restartZoom = 0;
    setJobRunning(false);
    tileList.clear();
}

// Starts the HTTPS transfer of one entry on the transfer thread; its end comes
// back through the event loop to httpRequestFinished. The proxy fields are
// read anew for every transfer.
bool CvTilewright::downloadArchive(const QString &url, const QString &localPath)
{
    if (!archiveTransfer) {
        archiveTransfer = new ArchiveTransfer(this);
        connect(archiveTransfer, &ArchiveTransfer::finished, this,
                [this](int id, int status, const QString &) { archiveTransferEnded(id, status); });
    }
    CurlTransfer::Options options;
    options.userAgent = UserAgent;
    options.caBundle = AppConfig::instance().caBundle;
    options.useProxy = useProxy;
    options.proxyHost = proxyHost;
    options.proxyPort = proxyPort;
    options.proxyUser = proxyUser;
    options.proxyPassword = proxyPassword;
    options.maxRedirects = MaxRedirects;
    archiveTransferId = archiveTransfer->start(url, localPath, options);
    return archiveTransferId != 0;
}

void CvTilewright::archiveTransferEnded(int id, int status)
{
    if (id != archiveTransferId)
        return; // a transfer of a stopped job
    archiveTransferId = 0;
    if (CurlTransfer::Status(status) == CurlTransfer::Status::WriteError)
        ++jobUnwritable;
    httpRequestFinished(ArchiveRequestId, CurlTransfer::Status(status) != CurlTransfer::Status::Ok);
}

void CvTilewright::updateDataReadProgress(qint64, qint64)
{
}

void CvTilewright::error(QNetworkReply::NetworkError)
{
}

void CvTilewright::readResponseHeader(const QByteArray &)
{
}

// ---- copy job ---------------------------------------------------------------

// Hands the chunk just enumerated (already on the worker's queue) to the copy
// worker. The bar counts copied tiles from 0, so it is full only when every
// listed tile was copied and stays short when source tiles are missing.
void CvTilewright::copyFile()
{
    if (tileList.empty())
        return;
    ui->progressBar->setMinimum(0);
    ui->progressBar->setValue(0);
    if (!copyThread || !copyThread->startCopy(sourceFolder, destFolder))
        slot_update(-1, -1); // nothing the worker could take: end as it would
}

// The worker's reports: one per copied tile (zoom, row), then (-1, -1) when
// its run is over, after the last tile or after Stop.
void CvTilewright::slot_update(int iZoom, int iTile)
{
    // A late report of a stopped copy is no business of a download job.
    if (downloadMode)
        return;
    if (iZoom >= 0 || iTile >= 0) {
        ui->progLab->setText(tr("Copy Level %1/Tile %2:").arg(iZoom).arg(iTile));
        ui->progressBar->setValue(ui->progressBar->value() + 1);
        return;
    }
    tileList.clear();
    // The enumeration stopped at its list limit: the job goes on with the
    // next levels (slotRestartDownload ends it itself if none are left).
    if (restartZoom != 0) {
        slotRestartDownload();
        return;
    }
    endJob(tr("Copy finished!"));
    repaint();
}
