#include "mapview/TileGeometry.h"

#include <QtTest>

using namespace TileGeometry;

class TestTileGeometry : public QObject
{
    Q_OBJECT

private slots:
    void latitudeOfRow_data();
    void latitudeOfRow();
    void longitudeOfColumn_data();
    void longitudeOfColumn();
    void mercator_data();
    void mercator();
    void degreesToTiles_data();
    void degreesToTiles();
    void tilesRoundTrip();
    void visibleAreaOfView_data();
    void visibleAreaOfView();
    void axisPlacement_data();
    void axisPlacement();
    void zoomAbout_data();
    void zoomAbout();
    void parentAndQuadrant_data();
    void parentAndQuadrant();
    void tileExistence_data();
    void tileExistence();
};

void TestTileGeometry::latitudeOfRow_data()
{
    QTest::addColumn<double>("y");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<double>("lat");
    for (int z : {0, 1, 5, 12, 17, 18}) {
        const double n = std::pow(2.0, z);
        QTest::addRow("north edge z%d", z) << 0.0 << z << 85.0511287798066;
        QTest::addRow("south edge z%d", z) << n << z << -85.0511287798066;
    }
    QTest::newRow("equator z1") << 1.0 << 1 << 0.0;
    QTest::newRow("row 1 z2") << 1.0 << 2 << 66.51326044311186;
    QTest::newRow("row 3 z2") << 3.0 << 2 << -66.51326044311186;
    // Beyond the grid the latitude only creeps towards the pole.
    QTest::newRow("above the grid") << -1.0 << 1 << 89.7860070747368;
}

void TestTileGeometry::latitudeOfRow()
{
    QFETCH(double, y);
    QFETCH(int, zoom);
    QFETCH(double, lat);
    const double got = tileYToLat(y, zoom);
    QVERIFY2(qAbs(got - lat) < 1e-11, qPrintable(QString::number(got, 'g', 17)));
    QVERIFY(qAbs(got) < 90.0);
}

void TestTileGeometry::longitudeOfColumn_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<double>("lon");
    for (int z : {0, 1, 7, 17}) {
        QTest::addRow("west edge z%d", z) << 0.0 << z << -180.0;
        QTest::addRow("east edge z%d", z) << std::pow(2.0, z) << z << 180.0;
    }
    QTest::newRow("column 1 z2") << 1.0 << 2 << -90.0;
    QTest::newRow("greenwich z1") << 1.0 << 1 << 0.0;
    QTest::newRow("past east edge") << 3.0 << 1 << 360.0;
    QTest::newRow("before west edge") << -0.5 << 1 << -270.0;
}

void TestTileGeometry::longitudeOfColumn()
{
    QFETCH(double, x);
    QFETCH(int, zoom);
    QFETCH(double, lon);
    QCOMPARE(tileXToLon(x, zoom), lon);
}

void TestTileGeometry::mercator_data()
{
    QTest::addColumn<bool>("isLatitude");
    QTest::addColumn<double>("degrees");
    QTest::addColumn<double>("metres");
    QTest::newRow("west edge") << false << -180.0 << -20037508.34;
    QTest::newRow("east edge") << false << 180.0 << 20037508.34;
    QTest::newRow("lon 90") << false << 90.0 << 10018754.17;
    QTest::newRow("north edge") << true << 85.0511287798066 << 20037508.34;
    QTest::newRow("south edge") << true << -85.0511287798066 << -20037508.34;
    QTest::newRow("lat 66.5") << true << 66.51326044311186 << 10018754.17;
}

void TestTileGeometry::mercator()
{
    QFETCH(bool, isLatitude);
    QFETCH(double, degrees);
    QFETCH(double, metres);
    const double got = isLatitude ? latToMercatorY(degrees) : lonToMercatorX(degrees);
    QVERIFY2(qAbs(got - metres) < 1e-6, qPrintable(QString::number(got, 'f', 9)));
}

void TestTileGeometry::degreesToTiles_data()
{
    QTest::addColumn<double>("lon");
    QTest::addColumn<double>("lat");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    // The download example area: 10.0..10.5 E, 47.5..47.0 N at zoom 12.
    QTest::newRow("NW corner z12") << 10.0 << 47.5 << 12 << 2161 << 1432;
    QTest::newRow("SE corner z12") << 10.5 << 47.0 << 12 << 2167 << 1440;
    QTest::newRow("origin z1") << 0.0 << 0.0 << 1 << 1 << 1;
    QTest::newRow("west edge z3") << -180.0 << 85.0 << 3 << 0 << 0;
    QTest::newRow("just west of greenwich z1") << -0.000001 << 0.000001 << 1 << 0 << 0;
    QTest::newRow("west of the grid floors down") << -190.0 << 0.0 << 2 << -1 << 2;
    QTest::newRow("north of the grid is negative") << 10.0 << 85.2 << 4 << 8 << -1;
    QTest::newRow("east edge is the next column") << 180.0 << -85.0 << 2 << 4 << 3;
}

void TestTileGeometry::degreesToTiles()
{
    QFETCH(double, lon);
    QFETCH(double, lat);
    QFETCH(int, zoom);
    QFETCH(int, x);
    QFETCH(int, y);
    QCOMPARE(lonToTileX(lon, zoom), x);
    QCOMPARE(latToTileY(lat, zoom), y);
}

void TestTileGeometry::tilesRoundTrip()
{
    // The conversions to tile numbers invert the edge conversions: the centre
    // of every tile maps back onto that tile.
    for (int z : {1, 4, 9, 17}) {
        const int n = tileCount(z);
        for (int i = 0; i < n; i += qMax(1, n / 13)) {
            QCOMPARE(lonToTileX(tileXToLon(i + 0.5, z), z), i);
            QCOMPARE(latToTileY(tileYToLat(i + 0.5, z), z), i);
        }
    }
    QCOMPARE(lonToTileX(qQNaN(), 3), 0);
    QCOMPARE(lonToTileX(1e300, 3), std::numeric_limits<int>::max());
}

void TestTileGeometry::visibleAreaOfView_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("centerX");
    QTest::addColumn<double>("centerY");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<double>("west");
    QTest::addColumn<double>("north");
    QTest::addColumn<double>("east");
    QTest::addColumn<double>("south");
    QTest::newRow("first start 500x400")
        << 500 << 400 << 1.0 << 1.0 << 1 << -175.78125 << 80.17871349622823 << 175.78125
        << -80.17871349622823;
    QTest::newRow("odd width uses the exact half")
        << 257 << 256 << 1.0 << 1.0 << 1 << -90.3515625 << 66.51326044311186 << 90.3515625
        << -66.51326044311186;
    QTest::newRow("beyond the east edge is not clamped")
        << 512 << 512 << 2.0 << 1.0 << 1 << 0.0 << 85.0511287798066 << 360.0 << -85.0511287798066;
}

void TestTileGeometry::visibleAreaOfView()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, centerX);
    QFETCH(double, centerY);
    QFETCH(int, zoom);
    QFETCH(double, west);
    QFETCH(double, north);
    QFETCH(double, east);
    QFETCH(double, south);
    const GeoArea area = visibleArea(width, height, centerX, centerY, zoom);
    QVERIFY2(qAbs(area.west - west) < 1e-9, qPrintable(QString::number(area.west, 'g', 17)));
    QVERIFY2(qAbs(area.north - north) < 1e-9, qPrintable(QString::number(area.north, 'g', 17)));
    QVERIFY2(qAbs(area.east - east) < 1e-9, qPrintable(QString::number(area.east, 'g', 17)));
    QVERIFY2(qAbs(area.south - south) < 1e-9, qPrintable(QString::number(area.south, 'g', 17)));
}

void TestTileGeometry::axisPlacement_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<double>("center");
    QTest::addColumn<int>("firstTile");
    QTest::addColumn<int>("firstPixel");
    QTest::newRow("centre 3.0 on 512") << 512 << 3.0 << 2 << 0;
    QTest::newRow("centre 1.0 on 500") << 500 << 1.0 << 0 << -6;
    QTest::newRow("centre 1.0 on 400") << 400 << 1.0 << 0 << -56;
    QTest::newRow("tile edge exactly at 0") << 256 << 1.5 << 1 << 0;
    QTest::newRow("needs two steps back") << 1920 << 0.25 << -4 << -128;
    QTest::newRow("negative centre floors") << 100 << -0.5 << -1 << -78;
    QTest::newRow("fraction truncates") << 10 << 0.0039 << -1 << -252;
}

void TestTileGeometry::axisPlacement()
{
    QFETCH(int, length);
    QFETCH(double, center);
    QFETCH(int, firstTile);
    QFETCH(int, firstPixel);
    const AxisPlacement p = placeAxis(length, center);
    QCOMPARE(p.firstTile, firstTile);
    QCOMPARE(p.firstPixel, firstPixel);
    QVERIFY(p.firstPixel <= 0 && p.firstPixel > -TileSize);
}

void TestTileGeometry::zoomAbout_data()
{
    QTest::addColumn<QPoint>("anchor");
    QTest::addColumn<int>("oldZoom");
    QTest::addColumn<int>("requested");
    QTest::addColumn<double>("cx");
    QTest::addColumn<double>("cy");
    QTest::addColumn<int>("newZoom");
    QTest::addColumn<double>("newCx");
    QTest::addColumn<double>("newCy");
    const QPoint mid(250, 200); // centre of a 500 x 400 view
    QTest::newRow("in about centre doubles") << mid << 3 << 4 << 3.25 << 5.5 << 4 << 6.5 << 11.0;
    QTest::newRow("out about centre halves") << mid << 3 << 2 << 3.25 << 5.5 << 2 << 1.625 << 2.75;
    QTest::newRow("0 becomes 1") << mid << 3 << 0 << 4.0 << 4.0 << 1 << 1.0 << 1.0;
    QTest::newRow("-5 becomes 1") << mid << 2 << -5 << 2.0 << 2.0 << 1 << 1.0 << 1.0;
    QTest::newRow("18 becomes 17") << mid << 16 << 18 << 1.0 << 1.0 << 17 << 2.0 << 2.0;
    QTest::newRow("40 becomes 17") << mid << 15 << 40 << 1.0 << 1.0 << 17 << 4.0 << 4.0;
    QTest::newRow("same zoom after clamping keeps the centre")
        << QPoint(0, 0) << 17 << 18 << 1.123456789 << 7.0 << 17 << 1.123456789 << 7.0;
    QTest::newRow("same zoom keeps the centre") << QPoint(3, 9) << 5 << 5 << 0.1 << 0.2 << 5 << 0.1 << 0.2;
    // Anchor 256 px right and 128 px below the centre: dx = 1, dy = 0.5.
    QTest::newRow("in about an anchor") << QPoint(506, 328) << 2 << 3 << 1.0 << 1.0 << 3 << 3.0 << 2.5;
    QTest::newRow("out about an anchor") << QPoint(506, 328) << 3 << 2 << 3.0 << 2.5 << 2 << 1.0 << 1.0;
    QTest::newRow("two levels in") << QPoint(250, 200) << 1 << 3 << 1.0 << 1.0 << 3 << 4.0 << 4.0;
}

void TestTileGeometry::zoomAbout()
{
    QFETCH(QPoint, anchor);
    QFETCH(int, oldZoom);
    QFETCH(int, requested);
    QFETCH(double, cx);
    QFETCH(double, cy);
    QFETCH(int, newZoom);
    QFETCH(double, newCx);
    QFETCH(double, newCy);
    const ZoomResult r = zoomAt(anchor, 500, 400, oldZoom, requested, cx, cy);
    QCOMPARE(r.zoom, newZoom);
    QCOMPARE(r.centerX, newCx);
    QCOMPARE(r.centerY, newCy);
    QCOMPARE(r.changed, newZoom != oldZoom);
    if (r.changed) {
        // The map point under the anchor stays under it.
        const double before = cx + (anchor.x() - 250) * PixelToTile;
        const double after = r.centerX + (anchor.x() - 250) * PixelToTile;
        QCOMPARE(after / std::pow(2.0, newZoom), before / std::pow(2.0, oldZoom));
    }
}

void TestTileGeometry::parentAndQuadrant_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("px");
    QTest::addColumn<int>("py");
    QTest::addColumn<QPoint>("quadrant");
    QTest::newRow("top-left child") << 4 << 6 << 3 << 2 << 3 << QPoint(0, 0);
    QTest::newRow("top-right child") << 5 << 6 << 3 << 2 << 3 << QPoint(128, 0);
    QTest::newRow("bottom-left child") << 4 << 7 << 3 << 2 << 3 << QPoint(0, 128);
    QTest::newRow("bottom-right child") << 3 << 3 << 2 << 1 << 1 << QPoint(128, 128);
    QTest::newRow("zoom 1 to the world tile") << 1 << 0 << 1 << 0 << 0 << QPoint(128, 0);
}

void TestTileGeometry::parentAndQuadrant()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, zoom);
    QFETCH(int, px);
    QFETCH(int, py);
    QFETCH(QPoint, quadrant);
    const TileId child{x, y, zoom};
    QCOMPARE(parentTile(child), (TileId{px, py, zoom - 1}));
    QCOMPARE(parentQuadrant(child), quadrant);
}

void TestTileGeometry::tileExistence_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<bool>("exists");
    QTest::newRow("world tile") << 0 << 0 << 0 << true;
    QTest::newRow("last of z2") << 3 << 3 << 2 << true;
    QTest::newRow("column n") << 4 << 0 << 2 << false;
    QTest::newRow("row -1") << 0 << -1 << 2 << false;
    QTest::newRow("no wrap") << -1 << 0 << 5 << false;
    QTest::newRow("last of z17") << 131071 << 0 << 17 << true;
}

void TestTileGeometry::tileExistence()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, zoom);
    QFETCH(bool, exists);
    QCOMPARE(tileExists(x, y, zoom), exists);
}

QTEST_APPLESS_MAIN(TestTileGeometry)
#include "tst_tilegeometry.moc"
