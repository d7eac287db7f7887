// The download job against a server that misbehaves in every way it can, and
// against a disk that fills up. Every run starts from a destination holding
// old tiles; afterwards each tile is the old one or a complete new image,
// never a partial one, no temporary file is left, and the end text says what
// happened.

#include "HostileServer.h"
#include "NginxFixture.h"
#include "SmallTmpfs.h"

#include "TestFiles.h"

#include "acquire/DownloadJob.h"
#include "acquire/TileWriter.h"
#include "mapview/TileContent.h"

#include <QColor>
#include <QImage>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

Q_DECLARE_METATYPE(JobOutcome::Reason)

using Reason = JobOutcome::Reason;

using TestFiles::filesBelow;
using TestFiles::readFile;
using TestFiles::writeFile;

namespace {

const char ChildSwitch[] = "--job-under-file-size-limit";
constexpr int FileSizeLimit = 3000;

// A complete PNG of its own for each number (no painting: no GUI application).
QByteArray pngOf(int n)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(QColor::fromRgb(QRgb(0x102030u * uint(n + 1))));
    return NginxFixture::pngBytes(image);
}

bool completeImage(const QByteArray &bytes)
{
    return TileContent::check("image/png", bytes).ok() && !QImage::fromData(bytes).isNull();
}

QString tileName(int y)
{
    return QStringLiteral("12/1/%1.png").arg(y);
}

// The plan of tile (1, y, 12) asked for at base + "/12/1/y.png" + query.
EntryPlan planFor(const QString &base, const QString &dest, int y, const QString &query = QString())
{
    EntryPlan p;
    p.entry = TileId{1, y, 12};
    p.address.text = QStringLiteral("%1/12/1/%2.png%3").arg(base).arg(y).arg(query);
    p.address.url = QUrl(p.address.text);
    p.target.folder = dest + QStringLiteral("12/1/");
    p.target.fileName = QStringLiteral("%1.png").arg(y);
    p.transport = base.startsWith(QLatin1String("https")) ? EntryPlan::Transport::Https : EntryPlan::Transport::Http;
    return p;
}

// Works the plans off as the window does: one at a time, each started when
// the previous one has ended, until the job must stop.
bool runEntries(DownloadJob &job, const QVector<EntryPlan> &plans)
{
    QSignalSpy tiles(&job, &DownloadJob::tileFinished);
    QSignalSpy archives(&job, &DownloadJob::archiveFinished);
    for (const EntryPlan &plan : plans) {
        if (job.mustStop())
            break;
        const int before = tiles.count() + archives.count();
        if (!job.start(plan))
            continue;
        if (!QTest::qWaitFor([&] { return tiles.count() + archives.count() > before; }, 120000))
            return false;
    }
    return true;
}

DownloadJob::Limits shortLimits()
{
    DownloadJob::Limits limits;
    // Short, so the trickling and silent servers end within the test.
    limits.connectTimeoutSeconds = 2;
    limits.lowSpeedSeconds = 2;
    return limits;
}

} // namespace

class TestHostileJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void hostile_data();
    void hostile();
    void retryAfter_data();
    void retryAfter();
    void retryAfterWithTilesQueued();
    void stopWhileWaiting();
    void retryIntoANewFolder_data();
    void retryIntoANewFolder();
    void stopLeavesNoEmptyFolders_data();
    void stopLeavesNoEmptyFolders();
    void refusalStreak();
    void stopAtRandomMoments_data();
    void stopAtRandomMoments();
    void unwritableDestination();
    void conditionalRequests();
    void diskFullStopsTheJob_data();
    void diskFullStopsTheJob();
    void fullTmpfsStopsTheJob_data();
    void fullTmpfsStopsTheJob();

private:
    // Old tiles at y = 0 and 1 of column 1; y = 2 is new.
    void prefill(int count = 2);
    // Every file is an expected tile: old, or (where allowed) a complete image.
    void checkTiles(int tiles, bool emptyAllowed = false);

    HostileServer m_server;
    QTemporaryDir m_work;
    QString m_dest;
    QByteArray m_old;
};

void TestHostileJob::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    qputenv("TILEWRIGHT_CA_BUNDLE", m_server.caFile().toUtf8());
    m_old = NginxFixture::pngBytes(QImage(32, 32, QImage::Format_RGB32));
    QVERIFY(completeImage(m_old));
}

void TestHostileJob::init()
{
    static int run = 0;
    m_dest = m_work.filePath(QStringLiteral("dest%1/").arg(++run));
    QVERIFY(QDir().mkpath(m_dest));
}

void TestHostileJob::prefill(int count)
{
    for (int y = 0; y < count; ++y)
        QVERIFY(writeFile(m_dest + tileName(y), m_old));
}

void TestHostileJob::checkTiles(int tiles, bool emptyAllowed)
{
    QStringList names;
    for (int y = 0; y < tiles; ++y)
        names << tileName(y);
    for (const QString &file : filesBelow(m_dest)) {
        QVERIFY2(names.contains(file), qPrintable(QStringLiteral("left behind: ") + file));
        const QByteArray bytes = readFile(m_dest + file);
        QVERIFY2(bytes == m_old || completeImage(bytes) || (emptyAllowed && bytes.isEmpty()),
                 qPrintable(QStringLiteral("%1: %2 bytes, neither old nor complete").arg(file).arg(bytes.size())));
    }
}

// Both transports name the same reason for the same fault.
void TestHostileJob::hostile_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("stored");
    QTest::addColumn<Reason>("reason"); // of the failures

    const struct
    {
        const char *name;
        const char *fault;
        int stored;
        Reason reason;
    } rows[] = {
        {"complete tiles", "ok", 3, Reason::None},
        {"gzip, decoded", "gzip", 3, Reason::None},
        {"broken gzip", "gzipbad", 0, Reason::Incomplete},
        {"reset mid-body", "reset", 0, Reason::Incomplete},
        {"short body", "short", 0, Reason::Incomplete},
        {"cut chunked body", "chunkcut", 0, Reason::Incomplete},
        {"half PNG, matching length", "halfpng", 0, Reason::Incomplete},
        {"random bytes as image/png", "random", 0, Reason::NotATile},
        {"1 byte a second", "trickle", 0, Reason::TimedOut},
        {"never answers", "silent", 0, Reason::TimedOut},
        {"HTML with 200", "html", 0, Reason::NotATile},
        {"HTML labelled image/png", "htmlpng", 0, Reason::NotATile},
        {"WMS exception with 200", "xml", 0, Reason::NotATile},
        {"400 MB body, announced", "huge", 0, Reason::TooLarge},
        // Refused by its size while it arrives (a PNG that turns to zeros is
        // refused earlier, at its first broken chunk).
        {"40 MB body, no length", "hugenolength?size=41943040&raw=1", 0, Reason::TooLarge},
        {"40 MB broken PNG, no length", "hugenolength?size=41943040", 0, Reason::Incomplete},
        {"redirect loop", "loop", 0, Reason::Network},
        {"not found", "nosuchfault", 0, Reason::HttpStatus},
        // An empty answer keeps the old tiles and gives an empty file for the new one.
        {"empty 200", "empty", 1, Reason::None},
    };
    for (const QString &scheme : {QStringLiteral("http"), QStringLiteral("https")}) {
        for (const auto &row : rows)
            QTest::newRow(qPrintable(scheme + QStringLiteral(": ") + QLatin1String(row.name)))
                << scheme << QString::fromLatin1(row.fault) << row.stored << row.reason;
    }
}

void TestHostileJob::hostile()
{
    QFETCH(QString, scheme);
    QFETCH(QString, fault);
    QFETCH(int, stored);
    QFETCH(Reason, reason);

    prefill();
    const QString query = fault.contains(QLatin1Char('?')) ? QLatin1Char('?') + fault.section(QLatin1Char('?'), 1) : QString();
    const QString server = scheme == QLatin1String("https") ? m_server.httpsUrl() : m_server.httpUrl();
    const QString base = server + QLatin1Char('/') + fault.section(QLatin1Char('?'), 0, 0);
    DownloadJob job;
    job.setLimits(shortLimits());
    job.begin(ProxySettings(), m_dest);
    QVERIFY(!job.mustStop());
    QVector<EntryPlan> plans;
    for (int y = 0; y < 3; ++y)
        plans << planFor(base, m_dest, y, query);
    QVERIFY(runEntries(job, plans));
    const JobOutcome outcome = job.finish();
    QCOMPARE(outcome.entries(), 3);
    QCOMPARE(outcome.stored(), stored);
    const auto most = outcome.mostFrequentFailure();
    if (reason != Reason::None)
        QVERIFY2(outcome.failed(reason) == 3, qPrintable(QStringLiteral("reason %1").arg(int(most.first))));
    else
        QCOMPARE(outcome.failed(), 0);
    QVERIFY(!job.mustStop());
    checkTiles(3, fault == QLatin1String("empty"));
    if (stored == 3) {
        for (int y = 0; y < 3; ++y)
            QVERIFY(readFile(m_dest + tileName(y)) != m_old);
    }
}

void TestHostileJob::retryAfter_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("requestsPerTile");
    QTest::addColumn<qint64>("atLeastMs"); // the waits asked for, summed
    QTest::addColumn<bool>("https");

    for (const bool https : {false, true}) {
        const char *tag = https ? ", https" : "";
        QTest::addRow("429, seconds, twice%s", tag) << "429?after=1&times=2" << 2 << 3 << qint64(2 * 2 * 1000) << https;
        // An HTTP date has whole seconds, so it may name the present: still a second's wait.
        QTest::addRow("503, HTTP date, once%s", tag) << "503?after=1&date=1&times=1" << 2 << 2 << qint64(2 * 1000) << https;
        // Asked again three times at most, a second apart at least, then counted as failed.
        QTest::addRow("429 for good%s", tag) << "429?after=0" << 0 << 4 << qint64(2 * 3 * 1000) << https;
    }
}

void TestHostileJob::retryAfter()
{
    QFETCH(QString, fault);
    QFETCH(int, stored);
    QFETCH(int, requestsPerTile);
    QFETCH(qint64, atLeastMs);
    QFETCH(bool, https);

    prefill(1);
    const QString path = fault.section(QLatin1Char('?'), 0, 0);
    static int unique = 0;
    const QString prefix = QStringLiteral("/%1/w%2").arg(path).arg(++unique);
    const QString base = (https ? m_server.httpsUrl() : m_server.httpUrl()) + prefix;
    const QString query = QLatin1Char('?') + fault.section(QLatin1Char('?'), 1);
    DownloadJob job;
    job.begin(ProxySettings(), m_dest);
    QStringList texts;
    connect(&job, &DownloadJob::waiting, this,
            [&texts](int seconds, int status) { texts << QStringLiteral("%1 s (HTTP %2)").arg(seconds).arg(status); });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(runEntries(job, {planFor(base, m_dest, 0, query), planFor(base, m_dest, 1, query)}));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= atLeastMs - 100, qPrintable(QString::number(elapsed)));
    QCOMPARE(m_server.requestCount(prefix + QLatin1Char('/')), 2 * requestsPerTile);
    const JobOutcome outcome = job.finish();
    QCOMPARE(outcome.stored(), stored);
    QCOMPARE(outcome.failed(Reason::HttpStatus), 2 - stored);
    QVERIFY(!texts.isEmpty());
    QVERIFY2(texts.first().endsWith(QStringLiteral(" s (HTTP %1)").arg(path)), qPrintable(texts.first()));
    checkTiles(2);
}

// HTTPS tiles queued behind one the server asks to wait for are taken back
// and sent after the wait, in their order; each is stored once.
void TestHostileJob::retryAfterWithTilesQueued()
{
    prefill(1);
    const QString waitBase = m_server.httpsUrl() + QStringLiteral("/429/queued");
    const QString okBase = m_server.httpsUrl() + QStringLiteral("/ok/queued");
    QVector<EntryPlan> plans;
    for (int y = 0; y < 3; ++y)
        plans << (y == 1 ? planFor(waitBase, m_dest, y, QStringLiteral("?after=1&times=1")) : planFor(okBase, m_dest, y));
    DownloadJob job;
    job.begin(ProxySettings(), m_dest);
    int next = 0;
    int ended = 0;
    bool queuedBehindTheWait = false;
    const auto feed = [&] {
        while (next < plans.size() && job.canStart(plans.at(next))) {
            if (next == 2 && job.archiveInFlight())
                queuedBehindTheWait = true;
            job.start(plans.at(next++));
        }
    };
    connect(&job, &DownloadJob::archiveFinished, this, [&] {
        ++ended;
        feed();
    });
    QElapsedTimer clock;
    clock.start();
    feed();
    QTRY_VERIFY_WITH_TIMEOUT(ended == 3, 60000);
    QVERIFY(queuedBehindTheWait);
    QVERIFY2(clock.elapsed() >= 1000 - 100, qPrintable(QString::number(clock.elapsed())));
    const JobOutcome outcome = job.finish();
    QCOMPARE(outcome.stored(), 3);
    QCOMPARE(outcome.entries(), 3);
    QCOMPARE(m_server.requestCount(QStringLiteral("/429/queued/")), 2);
    // The tile behind the wait may have been on its way when the server's
    // answer came; it was ended then and asked for once more.
    QVERIFY(m_server.requestCount(QStringLiteral("/ok/queued/12/1/2.png")) <= 2);
    QCOMPARE(m_server.requestCount(QStringLiteral("/ok/queued/12/1/0.png")), 1);
    checkTiles(3);
    for (int y = 0; y < 3; ++y)
        QVERIFY(readFile(m_dest + tileName(y)) != m_old);
}

// Stop while the job waits for the server: it ends at once and asks nothing more.
void TestHostileJob::stopWhileWaiting()
{
    DownloadJob job;
    job.begin(ProxySettings(), m_dest);
    QSignalSpy texts(&job, &DownloadJob::waiting);
    QVERIFY(job.start(planFor(m_server.httpUrl() + QStringLiteral("/429/stop"), m_dest, 0, QStringLiteral("?after=300"))));
    QTRY_VERIFY_WITH_TIMEOUT(job.waitingToRetry(), 20000);
    QCOMPARE(texts.last().at(0).toInt(), 300);
    job.abort();
    QVERIFY(!job.busy());
    QVERIFY(!job.waitingToRetry());
    QCOMPARE(m_server.requestCount(QStringLiteral("/429/stop/")), 1);
    QVERIFY(filesBelow(m_dest).isEmpty());
}

// Three refusals in a row stop the job with the server's reason; refusals
// with other answers between them do not.
void TestHostileJob::refusalStreak()
{
    prefill();
    DownloadJob job;
    job.begin(ProxySettings(), m_dest);
    QVector<EntryPlan> plans;
    for (int y = 0; y < 6; ++y)
        plans << planFor(m_server.httpUrl() + QStringLiteral("/403/s"), m_dest, y);
    QVERIFY(runEntries(job, plans));
    QVERIFY(job.mustStop());
    QCOMPARE(m_server.requestCount(QStringLiteral("/403/s/")), 3);
    const DownloadJob::StopReason stop = job.stopReason();
    QCOMPARE(stop.kind, DownloadJob::StopReason::Kind::Refused);
    QCOMPARE(stop.refusals, 3);
    QCOMPARE(stop.httpStatus, 403);
    QCOMPARE(stop.serverText, QStringLiteral("Access blocked: this program sent too many requests."));
    checkTiles(2);
    QCOMPARE(readFile(m_dest + tileName(0)), m_old);

    DownloadJob mixed;
    mixed.begin(ProxySettings(), m_dest);
    plans.clear();
    for (int y = 0; y < 6; ++y)
        plans << planFor(m_server.httpUrl() + (y % 3 == 2 ? QStringLiteral("/ok/m") : QStringLiteral("/401/m")), m_dest, y);
    QVERIFY(runEntries(mixed, plans));
    QVERIFY(!mixed.mustStop());
    const JobOutcome outcome = mixed.finish();
    QCOMPARE(outcome.stored(), 2);
    QCOMPARE(outcome.failed(), 4);
    QCOMPARE(outcome.mostFrequentFailure(), qMakePair(Reason::HttpStatus, 401));
}

void TestHostileJob::retryIntoANewFolder_data()
{
    diskFullStopsTheJob_data();
}

// The first tile of a folder that is not there yet, answered "come back
// later": the retry still finds a place for it.
void TestHostileJob::retryIntoANewFolder()
{
    QFETCH(bool, https);
    const QString base = (https ? m_server.httpsUrl() : m_server.httpUrl())
                         + QStringLiteral("/429/nf%1").arg(https ? QStringLiteral("s") : QStringLiteral("p"));
    DownloadJob job;
    job.begin(ProxySettings(), m_dest);
    QVERIFY(runEntries(job, {planFor(base, m_dest, 0, QStringLiteral("?after=1&times=1"))}));
    const JobOutcome outcome = job.finish();
    QCOMPARE(outcome.stored(), 1);
    QCOMPARE(outcome.failed(), 0);
    QCOMPARE(filesBelow(m_dest), QStringList{tileName(0)});
}

void TestHostileJob::stopLeavesNoEmptyFolders_data()
{
    diskFullStopsTheJob_data();
}

// Stop with tiles for new folders in flight and queued: the folders made
// for them go with them.
void TestHostileJob::stopLeavesNoEmptyFolders()
{
    QFETCH(bool, https);
    const QString server = https ? m_server.httpsUrl() : m_server.httpUrl();
    {
        DownloadJob job;
        job.begin(ProxySettings(), m_dest);
        QSignalSpy ended(&job, &DownloadJob::tileFinished);
        for (int x = 0; x < DownloadJob::ArchivesAhead; ++x) {
            EntryPlan plan = planFor(server + QStringLiteral("/trickle/sf%1").arg(x), m_dest, 0);
            plan.target.folder = m_dest + QStringLiteral("12/%1/").arg(x + 5);
            if (!job.canStart(plan))
                break;
            QVERIFY(job.start(plan));
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount(QStringLiteral("/trickle/sf0/")) == 1, 20000);
        job.abort();
        QVERIFY(!job.busy());
    } // the job's threads end with it
    QCOMPARE(QDir(m_dest).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TestHostileJob::stopAtRandomMoments_data()
{
    QTest::addColumn<bool>("https");
    QTest::newRow("plain HTTP") << false;
    QTest::newRow("HTTPS") << true;
}

// Stop at seeded random moments: whatever was in flight, every tile is old or
// complete and nothing temporary stays.
void TestHostileJob::stopAtRandomMoments()
{
    QFETCH(bool, https);
    QRandomGenerator random(https ? 4711 : 815);
    for (int run = 0; run < 20; ++run) {
        init();
        prefill(4);
        const QString base = (https ? m_server.httpsUrl() : m_server.httpUrl()) + QStringLiteral("/ok/r%1").arg(run);
        QVector<EntryPlan> plans;
        for (int y = 0; y < 8; ++y)
            plans << planFor(base, m_dest, y);
        {
            DownloadJob job;
            job.begin(ProxySettings(), m_dest);
            bool stopped = false;
            QTimer::singleShot(int(random.bounded(https ? 400 : 60)), &job, [&job, &stopped] {
                job.abort();
                stopped = true;
            });
            QSignalSpy tiles(&job, &DownloadJob::tileFinished);
            QSignalSpy archives(&job, &DownloadJob::archiveFinished);
            for (const EntryPlan &plan : plans) {
                if (stopped)
                    break;
                const int before = tiles.count() + archives.count();
                QVERIFY(job.start(plan));
                QVERIFY(QTest::qWaitFor([&] { return stopped || tiles.count() + archives.count() > before; }, 30000));
            }
            QTRY_VERIFY_WITH_TIMEOUT(stopped, 30000);
            QVERIFY(!job.busy());
            job.finish();
        } // the job's threads end with it: the HTTPS transfer in flight has cleaned up
        checkTiles(8);
    }
}

// A destination that takes no files: the job stops before its first request.
void TestHostileJob::unwritableDestination()
{
    QVERIFY(writeFile(m_dest + QStringLiteral("blocked"), "a file, not a folder"));
    const QString dest = m_dest + QStringLiteral("blocked/");
    DownloadJob job;
    job.begin(ProxySettings(), dest);
    QVERIFY(job.mustStop());
    QSignalSpy tiles(&job, &DownloadJob::tileFinished);
    QVERIFY(job.start(planFor(m_server.httpUrl() + QStringLiteral("/ok/u"), dest, 0)));
    QVERIFY(tiles.wait(5000)); // from the event loop, not from start()
    QCOMPARE(m_server.requestCount(QStringLiteral("/ok/u/")), 0);
    QCOMPARE(job.stopReason().kind, DownloadJob::StopReason::Kind::Unwritable);
}

// A tile already there is asked about: 304 keeps it, a changed tile replaces
// it; a tile cut short by an earlier run is fetched again whatever its time.
void TestHostileJob::conditionalRequests()
{
    QTemporaryDir root;
    QFile::setPermissions(root.path(), QFile::permissions(root.path()) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    for (int y = 0; y < 3; ++y)
        QVERIFY(writeFile(root.filePath(tileName(y)), pngOf(y)));
    NginxFixture nginx;
    QVERIFY2(nginx.start(root.path()), qPrintable(nginx.errorString()));
    QVector<EntryPlan> plans;
    for (int y = 0; y < 3; ++y)
        plans << planFor(nginx.httpUrl(), m_dest, y);
    auto run = [&](int stored, int unchanged) {
        DownloadJob job;
        job.begin(ProxySettings(), m_dest);
        QVERIFY(runEntries(job, plans));
        const JobOutcome outcome = job.finish();
        QCOMPARE(outcome.stored(), stored);
        QCOMPARE(outcome.unchanged(), unchanged);
        QCOMPARE(outcome.entries(), 3);
    };

    run(3, 0);
    for (int y = 0; y < 3; ++y) {
        QCOMPARE(readFile(m_dest + tileName(y)), readFile(root.filePath(tileName(y))));
        // The stored tile carries the server's time.
        QCOMPARE(QFileInfo(m_dest + tileName(y)).lastModified().toSecsSinceEpoch(),
                 QFileInfo(root.filePath(tileName(y))).lastModified().toSecsSinceEpoch());
    }
    run(0, 3);

    // The server's tile 0 changes; the local tile 1 was cut short.
    const QByteArray changed = pngOf(99);
    QVERIFY(writeFile(root.filePath(tileName(0)), changed));
    QFile server0(root.filePath(tileName(0)));
    QVERIFY(server0.open(QIODevice::ReadWrite));
    QVERIFY(server0.setFileTime(QDateTime::currentDateTimeUtc().addSecs(60), QFileDevice::FileModificationTime));
    server0.close();
    const QDateTime kept = QFileInfo(m_dest + tileName(1)).lastModified();
    QVERIFY(writeFile(m_dest + tileName(1), readFile(m_dest + tileName(1)).left(100)));
    QFile local1(m_dest + tileName(1));
    QVERIFY(local1.open(QIODevice::ReadWrite));
    QVERIFY(local1.setFileTime(kept, QFileDevice::FileModificationTime));
    local1.close();
    run(2, 1);
    QCOMPARE(readFile(m_dest + tileName(0)), changed);
    QCOMPARE(readFile(m_dest + tileName(1)), readFile(root.filePath(tileName(1))));

    QStringList statuses;
    for (const QString &line : nginx.completeAccessLog())
        statuses << line.section(QLatin1Char(' '), 2, 2);
    QCOMPARE(statuses, (QStringList{QStringLiteral("200"), QStringLiteral("200"), QStringLiteral("200"),
                                    QStringLiteral("304"), QStringLiteral("304"), QStringLiteral("304"),
                                    QStringLiteral("200"), QStringLiteral("200"), QStringLiteral("304")}));
}

// A child process whose files may not grow past a few kilobytes: the first
// tile that does not fit stops the job, naming the folder and the reason.
void TestHostileJob::diskFullStopsTheJob_data()
{
    QTest::addColumn<bool>("https");
    QTest::newRow("plain HTTP") << false;
    QTest::newRow("HTTPS") << true;
}

void TestHostileJob::diskFullStopsTheJob()
{
    QFETCH(bool, https);
    prefill(3);
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QString::fromLatin1(ChildSwitch), m_dest,
                        (https ? m_server.httpsUrl() : m_server.httpUrl()) + QStringLiteral("/ok/full")});
    child.start();
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    const QString out = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
    QCOMPARE(child.exitCode(), 0);
    QVERIFY2(out.startsWith(QStringLiteral("%1 disk full").arg(int(DownloadJob::StopReason::Kind::DiskFull))), qPrintable(out));
    QVERIFY2(m_server.requestCount(QStringLiteral("/ok/full/")) <= 2, qPrintable(m_server.requests().join(QLatin1Char('|'))));
    checkTiles(10);
    for (int y = 0; y < 3; ++y)
        QCOMPARE(readFile(m_dest + tileName(y)), m_old);
}

void TestHostileJob::fullTmpfsStopsTheJob_data()
{
    diskFullStopsTheJob_data();
}

// As root: a small tmpfs fills in the middle of the job, on either transport.
void TestHostileJob::fullTmpfsStopsTheJob()
{
    QFETCH(bool, https);
    SmallTmpfs disk(QStringLiteral("96k"));
    if (!disk.mounted())
        QSKIP(qPrintable(disk.whyNot()));
    m_dest = disk.path() + QLatin1Char('/');
    prefill(3);
    QVector<EntryPlan> plans;
    for (int y = 0; y < 40; ++y)
        plans << planFor((https ? m_server.httpsUrl() : m_server.httpUrl()) + QStringLiteral("/ok/tmpfs"), m_dest, y);
    DownloadJob job;
    job.begin(ProxySettings(), m_dest);
    QVERIFY(!job.mustStop());
    QVERIFY(runEntries(job, plans));
    QVERIFY(job.mustStop());
    const DownloadJob::StopReason stop = job.stopReason();
    QCOMPARE(stop.kind, DownloadJob::StopReason::Kind::DiskFull);
    QVERIFY2(stop.detail.startsWith(QStringLiteral("disk full")), qPrintable(stop.detail));
    QCOMPARE(stop.folder, m_dest);
    const int asked = m_server.requestCount(QStringLiteral("/ok/tmpfs/"));
    QVERIFY2(asked < 40, qPrintable(QString::number(asked)));
    checkTiles(40);
}

namespace {

// The child: a job of ten tiles under a file-size limit; prints its end text.
int runChild(const QString &dest, const QString &base)
{
    signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = FileSizeLimit;
    setrlimit(RLIMIT_FSIZE, &limit);
    DownloadJob job;
    job.begin(ProxySettings(), dest);
    QVector<EntryPlan> plans;
    for (int y = 0; y < 10; ++y)
        plans << planFor(base, dest, y);
    if (!runEntries(job, plans))
        return 2;
    job.finish();
    const DownloadJob::StopReason stop = job.stopReason();
    QTextStream(stdout) << int(stop.kind) << ' ' << stop.detail << '\n';
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], ChildSwitch) == 0) {
        QCoreApplication app(argc, argv);
        return runChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    QCoreApplication app(argc, argv);
    TestHostileJob test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostile_job.moc"
