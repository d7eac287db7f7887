#include "app/window/CvTilewright.h"
#include "ui_CvTilewright.h"

#include "acquire/CopyThread.h"
#include "acquire/DownloadJob.h"
#include "acquire/EntryPlan.h"
#include "app/CopyRun.h"
#include "app/DownloadRun.h"
#include "app/DestinationFolder.h"
#include "app/DownloadZoomRule.h"
#include "app/JobAdmission.h"
#include "app/JobTexts.h"
#include "app/MbtilesExportRun.h"
#include "app/window/MbtilesExportPrompt.h"
#include "app/window/JobAdmissionPrompt.h"
#include "app/window/SourceDialogPrompt.h"
#include "app/ProgramFiles.h"
#include "app/StatusThrottle.h"
#include "app/window/ThemeImportPrompt.h"
#include "app/window/WindowToolBar.h"
#include "mapview/widgets/CvMapCache.h"
#include "mapview/widgets/CvMapWidget.h"
#include "mapview/SourcePolicy.h"
#include "settings/AppConfig.h"
#include "settings/DgmlReader.h"
#include "settings/ProgramVersion.h"
#include "settings/SourceDestination.h"
#include "settings/SourceKind.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <climits>

CvTilewright::CvTilewright(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
    , ui(std::make_unique<Ui::CvTilewrightClass>())
{
    ui->setupUi(this);
    setupToolBar();

    mapWidget = new CvMapWidget(ui->groupBox);
    mapWidget->setMinimumHeight(256);
    ui->verticalLayout->addWidget(mapWidget);
    statusThrottle = new StatusThrottle(this);
    copyThread = new CopyThread;
    connectWindow();
    connectRun();
    connectCopyRun();

    ui->cancleButton->setEnabled(false);
    ui->progressBar->setMinimum(0);
    ui->progressBar->setMaximum(1);
    ui->progressBar->setValue(0);
    sources.destFolder = DestinationFolder::defaultDestination();
    ui->tilesFolder->setText(sources.destFolder);
    ui->zoomTo->setValue(currentZoom);
    setWindowIcon(QIcon(QStringLiteral(":CvTilewright/icons/035_cv_tilewright.ico")));

    startProxyTimer();
    proxyStep.timer->setObjectName(QStringLiteral("proxyTimer"));
}

void CvTilewright::connectWindow()
{
    // The map paints itself alone (it is opaque), so the read-out follows its
    // view rather than the window's repaints.
    connect(mapWidget, &CvMapWidget::viewChanged, this, &CvTilewright::updatePositionAndZoom);
    connect(ui->cancleButton, &QPushButton::clicked, this, &CvTilewright::cancelDownload);
    connect(ui->browseButton, &QPushButton::clicked, this, &CvTilewright::browseFolder);
    connect(ui->zoomTo, QOverload<int>::of(&QSpinBox::valueChanged), this, &CvTilewright::setZoomTo);
    connect(this, &CvTilewright::updateProgress, this, &CvTilewright::slot_update);
    connect(this, &CvTilewright::nextCopy, this, &CvTilewright::copyFile);
    connect(statusThrottle, &StatusThrottle::textReady, ui->progLab, &QLabel::setText);
    connect(statusThrottle, &StatusThrottle::barReady, ui->progressBar, &QProgressBar::setValue);
    connect(copyThread, &CopyThread::sendUpdate, this, &CvTilewright::slot_update);
    connect(&proxyStep, &ProxyStep::due, this, &CvTilewright::slot_proxy);
}

CvTilewright::~CvTilewright()
{
    if (downloadJob) {
        // The request in flight ends without reporting to a window on its way out.
        downloadJob->disconnect(this);
        downloadRun.stop();
    }
    delete copyThread;
    copyThread = nullptr;
}

void CvTilewright::setupToolBar()
{
    toolBar = ui->mainToolBar;
    infoToolButton = WindowToolBar::addButton(toolBar, QStringLiteral(":CvTilewright/icons/info.png"), tr("Info"),
                                              QKeySequence());
    helpToolButton = WindowToolBar::addButton(toolBar, QStringLiteral(":CvTilewright/icons/query.png"), tr("Help"),
                                              QKeySequence(tr("F1")));
    toolBar->addSeparator();
    importToolButton = WindowToolBar::addButton(toolBar, QStringLiteral(":CvTilewright/icons/map.png"),
                                                tr("Import MapView Dgml"), QKeySequence(tr("F3")));
    connect(infoToolButton, &QToolButton::clicked, this, &CvTilewright::about);
    connect(helpToolButton, &QToolButton::clicked, this, &CvTilewright::help);
    connect(importToolButton, &QToolButton::clicked, this, &CvTilewright::import);
    exportToolButton = WindowToolBar::addButton(toolBar, QStringLiteral(":CvTilewright/icons/export.png"),
                                                tr("Export MBTiles"), QKeySequence(tr("Ctrl+E")));
    connect(exportToolButton, &QToolButton::clicked, this, &CvTilewright::exportMbtiles);
}

void CvTilewright::setJobRunning(bool running)
{
    ui->okButton->setEnabled(!running);
    ui->urlButton->setEnabled(!running);
    ui->downloadButton->setEnabled(!running);
    ui->browseButton->setEnabled(!running);
    ui->cancleButton->setEnabled(running);
    if (!running) { // the size of the job that ran
        ui->progLab->setToolTip(QString());
        ui->progressBar->setToolTip(QString());
    }
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
    return DownloadZoomRule::limitApplies(sources.downloadMode, sources.source.sourceKind, sources.source.sourceFolder);
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
    QMessageBox::about(this, tr("About Tilewright"), ProgramFiles::aboutText(ProgramVersion::text()));
}

void CvTilewright::help()
{
    QDesktopServices::openUrl(ProgramFiles::manualUrl(QCoreApplication::applicationDirPath()));
}

void CvTilewright::browseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Select folder to store map tiles"), sources.destFolder, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    sources.destFolder = DestinationFolder::pickedDestination(folder);
    ui->tilesFolder->setText(sources.destFolder);
    // Only the Mercator tile sources get a projection file; a file that cannot
    // be written is passed over.
    if (SourceKind::isMercatorTiles(sources.source.sourceKind))
        DestinationFolder::writeProjectionFile(folder);
}

// Packs the destination folder on the export's thread; the bar and the
// status line follow it, Stop ends it and leaves the target as it was.
void CvTilewright::exportMbtiles()
{
    if (downloadRun.running() || !downloadRun.chunks().tiles().empty() || (exportRun && exportRun->running()))
        return;
    const QString target = MbtilesExportPrompt::askTarget(this, sources.destFolder);
    if (target.isEmpty())
        return;
    if (!exportRun) {
        exportRun = new MbtilesExportRun(this);
        connect(exportRun, &MbtilesExportRun::progress, this, [this](qint64 done, qint64 total) {
            ui->progressBar->setMaximum(int(std::min<qint64>(total, INT_MAX)));
            ui->progressBar->setValue(int(std::min<qint64>(done, INT_MAX)));
            statusThrottle->show(JobTexts::exportProgress(done, total));
        });
        connect(exportRun, &MbtilesExportRun::ended, this, [this](const QString &endText) {
            statusThrottle->clear();
            ui->progLab->setText(endText);
            ui->progLab->setToolTip(endText); // the label may be narrower than the text
            ui->progressBar->setValue(0);
            setJobRunning(false);
        });
    }
    const QString credit = SourcePolicy::forSource(sources.source.sourceKind, QUrl(AppConfig::instance().osmTileUrl),
                                                   sources.source.themeActive, themeLicense)
                               .attribution;
    setJobRunning(true);
    ui->progressBar->setMinimum(0);
    exportRun->start(MbtilesExportPrompt::request(sources.destFolder, target, sources.source.sourceKind, credit));
}

// ---- proxy ------------------------------------------------------------------

void CvTilewright::startProxyTimer()
{
    proxyStep.restart();
}

void CvTilewright::slot_proxy()
{
    // A theme's server is asked about with its own scheme and port.
    const SourceAddress::TileSource &source = sources.source;
    const QString server = source.themeActive ? SourceAddress::themeServer(source) : source.sourceFolder;
    const std::optional<ProxySettings> proxy = proxyStep.detect(source.sourceKind, server);
    if (!proxy)
        return; // one is running already, or the window went away during the wait
    mapWidget->setProxy(*proxy);
    // Tiles refused before (by the proxy, for want of credentials) are asked
    // for again at the next paint, now through the proxy in force.
    mapWidget->update();
}

// ---- source choice and theme import -----------------------------------------

void CvTilewright::slot_url()
{
    if (!mapWidget)
        return;
    const std::optional<ChosenSource> chosen = SourceDialogPrompt::ask(this, sources);
    if (!chosen)
        return;
    const AppConfig &config = AppConfig::instance();
    const SourceChoice::Applied applied = SourceChoice::apply(sources, *chosen, config.osmTileUrl,
                                                              config.seamarkTileUrl, SourceDestination::mapDataRoots());
    sources = applied.state;
    ui->progLab->setText(applied.copyMode ? tr("Copy:") : tr("Download:"));
    if (applied.destinationShown)
        ui->tilesFolder->setText(sources.destFolder);
    if (!applied.copyMode)
        pointMapAt(applied.map);
}

void CvTilewright::pointMapAt(const MapTarget &map)
{
    if (map.viaHost) {
        mapWidget->setMapServer(map.host, map.path, map.query, map.storageMode, map.format, 0, 0);
        mapWidget->setMapHost(map.host, map.mode);
    } else {
        mapWidget->setMapServer(map.host, map.path, map.query, map.storageMode, map.format, map.port, map.mode);
    }
    mapWidget->reloadMap();
    mapWidget->setAttribution(SourcePolicy::forSource(sources.source.sourceKind, QUrl(AppConfig::instance().osmTileUrl),
                                                      sources.source.themeActive, themeLicense)
                                  .attribution);
    startProxyTimer();
}

void CvTilewright::import()
{
    const QString fileName = ThemeImportPrompt::askFile(this, dgmlFolder);
    // A failed import leaves the theme in force before it as it was.
    if (!fileName.isEmpty() && parseDgml(fileName))
        sources.source.themeActive = true;
}

// Takes the theme's fields from the file; true when its server was read. A
// file that fails anywhere changes nothing: no field, no destination.
bool CvTilewright::parseDgml(const QString &fileName)
{
    const DgmlReader::Result result = ThemeImportPrompt::read(this, fileName, [this](const DgmlTheme &theme) {
        // The credit is shown once the map is pointed at the theme's server.
        themeLicense = theme.license;
        sources = SourceChoice::importTheme(sources, theme, SourceDestination::mapDataRoots());
        if (!theme.sourceDirs.isEmpty())
            ui->tilesFolder->setText(sources.destFolder);
    });
    return result == DgmlReader::Result::Read;
}

// ---- download job -----------------------------------------------------------
// One tile's road: slot_download admits the job and hands it to downloadRun,
// which lists the area, plans each entry and starts it on downloadJob; the
// job stores the tile and reports its end to the run, which goes on with the
// next entry, the next chunk or the end (endDownloadJob).

void CvTilewright::slot_download()
{
    if (!mapWidget || !downloadRun.chunks().tiles().empty() || downloadRun.running())
        return;
    downloadArea = mapWidget->visibleArea();
    currentZoom = mapWidget->mapZoom();
    if (!admitJob())
        return;
    setJobRunning(true);
    if (sources.downloadMode)
        beginDownloadJob();
    else
        copyRun.start(copyThread, CopyRun::Job{downloadArea, currentZoom, sources.source.sourceKind,
                                               sources.source.sourceFolder, sources.destFolder});
}

// Counts the job before anything is fetched: a job the server does not allow
// is refused, a very large one asked about; a job that starts shows its size.
bool CvTilewright::admitJob()
{
    const CvMapCache *cache = CvMapCache::instance();
    const JobAdmission admission = JobAdmission::decide(
        JobAdmission::Job{downloadArea, currentZoom, ui->zoomTo->value(), sources.source, sources.downloadMode},
        AppConfig::instance().osmTileUrl, cache ? cache->tileSizes() : std::vector<qint64>(),
        jobRate.entriesPerSecond(sources.downloadMode));
    if (!JobAdmissionPrompt::confirm(this, tr("Tilewright"), admission)) {
        ui->progLab->setText(admission.notStartedText());
        return false;
    }
    // The first entry's text follows at once; the size stays in the tips.
    ui->progLab->setText(admission.countText());
    ui->progLab->setToolTip(admission.countText());
    ui->progressBar->setToolTip(admission.countText());
    jobRate.start(sources.downloadMode);
    return true;
}

// What the run reads from the window while it works: the source and the
// proxy as they are now (credentials entered since the last entry reach the
// next request), and the download zoom before each next chunk.
void CvTilewright::connectRun()
{
    downloadRun.setInputs(DownloadRun::Inputs{[this] { return currentSource(); }, [this] { return proxyStep.settings(); },
                                              [this] { return ui->zoomTo->value(); }});
    connect(&downloadRun, &DownloadRun::barRange, this, &CvTilewright::startBar);
    connect(&downloadRun, &DownloadRun::barRange, this, &CvTilewright::nextDownload);
    connect(&downloadRun, &DownloadRun::restarting, this, &CvTilewright::restartDownload);
    connect(&downloadRun, &DownloadRun::entryText, statusThrottle, &StatusThrottle::step);
    connect(&downloadRun, &DownloadRun::hostRejected, this, &CvTilewright::rejectHost);
    connect(&downloadRun, &DownloadRun::ended, this, &CvTilewright::endDownloadJob);
    // Both go on with whatever the run has to do; it does so by itself too.
    connect(this, &CvTilewright::nextDownload, this, &CvTilewright::downloadFile);
    connect(this, &CvTilewright::restartDownload, this, &CvTilewright::slotRestartDownload);
}

void CvTilewright::beginDownloadJob()
{
    if (!downloadJob)
        makeDownloadJob();
    downloadRun.start(downloadJob, DownloadRun::Job{downloadArea, currentZoom, sources.source.sourceKind, sources.destFolder});
}

void CvTilewright::makeDownloadJob()
{
    downloadJob = new DownloadJob(this);
    connect(downloadJob, &DownloadJob::downloadProgress, this, &CvTilewright::updateDataReadProgress);
    connect(downloadJob, &DownloadJob::requestError, this, &CvTilewright::error);
    connect(&downloadRun, &DownloadRun::waitText, this, [this](const QString &text) {
        statusThrottle->clear();
        ui->progLab->setText(text);
        ui->progLab->setToolTip(text); // the label may be narrower than the text
    });
}

// The window's source choice as the job's units read it. A theme without
// format is saved as png; it is asked for as png from the first tile on (a
// WMS asked for "image/" answers with an exception), and stays so.
SourceAddress::TileSource CvTilewright::currentSource()
{
    SourceAddress::TileSource source = sources.source;
    source.themeFormat = sources.source.themeFormat = EntryPlan::themeFormatOf(source);
    return source;
}

// A chunk is listed: the bar counts its entries.
void CvTilewright::startBar(int minimum, int maximum)
{
    ui->progressBar->setMinimum(minimum);
    ui->progressBar->setMaximum(maximum);
    statusThrottle->startBar(minimum);
}

void CvTilewright::downloadFile()
{
    downloadRun.goOn();
}

void CvTilewright::slotRestartDownload()
{
    // A download run lists its next chunk by itself once the list is worked off.
    if (sources.downloadMode)
        downloadRun.goOn();
    else
        copyRun.nextChunk();
}

// This host's terms forbid bulk downloads: the job ends as by Stop.
void CvTilewright::rejectHost(const QString &host)
{
    QMessageBox::information(this, tr("Tilewright"), tr("Download from host %1 rejected!").arg(host));
    cancelDownload();
}

// The job reports the ends of its entries to the run; these take the same
// reports from anyone else.
void CvTilewright::finished()
{
    downloadRun.entryEnded();
}

void CvTilewright::httpRequestFinished(int requestId, bool error)
{
    downloadRun.archiveEnded(requestId, error);
}

void CvTilewright::endDownloadJob(const QString &endText)
{
    endJob(endText);
    ui->progLab->setToolTip(ui->progLab->text()); // the label may be narrower than the text
}

void CvTilewright::endJob(const QString &status)
{
    jobRate.finish(sources.downloadMode ? downloadRun.entries() : copyRun.outcome().entries());
    statusThrottle->clear();
    ui->progLab->setText(status);
    // A bar whose minimum is 1 would ignore the value 0.
    ui->progressBar->setMinimum(0);
    ui->progressBar->setValue(0);
    setJobRunning(false);
}

void CvTilewright::cancelDownload()
{
    if (exportRun && exportRun->running()) {
        exportRun->stop(); // its end text follows
        return;
    }
    if (sources.downloadMode) {
        downloadRun.stop(); // the old tile of the entry in flight stays
        statusThrottle->clear();
        ui->progLab->setText(tr("Download canceled!"));
    } else if (copyThread) {
        copyThread->stopProcess();
    }
    // A stopped job of either kind must not go on with its next chunk.
    downloadRun.chunks().clear();
    setJobRunning(false);
}

// The reply's progress and error signals reach the window for its table's
// sake; errors are counted by the job.
void CvTilewright::updateDataReadProgress(qint64, qint64) {}
void CvTilewright::error(QNetworkReply::NetworkError) {}
void CvTilewright::readResponseHeader(const QByteArray &) {}

// ---- copy job ---------------------------------------------------------------

void CvTilewright::connectCopyRun()
{
    copyRun.setDownloadZoom([this] { return ui->zoomTo->value(); });
    connect(&copyRun, &CopyRun::barRange, this, &CvTilewright::startBar);
    connect(&copyRun, &CopyRun::chunkDue, this, &CvTilewright::nextCopy);
    connect(&copyRun, &CopyRun::tileText, ui->progLab, &QLabel::setText);
    connect(&copyRun, &CopyRun::barValue, ui->progressBar, &QProgressBar::setValue);
    connect(&copyRun, &CopyRun::ended, this, [this](const QString &endText) {
        endJob(endText);
        repaint();
    });
}

void CvTilewright::copyFile()
{
    copyRun.copyChunk();
}

void CvTilewright::slot_update(int iZoom, int iTile)
{
    // A late report of a stopped copy is no business of a download job.
    if (!sources.downloadMode)
        copyRun.workerReport(iZoom, iTile);
}
