// The download job's entry loop against a real tile server: which entries it
// hands to the job, when it lists the next chunk, and when and how it ends.

#include "NginxFixture.h"
#include "TestFiles.h"

#include "acquire/DownloadJob.h"
#include "app/JobTexts.h"
#include "app/DownloadRun.h"

#include <QtTest>

using namespace TestFiles;

namespace {

// Levels 10, 11 and 12 hold 6, 20 and 63 tiles; with a list limit of 5 each
// level is a chunk of its own.
const GeoArea Example = area(10.0, 47.5, 10.5, 47.0);
const GeoArea Small = area(10.0, 47.5, 10.1, 47.4);
const QString Finished = QStringLiteral("Download finished!");

QStringList getsOf(const QVector<TileId> &tiles, const QString &prefix = QString())
{
    QStringList gets;
    for (const TileId &t : tiles)
        gets << QStringLiteral("GET /") + prefix + tilePath(t) + QStringLiteral(" 200");
    return gets;
}

} // namespace

class TestDownloadRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void chunksRestartAndEnd_data();
    void chunksRestartAndEnd();
    void stopStartsNothingMore();
    void jobThatMustStopEndsWithItsText();
    void entriesWithoutAddressArePassedOver();

private:
    // The run reads the source, proxy and download zoom from the test.
    void wire(DownloadRun &run);
    DownloadRun::Job job(const GeoArea &area, int fromZoom, int listLimit = TileEnumerator::ListLimit) const;
    // The requests answered since the test began: "GET URI STATUS".
    QStringList requests() const;

    NginxFixture m_nginx;
    QTemporaryDir m_root;
    QTemporaryDir m_work;
    QString m_dest;
    int m_logStart = 0;

    SourceAddress::TileSource m_source;
    int m_downloadZoom = 12;
    QList<int> m_chunks; // maximum of each barRange
    int m_restarts = 0;
    QStringList m_ended;
};

void TestDownloadRun::initTestCase()
{
    QVERIFY(m_root.isValid() && m_work.isValid());
    const QString root = m_root.path();
    QFile::setPermissions(root, QFile::permissions(root) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    for (const TileId &t : tilesOf(Example, 10, 12))
        QVERIFY(writeFile(root + QLatin1Char('/') + tilePath(t), NginxFixture::tilePng(t.x, t.y, t.zoom)));
    // 6 KiB tiles take 3 s each from the slow location.
    for (const TileId &t : tilesOf(Small, 12, 12))
        QVERIFY(writeFile(root + QStringLiteral("/big/") + tilePath(t),
                          NginxFixture::tilePng(t.x, t.y, t.zoom).leftJustified(6144, '\0')));
    QVERIFY2(m_nginx.start(root), qPrintable(m_nginx.errorString()));
}

void TestDownloadRun::init()
{
    static int run = 0;
    m_dest = m_work.filePath(QStringLiteral("run%1/").arg(++run));
    QVERIFY(QDir().mkpath(m_dest));
    m_logStart = m_nginx.completeAccessLog().size();
    m_source = SourceAddress::TileSource();
    m_source.sourceKind = SourceKind::FirstListedServer;
    m_source.sourceFolder = m_nginx.httpUrl() + QLatin1Char('/');
    m_downloadZoom = 12;
    m_chunks.clear();
    m_restarts = 0;
    m_ended.clear();
}

void TestDownloadRun::wire(DownloadRun &run)
{
    run.setInputs(DownloadRun::Inputs{[this] { return m_source; }, [] { return ProxySettings(); },
                                      [this] { return m_downloadZoom; }});
    connect(&run, &DownloadRun::barRange, this, [this](int minimum, int maximum) {
        QCOMPARE(minimum, 1);
        m_chunks << maximum;
    });
    connect(&run, &DownloadRun::restarting, this, [this] { ++m_restarts; });
    connect(&run, &DownloadRun::ended, this, [this](const QString &text) { m_ended << text; });
}

DownloadRun::Job TestDownloadRun::job(const GeoArea &area, int fromZoom, int listLimit) const
{
    return DownloadRun::Job{area, fromZoom, m_source.sourceKind, m_dest, listLimit};
}

QStringList TestDownloadRun::requests() const
{
    QStringList lines;
    const QStringList log = m_nginx.completeAccessLog();
    for (int i = m_logStart; i < log.size(); ++i)
        lines << log.at(i).section(QLatin1Char(' '), 0, 2);
    return lines;
}

void TestDownloadRun::chunksRestartAndEnd_data()
{
    QTest::addColumn<int>("loweredTo"); // the download zoom once the first chunk is listed
    QTest::addColumn<QList<int>>("chunks");
    QTest::addColumn<int>("restarts");

    QTest::newRow("kept at 12") << 12 << QList<int>{6, 20, 63} << 2;
    QTest::newRow("lowered to 11") << 11 << QList<int>{6, 20} << 1; // 11 is the last level: nothing pending
    QTest::newRow("lowered to 10") << 10 << QList<int>{6} << 1;
}

// Each next chunk is listed once the one before is worked off, up to the
// download zoom as it is then; every listed tile is asked for once, in order.
void TestDownloadRun::chunksRestartAndEnd()
{
    QFETCH(int, loweredTo);
    QFETCH(QList<int>, chunks);
    QFETCH(int, restarts);

    DownloadJob downloadJob;
    DownloadRun run;
    wire(run);
    connect(&run, &DownloadRun::barRange, this, [this, loweredTo] { m_downloadZoom = loweredTo; });
    QStringList texts;
    connect(&run, &DownloadRun::entryText, this, [&texts](const QString &text) { texts << text; });

    run.start(&downloadJob, job(Example, 10, 5));
    QVERIFY(run.running());
    QCOMPARE(run.chunks().restartZoom(), 11);
    QTRY_COMPARE_WITH_TIMEOUT(m_ended.size(), 1, 60000);

    QCOMPARE(m_ended.first(), Finished);
    QVERIFY(!run.running());
    QCOMPARE(m_chunks, chunks);
    QCOMPARE(m_restarts, restarts);
    const QVector<TileId> fetched = tilesOf(Example, 10, 9 + chunks.size());
    QCOMPARE(run.entries(), qint64(fetched.size()));
    QCOMPARE(texts.size(), fetched.size());
    QCOMPARE(texts.last(), QStringLiteral("Download Level %1/Tile %2.png :").arg(fetched.last().zoom).arg(fetched.last().y));
    QCOMPARE(requests(), getsOf(fetched));
    QCOMPARE(downloadJob.outcome().stored(), fetched.size());
    QCOMPARE(run.chunks().restartZoom(), 0);
    QVERIFY(run.chunks().tiles().empty());
}

// Stop while a tile is on the wire: nothing more is started or listed, not
// even when a late report or a call to go on comes after it.
void TestDownloadRun::stopStartsNothingMore()
{
    m_source.sourceFolder = m_nginx.httpUrl() + QStringLiteral("/slow/big/");
    DownloadJob downloadJob;
    DownloadRun run;
    wire(run);
    qint64 received = 0;
    connect(&downloadJob, &DownloadJob::downloadProgress, this, [&received](qint64 bytes, qint64) { received = bytes; });

    m_downloadZoom = 13;
    run.start(&downloadJob, job(Small, 12, 1)); // level 12 alone, then level 13
    QCOMPARE(run.chunks().restartZoom(), 13);
    QTRY_VERIFY_WITH_TIMEOUT(received > 0, 20000);
    QCOMPARE(run.entries(), qint64(1));
    run.stop();
    QVERIFY(!run.running() && run.stopped());
    QVERIFY(!downloadJob.busy());
    QVERIFY(run.chunks().tiles().empty());
    QCOMPARE(run.chunks().restartZoom(), 0);

    run.entryEnded();
    run.archiveEnded(DownloadJob::ArchiveRequestId, false);
    run.goOn();
    QVERIFY(!downloadJob.busy());
    QCOMPARE(run.entries(), qint64(1));
    QVERIFY(m_ended.isEmpty());
    QCOMPARE(m_chunks.size(), 1);
    QCOMPARE(m_restarts, 0);
    // At most the stopped request reached the server (nginx logs it when it
    // notices the closed connection, possibly after the marker).
    const QStringList lines = requests();
    QVERIFY2(lines.size() <= 1, qPrintable(lines.join(QLatin1Char('\n'))));
}

// A destination that takes no file: the first entry is the job's to end,
// and the run ends with the job's text instead of going on to the entries
// and chunks left.
void TestDownloadRun::jobThatMustStopEndsWithItsText()
{
    QVERIFY(writeFile(m_dest + QStringLiteral("blocked"), "a file, not a folder"));
    const QString blocked = m_dest + QStringLiteral("blocked/");
    DownloadJob downloadJob;
    DownloadRun run;
    wire(run);
    run.start(&downloadJob, DownloadRun::Job{Example, 10, m_source.sourceKind, blocked, 5});
    QVERIFY(downloadJob.mustStop());
    QTRY_COMPARE_WITH_TIMEOUT(m_ended.size(), 1, 20000);
    QCOMPARE(downloadJob.stopReason().kind, DownloadJob::StopReason::Kind::Unwritable);
    QCOMPARE(m_ended.first(), QStringLiteral("Download failed: no tile could be written to %1").arg(blocked));
    QCOMPARE(run.entries(), qint64(1));
    QCOMPARE(m_chunks, QList<int>{6});
    QCOMPARE(m_restarts, 0);
    QVERIFY(!run.running() && !downloadJob.busy());
    QVERIFY(requests().isEmpty());
}

// Levels 1 to 7 of the world are 21,844 entries in one chunk, none with an
// address: each is counted by the job and passed over in the loop, and the
// run ends before start() returns, with no request sent. It runs on a thread
// with a small stack: passing the entries over by recursion would overflow
// it long before the last one.
void TestDownloadRun::entriesWithoutAddressArePassedOver()
{
    m_source.sourceFolder = QStringLiteral("http://no such host/");
    const DownloadRun::Job world = job(area(-180.0, 85.0, 179.99, -85.0), 1);
    struct Seen
    {
        QStringList ended;
        QList<int> chunks;
        int texts = 0;
        bool running = true;
        qint64 entries = 0;
        int noAddress = 0;
        QString endText;
    } seen;
    std::unique_ptr<QThread> thread(QThread::create([this, &world, &seen] {
        DownloadJob downloadJob;
        DownloadRun run;
        run.setInputs(DownloadRun::Inputs{[this] { return m_source; }, [] { return ProxySettings(); }, [] { return 7; }});
        // No context object: the reports arrive on this thread, at once.
        QObject::connect(&run, &DownloadRun::ended, [&seen](const QString &text) { seen.ended << text; });
        QObject::connect(&run, &DownloadRun::barRange, [&seen](int, int maximum) { seen.chunks << maximum; });
        QObject::connect(&run, &DownloadRun::entryText, [&seen] { ++seen.texts; });
        run.start(&downloadJob, world);
        seen.running = run.running();
        seen.entries = run.entries();
        seen.noAddress = downloadJob.outcome().skipped(JobOutcome::Reason::NoAddress);
        seen.endText = JobTexts::downloadEnd(downloadJob.outcome(), DownloadJob::StopReason(), world.destFolder);
    }));
    thread->setStackSize(512 * 1024);
    thread->start();
    QVERIFY(thread->wait(120000));

    const int entries = 4 + 16 + 64 + 256 + 1024 + 4096 + 16384;
    QCOMPARE(seen.ended, QStringList{seen.endText});
    QVERIFY(!seen.running);
    QCOMPARE(seen.entries, qint64(entries));
    QCOMPARE(seen.chunks, QList<int>{entries});
    QCOMPARE(seen.noAddress, entries);
    QCOMPARE(seen.texts, 0); // the status line names only entries that are asked for
    QVERIFY(requests().isEmpty());
}

QTEST_MAIN(TestDownloadRun) // the test tiles are drawn with a font
#include "tst_downloadrun.moc"
