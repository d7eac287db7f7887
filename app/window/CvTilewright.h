#pragma once

#include "acquire/JobOutcome.h"
#include "acquire/SourceAddress.h"
#include "app/CopyRun.h"
#include "app/DownloadRun.h"
#include "app/JobRate.h"
#include "app/window/ProxyStep.h"
#include "app/SourceChoice.h"
#include "mapview/GeoArea.h"
#include "mapview/TileGeometry.h"
#include "mapview/TileId.h"

#include <QMainWindow>
#include <QNetworkReply>

#include <deque>
#include <memory>

namespace Ui {
class CvTilewrightClass;
}

class CopyThread;
struct MapTarget;
class CvMapWidget;
class QFile;
class QNetworkAccessManager;
class QTimer;
class QToolBar;
class QToolButton;

// The main window. It owns everything a tile job works on: destination,
// source choice, area and zoom range, the proxy fields and the imported map
// theme; the jobs' runs (DownloadRun, CopyRun) keep the list of tiles still
// to fetch or copy and work it off, and tell the window what to show.
class CvTilewright : public QMainWindow
{
    Q_OBJECT

public:
    explicit CvTilewright(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~CvTilewright() override;

    // Download-mode tile conversions of the job (west edge / north edge inverses
    // are the map geometry's tileXToLon / tileYToLat).
    static int lonToTileX(double lon, int zoom) { return TileGeometry::lonToTileX(lon, zoom); }
    static int latToTileY(double lat, int zoom) { return TileGeometry::latToTileY(lat, zoom); }
    static int srtmContinent(int lon, int lat) { return SourceAddress::srtmContinent(lon, lat); }

signals:
    void nextDownload();
    void restartDownload();
    void nextCopy();
    void updateProgress(int iZoom, int iTile);

public slots:
    void slot_download();
    void slot_url();
    void updateDataReadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void error(QNetworkReply::NetworkError code);
    void finished();
    void slot_proxy();

private slots:
    void downloadFile();
    void slotRestartDownload();
    void cancelDownload();
    void browseFolder();
    void httpRequestFinished(int requestId, bool error);
    void readResponseHeader(const QByteArray &responseHeader);
    void setZoomTo(int iZoom);
    void copyFile();
    void slot_update(int iZoom, int iTile);
    void about();
    void help();
    void import();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void setupToolBar();
    void connectWindow();
    void startProxyTimer();
    void updatePositionAndZoom();
    bool zoomLimitApplies() const;
    void setJobRunning(bool running);
    bool parseDgml(const QString &fileName);
    void pointMapAt(const MapTarget &map);

    std::unique_ptr<Ui::CvTilewrightClass> ui;
    // The download job's entry loop; the members below that name its state
    // (tileList, restartZoom, downloadUrl, ...) are read-only views of it.
    DownloadRun downloadRun;
    // The copy job's steps, over the download run's tile list.
    CopyRun copyRun{downloadRun.chunks()};
    // The deferred proxy detection; the proxy members below name its fields.
    ProxyStep proxyStep{this};
    // The source choice and the imported theme's fields as the one value that
    // SourceChoice reads and returns; the members below name its parts.
    SourceState sources;
    CvMapWidget *mapWidget = nullptr;
    CopyThread *copyThread = nullptr;
    QToolBar *toolBar = nullptr;
    QToolButton *helpToolButton = nullptr;
    QToolButton *infoToolButton = nullptr;
    QToolButton *importToolButton = nullptr;
    QTimer *&proxyTimer = proxyStep.timer;
    QString &proxyHost = proxyStep.state.host;
    QString &proxyUser = proxyStep.state.user;
    QString &proxyPassword = proxyStep.state.password;
    int &proxyPort = proxyStep.state.port;
    bool &useProxy = proxyStep.state.useProxy;
    bool &askProxy = proxyStep.state.askProxy;
    bool &proxyDetectionRunning = proxyStep.running;
    QNetworkAccessManager *networkManager = nullptr;
    QFile *outputFile = nullptr;
    const QString &downloadUrl = downloadRun.address();
    QString &destFolder = sources.destFolder;
    const int &currentRequestId = downloadRun.archiveRequestId();
    const bool &requestAborted = downloadRun.stopped();
    GeoArea downloadArea;
    int currentZoom = 2;
    const std::deque<TileId> &tileList = downloadRun.chunks().tiles();
    QString &sourceFolder = sources.source.sourceFolder;
    bool &downloadMode = sources.downloadMode;
    bool &tileLayout = sources.source.tileLayout;
    int &sourceKind = sources.source.sourceKind;
    const int &restartZoom = downloadRun.chunks().restartZoom();
    QString dgmlFolder;
    QString &themeHost = sources.source.themeHost;
    QString &themeProtocol = sources.source.themeProtocol;
    QString &themePort = sources.source.themePort;
    QString &themePath = sources.source.themePath;
    QString &themeQuery = sources.source.themeQuery;
    QString &themeStorageMode = sources.source.themeStorageMode;
    QString &themeName = sources.themeName;
    QString &themeFormat = sources.source.themeFormat;
    QString &themeSourceDir = sources.themeSourceDir;
    QString themeLicense; // the imported theme's credit for the map
    bool &themeActive = sources.source.themeActive;

    // ---- jobs: state and steps beyond the members above --------------------
    // Entries after which the enumeration stops at the end of a level; tests
    // lower it to reach the next chunk with few tiles.
    static int listLimit;
    // Sends the entries, writes the tiles and counts what became of them;
    // made by the first download start, child of the window, driven by
    // downloadRun. networkManager is its network access; its request in
    // flight is downloadJob->reply() (outputFile stays unused: a body is
    // written only once its reply has succeeded).
    class DownloadJob *downloadJob = nullptr;
    // The per-tile status texts pass through it, at most one per 40 ms.
    class StatusThrottle *statusThrottle = nullptr;
    void connectRun();
    void makeDownloadJob();
    void rejectHost(const QString &host);
    SourceAddress::TileSource currentSource();
    void beginDownloadJob();
    void connectCopyRun();
    void startBar(int minimum, int maximum);
    void endDownloadJob(const QString &endText);
    void endJob(const QString &status);
    bool admitJob();
    // The pace of the last finished jobs.
    JobRate jobRate;

    // The tests drive the window through its job state as the source dialog would.
    friend class TestMainWindow;
    friend class TestDownloadJob;
    friend class TestCopyJob;
    friend class TestProxyWindow;
    friend class TestSourceChoice;
    friend class TestJobGuard;
};
