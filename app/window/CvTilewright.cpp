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

#include "app/JobSteps.h"
#include "app/JobTexts.h"
#include "settings/SettingsKeys.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
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
    ui->zoomTo->setValue(currentZoom);
    setWindowIcon(QIcon(QStringLiteral(":CvTilewright/icons/035_cv_tilewright.ico")));

    // The status line wraps to further lines rather than cutting its text at
    // the bar; the whole job's progress has a line of its own below.
    ui->progLab->setWordWrap(true);
    progressLine = new QLabel(ui->groupBox_2);
    progressLine->setObjectName(QStringLiteral("progressLine"));
    ui->gridLayout->addWidget(progressLine, 3, 0);
    // The read-out is as wide as its longest coordinate from the start (a
    // longer text would widen the window), and a long destination is cut
    // (its tip holds all of it): the window keeps its width.
    const struct
    {
        QLabel *label;
        QString widest;
    } readOut[] = {{ui->lonLabel, tr("Longitude: %1").arg(-1.23457e-05, 0, 'g', 6)},
                   {ui->latLabel, tr("Latitude: %1").arg(-1.23457e-05, 0, 'g', 6)}};
    for (const auto &item : readOut)
        item.label->setFixedWidth(item.label->fontMetrics().horizontalAdvance(item.widest) + 4);
    QSizePolicy folderPolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    folderPolicy.setHorizontalStretch(1); // the room the spacer beside it had
    ui->tilesFolder->setSizePolicy(folderPolicy);
    showFolder();
    restoreChoices();

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
    connect(statusThrottle, &StatusThrottle::barReady, this, &CvTilewright::showProgress);
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
    jobActive = running;
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
    if (wanted < shown)
        explainZoomRule(wanted);
}

// The fair-use rule lowered the download zoom: the field's tip says to what
// and why, and so does the status line unless a job is telling its progress.
void CvTilewright::explainZoomRule(int lowered)
{
    const QString why = DownloadZoomRule::loweredText(lowered, currentZoom);
    ui->zoomTo->setToolTip(why);
    if (!jobActive)
        ui->progLab->setText(why);
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
    if (wanted < iZoom)
        explainZoomRule(wanted);
    else if (!zoomLimitApplies())
        ui->zoomTo->setToolTip(QString());
}

// ---- window commands --------------------------------------------------------

void CvTilewright::about()
{
    QMessageBox::about(this, tr("About Tilewright"), ProgramFiles::aboutText(ProgramVersion::text()));
}

void CvTilewright::help()
{
    const QUrl manual = ProgramFiles::manualUrl(QCoreApplication::applicationDirPath());
    if (QDesktopServices::openUrl(manual))
        return;
    // Nothing could show it: the person can still open the file by hand.
    const QString path = QDir::toNativeSeparators(manual.toLocalFile());
    QMessageBox::information(this, tr("Help"),
                             QFileInfo::exists(manual.toLocalFile())
                                 ? tr("No program to show PDF files was found. The manual is here:\n%1").arg(path)
                                 : tr("The manual is missing; it belongs here:\n%1").arg(path));
}

void CvTilewright::browseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Select folder to store map tiles"), sources.destFolder, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    sources.destFolder = DestinationFolder::pickedDestination(folder);
    showFolder();
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
        showFolder();
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
    if (fileName.isEmpty() || !parseDgml(fileName))
        return;
    sources.source.themeActive = true;
    themeFile = fileName;
    ui->progLab->setText(tr("Map theme \"%1\" imported: server %2, tiles go to %3. Choose it under Source.")
                             .arg(sources.themeName, SourceAddress::themeServer(sources.source), sources.destFolder));
}

// Takes the theme's fields from the file; true when its server was read. A
// file that fails anywhere changes nothing: no field, no destination.
bool CvTilewright::parseDgml(const QString &fileName)
{
    const DgmlReader::Result result = ThemeImportPrompt::read(this, fileName, [this](const DgmlTheme &theme) {
        // The credit is shown once the map is pointed at the theme's server.
        themeLicense = theme.license;
        sources = SourceChoice::importTheme(sources, theme, SourceDestination::mapDataRoots());
        showFolder();
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
    if ((sources.downloadMode && !admitFolder()) || !admitJob())
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
    const QString server = JobAdmission::serverOf(sources.source, sources.downloadMode);
    const JobAdmission admission = JobAdmission::decide(
        JobAdmission::Job{downloadArea, currentZoom, ui->zoomTo->value(), sources.source, sources.downloadMode},
        AppConfig::instance().osmTileUrl, cache ? cache->tileSizes() : std::vector<qint64>(),
        jobRate.entriesPerSecond(server));
    if (!JobAdmissionPrompt::confirm(this, tr("Tilewright"), admission)) {
        ui->progLab->setText(admission.notStartedText());
        return false;
    }
    // The first entry's text follows at once; the size stays in the tips.
    ui->progLab->setText(admission.countText());
    ui->progLab->setToolTip(admission.countText());
    ui->progressBar->setToolTip(admission.countText());
    jobRate.start(server);
    startJobBar(admission.entries());
    return true;
}

// A destination that holds another source's tiles is asked about first: a
// tile of the same name would replace the other source's.
bool CvTilewright::admitFolder()
{
    jobMark = SourceMark::of(currentSource(), sources.themeName);
    const std::optional<SourceMark> held = SourceMark::otherIn(sources.destFolder, jobMark);
    if (!held || JobAdmissionPrompt::ask(this, tr("Tilewright"), JobTexts::mixedFolderQuestion(held->name, jobMark.name)))
        return true;
    ui->progLab->setText(tr("Not started: %1 holds tiles of %2.").arg(sources.destFolder, held->name));
    return false;
}

// The destination records the source of the tiles a job put there.
void CvTilewright::markDestination()
{
    jobMark.writeTo(sources.destFolder);
}

// The bar and the progress line run over the whole job, from 0.
void CvTilewright::startJobBar(qint64 total)
{
    jobTotal = qMax<qint64>(total, 0);
    jobClock.start();
    ui->progressBar->setMinimum(0);
    ui->progressBar->setMaximum(JobSteps::barMaximum(qMax<qint64>(jobTotal, 1)));
    ui->progressBar->setValue(0);
    statusThrottle->startBar(0);
    showProgress(0);
}

// Large jobs are scaled onto the bar's int range.
int CvTilewright::barValueFor(qint64 done) const
{
    const qint64 maximum = ui->progressBar->maximum();
    if (jobTotal <= 0)
        return 0;
    return int(qBound<qint64>(0, jobTotal <= maximum ? done : qint64(double(done) * maximum / jobTotal), maximum));
}

qint64 CvTilewright::jobDone() const
{
    return sources.downloadMode ? downloadRun.entries() : copyRun.outcome().entries();
}

// Travels with the status line's texts, so it is throttled as they are.
void CvTilewright::showProgress(int barValue)
{
    ui->progressBar->setValue(barValue);
    // The pace counts answers only: entries that sent nothing cost no time.
    const JobOutcome outcome = sources.downloadMode ? downloadRun.outcome() : copyRun.outcome();
    const qint64 worked = sources.downloadMode ? outcome.answered() : outcome.entries();
    const qint64 ms = jobClock.isValid() ? jobClock.elapsed() : 0;
    const double perSecond = jobActive && ms >= 1000 && worked > 0 ? worked * 1000.0 / ms : -1;
    progressLine->setText(JobTexts::progress(jobDone(), jobTotal, perSecond, outcome.receivedBytes()));
}

// What the run reads from the window while it works: the source and the
// proxy as they are now (credentials entered since the last entry reach the
// next request), and the download zoom before each next chunk.
void CvTilewright::connectRun()
{
    downloadRun.setInputs(DownloadRun::Inputs{[this] { return currentSource(); }, [this] { return proxyStep.settings(); },
                                              [this] { return ui->zoomTo->value(); }});
    connect(&downloadRun, &DownloadRun::barRange, this, &CvTilewright::nextDownload);
    connect(&downloadRun, &DownloadRun::restarting, this, &CvTilewright::restartDownload);
    connect(&downloadRun, &DownloadRun::entryText, this,
            [this](const QString &text) { statusThrottle->stepTo(barValueFor(downloadRun.entries()), text); });
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
    if (downloadRun.outcome().stored() > 0)
        markDestination();
    endJob(endText);
    ui->progLab->setToolTip(ui->progLab->text()); // the label may be narrower than the text
}

void CvTilewright::endJob(const QString &status)
{
    jobRate.finish(sources.downloadMode ? downloadRun.outcome().answered() : copyRun.outcome().entries());
    statusThrottle->clear();
    ui->progLab->setText(status);
    setJobRunning(false);
    // A download that worked off its list is done; a copy's bar counts what
    // was copied, so it stays short of the end when source tiles are missing.
    if (sources.downloadMode)
        showProgress(downloadRun.completed() ? ui->progressBar->maximum() : barValueFor(jobDone()));
    else
        showProgress(barValueFor(copyRun.outcome().stored()));
}

void CvTilewright::cancelDownload()
{
    if (exportRun && exportRun->running()) {
        exportRun->stop(); // its end text follows
        return;
    }
    if (sources.downloadMode) {
        const bool wasRunning = downloadRun.running();
        const JobOutcome sofar = downloadRun.outcome();
        jobRate.finish(sofar.answered());
        downloadRun.stop(); // the old tile of the entry in flight stays
        statusThrottle->clear();
        ui->progLab->setText(tr("Download canceled!"));
        // Tiles already counted as stored (archives are counted as they land)
        // name the folder's source; a job stopped before any did names nothing.
        if (wasRunning && sofar.stored() > 0)
            markDestination();
    } else if (copyThread) {
        copyThread->stopProcess();
    }
    // A stopped job of either kind must not go on with its next chunk.
    downloadRun.chunks().clear();
    setJobRunning(false);
    showProgress(ui->progressBar->value()); // the bar stays where the job stopped
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
    connect(&copyRun, &CopyRun::chunkDue, this, &CvTilewright::nextCopy);
    connect(&copyRun, &CopyRun::tileText, ui->progLab, &QLabel::setText);
    connect(&copyRun, &CopyRun::barValue, this, [this](int) { showProgress(barValueFor(copyRun.outcome().stored())); });
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

// ---- what the window shows of its fields -----------------------------------

void CvTilewright::showFolder()
{
    ui->tilesFolder->setText(sources.destFolder);
    ui->tilesFolder->setToolTip(sources.destFolder); // the label may be narrower than the path
}

// ---- remembered choices -----------------------------------------------------

void CvTilewright::closeEvent(QCloseEvent *event)
{
    saveChoices();
    QMainWindow::closeEvent(event);
}

void CvTilewright::saveChoices() const
{
    const auto store = SettingsKeys::openProgramStore();
    const SourceAddress::TileSource &source = sources.source;
    SettingsKeys::LastDestination.write(*store, sources.destFolder);
    SettingsKeys::LastSourceKind.write(*store, source.sourceKind);
    SettingsKeys::LastServer.write(*store, SourceKind::isServerSource(source.sourceKind) && !source.isTheme()
                                               ? source.sourceFolder
                                               : QString());
    SettingsKeys::LastTileLayout.write(*store, source.tileLayout);
    SettingsKeys::LastThemeFile.write(*store, source.themeActive ? themeFile : QString());
    SettingsKeys::LastThemeChosen.write(*store, source.isTheme());
    SettingsKeys::LastDownloadZoom.write(*store, ui->zoomTo->value());
    SettingsKeys::LastWindowSize.write(*store, size());
}

// The choices of the last session, each as far as it still fits; what no
// longer does falls back to the default, and the status line says so.
void CvTilewright::restoreChoices()
{
    const auto store = SettingsKeys::openProgramStore();
    QStringList notes;
    const QString theme = SettingsKeys::LastThemeFile.read(*store);
    if (!theme.isEmpty()) {
        if (restoreTheme(theme)) {
            sources.source.themeActive = true;
            themeFile = theme;
        } else {
            notes << tr("The map theme %1 could not be read again; it is no longer offered.").arg(theme);
        }
    }
    const int kind = SettingsKeys::LastSourceKind.read(*store);
    const bool tileLayout = SettingsKeys::LastTileLayout.read(*store);
    std::optional<ChosenSource> chosen;
    if (SourceKind::isServerSource(kind) && SettingsKeys::LastThemeChosen.read(*store)) {
        if (sources.source.themeActive)
            chosen = ChosenSource{true, tileLayout, kind, kind, sources.themeName, sources.source.themeHost};
    } else if (SourceKind::isServerSource(kind)) {
        const QString server = SettingsKeys::LastServer.read(*store);
        if (!server.isEmpty())
            chosen = ChosenSource{true, tileLayout, kind, -1, server, QString()};
        else
            notes << tr("The remembered tile server is empty; the source is Mapnik again.");
    } else if (kind == SourceKind::SeamarkTiles || kind == SourceKind::ElevationArchives) {
        chosen = ChosenSource{true, true, kind, -1, QString(), QString()};
    }
    if (chosen) {
        const AppConfig &config = AppConfig::instance();
        const SourceChoice::Applied applied = SourceChoice::apply(sources, *chosen, config.osmTileUrl,
                                                                  config.seamarkTileUrl, SourceDestination::mapDataRoots());
        sources = applied.state;
        pointMapAt(applied.map);
    }
    const QString destination = SettingsKeys::LastDestination.read(*store);
    if (!destination.isEmpty()) {
        if (QFileInfo(destination).isDir())
            sources.destFolder = SourceDestination::withOneTrailingSlash(destination);
        else
            notes << tr("The remembered destination %1 no longer exists; tiles go to %2.").arg(destination, sources.destFolder);
    }
    showFolder();
    const int zoom = SettingsKeys::LastDownloadZoom.read(*store);
    if (zoom >= ui->zoomTo->minimum() && zoom <= ui->zoomTo->maximum()) {
        currentZoom = mapWidget->mapZoom(); // the rule weighs it against the map's own zoom
        ui->zoomTo->setValue(zoom);
    }
    const QSize stored = SettingsKeys::LastWindowSize.read(*store);
    if (stored.isValid()) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        const QSize room = screen ? screen->availableSize() : stored;
        resize(stored.expandedTo(minimumSizeHint()).boundedTo(room));
    }
    if (!notes.isEmpty())
        ui->progLab->setText(notes.join(QLatin1Char(' ')));
}

// The remembered theme, read again without questions; false when it no
// longer reads (the window's fields stay as they are then).
bool CvTilewright::restoreTheme(const QString &fileName)
{
    DgmlReader reader;
    if (reader.readFile(fileName) != DgmlReader::Result::Read)
        return false;
    themeLicense = reader.theme().license;
    sources = SourceChoice::importTheme(sources, reader.theme(), SourceDestination::mapDataRoots());
    return true;
}
