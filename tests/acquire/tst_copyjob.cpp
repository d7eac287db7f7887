// The copy job end to end: the real window (offscreen) in copy mode, copying
// the tiles of its map view out of a tile tree on disk into the destination,
// and the copy run driven as the window drives it. A local nginx serves the
// same tree to the map view, so nothing leaves the machine and the window
// shows real tiles.

#include "NginxFixture.h"
#include "PostedEvents.h"
#include "TestShots.h"
#include "TestTiming.h"
#include "WindowSteps.h"

#include "acquire/CopyThread.h"
#include "acquire/TileEnumerator.h"
#include "app/CopyRun.h"
#include "app/window/CvTilewright.h"
#include "app/JobChunks.h"
#include "settings/AppConfig.h"

#include <QDirIterator>
#include <QSettings>
#include <QtTest>

#include <climits>
#include <cmath>
#include <memory>

#include "TestFiles.h"

using namespace TestFiles;
using namespace WindowSteps;

namespace {

const QString Finished = QStringLiteral("Copy finished!");

// Levels 10 to 12 hold 6, 20 and 63 tiles of it.
const GeoArea Example = area(10.0, 47.5, 10.5, 47.0);

// What the status line and the bar show right after a report was handled:
// in the window, each time the bar moves; in a run, after each report of
// the worker (zoom, tile; -1, -1 at the end of its run).
struct Seen
{
    int zoom;
    int tile;
    QString status;
    int bar;
    bool idle;
};

// A copy job driven as the window drives it, without the window. Stop is
// what the window's Stop does: the worker stops, no chunk is pending.
struct Copy
{
    JobChunks chunks;
    CopyThread worker;
    CopyRun run{chunks};
    int downloadZoom = 12;
    QList<int> chunkSizes;
    QList<Seen> seen;
    QString status;
    int bar = 0;
    QStringList ended;

    Copy()
    {
        run.setDownloadZoom([this] { return downloadZoom; });
        QObject::connect(&worker, &CopyThread::sendUpdate, &run, [this](int zoom, int tile) {
            run.workerReport(zoom, tile);
            seen.append(Seen{zoom, tile, status, bar, !ended.isEmpty()});
        });
        QObject::connect(&run, &CopyRun::barRange, [this](int, int maximum) {
            chunkSizes << maximum;
            bar = 0;
        });
        QObject::connect(&run, &CopyRun::chunkDue, &run, &CopyRun::copyChunk);
        QObject::connect(&run, &CopyRun::tileText, [this](const QString &text) { status = text; });
        QObject::connect(&run, &CopyRun::barValue, [this](int copied) { bar = copied; });
        QObject::connect(&run, &CopyRun::ended, [this](const QString &text) {
            status = text;
            ended << text;
        });
    }
    void start(const GeoArea &area, int fromZoom, const QString &source, const QString &dest, int listLimit)
    {
        run.start(&worker, CopyRun::Job{area, fromZoom, 0, source, dest, listLimit});
    }
    void stop()
    {
        worker.stopProcess();
        chunks.clear();
    }
    bool waitForEnd(int timeoutMs = 60000)
    {
        return QTest::qWaitFor([this] { return !ended.isEmpty() && !worker.isRunning(); }, timeoutMs);
    }
};

} // namespace

class TestCopyJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void copyFillsDestination_data();
    void copyFillsDestination();
    void rangeInChunks();
    void stopEndsAfterTileInHand();
    void newJobRightAfterStop();
    void lowerZoomEndsAfterChunk();
    void lateReportAfterSwitchToDownload();
    void windowClosedDuringCopy();
    void workerDeletedByAReceiverOfItsReport();

private:
    std::unique_ptr<CvTilewright> makeWindow(int fromZoom, int toZoom);
    void record(CvTilewright *w);
    bool waitForIdle(CvTilewright *w, int timeoutMs = 60000);
    int copiedFront(const QVector<TileId> &job) const;

    NginxFixture m_nginx;
    QTemporaryDir m_source; // the tree copied from, also served to the map view
    QTemporaryDir m_work;
    QString m_dest;
    QList<Seen> m_seen;
};

void TestCopyJob::initTestCase()
{
    QVERIFY(m_source.isValid() && m_work.isValid());
    const QString root = m_source.path();
    QFile::setPermissions(root, QFile::permissions(root) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    for (const TileId &t : tilesOf(Example, 10, 13))
        QVERIFY(writeFile(root + QLatin1Char('/') + tilePath(t), NginxFixture::tilePng(t.x, t.y, t.zoom)));
    QVERIFY2(m_nginx.start(root), qPrintable(m_nginx.errorString()));

    qputenv("TILEWRIGHT_OSM_TILE_URL", m_nginx.httpUrl().toUtf8());
    qputenv("TILEWRIGHT_SEAMARK_TILE_URL", m_nginx.httpUrl().toUtf8());
    qputenv("TILEWRIGHT_ROOT_D", m_work.filePath(QStringLiteral("D")).toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", m_work.filePath(QStringLiteral("C")).toUtf8());
    AppConfig::reload();
}

void TestCopyJob::init()
{
    // Each test has a drive C: of its own; a window starts with its temp/
    // folder as the destination when no map data folder is there.
    static int run = 0;
    const QString driveC = m_work.filePath(QStringLiteral("run%1").arg(++run));
    qputenv("TILEWRIGHT_ROOT_C", driveC.toUtf8());
    AppConfig::reload();
    m_dest = driveC + QStringLiteral("/temp/");
    QVERIFY(QDir().mkpath(m_dest));
    m_seen.clear();
}

// A window in copy mode whose map shows the example area at fromZoom.
std::unique_ptr<CvTilewright> TestCopyJob::makeWindow(int fromZoom, int toZoom)
{
    storeMapView(Example, fromZoom);
    auto w = std::make_unique<CvTilewright>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    const QSize size = mapSize(Example, fromZoom);
    CvMapWidget *map = mapOf(w.get());
    map->setFixedSize(size);
    if (!QTest::qWaitFor([&] { return map->size() == size && map->mapZoom() == fromZoom; }, 10000))
        return nullptr;
    chooseCopySource(w.get(), m_source.path());
    if (form(w).tilesFolder->text() != m_dest || form(w).progLab->text() != QLatin1String("Copy:"))
        return nullptr;
    form(w).zoomTo->setValue(toZoom);
    if (form(w).zoomTo->value() != toZoom)
        return nullptr;
    return w;
}

// Notes what the window shows each time the bar moves: one step per copied
// tile over the whole job; it stays where the job ended.
void TestCopyJob::record(CvTilewright *w)
{
    connect(form(w).progressBar, &QProgressBar::valueChanged, this, [this, w](int value) {
        m_seen.append(Seen{0, 0, form(w).progLab->text(), value, form(w).downloadButton->isEnabled()});
    });
}

bool TestCopyJob::waitForIdle(CvTilewright *w, int timeoutMs)
{
    // The window is idle once the end text is shown.
    return QTest::qWaitFor([w] { return form(w).downloadButton->isEnabled() && form(w).progLab->text().startsWith(QLatin1String("Copy finished")); },
                           timeoutMs);
}

// How many tiles of the job, from its front, are in the destination.
int TestCopyJob::copiedFront(const QVector<TileId> &job) const
{
    int n = 0;
    while (n < job.size() && QFileInfo::exists(m_dest + tilePath(job.at(n))))
        ++n;
    return n;
}

void TestCopyJob::copyFillsDestination_data()
{
    QTest::addColumn<int>("oldEvery");   // destination tiles there before: every n-th, 0 = none
    QTest::addColumn<int>("holeEvery");  // source tiles missing: every n-th, 0 = none

    QTest::newRow("empty destination, full source") << 0 << 0;
    QTest::newRow("existing tiles replaced") << 1 << 0;
    QTest::newRow("missing source tiles keep old tiles") << 3 << 4;
}

// Levels 10 to 12 in one chunk: every listed tile that the source has ends up
// in the destination, byte for byte; the others keep what they had. The status
// line names each tile, the bar counts the copied ones (short when tiles are
// missing), and the job ends idle with "Copy finished!".
void TestCopyJob::copyFillsDestination()
{
    QFETCH(int, oldEvery);
    QFETCH(int, holeEvery);
    auto w = makeWindow(10, 12);
    QVERIFY(w);
    const QVector<TileId> job = tilesOf(mapOf(w.get())->visibleArea(), 10, 12);
    QCOMPARE(job.size(), 89);

    // This row copies from a tree with holes of its own.
    QTemporaryDir holed;
    if (holeEvery) {
        for (int i = 0; i < job.size(); ++i) {
            if (i % holeEvery != 0)
                QVERIFY(writeFile(holed.filePath(tilePath(job.at(i))), readFile(m_source.filePath(tilePath(job.at(i))))));
        }
        chooseCopySource(w.get(), holed.path());
    }
    const QByteArray old("old tile");
    for (int i = 0; oldEvery && i < job.size(); i += oldEvery)
        QVERIFY(writeFile(m_dest + tilePath(job.at(i)), old));

    record(w.get());
    QSignalSpy starts(w.get(), &CvTilewright::nextCopy);
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QVERIFY(!form(w).downloadButton->isEnabled() && !form(w).okButton->isEnabled()
            && !form(w).urlButton->isEnabled() && !form(w).browseButton->isEnabled());
    QVERIFY(form(w).cancleButton->isEnabled());
    QCOMPARE(form(w).progressBar->maximum(), job.size());
    QVERIFY(waitForIdle(w.get()));
    QCOMPARE(starts.count(), 1);

    QList<QString> expectedStatus;
    int copied = 0;
    for (int i = 0; i < job.size(); ++i) {
        const TileId &t = job.at(i);
        const bool missing = holeEvery && i % holeEvery == 0;
        if (missing) {
            QCOMPARE(readFile(m_dest + tilePath(t)), oldEvery && i % oldEvery == 0 ? old : QByteArray());
            continue;
        }
        QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_source.filePath(tilePath(t))));
        expectedStatus << QStringLiteral("Copy Level %1/Tile %2:").arg(t.zoom).arg(t.y);
        ++copied;
    }
    QCOMPARE(m_seen.size(), copied);
    for (int i = 0; i < copied; ++i) {
        QCOMPARE(m_seen.at(i).status, expectedStatus.at(i));
        QCOMPARE(m_seen.at(i).bar, i + 1);
        QVERIFY(!m_seen.at(i).idle);
    }
    QCOMPARE(form(w).progressBar->value(), copied); // the bar stays where the copy ended
    // The bar is full exactly when every listed tile was copied.
    QCOMPARE(m_seen.at(copied - 1).bar == form(w).progressBar->maximum(), holeEvery == 0);
    // "Copy finished!" only when every tile was copied; otherwise the count.
    const QString end = copied == job.size()
        ? Finished
        : QStringLiteral("Copy finished: %1 of %2 tiles copied, %3 failed (no source tile)")
              .arg(copied).arg(job.size()).arg(job.size() - copied);

    QCOMPARE(form(w).progLab->text(), end);
    QVERIFY(form(w).okButton->isEnabled() && form(w).urlButton->isEnabled() && form(w).browseButton->isEnabled());
    QVERIFY(!form(w).cancleButton->isEnabled());
    // Nothing else landed in the destination: no temporary files either.
    QStringList expectedFiles;
    for (int i = 0; i < job.size(); ++i) {
        if (!(holeEvery && i % holeEvery == 0) || (oldEvery && i % oldEvery == 0))
            expectedFiles << tilePath(job.at(i));
    }
    expectedFiles.sort();
    QCOMPARE(filesBelow(m_dest), expectedFiles);
    // Beside them, the description GDAL opens the folder with.
    QVERIFY(QFile::exists(m_dest + QLatin1Char('/') + QFileInfo(QDir::cleanPath(m_dest)).fileName() + QStringLiteral(".xml")));
}

// With a list limit of 5 every level is a chunk of its own: each chunk is
// listed and copied after the worker reported the end of the previous one,
// and "Copy finished!" comes once, at the real end.
void TestCopyJob::rangeInChunks()
{
    Copy copy;
    const QVector<TileId> job = tilesOf(Example, 10, 12);
    copy.start(Example, 10, m_source.path(), m_dest, 5);
    QVERIFY(copy.waitForEnd());

    QCOMPARE(copy.chunkSizes, (QList<int>{6, 20, 63}));
    QStringList expectedFiles;
    for (const TileId &t : job) {
        QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_source.filePath(tilePath(t))));
        expectedFiles << tilePath(t);
    }
    expectedFiles.sort();
    QCOMPARE(filesBelow(m_dest), expectedFiles);

    // Three end reports; only the last one ends the job.
    QList<int> ends;
    for (int i = 0; i < copy.seen.size(); ++i) {
        if (copy.seen.at(i).zoom < 0)
            ends << i;
    }
    QCOMPARE(ends, (QList<int>{6, 6 + 20 + 1, 6 + 20 + 63 + 2}));
    for (const Seen &s : copy.seen) {
        QCOMPARE(s.idle, s.zoom < 0 && &s == &copy.seen.last());
        QCOMPARE(s.status == Finished, &s == &copy.seen.last());
    }
    QCOMPARE(copy.ended, QStringList{Finished});
    QCOMPARE(copy.chunks.restartZoom(), 0);
    QVERIFY(copy.chunks.tiles().empty());
    QCOMPARE(copy.worker.queuedTiles(), 0);
}

// Stop while copying: the window is idle at once, the worker finishes the
// tile in hand and reports the end, the window shows "Copy finished!", and
// no chunk left starts. Also the screenshot of the window while it copies.
void TestCopyJob::stopEndsAfterTileInHand()
{
    {
        // The window: idle at once, and "Copy finished!" once the worker is done.
        auto w = makeWindow(10, 13);
        QVERIFY(w);
        record(w.get());
        QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([this] { return m_seen.size() >= 40; }, 20000));
        const QString shot = testShotPath(QStringLiteral("tilewright-copy-running.png"));
        QVERIFY(w->grab().save(shot));
        qInfo("window during the copy: %s", qPrintable(shot));
        QTest::mouseClick(form(w).cancleButton, Qt::LeftButton);
        QVERIFY(form(w).downloadButton->isEnabled() && !form(w).cancleButton->isEnabled());
        QVERIFY(waitForIdle(w.get(), 10000));
        QCOMPARE(form(w).progLab->text(), Finished);
        QVERIFY(form(w).progressBar->value() > 0); // where the copy stopped
        QVERIFY(QDir(m_dest).removeRecursively() && QDir().mkpath(m_dest));
    }
    // The run, with chunks left at Stop: none of them starts.
    Copy copy;
    const QVector<TileId> job = tilesOf(Example, 10, 13);
    copy.downloadZoom = 13;
    copy.start(Example, 10, m_source.path(), m_dest, 5); // one chunk per level
    QVERIFY(QTest::qWaitFor([&copy] { return copy.seen.size() >= 40; }, 20000));
    QCOMPARE(copy.chunkSizes.size(), 3); // within level 12
    copy.stop();
    const int filesAtStop = filesBelow(m_dest).size();
    QVERIFY(copy.chunks.tiles().empty());
    QCOMPARE(copy.chunks.restartZoom(), 0);
    QVERIFY(copy.waitForEnd(10000));
    QVERIFY(deliverPostedEvents()); // the worker's last reports are handled
    QCOMPARE(copy.ended, QStringList{Finished});
    QCOMPARE(copy.chunkSizes.size(), 3);

    // The tiles copied are the front of the job, each reported; one end report
    // per chunk started. After the stop at most the tile in hand was finished.
    const int copied = copiedFront(job);
    QCOMPARE(filesBelow(m_dest).size(), copied);
    QCOMPARE(copy.seen.last().zoom, -1);
    QCOMPARE(copy.seen.size() - 3, copied);
    QVERIFY2(copied >= filesAtStop && copied <= filesAtStop + 1,
             qPrintable(QStringLiteral("%1 copied, %2 at Stop").arg(copied).arg(filesAtStop)));
    for (int i = 0; i < copied; ++i)
        QCOMPARE(readFile(m_dest + tilePath(job.at(i))), readFile(m_source.filePath(tilePath(job.at(i)))));
}

// Stop and Download in the same turn of the event loop: the stopped run's last
// reports must not end or advance the new job, which copies the whole range.
void TestCopyJob::newJobRightAfterStop()
{
    auto w = makeWindow(10, 12);
    QVERIFY(w);
    const QVector<TileId> job = tilesOf(mapOf(w.get())->visibleArea(), 10, 12);
    record(w.get());
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([this] { return m_seen.size() >= 10; }, 20000));

    form(w).cancleButton->click();
    form(w).downloadButton->click();
    const int before = m_seen.size();
    QVERIFY(!form(w).downloadButton->isEnabled());
    QVERIFY(waitForIdle(w.get()));
    QCOMPARE(form(w).progLab->text(), Finished);

    // Everything after the second start belongs to the new job: all its tiles
    // in order; the bar stays at its end.
    QCOMPARE(m_seen.size() - before, job.size());
    for (int i = 0; i < job.size(); ++i) {
        const Seen &s = m_seen.at(before + i);
        QCOMPARE(s.status, QStringLiteral("Copy Level %1/Tile %2:").arg(job.at(i).zoom).arg(job.at(i).y));
        QCOMPARE(s.bar, i + 1);
        QVERIFY(!s.idle);
    }
    QCOMPARE(m_seen.last().bar, form(w).progressBar->maximum());
    for (const TileId &t : job)
        QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_source.filePath(tilePath(t))));
}

// The user lowers the download zoom while the first chunk is copied: the job
// ends after that chunk, once, with "Copy finished!".
void TestCopyJob::lowerZoomEndsAfterChunk()
{
    Copy copy;
    const QVector<TileId> first = tilesOf(Example, 10, 10);
    copy.start(Example, 10, m_source.path(), m_dest, 5); // level 10 first, alone
    QCOMPARE(copy.chunks.restartZoom(), 11);
    copy.downloadZoom = 10;
    QVERIFY(copy.waitForEnd());

    QCOMPARE(copy.ended, QStringList{Finished});
    QCOMPARE(copy.seen.size(), first.size() + 1);
    QCOMPARE(filesBelow(m_dest).size(), first.size());
    QCOMPARE(copiedFront(first), first.size());
    QCOMPARE(copy.chunks.restartZoom(), 0);
}

// A copy is stopped and a download job starts: the stopped run's end report
// must not end the download.
void TestCopyJob::lateReportAfterSwitchToDownload()
{
    auto w = makeWindow(10, 12);
    QVERIFY(w);
    record(w.get());
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([this] { return m_seen.size() >= 3; }, 20000));

    form(w).cancleButton->click();
    // Straight to the standard source and Download: whenever the stopped
    // copy's end report arrives, the download runs to its own end.
    chooseEntry(w.get(), 0);
    form(w).zoomTo->setValue(10);
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form(w).downloadButton->isEnabled(), 30000);
    QVERIFY(deliverPostedEvents());
    QCOMPARE(form(w).progLab->text(), QStringLiteral("Download finished!"));
    QVERIFY(!form(w).cancleButton->isEnabled());
}

// Closing the window mid-copy stops the worker after the tile in hand and
// waits for it: no tile is copied afterwards and none is half-written.
void TestCopyJob::windowClosedDuringCopy()
{
    auto w = makeWindow(10, 13);
    QVERIFY(w);
    const QVector<TileId> job = tilesOf(mapOf(w.get())->visibleArea(), 10, 13);
    record(w.get());
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([this] { return m_seen.size() >= 10; }, 20000));
    QElapsedTimer timer;
    timer.start();
    w.reset();
    QVERIFY2(TestTiming::within(timer.elapsed(), 2000), qPrintable(QString::number(timer.elapsed())));
    const QStringList atClose = filesBelow(m_dest);
    QVERIFY(deliverPostedEvents());
    QCOMPARE(filesBelow(m_dest), atClose);

    const int copied = copiedFront(job);
    QCOMPARE(atClose.size(), copied);
    QVERIFY(copied >= 10 && copied < job.size());
    for (int i = 0; i < copied; ++i)
        QCOMPARE(readFile(m_dest + tilePath(job.at(i))), readFile(m_source.filePath(tilePath(job.at(i)))));
}

// The same when the worker goes from within a receiver of its own report (as
// when the window is closed from there).
void TestCopyJob::workerDeletedByAReceiverOfItsReport()
{
    auto copy = std::make_unique<Copy>();
    const QVector<TileId> job = tilesOf(Example, 10, 13);
    copy->downloadZoom = 13;
    QElapsedTimer timer;
    int seen = 0;
    connect(&copy->worker, &CopyThread::sendUpdate, this, [&copy, &timer, &seen] {
        if (++seen == 10) {
            timer.start();
            copy.reset();
        }
    });
    copy->start(Example, 10, m_source.path(), m_dest, TileEnumerator::ListLimit);
    QVERIFY(QTest::qWaitFor([&copy] { return !copy; }, 20000));
    QVERIFY2(TestTiming::within(timer.elapsed(), 2000), qPrintable(QString::number(timer.elapsed())));
    const QStringList atClose = filesBelow(m_dest);
    QVERIFY(deliverPostedEvents());
    QCOMPARE(filesBelow(m_dest), atClose);
    QCOMPARE(seen, 10);
    const int copied = copiedFront(job);
    QCOMPARE(atClose.size(), copied);
    QVERIFY(copied >= 10 && copied < job.size());
}

QTEST_MAIN(TestCopyJob)
#include "tst_copyjob.moc"
