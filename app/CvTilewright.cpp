#include "app/CvTilewright.h"

#include "acquire/CopyThread.h"
#include "app/DestinationFolder.h"
#include "app/DownloadZoomRule.h"
#include "app/ProgramFiles.h"
#include "mapview/CvMapWidget.h"
#include "settings/AppConfig.h"

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
{
    ui.setupUi(this);

    toolBar = nullptr;
    helpToolButton = nullptr;
    infoToolButton = nullptr;
    importToolButton = nullptr;
    restartZoom = 0;
    setupToolBar();

    mapWidget = new CvMapWidget(ui.groupBox);
    mapWidget->setMinimumHeight(256);
    ui.verticalLayout->addWidget(mapWidget);
    // The position read-out follows the map also when only the map repaints.
    mapWidget->installEventFilter(this);

    connect(ui.cancleButton, &QPushButton::clicked, this, &CvTilewright::cancelDownload);
    connect(ui.browseButton, &QPushButton::clicked, this, &CvTilewright::browseFolder);
    connect(ui.zoomTo, QOverload<int>::of(&QSpinBox::valueChanged), this, &CvTilewright::setZoomTo);
    connect(this, &CvTilewright::updateProgress, this, &CvTilewright::slot_update);
    connect(this, &CvTilewright::nextCopy, this, &CvTilewright::copyFile);

    ui.cancleButton->setEnabled(false);
    ui.progressBar->setMinimum(0);
    ui.progressBar->setMaximum(1);
    ui.progressBar->setValue(0);

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
    ui.tilesFolder->setText(destFolder);
    ui.zoomTo->setValue(currentZoom);

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
    toolBar = ui.mainToolBar;

    infoToolButton = new QToolButton;
    infoToolButton->setIcon(QIcon(QStringLiteral(":CvTilewright/icons/info.png")));
    infoToolButton->setToolTip(tr("Info"));
    infoToolButton->setEnabled(true);
    connect(infoToolButton, &QToolButton::clicked, this, &CvTilewright::about);
    toolBar->addWidget(infoToolButton);

    helpToolButton = new QToolButton;
    helpToolButton->setIcon(QIcon(QStringLiteral(":CvTilewright/icons/query.png")));
    helpToolButton->setToolTip(tr("Help"));
    helpToolButton->setShortcut(QKeySequence(tr("F1")));
    helpToolButton->setEnabled(true);
    connect(helpToolButton, &QToolButton::clicked, this, &CvTilewright::help);
    toolBar->addWidget(helpToolButton);

    toolBar->addSeparator();

    importToolButton = new QToolButton;
    importToolButton->setIcon(QIcon(QStringLiteral(":CvTilewright/icons/map.png")));
    importToolButton->setToolTip(tr("Import MapView Dgml"));
    importToolButton->setShortcut(QKeySequence(tr("F3")));
    importToolButton->setEnabled(true);
    connect(importToolButton, &QToolButton::clicked, this, &CvTilewright::import);
    toolBar->addWidget(importToolButton);
}

void CvTilewright::setJobRunning(bool running)
{
    ui.okButton->setEnabled(!running);
    ui.urlButton->setEnabled(!running);
    ui.downloadButton->setEnabled(!running);
    ui.browseButton->setEnabled(!running);
    ui.cancleButton->setEnabled(running);
}

// ---- paint step and the download-zoom rule ---------------------------------

void CvTilewright::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    updatePositionAndZoom();
}

bool CvTilewright::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == mapWidget && event->type() == QEvent::Paint)
        updatePositionAndZoom();
    return QMainWindow::eventFilter(watched, event);
}

void CvTilewright::updatePositionAndZoom()
{
    if (!mapWidget)
        return;
    const GeoArea area = mapWidget->visibleArea();
    currentZoom = mapWidget->mapZoom();
    ui.zoomLabel->setText(tr("Current Zoomlevel: %1").arg(currentZoom));
    ui.lonLabel->setText(tr("Longitude: %1").arg(area.west + (area.east - area.west) / 2, 0, 'g', 6));
    ui.latLabel->setText(tr("Latitude: %1").arg(area.south + (area.north - area.south) / 2, 0, 'g', 6));

    const int shown = ui.zoomTo->value();
    const int wanted = DownloadZoomRule::afterPaint(shown, currentZoom, zoomLimitApplies());
    if (wanted != shown)
        ui.zoomTo->setValue(wanted);
}

bool CvTilewright::zoomLimitApplies() const
{
    return DownloadZoomRule::limitApplies(downloadMode, sourceKind, sourceFolder);
}

void CvTilewright::setZoomTo(int iZoom)
{
    const int wanted = DownloadZoomRule::afterValueChanged(iZoom, currentZoom, zoomLimitApplies());
    if (wanted != iZoom)
        ui.zoomTo->setValue(wanted);
}

// ---- window commands --------------------------------------------------------

void CvTilewright::about()
{
    QMessageBox::about(this, tr("About Tilewright"),
                       tr("<h3>Tilewright 5.15</h3>"
                          "<p>Fills a local map tile folder for offline use: OpenStreetMap "
                          "tiles, OpenSeaMap seamarks, SRTM elevation archives and the tile "
                          "servers of your own list.</p>"
                          "<p>Map data &copy; OpenStreetMap contributors.</p>"
                          "<p>&copy; Corvane &mdash; "
                          "<a href=\"https://www.corvane.com/\">www.corvane.com</a></p>"));
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
    ui.tilesFolder->setText(destFolder);
    // Only the Mercator tile sources get a projection file; a file that cannot
    // be written is passed over.
    if (sourceKind == 0 || sourceKind == 1)
        DestinationFolder::writeProjectionFile(folder);
}

// ---- proxy ------------------------------------------------------------------

void CvTilewright::startProxyTimer()
{
    if (!proxyTimer) {
        proxyTimer = new QTimer(this);
        connect(proxyTimer, &QTimer::timeout, this, &CvTilewright::slot_proxy);
    }
    proxyTimer->start(3000);
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
    if (sourceKind >= 3)
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

int CvTilewright::lonToTileX(double lon, int zoom)
{
    Q_UNUSED(lon) Q_UNUSED(zoom)
    return 0;
}

int CvTilewright::latToTileY(double lat, int zoom)
{
    Q_UNUSED(lat) Q_UNUSED(zoom)
    return 0;
}

int CvTilewright::srtmContinent(int lon, int lat)
{
    Q_UNUSED(lon) Q_UNUSED(lat)
    return 4;
}

void CvTilewright::slot_download()
{
}

void CvTilewright::downloadFile()
{
}

void CvTilewright::finished()
{
}

void CvTilewright::httpRequestFinished(int requestId, bool error)
{
    Q_UNUSED(requestId) Q_UNUSED(error)
}

void CvTilewright::slotRestartDownload()
{
}

void CvTilewright::cancelDownload()
{
    if (downloadMode) {
        requestAborted = true;
        if (reply)
            reply->abort();
        ui.progLab->setText(tr("Download canceled!"));
    } else if (copyThread) {
        copyThread->stopProcess();
    }
    // A stopped job of either kind must not go on with its next chunk.
    restartZoom = 0;
    setJobRunning(false);
    tileList.clear();
}

bool CvTilewright::downloadArchive(const QString &url, const QString &localPath)
{
    Q_UNUSED(url) Q_UNUSED(localPath)
    return false;
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

void CvTilewright::copyFile()
{
}

void CvTilewright::slot_update(int iZoom, int iTile)
{
    Q_UNUSED(iZoom) Q_UNUSED(iTile)
}
