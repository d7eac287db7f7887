#include "mapview/MapTileAddress.h"

#include <QtTest>

using MapTileAddress::MapServer;

Q_DECLARE_METATYPE(MapTileAddress::MapServer)

namespace {

MapServer configured(int port, bool tiles, const QString &path, const QString &query,
                     const QString &storage = QStringLiteral("Custom"), const QString &format = QStringLiteral("png"))
{
    MapServer s;
    s.sourceMode = 3;
    s.serverHost = QStringLiteral("maps.example.org");
    s.serverPort = port;
    s.tileServerMode = tiles;
    s.serverPath = path;
    s.serverQuery = query;
    s.storageMode = storage;
    s.imageFormat = format;
    return s;
}

MapServer mode(int sourceMode)
{
    MapServer s;
    s.sourceMode = sourceMode;
    s.serverHost = QStringLiteral("other.example.org");
    return s;
}

MapServer plain(const QString &host)
{
    MapServer s;
    s.sourceMode = 3;
    s.serverHost = host;
    return s;
}

} // namespace

class TestMapTileAddress : public QObject
{
    Q_OBJECT

private slots:
    void addresses_data();
    void addresses();
};

void TestMapTileAddress::addresses_data()
{
    QTest::addColumn<MapServer>("server");
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("address");

    const int standard = int(MapTileAddress::Form::Standard);
    const int plainForm = int(MapTileAddress::Form::Plain);
    const int templ = int(MapTileAddress::Form::Template);
    const int service = int(MapTileAddress::Form::Service);

    QTest::newRow("mode 0 keeps the server's https")
        << mode(0) << standard << QStringLiteral("https://tile.test:8443/4/5/3.png");
    QTest::newRow("mode 1 shows the standard map") << mode(1) << standard
                                                   << QStringLiteral("https://tile.test:8443/4/5/3.png");
    QTest::newRow("mode 2 shows the standard map") << mode(2) << standard
                                                   << QStringLiteral("https://tile.test:8443/4/5/3.png");

    QTest::newRow("plain, listed address without slash")
        << plain(QStringLiteral("http://tiles.example.org/osm")) << plainForm
        << QStringLiteral("http://tiles.example.org/osm/4/5/3.png");
    QTest::newRow("plain, listed address with slash")
        << plain(QStringLiteral("http://tiles.example.org/osm/")) << plainForm
        << QStringLiteral("http://tiles.example.org/osm/4/5/3.png");
    QTest::newRow("plain, listed https address with port")
        << plain(QStringLiteral("https://tiles.example.org:8443")) << plainForm
        << QStringLiteral("https://tiles.example.org:8443/4/5/3.png");
    QTest::newRow("plain, bare host") << plain(QStringLiteral("tiles.example.org")) << plainForm
                                      << QStringLiteral("http://tiles.example.org/4/5/3.png");
    QTest::newRow("plain, address without scheme")
        << plain(QStringLiteral("tiles.example.org:8000/osm")) << plainForm
        << QStringLiteral("http://tiles.example.org:8000/osm/4/5/3.png");

    QTest::newRow("template, custom layout")
        << configured(8080, true, QStringLiteral("/tiles/"), QString()) << templ
        << QStringLiteral("http://maps.example.org:8080/tiles/4/5/3.png");
    QTest::newRow("template keeps its own order")
        << configured(8080, true, QStringLiteral("/t/{zoomLevel}/{y}/{x}.png"), QString()) << templ
        << QStringLiteral("http://maps.example.org:8080/t/4/3/5.png");
    QTest::newRow("template with a query")
        << configured(8080, true, QStringLiteral("/map/{zoomLevel}"), QStringLiteral("x={x}&y={y}&z={zoomLevel}"))
        << templ << QStringLiteral("http://maps.example.org:8080/map/4?x=5&y=3&z=4");

    const QString degrees12 = QStringLiteral("&bbox=-67.500000000000,66.513260443112,-45.000000000000,"
                                             "74.019543311502");
    QTest::newRow("wms roads in metres")
        << configured(8080, false, QStringLiteral("/wms"), QStringLiteral("layers=roads&srs=EPSG:900913"))
        << service
        << QStringLiteral("http://maps.example.org:8080/wms?service=WMS&request=GetMap&version=1.1.1"
                          "&layers=roads&srs=EPSG:900913&styles=&format=image/png&width=256&height=256"
                          "&bbox=-7514065.627500000410,10018754.169999996200,-5009377.084999999963,"
                          "12523442.712500002235");
    QTest::newRow("wms upper-case SRS adds srs")
        << configured(8080, false, QStringLiteral("/wms"), QStringLiteral("SRS=EPSG:900913")) << service
        << QStringLiteral("http://maps.example.org:8080/wms?service=WMS&request=GetMap&version=1.1.1"
                          "&SRS=EPSG:900913&styles=&format=image/png&srs=EPSG:4326&width=256&height=256"
                          "&bbox=-7514065.627500000410,10018754.169999996200,-5009377.084999999963,"
                          "12523442.712500002235");
    QTest::newRow("wms PNG format")
        << configured(81, false, QStringLiteral("/wms"), QStringLiteral("layers=a"), QStringLiteral("WebMapService"),
                      QStringLiteral("PNG"))
        << service
        << QStringLiteral("http://maps.example.org:81/wms?service=WMS&request=GetMap&version=1.1.1&layers=a"
                          "&styles=&format=image/png&srs=EPSG:4326&width=256&height=256")
               + degrees12;
    QTest::newRow("wms JPG format")
        << configured(81, false, QStringLiteral("/wms"), QStringLiteral("layers=a"), QStringLiteral("WebMapService"),
                      QStringLiteral("JPG"))
        << service
        << QStringLiteral("http://maps.example.org:81/wms?service=WMS&request=GetMap&version=1.1.1&layers=a"
                          "&styles=&format=image/jpeg&srs=EPSG:4326&width=256&height=256")
               + degrees12;
}

void TestMapTileAddress::addresses()
{
    QFETCH(MapServer, server);
    QFETCH(int, form);
    QFETCH(QString, address);
    const QUrl base(QStringLiteral("https://tile.test:8443"));
    QCOMPARE(int(MapTileAddress::formOf(server)), form);
    const QUrl url = MapTileAddress::tileAddress(base, server, TileId{5, 3, 4});
    QVERIFY(url.isValid());
    QCOMPARE(url.toString(), address);
}

QTEST_APPLESS_MAIN(TestMapTileAddress)
#include "tst_maptileaddress.moc"
