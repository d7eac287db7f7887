// The sources' usage rules: who may bulk-download, and the credit on the map.

#include "mapview/SourcePolicy.h"
#include "settings/SourceKind.h"

#include <QtTest>

class TestSourcePolicy : public QObject
{
    Q_OBJECT

private slots:
    void publicHost_data();
    void publicHost();
    void policies();
};

void TestSourcePolicy::publicHost_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("isPublic");
    QTest::newRow("public") << "tile.openstreetmap.org" << true;
    QTest::newRow("subdomain") << "a.tile.openstreetmap.org" << true;
    QTest::newRow("letter case") << "Tile.OpenStreetMap.ORG" << true;
    QTest::newRow("trailing dot") << "tile.openstreetmap.org." << true;
    QTest::newRow("look-alike") << "eviltile.openstreetmap.org" << false;
    QTest::newRow("suffix trick") << "tile.openstreetmap.org.example.com" << false;
    QTest::newRow("other osm host") << "tiles.openstreetmap.fr" << false;
    QTest::newRow("loopback") << "127.0.0.1" << false;
    QTest::newRow("empty") << "" << false;
}

void TestSourcePolicy::publicHost()
{
    QFETCH(QString, host);
    QFETCH(bool, isPublic);
    QCOMPARE(SourcePolicy::isPublicOsmHost(host), isPublic);
}

void TestSourcePolicy::policies()
{
    const QUrl publicOsm(QStringLiteral("https://tile.openstreetmap.org"));
    const QUrl ownServer(QStringLiteral("http://127.0.0.1:8080"));

    SourcePolicy p = SourcePolicy::forSource(SourceKind::StandardTiles, publicOsm, false);
    QVERIFY(!p.bulkAllowed);
    QVERIFY(p.allowsJob(SourcePolicy::PublicOsmMaxTiles));
    QVERIFY(!p.allowsJob(SourcePolicy::PublicOsmMaxTiles + 1));
    QCOMPARE(p.attribution, QStringLiteral("\u00a9 OpenStreetMap contributors"));

    p = SourcePolicy::forSource(SourceKind::StandardTiles, ownServer, false);
    QVERIFY(p.bulkAllowed);
    QVERIFY(p.allowsJob(10000000));
    QCOMPARE(p.attribution, QStringLiteral("\u00a9 OpenStreetMap contributors"));

    p = SourcePolicy::forSource(SourceKind::SeamarkTiles, publicOsm, false);
    QVERIFY(p.allowsJob(10000000));
    QCOMPARE(p.attribution, QStringLiteral("\u00a9 OpenStreetMap contributors, \u00a9 OpenSeaMap"));

    // Elevation archives have no map: the standard map beneath keeps its credit.
    p = SourcePolicy::forSource(SourceKind::ElevationArchives, publicOsm, false);
    QCOMPARE(p.attribution, QStringLiteral("\u00a9 OpenStreetMap contributors"));

    // Listed servers get no invented credit; a theme shows its own licence.
    p = SourcePolicy::forSource(SourceKind::FirstListedServer, publicOsm, false);
    QVERIFY(p.attribution.isEmpty());
    QVERIFY(p.allowsJob(10000000));
    p = SourcePolicy::forSource(4, publicOsm, true, QStringLiteral("  \u00a9 Example Maps "));
    QCOMPARE(p.attribution, QStringLiteral("\u00a9 Example Maps"));
    p = SourcePolicy::forSource(4, publicOsm, true, QString()); // a theme without one
    QVERIFY(p.attribution.isEmpty());
}

QTEST_APPLESS_MAIN(TestSourcePolicy)
#include "tst_sourcepolicy.moc"
