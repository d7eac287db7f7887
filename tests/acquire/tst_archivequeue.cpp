// HTTPS tiles are handed to the transfer worker ahead of time, a few behind
// the one running, so that the worker never waits for this thread between two
// tiles. Still one request is on the wire at a time, every entry is reported
// in its order and counted once, and a job that stops takes none of the
// queued entries further.

#include "NginxFixture.h"
#include "TestFiles.h"

#include "acquire/ArchiveTransfer.h"
#include "acquire/DownloadJob.h"
#include "acquire/EntryPlan.h"
#include "settings/AppConfig.h"

#include <QtTest>

using TestFiles::filesBelow;
using TestFiles::readFile;
using TestFiles::writeFile;

namespace {

const QByteArray Old = QByteArrayLiteral("the tile that was there before");

QByteArray tile(int x, int y)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((x * 16 + y) * 7 % 360, 200, 200));
    return NginxFixture::pngBytes(image);
}

// The tiles of zoom 4, columns 0..2, the way the window lists them.
std::vector<TileId> columns()
{
    std::vector<TileId> tiles;
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 16; ++y)
            tiles.push_back(TileId{x, y, 4});
    return tiles;
}

// The first tile of column 1 is missing, so the folder made for it is empty
// when it fails, while the tiles queued behind it go into that folder.
bool missing(const TileId &t) { return (t.x == 1 && t.y == 0) || (t.x == 2 && t.y == 7); }

} // namespace

class TestArchiveQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void tilesAreTakenAheadInOrder();
    void aJobThatMustStopTakesNoMore();

private:
    SourceAddress::TileSource source(const QString &folder) const;
    // Feeds the entries the way the window does: whatever the job takes now,
    // the rest after each entry's end. Returns the entries started.
    int run(DownloadJob &job, const std::vector<TileId> &tiles, const QString &folder, int *mostAhead);

    NginxFixture m_nginx;
    QTemporaryDir m_root;
    QTemporaryDir m_dest;
};

void TestArchiveQueue::initTestCase()
{
    QVERIFY(m_root.isValid() && m_dest.isValid());
    const QString root = m_root.path();
    QFile::setPermissions(root, QFile::permissions(root) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    for (const TileId &t : columns()) {
        if (!missing(t))
            QVERIFY(writeFile(root + QStringLiteral("/t/4/%1/%2.png").arg(t.x).arg(t.y), tile(t.x, t.y)));
    }
    QVERIFY2(m_nginx.start(root, QStringLiteral("location /deny/ { return 403 \"blocked\\n\"; }\n")),
             qPrintable(m_nginx.errorString()));
    qputenv("TILEWRIGHT_CA_BUNDLE", m_nginx.caFile().toUtf8());
    AppConfig::reload();
}

void TestArchiveQueue::init()
{
    QDir(m_dest.path()).removeRecursively();
    QDir().mkpath(m_dest.path());
}

SourceAddress::TileSource TestArchiveQueue::source(const QString &folder) const
{
    SourceAddress::TileSource s;
    s.sourceKind = SourceKind::FirstListedServer;
    s.sourceFolder = m_nginx.httpsUrl() + folder;
    return s;
}

int TestArchiveQueue::run(DownloadJob &job, const std::vector<TileId> &tiles, const QString &folder, int *mostAhead)
{
    const QString dest = m_dest.path() + QLatin1Char('/');
    size_t next = 0;
    int started = 0;
    int ended = 0;
    const auto feed = [&] {
        while (next < tiles.size() && !job.mustStop()) {
            const EntryPlan plan = EntryPlan::plan(source(folder), dest, tiles[next]);
            if (!job.canStart(plan))
                return;
            ++next;
            if (job.start(plan)) {
                ++started;
                *mostAhead = qMax(*mostAhead, started - ended);
            }
        }
    };
    const QMetaObject::Connection ends = QObject::connect(&job, &DownloadJob::archiveFinished, &job, [&] {
        ++ended;
        feed();
    });
    feed();
    QElapsedTimer clock;
    clock.start();
    while ((job.busy() || (next < tiles.size() && !job.mustStop())) && clock.elapsed() < 60000)
        QTest::qWait(5);
    QObject::disconnect(ends); // its captures end here
    return started;
}

void TestArchiveQueue::tilesAreTakenAheadInOrder()
{
    const std::vector<TileId> tiles = columns();
    for (const TileId &t : tiles) {
        if (missing(t))
            QVERIFY(writeFile(m_dest.path() + QStringLiteral("/4/%1/%2.png").arg(t.x).arg(t.y), Old));
    }
    QDir(m_dest.path() + QStringLiteral("/4/1")).removeRecursively(); // made by the job

    DownloadJob job;
    job.begin(ProxySettings(), m_dest.path() + QLatin1Char('/'));
    // While HTTPS tiles are queued, nothing that travels another way or
    // waits first is taken.
    const QString dest = m_dest.path() + QLatin1Char('/');
    EntryPlan first = EntryPlan::plan(source(QStringLiteral("/probe/")), dest, tiles[0]);
    QVERIFY(job.start(first));
    SourceAddress::TileSource plain = source(QStringLiteral("/t/"));
    plain.sourceFolder = m_nginx.httpUrl() + QStringLiteral("/t/");
    QVERIFY(!job.canStart(EntryPlan::plan(plain, dest, tiles[1])));
    EntryPlan paused = EntryPlan::plan(source(QStringLiteral("/t/")), dest, tiles[1]);
    paused.pauseFirst = true;
    QVERIFY(!job.canStart(paused));
    QVERIFY(job.canStart(EntryPlan::plan(source(QStringLiteral("/t/")), dest, tiles[1])));
    job.abort();

    job.begin(ProxySettings(), dest);
    int mostAhead = 0;
    const int started = run(job, tiles, QStringLiteral("/t/"), &mostAhead);
    QCOMPARE(started, int(tiles.size()));
    QVERIFY2(mostAhead > 1 && mostAhead <= DownloadJob::ArchivesAhead, qPrintable(QString::number(mostAhead)));
    const JobOutcome outcome = job.finish();
    QCOMPARE(outcome.stored(), 46);
    QCOMPARE(outcome.failed(), 2);
    QCOMPARE(outcome.mostFrequentFailure(), qMakePair(JobOutcome::Reason::HttpStatus, 404));

    for (const TileId &t : tiles) {
        const QByteArray stored = readFile(dest + QStringLiteral("4/%1/%2.png").arg(t.x).arg(t.y));
        QVERIFY2(stored == (missing(t) ? (t.x == 1 ? QByteArray() : Old) : tile(t.x, t.y)),
                 qPrintable(QStringLiteral("%1/%2").arg(t.x).arg(t.y)));
    }
    // Every tile was asked for once, in the list's order, over one connection:
    // one request at a time.
    const QStringList log = m_nginx.completeAccessLog();
    QStringList asked;
    for (const QString &line : m_nginx.connectionLog()) {
        if (line.contains(QLatin1String("/t/4/")))
            asked << line;
    }
    QCOMPARE(asked.size(), int(tiles.size()));
    for (int i = 0; i < int(tiles.size()); ++i)
        QVERIFY2(asked.at(i).contains(QStringLiteral("/t/4/%1/%2.png").arg(tiles[i].x).arg(tiles[i].y)), qPrintable(asked.at(i)));
    QCOMPARE(NginxFixture::connectionsUsed(asked), 1);
}

// Three refusals in a row stop the job; the entries queued behind the third
// are dropped: neither counted nor stored.
void TestArchiveQueue::aJobThatMustStopTakesNoMore()
{
    DownloadJob job;
    const QString dest = m_dest.path() + QLatin1Char('/');
    job.begin(ProxySettings(), dest);
    int mostAhead = 0;
    const int started = run(job, columns(), QStringLiteral("/deny/"), &mostAhead);
    QVERIFY(job.mustStop());
    QVERIFY2(started >= 3 && started <= 3 + DownloadJob::ArchivesAhead - 1, qPrintable(QString::number(started)));
    const JobOutcome outcome = job.finish();
    QCOMPARE(outcome.failed(), 3);
    QCOMPARE(outcome.entries(), 3);
    QCOMPARE(job.stopReason().kind, DownloadJob::StopReason::Kind::Refused);
    QCOMPARE(job.stopReason().httpStatus, 403);
    QCOMPARE(job.stopReason().refusals, 3);
    // The dropped transfers end on the worker; none leaves a file.
    QTRY_COMPARE_WITH_TIMEOUT(filesBelow(dest), QStringList(), 10000);
}

QTEST_GUILESS_MAIN(TestArchiveQueue)
#include "tst_archivequeue.moc"
