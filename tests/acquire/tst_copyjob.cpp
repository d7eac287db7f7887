// The copy job end to end: the real window (offscreen) in copy mode, copying
// the tiles of its map view out of a tile tree on disk into the destination.
// A local nginx serves the same tree to the map view, so nothing leaves the
// machine and the window shows real tiles.

#include "NginxFixture.h"
#include "PostedEvents.h"
#include "TestTiming.h"
#include "WindowForm.h"

#include "acquire/CopyThread.h"
#include "acquire/TileEnumerator.h"
#include "app/window/CvTilewright.h"
#include "mapview/widgets/CvMapWidget.h"
#include "settings/AppConfig.h"

#include <QDirIterator>
#include <QSettings>
#include <QtTest>

#include <climits>
#include <cmath>
#include <memory>

#include "TestFiles.h"

using namespace TestFiles;

namespace {

const QString Finished = QStringLiteral("Copy finished!");

// Levels 10 to 12 hold 6, 20 and 63 tiles of it.
const GeoArea Example = area(10.0, 47.5, 10.5, 47.0);

// What the window shows right after it handled one report of the worker.
struct Seen
{
    int zoom;
    int tile;
    QString status;
    int bar;
    bool idle;
};

} // namespace

class TestCopyJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void copyFillsDestination_data();
    void copyFillsDestination();
    void rangeInChunks();
    void stopEndsAfterTileInHand();
    void newJobRightAfterStop();
    void lowerZoomEndsAfterChunk();
    void lateReportAfterSwitchToDownload();
    void windowClosedDuringCopy_data();
    void windowClosedDuringCopy();

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
    CvTilewright::listLimit = TileEnumerator::ListLimit;
}

void TestCopyJob::cleanup()
{
    CvTilewright::listLimit = TileEnumerator::ListLimit;
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
    w->mapWidget->setFixedSize(size);
    if (!QTest::qWaitFor([&] { return w->mapWidget->size() == size && w->mapWidget->mapZoom() == fromZoom; }, 10000))
        return nullptr;
    // What the source dialog sets for a copy from a folder.
    w->downloadMode = false;
    w->sourceFolder = m_source.path();
    if (form(w).tilesFolder->text() != m_dest)
        return nullptr;
    form(w).progLab->setText(QStringLiteral("Copy:"));
    form(w).zoomTo->setValue(toZoom);
    if (form(w).zoomTo->value() != toZoom)
        return nullptr;
    return w;
}

// Notes what the window shows after each report; connected after the
// window's own slot, so it runs once slot_update is done.
void TestCopyJob::record(CvTilewright *w)
{
    connect(w->copyThread, &CopyThread::sendUpdate, this, [this, w](int zoom, int tile) {
        m_seen.append(Seen{zoom, tile, form(w).progLab->text(), form(w).progressBar->value(),
                           form(w).downloadButton->isEnabled()});
    });
}

bool TestCopyJob::waitForIdle(CvTilewright *w, int timeoutMs)
{
    return QTest::qWaitFor([w] { return form(w).downloadButton->isEnabled() && !w->copyThread->isRunning(); },
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
    const QVector<TileId> job = tilesOf(w->mapWidget->visibleArea(), 10, 12);
    QCOMPARE(job.size(), 89);

    // This row copies from a tree with holes of its own.
    QTemporaryDir holed;
    if (holeEvery) {
        for (int i = 0; i < job.size(); ++i) {
            if (i % holeEvery != 0)
                QVERIFY(writeFile(holed.filePath(tilePath(job.at(i))), readFile(m_source.filePath(tilePath(job.at(i))))));
        }
        w->sourceFolder = holed.path();
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
    QCOMPARE(m_seen.size(), copied + 1);
    for (int i = 0; i < copied; ++i) {
        QCOMPARE(m_seen.at(i).status, expectedStatus.at(i));
        QCOMPARE(m_seen.at(i).bar, i + 1);
        QVERIFY(!m_seen.at(i).idle);
    }
    // The bar is full exactly when every listed tile was copied.
    QCOMPARE(m_seen.at(copied - 1).bar == form(w).progressBar->maximum(), holeEvery == 0);
    // "Copy finished!" only when every tile was copied; otherwise the count.
    const QString end = copied == job.size()
        ? Finished
        : QStringLiteral("Copy finished: %1 of %2 tiles copied, %3 failed (no source tile)")
              .arg(copied).arg(job.size()).arg(job.size() - copied);
    QCOMPARE(m_seen.last().status, end);
    QVERIFY(m_seen.last().idle);

    QCOMPARE(form(w).progLab->text(), end);
    QCOMPARE(form(w).progressBar->value(), 0);
    QVERIFY(form(w).okButton->isEnabled() && form(w).urlButton->isEnabled() && form(w).browseButton->isEnabled());
    QVERIFY(!form(w).cancleButton->isEnabled());
    QVERIFY(w->tileList.empty());
    QCOMPARE(w->copyThread->queuedTiles(), 0);
    // Nothing else landed in the destination: no temporary files either.
    QStringList expectedFiles;
    for (int i = 0; i < job.size(); ++i) {
        if (!(holeEvery && i % holeEvery == 0) || (oldEvery && i % oldEvery == 0))
            expectedFiles << tilePath(job.at(i));
    }
    expectedFiles.sort();
    QCOMPARE(filesBelow(m_dest), expectedFiles);
}

// With a list limit of 5 every level is a chunk of its own: each chunk is
// enumerated and copied after the worker reported the end of the previous
// one, and "Copy finished!" comes once, at the real end.
void TestCopyJob::rangeInChunks()
{
    auto w = makeWindow(10, 12);
    QVERIFY(w);
    CvTilewright::listLimit = 5;
    const QVector<TileId> job = tilesOf(w->mapWidget->visibleArea(), 10, 12);

    record(w.get());
    QList<int> chunkSizes;
    connect(w.get(), &CvTilewright::nextCopy, this, [&w, &chunkSizes] {
        chunkSizes << form(w).progressBar->maximum();
    });
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QVERIFY(waitForIdle(w.get()));

    QCOMPARE(chunkSizes, (QList<int>{6, 20, 63}));
    QStringList expectedFiles;
    for (const TileId &t : job) {
        QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_source.filePath(tilePath(t))));
        expectedFiles << tilePath(t);
    }
    expectedFiles.sort();
    QCOMPARE(filesBelow(m_dest), expectedFiles);

    // Three end reports; only the last one ends the job.
    QList<int> ends;
    for (int i = 0; i < m_seen.size(); ++i) {
        if (m_seen.at(i).zoom < 0)
            ends << i;
    }
    QCOMPARE(ends, (QList<int>{6, 6 + 20 + 1, 6 + 20 + 63 + 2}));
    for (const Seen &s : m_seen) {
        QCOMPARE(s.idle, s.zoom < 0 && &s == &m_seen.last());
        QCOMPARE(s.status == Finished, &s == &m_seen.last());
    }
    QCOMPARE(w->restartZoom, 0);
    QCOMPARE(form(w).progressBar->value(), 0);
}

// Stop while copying a job that has chunks left: the window is idle at once,
// the worker finishes the tile in hand and reports the end, the window shows
// "Copy finished!", and no further chunk starts. Also the screenshot of the
// window while it copies.
void TestCopyJob::stopEndsAfterTileInHand()
{
    auto w = makeWindow(10, 13);
    QVERIFY(w);
    CvTilewright::listLimit = 5; // one chunk per level
    const QVector<TileId> job = tilesOf(w->mapWidget->visibleArea(), 10, 13);
    record(w.get());
    QSignalSpy starts(w.get(), &CvTilewright::nextCopy);
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([this] { return m_seen.size() >= 40; }, 20000));
    QCOMPARE(starts.count(), 3); // within level 12

    const QString shot = QDir::temp().filePath(QStringLiteral("tilewright-copy-running.png"));
    QVERIFY(w->grab().save(shot));
    qInfo("window during the copy: %s", qPrintable(shot));

    QTest::mouseClick(form(w).cancleButton, Qt::LeftButton);
    const int filesAtStop = filesBelow(m_dest).size();
    QVERIFY(form(w).downloadButton->isEnabled() && !form(w).cancleButton->isEnabled());
    QVERIFY(w->tileList.empty());
    QCOMPARE(w->restartZoom, 0);

    QTRY_COMPARE_WITH_TIMEOUT(form(w).progLab->text(), Finished, 10000);
    QVERIFY(w->copyThread->wait(5000));
    QVERIFY(deliverPostedEvents()); // the worker's last reports are handled
    QCOMPARE(starts.count(), 3);
    QCOMPARE(form(w).progressBar->value(), 0);

    // The tiles copied are the front of the job, each reported; one end report
    // per chunk started. After the stop at most the tile in hand was finished.
    const int copied = copiedFront(job);
    QCOMPARE(filesBelow(m_dest).size(), copied);
    QCOMPARE(m_seen.last().zoom, -1);
    QCOMPARE(m_seen.size() - 3, copied);
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
    const QVector<TileId> job = tilesOf(w->mapWidget->visibleArea(), 10, 12);
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
    // in order, then one end report.
    QCOMPARE(m_seen.size() - before, job.size() + 1);
    for (int i = 0; i < job.size(); ++i) {
        const Seen &s = m_seen.at(before + i);
        QCOMPARE(s.zoom, job.at(i).zoom);
        QCOMPARE(s.tile, job.at(i).y);
        QCOMPARE(s.bar, i + 1);
        QVERIFY(!s.idle);
    }
    QVERIFY(m_seen.last().idle);
    for (const TileId &t : job)
        QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_source.filePath(tilePath(t))));
}

// The user lowers the download zoom while the first chunk is copied: the job
// ends after that chunk, once, with "Copy finished!".
void TestCopyJob::lowerZoomEndsAfterChunk()
{
    auto w = makeWindow(10, 12);
    QVERIFY(w);
    CvTilewright::listLimit = 5; // level 10 first, alone
    const QVector<TileId> first = tilesOf(w->mapWidget->visibleArea(), 10, 10);
    record(w.get());
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QCOMPARE(w->restartZoom, 11);
    form(w).zoomTo->setValue(10);
    QVERIFY(waitForIdle(w.get()));

    QCOMPARE(form(w).progLab->text(), Finished);
    QCOMPARE(m_seen.size(), first.size() + 1);
    QCOMPARE(filesBelow(m_dest).size(), first.size());
    QCOMPARE(copiedFront(first), first.size());
    QCOMPARE(w->restartZoom, 0);
}

// A copy is stopped and a download job is under way before the stopped run's
// end report arrives: that report must not end the download.
void TestCopyJob::lateReportAfterSwitchToDownload()
{
    auto w = makeWindow(10, 12);
    QVERIFY(w);
    record(w.get());
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([this] { return m_seen.size() >= 3; }, 20000));

    form(w).cancleButton->click();
    // As a download job that has just started leaves the window.
    w->downloadMode = true;
    form(w).progLab->setText(QStringLiteral("Download Level 10/Tile 1.png :"));
    w->setJobRunning(true);
    QVERIFY(w->copyThread->wait(5000));
    QVERIFY(deliverPostedEvents());

    QCOMPARE(m_seen.last().zoom, -1); // the end report did arrive
    QCOMPARE(form(w).progLab->text(), QStringLiteral("Download Level 10/Tile 1.png :"));
    QVERIFY(!form(w).downloadButton->isEnabled() && form(w).cancleButton->isEnabled());
    w->setJobRunning(false);
}

void TestCopyJob::windowClosedDuringCopy_data()
{
    QTest::addColumn<bool>("fromReport");
    QTest::newRow("closed from the event loop") << false;
    QTest::newRow("closed by a receiver of a report") << true;
}

// Closing the window mid-copy stops the worker after the tile in hand and
// waits for it: no tile is copied afterwards and none is half-written.
void TestCopyJob::windowClosedDuringCopy()
{
    QFETCH(bool, fromReport);
    auto w = makeWindow(10, 13);
    QVERIFY(w);
    const QVector<TileId> job = tilesOf(w->mapWidget->visibleArea(), 10, 13);
    record(w.get());
    QElapsedTimer timer;
    if (fromReport) {
        connect(w->copyThread, &CopyThread::sendUpdate, this, [this, &w, &timer] {
            if (m_seen.size() == 10) {
                timer.start();
                w.reset();
            }
        });
    }
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([this, &w] { return m_seen.size() >= 10 || !w; }, 20000));

    if (w) {
        timer.start();
        w.reset();
    }
    QVERIFY2(TestTiming::within(timer.elapsed(), 2000), qPrintable(QString::number(timer.elapsed())));
    const QStringList atClose = filesBelow(m_dest);
    const int seenAtClose = m_seen.size();
    QVERIFY(deliverPostedEvents());
    QCOMPARE(filesBelow(m_dest), atClose);
    QCOMPARE(m_seen.size(), seenAtClose);

    const int copied = copiedFront(job);
    QCOMPARE(atClose.size(), copied);
    QVERIFY(copied >= 10 && copied < job.size());
    for (int i = 0; i < copied; ++i)
        QCOMPARE(readFile(m_dest + tilePath(job.at(i))), readFile(m_source.filePath(tilePath(job.at(i)))));
}

QTEST_MAIN(TestCopyJob)
#include "tst_copyjob.moc"
