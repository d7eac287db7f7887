// The copy worker on real tile trees: what lands in the destination, what is
// reported, Stop, a new job right after Stop, pacing and destruction mid-run.

#include "PostedEvents.h"
#include "TestTiming.h"
#include "acquire/CopyThread.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

using Tiles = QVector<TileId>;
using Report = QPair<int, int>;

QByteArray tileBytes(const TileId &t, const QByteArray &tag)
{
    // Sizes differ from tile to tile, so a mixed-up copy cannot pass unnoticed.
    QByteArray bytes = tag + QByteArray::number(t.zoom) + '/' + QByteArray::number(t.x) + '/'
                       + QByteArray::number(t.y) + '\n';
    return bytes.repeated(1 + (t.x * 7 + t.y * 3 + t.zoom) % 40);
}

QString tilePath(const QString &root, const TileId &t)
{
    return QStringLiteral("%1/%2/%3/%4.png").arg(root).arg(t.zoom).arg(t.x).arg(t.y);
}

bool writeTile(const QString &root, const TileId &t, const QByteArray &bytes)
{
    const QString path = tilePath(root, t);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readTile(const QString &root, const TileId &t)
{
    QFile file(tilePath(root, t));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Tiles levelTiles(int zoom, int xFrom, int xTo, int yFrom, int yTo)
{
    Tiles tiles;
    for (int x = xFrom; x <= xTo; ++x)
        for (int y = yFrom; y <= yTo; ++y)
            tiles.append(TileId{x, y, zoom});
    return tiles;
}

// Every file below root, relative; a leftover temporary file shows up here.
QStringList filesBelow(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(root).relativeFilePath(it.next()));
    files.sort();
    return files;
}

QList<Report> reportsOf(const QSignalSpy &spy, int from = 0)
{
    QList<Report> out;
    for (int i = from; i < spy.count(); ++i)
        out.append(Report(spy.at(i).at(0).toInt(), spy.at(i).at(1).toInt()));
    return out;
}

bool waitForEnd(QSignalSpy &spy, int from = 0, int timeoutMs = 20000)
{
    return QTest::qWaitFor([&] {
        const QList<Report> r = reportsOf(spy, from);
        return r.contains(Report(-1, -1));
    }, timeoutMs);
}

} // namespace

class TestCopyThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void copyJob_data();
    void copyJob();
    void emptyQueueStartsNothing();
    void stopFinishesTileInHand();
    void newJobRightAfterStop_data();
    void newJobRightAfterStop();
    void tilesStartOnePauseApart();
    void destructionDuringRun();
};

void TestCopyThread::initTestCase()
{
    qRegisterMetaType<TileId>();
}

enum Setup { Plain, SourceMissing, DestinationOld, TargetIsFolder, ZoomFolderIsFile, SameTree, SlashedSource };

void TestCopyThread::copyJob_data()
{
    QTest::addColumn<int>("setup");

    QTest::newRow("full tree") << int(Plain);
    QTest::newRow("missing source tiles leave old tiles") << int(SourceMissing);
    QTest::newRow("existing tiles replaced") << int(DestinationOld);
    QTest::newRow("destination name taken by a folder") << int(TargetIsFolder);
    QTest::newRow("zoom folder cannot be made") << int(ZoomFolderIsFile);
    QTest::newRow("source tree is the destination") << int(SameTree);
    QTest::newRow("source folder ends with a slash") << int(SlashedSource);
}

// One run over three levels, each row spoiling the trees in its own way; the
// destination is compared file by file and the reports tile by tile.
void TestCopyThread::copyJob()
{
    QFETCH(int, setup);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString src = dir.filePath(QStringLiteral("src"));
    QString dst = dir.filePath(QStringLiteral("dst"));

    Tiles job = levelTiles(3, 2, 4, 1, 3) + levelTiles(4, 5, 6, 3, 5) + levelTiles(5, 11, 11, 7, 9);
    for (const TileId &t : job)
        QVERIFY(writeTile(src, t, tileBytes(t, "new ")));

    Tiles absent;      // not in the source: destination keeps what it had
    Tiles blocked;     // cannot be written: nothing reported, nothing broken
    switch (setup) {
    case SourceMissing:
        absent = {job.at(0), job.at(4), job.at(10), job.last()};
        for (const TileId &t : absent) {
            QVERIFY(QFile::remove(tilePath(src, t)));
            QVERIFY(writeTile(dst, t, tileBytes(t, "old ")));
        }
        break;
    case DestinationOld:
        for (const TileId &t : job)
            QVERIFY(writeTile(dst, t, tileBytes(t, "old old old ")));
        break;
    case TargetIsFolder:
        blocked = {job.at(3)};
        QVERIFY(QDir().mkpath(tilePath(dst, job.at(3))));
        break;
    case ZoomFolderIsFile:
        blocked = levelTiles(5, 11, 11, 7, 9);
        {
            QVERIFY(QDir().mkpath(dst));
            QFile file(dst + QStringLiteral("/5"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        break;
    case SameTree:
        dst = src;
        break;
    default:
        break;
    }

    CopyThread worker;
    QSignalSpy spy(&worker, &CopyThread::sendUpdate);
    for (const TileId &t : job)
        worker.addTile(t.x, t.y, t.zoom);
    const QString source = setup == SlashedSource ? src + QLatin1Char('/') : src;
    QVERIFY(worker.startCopy(source, dst + QLatin1Char('/')));
    QVERIFY(waitForEnd(spy));
    QVERIFY(worker.wait(5000));

    QList<Report> expected;
    for (const TileId &t : job) {
        if (absent.contains(t) || blocked.contains(t))
            continue;
        expected.append(Report(t.zoom, t.y));
        QCOMPARE(readTile(dst, t), tileBytes(t, "new "));
    }
    expected.append(Report(-1, -1));
    QCOMPARE(reportsOf(spy), expected);
    for (const TileId &t : absent)
        QCOMPARE(readTile(dst, t), tileBytes(t, "old "));
    QCOMPARE(worker.queuedTiles(), 0);
    // Every tile not reported is counted, by why.
    QCOMPARE(worker.runFailures().missing, absent.size());
    QCOMPARE(worker.runFailures().unwritable, blocked.size());

    // Only finished tiles in the destination, no temporary leftovers.
    for (const QString &file : filesBelow(dst))
        QVERIFY2(file.endsWith(QLatin1String(".png")) || file == QLatin1String("5"), qPrintable(file));
    if (setup == Plain || setup == SlashedSource)
        QCOMPARE(filesBelow(dst), filesBelow(src));
}

void TestCopyThread::emptyQueueStartsNothing()
{
    QTemporaryDir dir;
    CopyThread worker;
    QSignalSpy spy(&worker, &CopyThread::sendUpdate);
    QVERIFY(!worker.startCopy(dir.path(), dir.path() + QLatin1Char('/')));
    QVERIFY(!worker.isRunning());
    QVERIFY(worker.wait(5000));
    QVERIFY(deliverPostedEvents());
    QCOMPARE(spy.count(), 0);

    worker.addTile(1, 1, 1);
    worker.clearQueue();
    QVERIFY(!worker.startCopy(dir.path(), dir.path() + QLatin1Char('/')));
    QCOMPARE(spy.count(), 0);
}

// Stop while copying: the tile in hand is finished, the end report follows and
// the rest stays queued.
void TestCopyThread::stopFinishesTileInHand()
{
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("src"));
    const QString dst = dir.filePath(QStringLiteral("dst/"));
    const Tiles job = levelTiles(8, 0, 9, 0, 19);
    for (const TileId &t : job)
        QVERIFY(writeTile(src, t, tileBytes(t, "new ")));

    CopyThread worker;
    QSignalSpy spy(&worker, &CopyThread::sendUpdate);
    for (const TileId &t : job)
        worker.addTile(t.x, t.y, t.zoom);
    QVERIFY(worker.startCopy(src, dst));
    QVERIFY(QTest::qWaitFor([&] { return spy.count() >= 5; }, 10000));
    worker.stopProcess();
    QVERIFY(worker.wait(5000));
    QVERIFY(waitForEnd(spy));

    const QList<Report> reports = reportsOf(spy);
    QCOMPARE(reports.last(), Report(-1, -1));
    QCOMPARE(reports.count(Report(-1, -1)), 1);
    const int copied = reports.size() - 1;
    QVERIFY(copied >= 5 && copied < job.size());
    QCOMPARE(worker.queuedTiles(), job.size() - copied);
    // Exactly the reported tiles are there, complete.
    QCOMPARE(filesBelow(dst).size(), copied);
    for (int i = 0; i < job.size(); ++i)
        QCOMPARE(readTile(dst, job.at(i)), i < copied ? tileBytes(job.at(i), "new ") : QByteArray());
}

void TestCopyThread::newJobRightAfterStop_data()
{
    QTest::addColumn<bool>("oldRunEnded");
    QTest::newRow("stopped run still in its tile") << false;
    QTest::newRow("stopped run ended, its end report not yet delivered") << true;
}

// Stop and a new job before the event loop runs again: the stopped run's last
// reports must not reach the new job, and the new job copies only its own tiles.
void TestCopyThread::newJobRightAfterStop()
{
    QFETCH(bool, oldRunEnded);
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("src"));
    const QString dst = dir.filePath(QStringLiteral("dst/"));
    const Tiles first = levelTiles(9, 0, 9, 0, 19);
    const Tiles second = levelTiles(10, 3, 4, 5, 7);
    for (const TileId &t : first + second)
        QVERIFY(writeTile(src, t, tileBytes(t, "new ")));

    CopyThread worker;
    QSignalSpy spy(&worker, &CopyThread::sendUpdate);
    for (const TileId &t : first)
        worker.addTile(t.x, t.y, t.zoom);
    QVERIFY(worker.startCopy(src, dst));
    QVERIFY(QTest::qWaitFor([&] { return spy.count() >= 3; }, 10000));

    worker.stopProcess();
    if (oldRunEnded)
        QVERIFY(worker.wait(5000));
    worker.clearQueue();
    for (const TileId &t : second)
        worker.addTile(t.x, t.y, t.zoom);
    const int before = spy.count();
    QVERIFY(worker.startCopy(src, dst));
    QVERIFY(waitForEnd(spy, before));
    QVERIFY(worker.wait(5000));
    QVERIFY(deliverPostedEvents()); // every report the worker posted is in

    QList<Report> expected;
    for (const TileId &t : second)
        expected.append(Report(t.zoom, t.y));
    expected.append(Report(-1, -1));
    QCOMPARE(reportsOf(spy, before), expected);

    // Of the first job only a front part is there: what was copied before the
    // stop, in order; the stopped run never went on with it.
    int firstCopied = 0;
    while (firstCopied < first.size() && QFileInfo::exists(tilePath(dst, first.at(firstCopied))))
        ++firstCopied;
    QVERIFY(firstCopied >= 3 && firstCopied < first.size());
    for (int i = firstCopied; i < first.size(); ++i)
        QVERIFY(!QFileInfo::exists(tilePath(dst, first.at(i))));
    for (const TileId &t : second)
        QCOMPARE(readTile(dst, t), tileBytes(t, "new "));
}

// A run over n tiles takes at least (n - 1) pauses, however fast the disk.
void TestCopyThread::tilesStartOnePauseApart()
{
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("src"));
    const Tiles job = levelTiles(6, 0, 0, 0, 24);
    for (const TileId &t : job)
        QVERIFY(writeTile(src, t, "x"));

    CopyThread worker;
    QSignalSpy spy(&worker, &CopyThread::sendUpdate);
    for (const TileId &t : job)
        worker.addTile(t.x, t.y, t.zoom);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(worker.startCopy(src, dir.filePath(QStringLiteral("dst/"))));
    QVERIFY(worker.wait(20000));
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= (job.size() - 1) * CopyThread::PauseMs,
             qPrintable(QString::number(elapsed)));
    QVERIFY(waitForEnd(spy));
    QCOMPARE(spy.count(), job.size() + 1);
}

// Deleting the worker mid-run stops it after the tile in hand; nothing is
// reported afterwards and no half-written tile is left behind.
void TestCopyThread::destructionDuringRun()
{
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("src"));
    const QString dst = dir.filePath(QStringLiteral("dst/"));
    const Tiles job = levelTiles(7, 0, 9, 0, 29);
    for (const TileId &t : job)
        QVERIFY(writeTile(src, t, tileBytes(t, "new ")));

    auto worker = std::make_unique<CopyThread>();
    QList<Report> received;
    QObject receiver;
    connect(worker.get(), &CopyThread::sendUpdate, &receiver,
            [&](int zoom, int tile) { received.append(Report(zoom, tile)); });
    for (const TileId &t : job)
        worker->addTile(t.x, t.y, t.zoom);
    QVERIFY(worker->startCopy(src, dst));
    QVERIFY(QTest::qWaitFor([&] { return received.size() >= 4; }, 10000));

    QElapsedTimer timer;
    timer.start();
    worker.reset();
    QVERIFY2(TestTiming::within(timer.elapsed(), 1000), qPrintable(QString::number(timer.elapsed())));
    const int atDeath = received.size();
    QVERIFY(deliverPostedEvents());
    QCOMPARE(received.size(), atDeath);

    const QStringList files = filesBelow(dst);
    QVERIFY(files.size() >= atDeath && files.size() < job.size());
    for (const TileId &t : job) {
        if (QFileInfo::exists(tilePath(dst, t)))
            QCOMPARE(readTile(dst, t), tileBytes(t, "new "));
    }
    for (const QString &file : files)
        QVERIFY2(file.endsWith(QLatin1String(".png")), qPrintable(file));
}

QTEST_GUILESS_MAIN(TestCopyThread)
#include "tst_copythread.moc"
