#pragma once

#include "acquire/JobOutcome.h"
#include "acquire/SourceAddress.h"
#include "app/CopyRun.h"
#include "app/DownloadRun.h"
#include "app/JobRate.h"
#include "app/window/ProxyStep.h"
#include "app/SourceChoice.h"
#include "app/SourceMark.h"
#include "mapview/GeoArea.h"
#include "mapview/TileGeometry.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QNetworkReply>

#include <memory>

namespace Ui {
class CvTilewrightClass;
}

class CopyThread;
struct MapTarget;
class CvMapWidget;
class QLabel;
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
    void closeEvent(QCloseEvent *event) override;

private:
    void setupToolBar();
    void exportMbtiles();
    void connectWindow();
    void startProxyTimer();
    void updatePositionAndZoom();
    bool zoomLimitApplies() const;
    void setJobRunning(bool running);
    bool parseDgml(const QString &fileName);
    void pointMapAt(const MapTarget &map);

    std::unique_ptr<Ui::CvTilewrightClass> ui;
    // The download job's entry loop: the tile list, the chunk still to list,
    // the address and archive request in flight, whether it was stopped.
    DownloadRun downloadRun;
    // The copy job's steps, over the download run's tile list.
    CopyRun copyRun{downloadRun.chunks()};
    // The deferred proxy detection: its timer and the proxy fields it keeps.
    ProxyStep proxyStep{this};
    // The source choice and the imported theme's fields (sources.destFolder,
    // sources.source.sourceKind, ...), the one value SourceChoice reads and returns.
    SourceState sources;
    CvMapWidget *mapWidget = nullptr;
    CopyThread *copyThread = nullptr;
    QToolBar *toolBar = nullptr;
    QToolButton *helpToolButton = nullptr;
    QToolButton *infoToolButton = nullptr;
    QToolButton *importToolButton = nullptr;
    QToolButton *exportToolButton = nullptr;
    // Packs the destination into an MBTiles file on its own thread.
    class MbtilesExportRun *exportRun = nullptr;
    GeoArea downloadArea;
    int currentZoom = 2;
    QString dgmlFolder;
    QString themeLicense; // the imported theme's credit for the map

    // ---- jobs: state and steps beyond the members above --------------------
    // Sends the entries, writes the tiles and counts what became of them;
    // made by the first download start, child of the window, driven by
    // downloadRun; its request in flight is downloadJob->reply().
    class DownloadJob *downloadJob = nullptr;
    // The per-tile status texts pass through it, at most one per 40 ms.
    class StatusThrottle *statusThrottle = nullptr;
    void connectRun();
    void makeDownloadJob();
    void rejectHost(const QString &host);
    SourceAddress::TileSource currentSource();
    void beginDownloadJob();
    void connectCopyRun();
    void endDownloadJob(const QString &endText);
    void endJob(const QString &status);
    bool admitJob();
    bool admitFolder();
    void markDestination();
    // The pace of the last finished jobs, per server.
    JobRate jobRate;

    // ---- what a person sees of a job ---------------------------------------
    // The whole job's size, known before its start; the bar and the progress
    // line run over all of it.
    qint64 jobTotal = 0;
    QElapsedTimer jobClock;
    QLabel *progressLine = nullptr;
    // The source the running download records in its destination.
    SourceMark jobMark;
    void startJobBar(qint64 total);
    int barValueFor(qint64 done) const;
    qint64 jobDone() const;
    void showProgress(int barValue);
    void showFolder();
    void explainZoomRule(int lowered);
    bool jobActive = false;

    // ---- remembered choices ------------------------------------------------
    QString themeFile; // the imported theme's file, remembered with the source
    void restoreChoices();
    void saveChoices() const;
    bool restoreTheme(const QString &fileName);
};
