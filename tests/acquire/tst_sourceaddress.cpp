#include "acquire/SourceAddress.h"
#include "settings/AppConfig.h"

#include <QtTest>

using SourceAddress::TileSource;

Q_DECLARE_METATYPE(SourceAddress::TileSource)

namespace {

TileSource kind(int sourceKind)
{
    TileSource s;
    s.sourceKind = sourceKind;
    return s;
}

TileSource listed(const QString &folder, bool tiles)
{
    TileSource s = kind(3);
    s.sourceFolder = folder;
    s.tileLayout = tiles;
    return s;
}

TileSource theme(const QString &path, const QString &query, const QString &storage, bool tiles,
                 const QString &format = QStringLiteral("png"))
{
    TileSource s = kind(4);
    s.themeActive = true;
    s.tileLayout = tiles;
    s.sourceFolder = QStringLiteral("maps.example.org");
    s.themeProtocol = QStringLiteral("http");
    s.themeHost = QStringLiteral("maps.example.org");
    s.themePort = QStringLiteral("8080");
    s.themePath = path;
    s.themeQuery = query;
    s.themeStorageMode = storage;
    s.themeFormat = format;
    return s;
}

} // namespace

class TestSourceAddress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void addresses_data();
    void addresses();
    void themeServer_data();
    void themeServer();
    void regions_data();
    void regions();
    void elevationBases_data();
    void elevationBases();
    void addressRules_data();
    void addressRules();
};

void TestSourceAddress::initTestCase()
{
    qputenv("TILEWRIGHT_OSM_TILE_URL", "https://osm.test");
    qputenv("TILEWRIGHT_SEAMARK_TILE_URL", "http://seamarks.test:8081/");
    qputenv("TILEWRIGHT_SRTM_URL", "https://srtm.test/SRTM3");
    qputenv("TILEWRIGHT_INTERNAL_TILE_SERVER", "10.1.2.3");
    AppConfig::reload();
}

void TestSourceAddress::addresses_data()
{
    QTest::addColumn<TileSource>("source");
    QTest::addColumn<TileId>("entry");
    QTest::addColumn<QString>("text");

    const TileId tile12{2176, 1436, 12};
    QTest::newRow("standard") << kind(0) << tile12 << QStringLiteral("https://osm.test/12/2176/1436.png");
    QTest::newRow("seamarks keep the configured port")
        << kind(1) << tile12 << QStringLiteral("http://seamarks.test:8081/seamark/12/2176/1436.png");
    QTest::newRow("srtm origin") << kind(2) << TileId{0, 0, 1}
                                 << QStringLiteral("https://srtm.test/SRTM3/Africa/N00E000.hgt.zip");
    QTest::newRow("srtm west") << kind(2) << TileId{-100, 40, 5}
                               << QStringLiteral("https://srtm.test/SRTM3/North_America/N40W100.hgt.zip");
    QTest::newRow("srtm padding") << kind(2) << TileId{11, 47, 3}
                                  << QStringLiteral("https://srtm.test/SRTM3/Eurasia/N47E011.hgt.zip");
    QTest::newRow("srtm south west") << kind(2) << TileId{-5, -3, 1}
                                     << QStringLiteral("https://srtm.test/SRTM3/Africa/S03W005.hgt.zip");
    QTest::newRow("srtm south east wide") << kind(2) << TileId{150, -30, 2}
                                          << QStringLiteral("https://srtm.test/SRTM3/Australia/S30E150.hgt.zip");
    QTest::newRow("srtm region 0 gives no request") << kind(2) << TileId{1, 1, 0} << QString();
    QTest::newRow("srtm region 7 gives no request") << kind(2) << TileId{1, 1, 7} << QString();

    QTest::newRow("listed server with slash")
        << listed(QStringLiteral("http://tiles.test/osm/"), true) << TileId{5, 3, 4}
        << QStringLiteral("http://tiles.test/osm/4/5/3.png");
    QTest::newRow("listed server without slash glues the zoom")
        << listed(QStringLiteral("http://tiles.test/osm"), true) << TileId{5, 3, 4}
        << QStringLiteral("http://tiles.test/osm4/5/3.png");
    QTest::newRow("listed wms, 6 significant digits")
        << listed(QStringLiteral("http://wms.test"), false) << TileId{0, 0, 1}
        << QStringLiteral("http://wms.test/wms?layers=esat&service=WMS"
                          "&request=GetMap&version=1.1.1&styles=&format=image/jpeg&srs=EPSG:4326&width=256"
                          "&height=256&bbox=-180,0,0,85.0511");
    QTest::newRow("listed wms deeper tile")
        << listed(QStringLiteral("http://wms.test"), false) << TileId{2176, 1436, 12}
        << QStringLiteral("http://wms.test/wms?layers=esat&service=WMS"
                          "&request=GetMap&version=1.1.1&styles=&format=image/jpeg&srs=EPSG:4326&width=256"
                          "&height=256&bbox=11.25,47.2196,11.3379,47.2792");

    const TileId t342{4, 2, 3};
    QTest::newRow("theme osm layout")
        << theme(QStringLiteral("/tiles/"), QString(), QStringLiteral("OpenStreetMap"), true) << t342
        << QStringLiteral("http://maps.example.org:8080/tiles/3/4/2.png");
    QTest::newRow("theme custom layout")
        << theme(QStringLiteral("/tiles/"), QString(), QStringLiteral("Custom"), true) << t342
        << QStringLiteral("http://maps.example.org:8080/tiles/3/4/2.png");
    QTest::newRow("theme template keeps its order")
        << theme(QStringLiteral("/t/{zoomLevel}/{y}/{x}.png"), QString(), QStringLiteral("Custom"), true) << t342
        << QStringLiteral("http://maps.example.org:8080/t/3/2/4.png");
    QTest::newRow("theme query template")
        << theme(QStringLiteral("/map"), QStringLiteral("x={x}&y={y}&z={zoomLevel}"), QStringLiteral("Custom"), true)
        << t342 << QStringLiteral("http://maps.example.org:8080/map?x=4&y=2&z=3");
    QTest::newRow("theme query template, other storage")
        << theme(QStringLiteral("/map"), QStringLiteral("x={x}&y={y}&z={zoomLevel}"), QStringLiteral("Other"), true)
        << t342 << QStringLiteral("http://maps.example.org:8080/map?x=4&y=2&z=3");
    QTest::newRow("theme other storage without query takes the path alone")
        << theme(QStringLiteral("/tiles/"), QString(), QStringLiteral("Other"), true) << t342
        << QStringLiteral("http://maps.example.org:8080/tiles/");
    QTest::newRow("theme storage names are case-sensitive")
        << theme(QStringLiteral("/tiles/"), QString(), QStringLiteral("openstreetmap"), true) << t342
        << QStringLiteral("http://maps.example.org:8080/tiles/");
    QTest::newRow("theme wms in degrees")
        << theme(QStringLiteral("/wms"), QStringLiteral("layers=roads"), QStringLiteral("WebMapService"), false)
        << TileId{0, 0, 1}
        << QStringLiteral("http://maps.example.org:8080/wms?service=WMS&request=GetMap&version=1.1.1&layers=roads"
                          "&styles=&format=image/png&srs=EPSG:4326&width=256&height=256"
                          "&bbox=-180.000000000000,0.000000000000,0.000000000000,85.051128779807");
    TileSource https = theme(QStringLiteral("/tiles/"), QString(), QStringLiteral("Custom"), true);
    https.themeProtocol = QStringLiteral("https");
    https.themePort = QStringLiteral("443");
    QTest::newRow("theme https") << https << t342 << QStringLiteral("https://maps.example.org:443/tiles/3/4/2.png");
    TileSource bare = theme(QStringLiteral("tiles/"), QString(), QStringLiteral("Custom"), true);
    bare.themeProtocol.clear();
    bare.themePort = QStringLiteral("80");
    QTest::newRow("theme without protocol and slash")
        << bare << t342 << QStringLiteral("http://maps.example.org:80/tiles/3/4/2.png");
}

void TestSourceAddress::addresses()
{
    QFETCH(TileSource, source);
    QFETCH(TileId, entry);
    QFETCH(QString, text);
    const SourceAddress::Address address = SourceAddress::downloadAddress(source, entry);
    QCOMPARE(address.text, text);
    QCOMPARE(address.isValid(), !text.isEmpty());
    if (!text.isEmpty())
        QCOMPARE(address.url, QUrl(text));
}

void TestSourceAddress::regions_data()
{
    QTest::addColumn<int>("lon");
    QTest::addColumn<int>("lat");
    QTest::addColumn<int>("region");
    QTest::addColumn<QString>("folder");
    QTest::newRow("alps") << 11 << 47 << 3 << QStringLiteral("Eurasia");
    QTest::newRow("asia low latitudes") << 100 << 0 << 3 << QStringLiteral("Eurasia");
    QTest::newRow("origin") << 0 << 0 << 1 << QStringLiteral("Africa");
    QTest::newRow("area example cell") << 1 << 2 << 1 << QStringLiteral("Africa");
    QTest::newRow("north america") << -100 << 40 << 5 << QStringLiteral("North_America");
    QTest::newRow("south america") << -60 << -10 << 6 << QStringLiteral("South_America");
    QTest::newRow("australia") << 150 << -30 << 2 << QStringLiteral("Australia");
    QTest::newRow("greenland") << -30 << 70 << 4 << QStringLiteral("Islandes");
    QTest::newRow("first row wins over africa") << 0 << 36 << 3 << QStringLiteral("Eurasia");
    QTest::newRow("bounds inclusive") << -14 << 61 << 3 << QStringLiteral("Eurasia");
    QTest::newRow("just outside eurasia") << -15 << 61 << 4 << QStringLiteral("Islandes");
    QTest::newRow("north america bound") << -42 << 61 << 5 << QStringLiteral("North_America");
}

void TestSourceAddress::regions()
{
    QFETCH(int, lon);
    QFETCH(int, lat);
    QFETCH(int, region);
    QFETCH(QString, folder);
    QCOMPARE(SourceAddress::srtmContinent(lon, lat), region);
    QCOMPARE(SourceAddress::srtmRegionFolder(region), folder);
}

// The archive base reaches up to the region folders; the server's region 4
// is "Islands" while the local folder stays "Islandes".
void TestSourceAddress::elevationBases_data()
{
    QTest::addColumn<QByteArray>("configured");
    QTest::addColumn<TileId>("entry");
    QTest::addColumn<QString>("text");
    const QByteArray standard; // not set: the program's default mirror
    const QString mirror = QStringLiteral("https://srtm.kurviger.de/SRTM3/");
    QTest::newRow("default, Africa") << standard << TileId{0, 0, 1} << mirror + QStringLiteral("Africa/N00E000.hgt.zip");
    QTest::newRow("default, Australia") << standard << TileId{150, -30, 2} << mirror + QStringLiteral("Australia/S30E150.hgt.zip");
    QTest::newRow("default, Eurasia") << standard << TileId{11, 47, 3} << mirror + QStringLiteral("Eurasia/N47E011.hgt.zip");
    QTest::newRow("default, Islands") << standard << TileId{-30, 70, 4} << mirror + QStringLiteral("Islands/N70W030.hgt.zip");
    QTest::newRow("default, North America") << standard << TileId{-100, 40, 5} << mirror + QStringLiteral("North_America/N40W100.hgt.zip");
    QTest::newRow("default, South America") << standard << TileId{-60, -10, 6} << mirror + QStringLiteral("South_America/S10W060.hgt.zip");
    QTest::newRow("old base, trailing slash") << QByteArray("https://dds.cr.usgs.gov/srtm/version2_1/SRTM3/")
                                              << TileId{-30, 70, 4}
                                              << QStringLiteral("https://dds.cr.usgs.gov/srtm/version2_1/SRTM3/Islands/N70W030.hgt.zip");
    QTest::newRow("port kept, query dropped") << QByteArray("https://127.0.0.1:8443/mirror/SRTM3?x=1")
                                              << TileId{11, 47, 3}
                                              << QStringLiteral("https://127.0.0.1:8443/mirror/SRTM3/Eurasia/N47E011.hgt.zip");
    QTest::newRow("no scheme means https") << QByteArray("srtm.test/SRTM3") << TileId{0, 0, 1}
                                           << QStringLiteral("https://srtm.test/SRTM3/Africa/N00E000.hgt.zip");
}

void TestSourceAddress::elevationBases()
{
    QFETCH(QByteArray, configured);
    QFETCH(TileId, entry);
    QFETCH(QString, text);
    if (configured.isEmpty())
        qunsetenv("TILEWRIGHT_SRTM_URL");
    else
        qputenv("TILEWRIGHT_SRTM_URL", configured);
    AppConfig::reload();
    const SourceAddress::Address address = SourceAddress::downloadAddress(kind(2), entry);
    qputenv("TILEWRIGHT_SRTM_URL", "https://srtm.test/SRTM3");
    AppConfig::reload();
    QCOMPARE(address.text, text);
    QVERIFY(address.isValid());
    // The local tree keeps the region names it always had.
    QCOMPARE(SourceAddress::srtmRegionFolder(4), QStringLiteral("Islandes"));
    QCOMPARE(SourceAddress::srtmServerFolder(4), QStringLiteral("Islands"));
}

void TestSourceAddress::addressRules_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("pause");
    QTest::addColumn<bool>("rejected");
    QTest::newRow("plain") << QStringLiteral("http://tiles.test/") << false << false;
    QTest::newRow("internal server") << QStringLiteral("http://10.1.2.3:8080/osm/") << true << false;
    QTest::newRow("google host") << QStringLiteral("http://mt1.google.com/vt/") << false << true;
    QTest::newRow("google in a path") << QStringLiteral("http://tiles.test/google/") << false << true;
    QTest::newRow("case-sensitive") << QStringLiteral("http://tiles.test/Google/") << false << false;
}

void TestSourceAddress::addressRules()
{
    QFETCH(QString, folder);
    QFETCH(bool, pause);
    QFETCH(bool, rejected);
    QCOMPARE(SourceAddress::needsInternalServerPause(folder), pause);
    QCOMPARE(SourceAddress::isRejectedHost(folder), rejected);
}

// The theme's server as its requests (and the proxy question) name it.
void TestSourceAddress::themeServer_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("server");
    QTest::newRow("https with port") << "https" << " 8443 " << "https://maps.example.org:8443";
    QTest::newRow("no protocol") << "" << "80" << "http://maps.example.org:80";
}

void TestSourceAddress::themeServer()
{
    QFETCH(QString, protocol);
    QFETCH(QString, port);
    QFETCH(QString, server);
    SourceAddress::TileSource source;
    source.themeHost = QStringLiteral("maps.example.org");
    source.themeProtocol = protocol;
    source.themePort = port;
    QCOMPARE(SourceAddress::themeServer(source), server);
}

QTEST_APPLESS_MAIN(TestSourceAddress)
#include "tst_sourceaddress.moc"
