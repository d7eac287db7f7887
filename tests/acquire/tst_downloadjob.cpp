// The download job end to end: the real window (offscreen), a real nginx for
// tiles and archives, MapProxy for Web Map Services.

#include "MapProxyFixture.h"
#include "NginxFixture.h"
#include "OffscreenNotes.h"
#include "PostedEvents.h"
#include "TcpRelay.h"
#include "TestShots.h"
#include "TestTiming.h"
#include "WindowSteps.h"

#include "acquire/DownloadJob.h"
#include "acquire/ArchiveTransfer.h"
#include "acquire/SourceAddress.h"
#include "acquire/TileEnumerator.h"
#include "app/window/CvTilewright.h"
#include "app/DownloadRun.h"
#include "settings/AppConfig.h"
#include "settings/ProgramVersion.h"

#include <QApplication>
#include <QDirIterator>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

Q_DECLARE_METATYPE(GeoArea)

#include "ModalAnswer.h"
#include "TestFiles.h"

using namespace TestFiles;
using namespace WindowSteps;

namespace {

const QString Finished = QStringLiteral("Download finished!");
const QString Canceled = QStringLiteral("Download canceled!");
// Maker and product are fixed; the version is the build's.
const QString JobAgent = QStringLiteral("Corvane Tilewright ") + ProgramVersion::text();
const QByteArray Old = QByteArrayLiteral("old tile kept from an earlier run");

const GeoArea Example = area(10.0, 47.5, 10.5, 47.0);

// The end text of a job that did not store every entry.
QString partly(int stored, int entries, int failed, const QString &why)
{
    return QStringLiteral("Download finished: %1 of %2 tiles stored, %3 failed (%4)").arg(stored).arg(entries).arg(failed).arg(why);
}

bool setFileTime(const QString &path, const QDateTime &time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
}

SourceAddress::TileSource listedServer(const QString &address)
{
    SourceAddress::TileSource source;
    source.sourceKind = 3;
    source.sourceFolder = address;
    return source;
}

// A job driven as the window drives it, without the window: the run reads
// the source, the proxy and the download zoom from here, and what it and
// the job tell the status line is kept.
struct Run
{
    SourceAddress::TileSource source;
    ProxySettings proxy;
    int downloadZoom = 12;
    DownloadJob job;
    DownloadRun run;
    QStringList texts;
    QList<int> chunks; // the entries of each chunk listed
    int restarts = 0;
    QStringList ended;

    explicit Run(const SourceAddress::TileSource &from) : source(from)
    {
        run.setInputs(DownloadRun::Inputs{[this] { return source; }, [this] { return proxy; },
                                          [this] { return downloadZoom; }});
        QObject::connect(&run, &DownloadRun::barRange, [this](int, int maximum) { chunks << maximum; });
        QObject::connect(&run, &DownloadRun::restarting, [this] { ++restarts; });
        QObject::connect(&run, &DownloadRun::entryText, [this](const QString &text) { texts << text; });
        QObject::connect(&run, &DownloadRun::waitText, [this](const QString &text) { texts << text; });
        QObject::connect(&run, &DownloadRun::ended, [this](const QString &text) { ended << text; });
    }
    void start(const GeoArea &area, int fromZoom, const QString &dest, int listLimit = TileEnumerator::ListLimit)
    {
        run.start(&job, DownloadRun::Job{area, fromZoom, source.sourceKind, dest, listLimit});
    }
    // Starts the job and waits for its end text.
    bool finish(const GeoArea &area, int fromZoom, const QString &dest, int timeoutMs = 60000)
    {
        ended.clear();
        start(area, fromZoom, dest);
        return QTest::qWaitFor([this] { return !ended.isEmpty(); }, timeoutMs);
    }
};

} // namespace

class TestDownloadJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void exampleArea();
    void chunksGoOnWithoutUserAction_data();
    void chunksGoOnWithoutUserAction();
    void httpsTileServer();
    void internalServerPause();
    void stopKeepsThePreviousTile();
    void failedTilesAreSkipped_data();
    void failedTilesAreSkipped();
    void unwritableDestination();
    void serverPushback();
    void emptyJobEnds();
    void destinationStaysForTheJob();
    void rejectedHostSendsNothing();
    void explicitProxyOnTheJob();
    void unsafeThemeFormat();
    void elevationArchives_data();
    void elevationArchives();
    void stopDuringArchiveTransfer();
    void webMapService_data();
    void webMapService();

private:
    std::unique_ptr<CvTilewright> makeWindow(const GeoArea &view, int zoom);
    bool pressDownloadAndWait(CvTilewright *w, int timeoutMs = 60000);
    QStringList jobRequests() const;
    QByteArray fetch(const QString &url, QByteArray *contentType = nullptr);

    NginxFixture m_nginx;
    QTemporaryDir m_root; // what the tile server holds
    QTemporaryDir m_work; // destinations, one per test
    QString m_dest;
    int m_logStart = 0;
    std::unique_ptr<MapProxyFixture> m_mapProxy;
};

void TestDownloadJob::initTestCase()
{
    hideOffscreenSizeHintNotes();

    QVERIFY(m_root.isValid());
    const QString root = m_root.path();
    QFile::setPermissions(root, QFile::permissions(root) | QFileDevice::ReadOther | QFileDevice::ExeOther);

    // Levels 10 to 12 of the example area, plus a copy with holes.
    for (const TileId &t : tilesOf(Example, 10, 12))
        QVERIFY(writeFile(root + QLatin1Char('/') + tilePath(t), NginxFixture::tilePng(t.x, t.y, t.zoom)));
    for (const TileId &t : tilesOf(Example, 12, 12)) {
        if ((t.x + t.y) % 5 != 0) // every fifth tile is missing
            QVERIFY(writeFile(root + QStringLiteral("/holes/") + tilePath(t), NginxFixture::tilePng(t.x, t.y, t.zoom)));
    }
    // Larger tiles (6 KiB) for the slow location: each takes 3 s at 2 KiB/s.
    for (const TileId &t : tilesOf(area(10.0, 47.5, 10.1, 47.4), 12, 12))
        QVERIFY(writeFile(root + QStringLiteral("/big/") + tilePath(t),
                          NginxFixture::tilePng(t.x, t.y, t.zoom).leftJustified(6144, '\0')));
    // Elevation archives; cells over the sea have none (404).
    const QStringList archives{
        QStringLiteral("South_America/N14W095.hgt.zip"), QStringLiteral("South_America/N13W094.hgt.zip"),
        QStringLiteral("North_America/N15W096.hgt.zip"), QStringLiteral("North_America/N16W093.hgt.zip"),
        QStringLiteral("Islandes/N14W096.hgt.zip"),      QStringLiteral("Africa/S01W001.hgt.zip"),
        QStringLiteral("Africa/S01E000.hgt.zip"),        QStringLiteral("Africa/N00W001.hgt.zip"),
        QStringLiteral("Africa/N00E000.hgt.zip")};
    for (const QString &a : archives)
        QVERIFY(writeFile(root + QStringLiteral("/srtm/version2_1/SRTM3/") + QString(a).replace(QStringLiteral("Islandes/"), QStringLiteral("Islands/")),
                          NginxFixture::zipBytes(a.toUtf8() + QByteArray(3000, 'z'))));

    QVERIFY2(m_nginx.start(root, QStringLiteral(
                                     "location /wmserror/ { default_type application/vnd.ogc.se_xml;"
                                     " return 200 '<?xml version=\"1.0\"?><ServiceExceptionReport/>'; }\n"
                                     "location /looping/ { return 302 $uri; }\n"
                                     "location /refuse/ { default_type text/plain;"
                                     " return 403 'Blocked: see the tile usage policy\\n'; }\n"
                                     "location /busy/ { add_header Retry-After 120 always; return 503; }\n")),
             qPrintable(m_nginx.errorString()));

    // No request may leave the machine: the map view and the standard source
    // ask the local server, archives come from it over HTTPS.
    qputenv("TILEWRIGHT_OSM_TILE_URL", m_nginx.httpUrl().toUtf8());
    qputenv("TILEWRIGHT_SEAMARK_TILE_URL", m_nginx.httpUrl().toUtf8());
    qputenv("TILEWRIGHT_SRTM_URL", (m_nginx.httpsUrl() + QStringLiteral("/srtm/version2_1/SRTM3")).toUtf8());
    qputenv("TILEWRIGHT_CA_BUNDLE", m_nginx.caFile().toUtf8());
    qputenv("TILEWRIGHT_ROOT_D", m_work.filePath(QStringLiteral("D")).toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", m_work.filePath(QStringLiteral("C")).toUtf8());
    AppConfig::reload();
}

void TestDownloadJob::init()
{
    // Each test has a drive C: of its own; a window starts with its temp/
    // folder as the destination when no map data folder is there.
    static int run = 0;
    const QString driveC = m_work.filePath(QStringLiteral("run%1").arg(++run));
    qputenv("TILEWRIGHT_ROOT_C", driveC.toUtf8());
    // And a drive D: of its own, where sources without a folder get one.
    qputenv("TILEWRIGHT_ROOT_D", (driveC + QStringLiteral("-D")).toUtf8());
    AppConfig::reload();
    m_dest = driveC + QStringLiteral("/temp/");
    QVERIFY(QDir().mkpath(m_dest));
    m_logStart = m_nginx.completeAccessLog().size();
}

// A window whose map shows (nearly exactly) the given area at the given zoom.
std::unique_ptr<CvTilewright> TestDownloadJob::makeWindow(const GeoArea &view, int zoom)
{
    storeMapView(view, zoom);
    auto w = std::make_unique<CvTilewright>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    const QSize size = mapSize(view, zoom);
    CvMapWidget *map = mapOf(w.get());
    map->setFixedSize(size);
    if (!QTest::qWaitFor([&] { return map->size() == size && map->mapZoom() == zoom; }, 10000))
        return nullptr;
    if (form(w).tilesFolder->text() != m_dest)
        return nullptr;
    form(w).zoomTo->setValue(zoom);
    return w;
}

bool TestDownloadJob::pressDownloadAndWait(CvTilewright *w, int timeoutMs)
{
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (form(w).downloadButton->isEnabled())
            return true;
        QTest::qWait(20);
    }
    return false;
}

// Requests of the job since the test began (the map view asks with another
// agent), once every answered request is in the log.
QStringList TestDownloadJob::jobRequests() const
{
    QStringList requests;
    const QStringList log = m_nginx.completeAccessLog();
    for (int i = m_logStart; i < log.size(); ++i) {
        if (log.at(i).endsWith(QLatin1Char(' ') + JobAgent))
            requests << log.at(i).section(QLatin1Char(' '), 0, 2);
    }
    return requests;
}

QByteArray TestDownloadJob::fetch(const QString &url, QByteArray *contentType)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(url)));
    QSignalSpy done(reply, &QNetworkReply::finished);
    done.wait(20000);
    if (contentType)
        *contentType = reply->rawHeader(QByteArrayLiteral("Content-Type"));
    const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    delete reply;
    return body;
}

// 10.0 to 10.5 E, 47.0 to 47.5 N at zoom 12: 7 columns of 9 rows, fetched once
// each in column-major order from the standard source, with the job's agent.
void TestDownloadJob::exampleArea()
{
    auto w = makeWindow(Example, 12);
    QVERIFY(w);
    for (int z = 12; z <= 12; ++z) {
        const auto shown = TileEnumerator::levelRange(mapOf(w.get())->visibleArea(), z);
        const auto wanted = TileEnumerator::levelRange(Example, z);
        QCOMPARE(shown.xMin, wanted.xMin);
        QCOMPARE(shown.xMax, wanted.xMax);
        QCOMPARE(shown.yMin, wanted.yMin);
        QCOMPARE(shown.yMax, wanted.yMax);
    }
    // An existing tile is replaced by the fresh one.
    QVERIFY(writeFile(m_dest + QStringLiteral("12/2161/1432.png"), Old));
    // Written in the same second as the server's copy, it would be answered
    // 304 (nginx compares the times exactly).
    QVERIFY(setFileTime(m_dest + QStringLiteral("12/2161/1432.png"), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC)));

    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    // What the user sees while a job runs.
    const QString shot = testShotPath(QStringLiteral("tilewright-download-running.png"));
    QVERIFY(w->grab().save(shot));
    qInfo("window during the download: %s", qPrintable(shot));
    QVERIFY(!form(w).downloadButton->isEnabled() && form(w).cancleButton->isEnabled());
    QVERIFY(QTest::qWaitFor([&w] { return form(w).downloadButton->isEnabled(); }, 60000));
    QCOMPARE(form(w).progLab->text(), Finished);
    QVERIFY(!form(w).cancleButton->isEnabled());
    QVERIFY(form(w).okButton->isEnabled() && form(w).urlButton->isEnabled() && form(w).browseButton->isEnabled());
    QCOMPARE(form(w).progressBar->value(), form(w).progressBar->maximum()); // the whole job done

    const QVector<TileId> tiles = tilesOf(Example, 12, 12);
    QCOMPARE(tiles.size(), size_t(63));
    QStringList expectedFiles, expectedRequests;
    for (const TileId &t : tiles) {
        expectedFiles << tilePath(t);
        expectedRequests << QStringLiteral("GET /") + tilePath(t) + QStringLiteral(" 200");
        QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_root.filePath(tilePath(t))));
    }
    expectedFiles.sort();
    QCOMPARE(filesBelow(m_dest), expectedFiles);
    QCOMPARE(jobRequests(), expectedRequests);
}

void TestDownloadJob::chunksGoOnWithoutUserAction_data()
{
    QTest::addColumn<int>("downloadZoom");
    QTest::addColumn<QList<int>>("chunks");
    QTest::newRow("up to 12") << 12 << QList<int>{6, 20, 63};
    QTest::newRow("lowered to 10") << 10 << QList<int>{6};
}

// Levels 10 to 12 hold 6, 20 and 63 tiles; with a limit of 5 every level is a
// chunk of its own, and each next chunk starts by itself.
void TestDownloadJob::chunksGoOnWithoutUserAction()
{
    QFETCH(int, downloadZoom);
    QFETCH(QList<int>, chunks);
    Run job(listedServer(m_nginx.httpUrl() + QLatin1Char('/')));
    // Lowered while the first chunk is fetched, the download zoom ends the job
    // with that chunk.
    QObject::connect(&job.run, &DownloadRun::barRange, [&job, downloadZoom] { job.downloadZoom = downloadZoom; });
    job.start(Example, 10, m_dest, 5);
    QCOMPARE(job.run.chunks().restartZoom(), 11);
    QTRY_COMPARE_WITH_TIMEOUT(job.ended.size(), 1, 60000);
    QCOMPARE(job.ended.first(), Finished);
    QCOMPARE(job.chunks, chunks);
    QCOMPARE(job.restarts, downloadZoom == 12 ? 2 : 1);
    QCOMPARE(job.run.chunks().restartZoom(), 0);

    QStringList expected, requests;
    for (const TileId &t : tilesOf(Example, 10, 9 + chunks.size())) {
        expected << tilePath(t);
        requests << QStringLiteral("GET /") + tilePath(t) + QStringLiteral(" 200");
        QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_root.filePath(tilePath(t))));
    }
    QCOMPARE(jobRequests(), requests);
    expected.sort();
    QCOMPARE(filesBelow(m_dest), expected);
}

// A listed server reached over HTTPS goes through libcurl: same layout, same
// agent, certificates checked against the system store plus the test CA.
void TestDownloadJob::httpsTileServer()
{
    auto w = makeWindow(area(10.0, 47.5, 10.2, 47.3), 12);
    QVERIFY(w);
    chooseServer(w.get(), m_nginx.httpsUrl() + QStringLiteral("/holes/"));
    const QVector<TileId> tiles = tilesOf(mapOf(w.get())->visibleArea(), 12, 12);
    for (const TileId &t : tiles)
        QVERIFY(writeFile(m_dest + tilePath(t), Old));
    QVERIFY(pressDownloadAndWait(w.get()));
    QStringList expectedRequests;
    int missing = 0;
    for (const TileId &t : tiles) {
        const QString source = m_root.filePath(QStringLiteral("holes/") + tilePath(t));
        const bool there = QFile::exists(source);
        missing += !there;
        expectedRequests << QStringLiteral("GET /holes/%1 %2").arg(tilePath(t), there ? QStringLiteral("200") : QStringLiteral("404"));
        QCOMPARE(readFile(m_dest + tilePath(t)), there ? readFile(source) : Old);
    }
    QVERIFY(missing > 0);
    QCOMPARE(form(w).progLab->text(), partly(int(tiles.size()) - missing, int(tiles.size()), missing, QStringLiteral("HTTP 404")));
    QCOMPARE(jobRequests(), expectedRequests);
    QCOMPARE(filesBelow(m_dest).size(), int(tiles.size()));
}

// Requests to the in-house server are spaced out by 50 ms.
void TestDownloadJob::internalServerPause()
{
    qputenv("TILEWRIGHT_INTERNAL_TILE_SERVER", "127.0.0.1");
    AppConfig::reload();
    auto w = makeWindow(area(10.0, 47.5, 10.1, 47.4), 12);
    QVERIFY(w);
    chooseServer(w.get(), m_nginx.httpUrl() + QLatin1Char('/'));
    const int tiles = int(tilesOf(mapOf(w.get())->visibleArea(), 12, 12).size());
    QElapsedTimer clock;
    clock.start();
    const bool done = pressDownloadAndWait(w.get());
    const qint64 elapsed = clock.elapsed();
    qunsetenv("TILEWRIGHT_INTERNAL_TILE_SERVER");
    AppConfig::reload();
    QVERIFY(done);
    QCOMPARE(filesBelow(m_dest).size(), tiles);
    QVERIFY2(elapsed >= 50 * tiles, qPrintable(QStringLiteral("%1 ms for %2 tiles").arg(elapsed).arg(tiles)));
}

// Stop while a tile comes in slowly: the tiles done stay, the tile in flight
// keeps its old file, nothing partial is left, and the job is over.
void TestDownloadJob::stopKeepsThePreviousTile()
{
    Run job(listedServer(m_nginx.httpUrl() + QStringLiteral("/slow/big/")));
    const QVector<TileId> tiles = tilesOf(area(10.0, 47.5, 10.05, 47.45), 12, 12);
    QVERIFY(tiles.size() >= 3);
    const QString first = tilePath(tiles[0]), second = tilePath(tiles[1]);
    QVERIFY(QFileInfo::exists(m_root.filePath(QStringLiteral("big/") + second)));
    QVERIFY(writeFile(m_dest + first, Old));
    QVERIFY(writeFile(m_dest + second, Old));

    job.start(area(10.0, 47.5, 10.05, 47.45), 12, m_dest);
    const QString secondStatus = QStringLiteral("Download Level 12/Tile %1.png :").arg(tiles[1].y);
    QTRY_VERIFY_WITH_TIMEOUT(job.texts.contains(secondStatus), 60000);
    // The second tile is coming in: part of its body is there.
    qint64 received = 0;
    connect(&job.job, &DownloadJob::downloadProgress, this, [&received](qint64 bytes, qint64) { received = bytes; });
    QTRY_VERIFY_WITH_TIMEOUT(job.job.reply() && received > 0, 20000);

    job.run.stop();
    QVERIFY(!job.run.running());
    QVERIFY(job.run.chunks().tiles().empty());
    // The first tile reaches the disk on the writer's thread.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(m_dest + first), readFile(m_root.filePath(QStringLiteral("big/") + first)), 20000);
    QVERIFY(deliverPostedEvents());
    QCOMPARE(readFile(m_dest + second), Old);
    QStringList expected{first, second};
    expected.sort();
    QCOMPARE(filesBelow(m_dest), expected);
    QVERIFY(job.ended.isEmpty()); // a stopped job reports no end of its own
}

void TestDownloadJob::failedTilesAreSkipped_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("served"); // the tree that answers, or empty: none
    QTest::addColumn<bool>("emptyBodies");
    QTest::addColumn<int>("requestsPerTile"); // 0: not counted
    QTest::addColumn<QString>("why"); // what the end text gives for the tiles not stored

    QTest::newRow("missing tiles (404)") << QStringLiteral("/holes/") << QStringLiteral("holes/") << false << 1
                                         << QStringLiteral("failed (HTTP 404)");
    QTest::newRow("server error") << QStringLiteral("/e500/") << QString() << false << 1 << QStringLiteral("failed (HTTP 500)");
    QTest::newRow("redirect followed") << QStringLiteral("/redirect/") << QStringLiteral("") << false << 2 << QString();
    QTest::newRow("redirect loop") << QStringLiteral("/looping/") << QString() << false << 0
                                   << QStringLiteral("failed (network error)");
    QTest::newRow("WMS exception with status 200") << QStringLiteral("/wmserror/") << QString() << false << 1
                                                   << QStringLiteral("failed (not a tile)");
    QTest::newRow("empty bodies") << QStringLiteral("/empty/") << QString() << true << 1 << QStringLiteral("unchanged");
}

void TestDownloadJob::failedTilesAreSkipped()
{
    QFETCH(QString, prefix);
    QFETCH(QString, served);
    QFETCH(bool, emptyBodies);
    QFETCH(int, requestsPerTile);
    QFETCH(QString, why);

    auto w = makeWindow(area(10.0, 47.5, 10.2, 47.3), 12);
    QVERIFY(w);
    chooseServer(w.get(), m_nginx.httpUrl() + prefix);
    const QVector<TileId> tiles = tilesOf(mapOf(w.get())->visibleArea(), 12, 12);
    for (const TileId &t : tiles)
        QVERIFY(writeFile(m_dest + tilePath(t), Old));

    QVERIFY(pressDownloadAndWait(w.get()));
    if (requestsPerTile) // every tile asked once, no retry
        QCOMPARE(jobRequests().size(), requestsPerTile * int(tiles.size()));
    else
        QVERIFY(jobRequests().size() > int(tiles.size()));
    int fresh = 0;
    for (const TileId &t : tiles) {
        const QString source = m_root.filePath(served.isNull() ? QStringLiteral("nothing/") : served + tilePath(t));
        // No tile is lost to a failed request, nor to an empty answer: an
        // empty body never replaces a tile that has content.
        QByteArray expected = Old;
        if (!served.isNull() && QFile::exists(source))
            expected = readFile(source);
        fresh += expected != Old;
        QCOMPARE(readFile(m_dest + tilePath(t)), expected);
    }
    QCOMPARE(filesBelow(m_dest).size(), int(tiles.size())); // nothing partial beside them
    if (!served.isNull())
        QVERIFY(fresh > 0);
    // The end text says how many were stored and why the others were not.
    const QString text = form(w).progLab->text();
    if (fresh == int(tiles.size()))
        QCOMPARE(text, Finished);
    else if (fresh == 0 && why.startsWith(QLatin1String("failed"))) // the failure first, with the reason alone
        QCOMPARE(text, QStringLiteral("Download failed: none of %1 tiles stored — %2")
                           .arg(tiles.size())
                           .arg(why.section(QLatin1Char('('), 1).chopped(1)));
    else
        QVERIFY2(text.startsWith(QStringLiteral("Download finished: %1 of %2 tiles stored, ").arg(fresh).arg(tiles.size())) &&
                     text.endsWith(QStringLiteral(" %1 %2").arg(int(tiles.size()) - fresh).arg(why)),
                 qPrintable(text));
    if (emptyBodies) {
        // Where there was no tile, an empty answer still gives an empty file.
        const TileId first = tiles.first();
        QVERIFY(QFile::remove(m_dest + tilePath(first)));
        QVERIFY(pressDownloadAndWait(w.get()));
        QVERIFY(QFileInfo::exists(m_dest + tilePath(first)));
        QCOMPARE(readFile(m_dest + tilePath(first)), QByteArray());
        QCOMPARE(readFile(m_dest + tilePath(tiles.last())), Old);
    }
}

// A destination that cannot take tiles: nothing is asked for, the job ends
// and says why. A single column that cannot be written is passed over.
void TestDownloadJob::unwritableDestination()
{
    // The window starts with a destination that is a file, not a folder.
    QVERIFY(QDir(m_dest).removeRecursively());
    QVERIFY(writeFile(QDir::cleanPath(m_dest), "a file, not a folder"));
    auto w = makeWindow(area(10.0, 47.5, 10.2, 47.3), 12);
    QVERIFY(w);
    QVERIFY(pressDownloadAndWait(w.get(), 10000));
    QCOMPARE(form(w).progLab->text(), QStringLiteral("Download failed: no tile could be written to %1").arg(m_dest));
    QVERIFY(jobRequests().isEmpty());
    QVERIFY(!form(w).cancleButton->isEnabled());

    const QVector<TileId> tiles = tilesOf(mapOf(w.get())->visibleArea(), 12, 12);
    QVERIFY(tiles.front().x != tiles.back().x);
    QVERIFY(QFile::remove(QDir::cleanPath(m_dest)));
    QVERIFY(writeFile(m_dest + QStringLiteral("12/%1").arg(tiles.front().x), "blocks the first column"));
    QVERIFY(pressDownloadAndWait(w.get()));
    const int blocked = int(std::count_if(tiles.begin(), tiles.end(), [&tiles](const TileId &t) { return t.x == tiles.front().x; }));
    QCOMPARE(form(w).progLab->text(),
             partly(int(tiles.size()) - blocked, int(tiles.size()), blocked, QStringLiteral("not writable")));
    for (const TileId &t : tiles) {
        if (t.x != tiles.front().x)
            QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_root.filePath(tilePath(t))));
    }
}

// A server that asks to wait: the status line shows the wait and Stop ends
// it at once. A server that refuses the program: the job stops after three
// refusals and says why.
void TestDownloadJob::serverPushback()
{
    auto w = makeWindow(area(10.0, 47.5, 10.2, 47.3), 12);
    QVERIFY(w);
    chooseServer(w.get(), m_nginx.httpUrl() + QStringLiteral("/busy/"));
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form(w).progLab->text(),
                              QStringLiteral("The server asked to wait: asking again in 120 s (HTTP 503)"), 20000);
    const QString shot = testShotPath(QStringLiteral("tilewright-server-asks-to-wait.png"));
    QVERIFY(w->grab().save(shot));
    qInfo("window while the server asks to wait: %s", qPrintable(shot));
    QTest::mouseClick(form(w).cancleButton, Qt::LeftButton);
    QCOMPARE(form(w).progLab->text(), Canceled);
    QVERIFY(form(w).downloadButton->isEnabled());
    QCOMPARE(jobRequests().size(), 1);

    chooseServer(w.get(), m_nginx.httpUrl() + QStringLiteral("/refuse/"));
    QVERIFY(pressDownloadAndWait(w.get()));
    QCOMPARE(form(w).progLab->text(), QStringLiteral("Download stopped: the server refused 3 requests in a row (HTTP 403): "
                                                     "Blocked: see the tile usage policy"));
    QCOMPARE(jobRequests().filter(QStringLiteral("/refuse/")).size(), 3);
    QVERIFY(filesBelow(m_dest).isEmpty());
}

// A view entirely west of the grid: nothing to fetch, the job still ends
// and says so.
void TestDownloadJob::emptyJobEnds()
{
    auto w = makeWindow(area(-250.0, 60.0, -200.0, 30.0), 3);
    QVERIFY(w);
    // The stored view is read into the grid; the map is dragged out of it.
    CvMapWidget *map = mapOf(w.get());
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseMove, QEvent::MouseButtonRelease}) {
        const QPoint at(type == QEvent::MouseButtonPress ? 2 : map->width() - 2, map->height() / 2);
        QMouseEvent event(type, at, map->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(map, &event);
    }
    QVERIFY(mapOf(w.get())->visibleArea().east < -180.0);
    QVERIFY(pressDownloadAndWait(w.get(), 5000));
    QCOMPARE(form(w).progLab->text(), QStringLiteral("Nothing to download: the area holds no tile at these zoom levels"));
    QVERIFY(form(w).downloadButton->isEnabled() && !form(w).cancleButton->isEnabled());
    QVERIFY(filesBelow(m_dest).isEmpty());
}

// A theme import during a job may point the window at another destination;
// the running job keeps the one it probed at its start, for every tile and
// for its end text.
void TestDownloadJob::destinationStaysForTheJob()
{
    const QString other = AppConfig::dPath(QStringLiteral("mapdata/maps/earth/other/"));
    QVERIFY(QDir().mkpath(other));
    const QString theme = m_work.filePath(QStringLiteral("other.dgml"));
    // The theme's server is the test's: a listed server gives way to the
    // theme once one is imported.
    QVERIFY(writeFile(theme, "<dgml><sourcedir format=\"png\">earth/other</sourcedir>"
                             "<storageLayout mode=\"OpenStreetMap\"/><downloadUrl protocol=\"http\" host=\"127.0.0.1\""
                             " path=\"/{zoomLevel}/{x}/{y}.png\" port=\"" + QByteArray::number(m_nginx.httpPort()) + "\"/></dgml>"));
    const GeoArea view = area(10.0, 47.5, 10.1, 47.4);
    auto w = makeWindow(view, 12);
    QVERIFY(w);
    // Slow tiles keep the job running while the theme comes in.
    chooseServer(w.get(), m_nginx.httpUrl() + QStringLiteral("/slow/big/"));
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QVERIFY(!importTheme(w.get(), theme).isEmpty());
    QCOMPARE(form(w).tilesFolder->text(), other);
    QVERIFY(!form(w).downloadButton->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(form(w).downloadButton->isEnabled(), 60000);
    QCOMPARE(form(w).progLab->text(), Finished);
    const QVector<TileId> tiles = tilesOf(mapOf(w.get())->visibleArea(), 12, 12);
    QStringList expected;
    for (const TileId &t : tiles)
        expected << tilePath(t);
    expected.sort();
    QCOMPARE(filesBelow(m_dest), expected);
    QVERIFY(filesBelow(other).isEmpty());
}


void TestDownloadJob::rejectedHostSendsNothing()
{
    auto w = makeWindow(area(10.0, 47.5, 10.2, 47.3), 12);
    QVERIFY(w);
    const QString google = m_nginx.httpUrl() + QStringLiteral("/google/");
    chooseServer(w.get(), google);
    QString boxText;
    answerNextModal([&boxText](QWidget *dialog) {
        if (auto *box = qobject_cast<QMessageBox *>(dialog))
            boxText = box->text();
        dialog->close();
    });
    QVERIFY(pressDownloadAndWait(w.get(), 10000));
    QCOMPARE(boxText, QStringLiteral("Download from host %1 rejected!").arg(google));
    QCOMPARE(form(w).progLab->text(), Canceled);
    QVERIFY(jobRequests().isEmpty());
    QVERIFY(filesBelow(m_dest).isEmpty());
}

// The job's own network access goes through the proxy named in the window:
// the tile server's address is unreachable, the proxy (nginx) answers.
void TestDownloadJob::explicitProxyOnTheJob()
{
    Run job(listedServer(QStringLiteral("http://127.0.0.1:%1/").arg(ServerFixture::freePort())));
    job.proxy = ProxySettings{QStringLiteral("127.0.0.1"), m_nginx.httpPort(), QString(), QString(), true};
    const GeoArea view = area(10.0, 47.5, 10.1, 47.4);
    QVERIFY(job.finish(view, 12, m_dest));
    QCOMPARE(job.ended, QStringList{Finished});
    const QVector<TileId> tiles = tilesOf(view, 12, 12);
    QVERIFY(!tiles.empty());
    for (const TileId &t : tiles)
        QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_root.filePath(tilePath(t))));
}

// A theme format that would reach outside the tile folder is cut down to a
// plain extension, and the status line says so.
void TestDownloadJob::unsafeThemeFormat()
{
    SourceAddress::TileSource source;
    source.sourceKind = 3;
    source.themeActive = true;
    source.themeProtocol = QStringLiteral("http");
    source.themeHost = QStringLiteral("127.0.0.1");
    source.themePort = QString::number(m_nginx.httpPort());
    source.themePath = QStringLiteral("/");
    source.themeStorageMode = QStringLiteral("OpenStreetMap");
    source.themeFormat = QStringLiteral("../../../escaped");
    Run job(source);
    const GeoArea view = area(10.0, 47.5, 10.1, 47.4);
    QVERIFY(job.finish(view, 12, m_dest));
    QVERIFY2(!job.texts.filter(QLatin1String(".escaped")).isEmpty(), qPrintable(job.texts.join(QLatin1Char('|'))));
    const QVector<TileId> tiles = tilesOf(view, 12, 12);
    QStringList expected;
    for (const TileId &t : tiles) {
        const QString name = QStringLiteral("%1/%2/%3.escaped").arg(t.zoom).arg(t.x).arg(t.y);
        expected << name;
        QCOMPARE(readFile(m_dest + name), readFile(m_root.filePath(tilePath(t))));
    }
    expected.sort();
    QCOMPARE(filesBelow(m_dest), expected);
    QVERIFY(filesBelow(m_work.path()).filter(QStringLiteral("escaped")).size() == expected.size());
}

void TestDownloadJob::elevationArchives_data()
{
    QTest::addColumn<GeoArea>("view");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<QStringList>("cells"); // every archive asked for, in order
    QTest::addColumn<QStringList>("stored");

    // Truncation toward zero: west -96.4 -> -96, south 13.6 -> 13; where
    // regions meet, the first row of the table wins.
    QTest::newRow("three regions")
        << area(-96.4, 16.4, -93.6, 13.6) << 7
        << QStringList{QStringLiteral("Islandes/N13W096"), QStringLiteral("South_America/N13W095"),
                       QStringLiteral("South_America/N13W094"), QStringLiteral("South_America/N13W093"),
                       QStringLiteral("Islandes/N14W096"), QStringLiteral("South_America/N14W095"),
                       QStringLiteral("South_America/N14W094"), QStringLiteral("South_America/N14W093"),
                       QStringLiteral("North_America/N15W096"), QStringLiteral("North_America/N15W095"),
                       QStringLiteral("North_America/N15W094"), QStringLiteral("North_America/N15W093"),
                       QStringLiteral("North_America/N16W096"), QStringLiteral("North_America/N16W095"),
                       QStringLiteral("North_America/N16W094"), QStringLiteral("North_America/N16W093")}
        << QStringList{QStringLiteral("Islandes/N14W096"), QStringLiteral("North_America/N15W096"),
                       QStringLiteral("North_America/N16W093"), QStringLiteral("South_America/N13W094"),
                       QStringLiteral("South_America/N14W095")};
    QTest::newRow("around 0/0")
        << area(-1.9, 0.9, 0.9, -1.9) << 7
        << QStringList{QStringLiteral("Africa/S01W001"), QStringLiteral("Africa/S01E000"),
                       QStringLiteral("Africa/N00W001"), QStringLiteral("Africa/N00E000")}
        << QStringList{QStringLiteral("Africa/N00E000"), QStringLiteral("Africa/N00W001"),
                       QStringLiteral("Africa/S01E000"), QStringLiteral("Africa/S01W001")};
}

void TestDownloadJob::elevationArchives()
{
    QFETCH(GeoArea, view);
    QFETCH(int, zoom);
    QFETCH(QStringList, cells);
    QFETCH(QStringList, stored);

    auto w = makeWindow(view, zoom);
    QVERIFY(w);
    chooseEntry(w.get(), 2);
    QStringList statuses;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&w, &statuses] {
        const QString text = form(w).progLab->text();
        if (statuses.isEmpty() || statuses.last() != text)
            statuses << text;
    });
    watch.start(1);
    QVERIFY(pressDownloadAndWait(w.get()));
    watch.stop();
    // A 404 of a cell over the sea says "no data here", apart from failures.
    QCOMPARE(form(w).progLab->text(), stored.size() == cells.size()
                                          ? Finished
                                          : QStringLiteral("Download finished: %1 tiles stored; %2 places have no elevation data")
                                                .arg(stored.size())
                                                .arg(cells.size() - stored.size()));
    // The archives have a folder of their own, named after their server.
    const QString dest = form(w).tilesFolder->text();

    QStringList requests;
    for (const QString &cell : cells)
        requests << QStringLiteral("GET /srtm/version2_1/SRTM3/%1.hgt.zip %2")
                        .arg(QString(cell).replace(QStringLiteral("Islandes/"), QStringLiteral("Islands/")), stored.contains(cell) ? QStringLiteral("200") : QStringLiteral("404"));
    QCOMPARE(jobRequests(), requests); // over HTTPS, with the job's agent

    QStringList files;
    for (const QString &cell : stored) {
        const QString name = cell + QStringLiteral(".hgt.zip");
        files << name;
        QCOMPARE(readFile(dest + name), readFile(m_root.filePath(QStringLiteral("srtm/version2_1/SRTM3/") + QString(name).replace(QStringLiteral("Islandes/"), QStringLiteral("Islands/")))));
    }
    QCOMPARE(filesBelow(dest), files); // no error page kept for the sea
    // The status line names the region of the archive in hand.
    const QStringList regionStatuses = statuses.filter(QStringLiteral("Download SRTM ("));
    QVERIFY2(!regionStatuses.isEmpty(), qPrintable(statuses.join(QLatin1Char('|'))));
    for (const QString &status : regionStatuses) {
        bool known = false;
        for (const QString &cell : cells)
            known = known || status == QStringLiteral("Download SRTM (%1):").arg(cell.section(QLatin1Char('/'), 0, 0));
        QVERIFY2(known, qPrintable(status));
    }
}

// Stop during a slow HTTPS transfer: the window answers at once, the transfer
// ends within a second and leaves nothing behind.
void TestDownloadJob::stopDuringArchiveTransfer()
{
    // A second server whose archives come in at 1 KiB/s.
    NginxFixture slow;
    QVERIFY2(slow.start(m_root.path(), QStringLiteral("location /srtm/ { limit_rate 1k; }")),
             qPrintable(slow.errorString()));
    // Reached through a relay, which tells when the transfer has begun.
    TcpRelay relay;
    QVERIFY(relay.start(slow.httpsPort()));
    qputenv("TILEWRIGHT_SRTM_URL", QStringLiteral("https://127.0.0.1:%1/srtm/version2_1/SRTM3").arg(relay.port()).toUtf8());
    qputenv("TILEWRIGHT_CA_BUNDLE", slow.caFile().toUtf8());
    AppConfig::reload();
    SourceAddress::TileSource srtm;
    srtm.sourceKind = 2;
    Run job(srtm);
    QVERIFY(writeFile(m_dest + QStringLiteral("Africa/S01W001.hgt.zip"), Old));

    QElapsedTimer stall;
    qint64 longest = 0;
    QTimer beat;
    connect(&beat, &QTimer::timeout, this, [&stall, &longest] {
        longest = qMax(longest, stall.restart());
    });
    stall.start();
    beat.start(1);
    const GeoArea view = area(-1.9, 0.9, 0.9, -1.9);
    job.start(view, 7, m_dest);
    // Under way: a transfer started and its connection reached the server.
    // Seen once is enough (the macro looks again, and may fall between two
    // archives).
    bool underWay = false;
    const auto transferUnderWay = [&] {
        if (!underWay)
            underWay = job.job.archiveInFlight() && relay.connections() > 0;
        return underWay;
    };
    QTRY_VERIFY_WITH_TIMEOUT(transferUnderWay(), 20000);
    QCOMPARE(job.texts.last(), QStringLiteral("Download SRTM (Africa):"));
    auto *archives = job.job.findChild<ArchiveTransfer *>();
    QVERIFY(archives);
    QSignalSpy transferEnded(archives, &ArchiveTransfer::finished);
    QElapsedTimer sinceStop;
    sinceStop.start();
    job.run.stop(); // what Stop does
    QVERIFY(!job.run.running() && !job.job.busy());
    const int texts = job.texts.size();
    // The stopped transfer ends (a transfer checks Stop at least once a
    // second) and reports it; the window lets it go.
    QTRY_VERIFY_WITH_TIMEOUT(transferEnded.count() >= 1, 20000);
    QVERIFY2(TestTiming::within(sinceStop.elapsed(), 5000), qPrintable(QString::number(sinceStop.elapsed())));
    QCOMPARE(transferEnded.at(0).at(1).value<FetchResult>().status, FetchResult::Status::Aborted);
    QVERIFY(deliverPostedEvents());
    beat.stop();
    qInfo("longest gap of the GUI thread during the HTTPS job: %lld ms", longest);
    // The transfer takes seconds; a window blocked by it would stall as long.
    // (The figure itself is the benchmark's business.)
    QVERIFY2(TestTiming::within(longest, 1000), qPrintable(QString::number(longest)));
    QCOMPARE(readFile(m_dest + QStringLiteral("Africa/S01W001.hgt.zip")), Old);
    QCOMPARE(filesBelow(m_dest), QStringList{QStringLiteral("Africa/S01W001.hgt.zip")});
    QCOMPARE(transferEnded.count(), 1);
    QVERIFY(slow.completeAccessLog().size() <= 1); // nothing was asked after Stop
    // The ended transfer does not go on, nor end the stopped job.
    QCOMPARE(job.texts.size(), texts);
    QVERIFY(job.ended.isEmpty());

    // A new job right after Stop runs normally.
    qputenv("TILEWRIGHT_SRTM_URL", (m_nginx.httpsUrl() + QStringLiteral("/srtm/version2_1/SRTM3")).toUtf8());
    qputenv("TILEWRIGHT_CA_BUNDLE", m_nginx.caFile().toUtf8());
    AppConfig::reload();
    QVERIFY(job.finish(view, 7, m_dest));
    QCOMPARE(job.ended, QStringList{Finished});
    QCOMPARE(filesBelow(m_dest).size(), 4);
}

void TestDownloadJob::webMapService_data()
{
    QTest::addColumn<bool>("theme");
    QTest::addColumn<QString>("format");
    QTest::newRow("listed Web Map Service") << false << QString();
    QTest::newRow("theme Web Map Service") << true << QStringLiteral("png");
    // Without a format the theme is asked for png from the first tile on.
    QTest::newRow("theme Web Map Service without format") << true << QString();
}

// Every tile of the job is compared with what the WMS answers to the same
// address: images are stored as they came, documents (capabilities, service
// exceptions) never are.
void TestDownloadJob::webMapService()
{
    QFETCH(bool, theme);
    QFETCH(QString, format);
    if (!m_mapProxy) {
        m_mapProxy = std::make_unique<MapProxyFixture>();
        QVERIFY2(m_mapProxy->start(), qPrintable(m_mapProxy->errorString()));
    }
    SourceAddress::TileSource source = listedServer(m_mapProxy->url());
    source.tileLayout = false;
    if (theme) {
        source.themeActive = true;
        source.themeHost = QStringLiteral("127.0.0.1");
        source.themePort = QString::number(m_mapProxy->port());
        source.themePath = QStringLiteral("/service");
        source.themeQuery = QStringLiteral("layers=esat");
        source.themeStorageMode = QStringLiteral("WebMapService");
        source.themeFormat = format;
    }
    Run job(source);
    const GeoArea view = area(10.0, 47.5, 10.2, 47.3);
    QVERIFY(job.finish(view, 12, m_dest, 120000));

    // A theme without format is asked for as png.
    if (theme)
        source.themeFormat = QStringLiteral("png");
    int images = 0, documents = 0;
    for (const TileId &t : tilesOf(view, 12, 12)) {
        const QString url = SourceAddress::downloadAddress(source, t).text;
        QVERIFY(url.contains(QLatin1String("esat")));
        QByteArray type;
        const QByteArray body = fetch(url, &type);
        const QString local = m_dest + QStringLiteral("%1/%2/%3.%4").arg(t.zoom).arg(t.x).arg(t.y).arg(QStringLiteral("png"));
        if (type.startsWith("image/")) {
            ++images;
            QCOMPARE(readFile(local), body);
        } else {
            ++documents;
            QVERIFY2(!QFile::exists(local), qPrintable(local + QLatin1Char(' ') + QString::fromLatin1(type)));
        }
    }
    qInfo("WMS tiles: %d images stored, %d documents refused", images, documents);
    QCOMPARE(job.ended, QStringList{Finished});
    QVERIFY(images > 0);
    QCOMPARE(documents, 0);
}

QTEST_MAIN(TestDownloadJob)
#include "tst_downloadjob.moc"
