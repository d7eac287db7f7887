#include "app/JobAdmission.h"
#include "app/JobRate.h"
#include "mapview/TileGeometry.h"
#include "settings/SourceKind.h"

#include <QtTest>

using Verdict = JobAdmission::Verdict;
using TileSource = SourceAddress::TileSource;

namespace {

// An area covering exactly columns x0 .. x0+w-1 and rows y0 .. y0+h-1 at zoom.
GeoArea tilesArea(int x0, int y0, int w, int h, int zoom)
{
    const double e = 1e-9;
    return GeoArea{TileGeometry::tileXToLon(x0, zoom) + e, TileGeometry::tileYToLat(y0, zoom) - e,
                   TileGeometry::tileXToLon(x0 + w, zoom) - e, TileGeometry::tileYToLat(y0 + h, zoom) + e};
}

TileSource kind(int k, const QString &folder = QString())
{
    TileSource s;
    s.sourceKind = k;
    s.sourceFolder = folder;
    return s;
}

TileSource theme(const QString &host)
{
    TileSource s = kind(SourceKind::FirstListedServer);
    s.themeActive = true;
    s.themeHost = host;
    return s;
}

const QString PublicServer = QStringLiteral("https://tile.openstreetmap.org");
const QString OwnServer = QStringLiteral("http://127.0.0.1:8080");

} // namespace

Q_DECLARE_METATYPE(TileSource)
Q_DECLARE_METATYPE(GeoArea)

class TestJobAdmission : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void policy_data();
    void policy();
    void verdict_data();
    void verdict();
    void estimateUsesTheSourcesTileSize();
    void texts();
    void durations_data();
    void durations();
    void rateOfTheLastFinishedJob();
};

void TestJobAdmission::policy_data()
{
    QTest::addColumn<TileSource>("source");
    QTest::addColumn<bool>("download");
    QTest::addColumn<QString>("standard");
    QTest::addColumn<qint64>("limit");
    const qint64 none = -1, osm = SourcePolicy::PublicOsmMaxTiles;
    QTest::newRow("standard, public server") << kind(0) << true << PublicServer << osm;
    QTest::newRow("standard, public subdomain, no scheme") << kind(0) << true << QStringLiteral("a.tile.openstreetmap.org") << osm;
    QTest::newRow("standard, own server") << kind(0) << true << OwnServer << none;
    QTest::newRow("standard, look-alike host") << kind(0) << true << QStringLiteral("https://tile.openstreetmap.org.example") << none;
    QTest::newRow("copy asks no server") << kind(0) << false << PublicServer << none;
    QTest::newRow("seamarks") << kind(1) << true << PublicServer << none;
    QTest::newRow("elevation") << kind(2) << true << PublicServer << none;
    QTest::newRow("listed server naming the public host")
        << kind(3, QStringLiteral("https://tile.openstreetmap.org/")) << true << OwnServer << osm;
    QTest::newRow("listed other server") << kind(3, QStringLiteral("http://tiles.example.org/")) << true << PublicServer << none;
    QTest::newRow("theme on the public host") << theme(QStringLiteral("b.tile.openstreetmap.org")) << true << OwnServer << osm;
    QTest::newRow("theme elsewhere") << theme(QStringLiteral("maps.example.org")) << true << PublicServer << none;
}

void TestJobAdmission::policy()
{
    QFETCH(TileSource, source);
    QFETCH(bool, download);
    QFETCH(QString, standard);
    QFETCH(qint64, limit);
    const SourcePolicy p = JobAdmission::policyFor(source, download, standard);
    QCOMPARE(p.maxJobTiles, limit);
    QCOMPARE(p.bulkAllowed, limit < 0);
}

// The thresholds: up to 5,000 tiles from the public server start, above
// that they are refused; any job above 50,000 asks first.
void TestJobAdmission::verdict_data()
{
    QTest::addColumn<GeoArea>("area");
    QTest::addColumn<int>("fromZoom");
    QTest::addColumn<int>("toZoom");
    QTest::addColumn<QString>("standard");
    QTest::addColumn<qint64>("entries");
    QTest::addColumn<int>("verdict");
    QTest::newRow("5,000 from the public server") << tilesArea(100, 200, 50, 100, 12) << 12 << 12 << PublicServer
                                                  << qint64(5000) << int(Verdict::Start);
    QTest::newRow("5,001 from the public server") << tilesArea(100, 200, 3, 1667, 12) << 12 << 12 << PublicServer
                                                  << qint64(5001) << int(Verdict::Refuse);
    QTest::newRow("5,001 elsewhere") << tilesArea(100, 200, 3, 1667, 12) << 12 << 12 << OwnServer << qint64(5001)
                                     << int(Verdict::Start);
    QTest::newRow("50,000 elsewhere") << tilesArea(1000, 2000, 250, 200, 15) << 15 << 15 << OwnServer
                                      << qint64(50000) << int(Verdict::Start);
    QTest::newRow("50,001 elsewhere asks") << tilesArea(1000, 2000, 3, 16667, 15) << 15 << 15 << OwnServer
                                           << qint64(50001) << int(Verdict::Ask);
    QTest::newRow("50,001 from the public server is refused, not asked")
        << tilesArea(1000, 2000, 3, 16667, 15) << 15 << 15 << PublicServer << qint64(50001) << int(Verdict::Refuse);
    // The whole world from zoom 1 to 7 counts every level.
    QTest::newRow("world 1 to 7") << GeoArea{-180, 85.05, 180, -85.05} << 1 << 7 << PublicServer << qint64(21844)
                                  << int(Verdict::Refuse);
}

void TestJobAdmission::verdict()
{
    QFETCH(GeoArea, area);
    QFETCH(int, fromZoom);
    QFETCH(int, toZoom);
    QFETCH(QString, standard);
    QFETCH(qint64, entries);
    QFETCH(int, verdict);
    const JobAdmission a = JobAdmission::decide(JobAdmission::Job{area, fromZoom, toZoom, kind(0), true}, standard, {}, -1);
    QCOMPARE(a.entries(), entries);
    QCOMPARE(int(a.verdict()), verdict);
    // A copy from a folder of the same size is never refused.
    const JobAdmission copy = JobAdmission::decide(JobAdmission::Job{area, fromZoom, toZoom, kind(0), false}, standard, {}, -1);
    QCOMPARE(copy.verdict(), entries > SourcePolicy::AskAboveTiles ? Verdict::Ask : Verdict::Start);
}

void TestJobAdmission::estimateUsesTheSourcesTileSize()
{
    const GeoArea area = tilesArea(10, 10, 10, 10, 8); // 100 tiles
    const std::vector<qint64> held{9000, 1000, 30000, 5000, 7000};
    auto decide = [&](const TileSource &s, bool download, const std::vector<qint64> &sizes, double rate) {
        return JobAdmission::decide(JobAdmission::Job{area, 8, 8, s, download}, OwnServer, sizes, rate).estimate();
    };
    // The median of what the map holds, else the default size.
    QCOMPARE(decide(kind(0), true, held, -1).bytes, qint64(100 * 7000));
    QCOMPARE(decide(kind(0), true, {}, -1).bytes, 100 * SourcePolicy::DefaultTileBytes);
    // A copy's source is a folder, not what the map shows.
    QCOMPARE(decide(kind(0), false, held, -1).bytes, 100 * SourcePolicy::DefaultTileBytes);
    // Archives are counted by whole degrees and sized as archives.
    const JobSize::Estimate archives = decide(kind(2), true, held, -1);
    QCOMPARE(archives.tiles, JobSize::countElevationCells(area));
    QCOMPARE(archives.bytes, archives.tiles * JobAdmission::TypicalArchiveBytes);
    // The time follows the pace of the last job; unknown without one.
    QCOMPARE(decide(kind(0), true, held, -1).seconds, qint64(-1));
    QCOMPARE(decide(kind(0), true, held, 8.0).seconds, qint64(13));
}

void TestJobAdmission::texts()
{
    const GeoArea area = tilesArea(1000, 2000, 3, 16667, 15); // 50,001 tiles
    const JobAdmission unknown = JobAdmission::decide(JobAdmission::Job{area, 15, 15, kind(0), true}, OwnServer, {}, -1);
    QCOMPARE(unknown.countText(), QStringLiteral("Download: 50,001 tiles"));
    QVERIFY2(unknown.questionText().contains(QStringLiteral("50,001 tiles")), qPrintable(unknown.questionText()));
    QVERIFY2(unknown.questionText().contains(QStringLiteral("976.6 MiB")), qPrintable(unknown.questionText()));
    QVERIFY(unknown.questionText().contains(QStringLiteral("unknown: no job has had answers from this server")));
    QCOMPARE(unknown.notStartedText(), QStringLiteral("Not started: 50,001 tiles."));

    const JobAdmission known = JobAdmission::decide(JobAdmission::Job{area, 15, 15, kind(0), true}, OwnServer, {}, 10.0);
    QVERIFY2(known.questionText().contains(QStringLiteral("about 1 h 24 min")), qPrintable(known.questionText()));

    const JobAdmission refused = JobAdmission::decide(JobAdmission::Job{area, 15, 15, kind(0), true}, PublicServer, {}, -1);
    const QString why = refused.refusalText();
    QCOMPARE(why.count(QStringLiteral(". ")) + 1, 2); // two sentences
    for (const char *part : {"usage policy", "bulk downloading for offline use", "5,000", "50,001",
                             "server of your list", "map theme", "TILEWRIGHT_OSM_TILE_URL"})
        QVERIFY2(why.contains(QLatin1String(part)), part);
    QVERIFY(refused.notStartedText().contains(QStringLiteral("5,000")));

    QCOMPARE(JobAdmission::amountText(1, false), QStringLiteral("1 tile"));
    QCOMPARE(JobAdmission::amountText(2, true), QStringLiteral("2 archives"));
    const JobAdmission copy = JobAdmission::decide(JobAdmission::Job{area, 15, 15, kind(0), false}, OwnServer, {}, -1);
    QCOMPARE(copy.countText(), QStringLiteral("Copy: 50,001 tiles"));
    QVERIFY(copy.questionText().startsWith(QStringLiteral("This job copies")));
}

void TestJobAdmission::durations_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("under a second") << qint64(0) << QStringLiteral("1 s");
    QTest::newRow("seconds") << qint64(59) << QStringLiteral("59 s");
    QTest::newRow("a minute") << qint64(60) << QStringLiteral("1 min");
    QTest::newRow("minutes round up") << qint64(61) << QStringLiteral("2 min");
    QTest::newRow("just under an hour") << qint64(3599) << QStringLiteral("1 h 0 min");
    QTest::newRow("days in hours") << qint64(3 * 86400 + 90) << QStringLiteral("72 h 2 min");
}

void TestJobAdmission::durations()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(JobAdmission::durationText(seconds), text);
}

void TestJobAdmission::rateOfTheLastFinishedJob()
{
    const QString a = QStringLiteral("http://a.example"), b = QStringLiteral("http://b.example");
    JobRate rate;
    QCOMPARE(rate.entriesPerSecond(a), -1.0);
    rate.finish(100); // no job begun: nothing learnt
    QCOMPARE(rate.entriesPerSecond(a), -1.0);
    rate.start(a);
    rate.finish(0); // a job without answers (every entry skipped) says nothing
    QCOMPARE(rate.entriesPerSecond(a), -1.0);
    rate.start(a);
    rate.finish(50);
    QVERIFY(rate.entriesPerSecond(a) > 0);
    QCOMPARE(rate.entriesPerSecond(b), -1.0); // each server's pace is its own
    QCOMPARE(rate.entriesPerSecond(QString()), -1.0); // and so is a copy's
}

QTEST_GUILESS_MAIN(TestJobAdmission)
#include "tst_jobadmission.moc"
