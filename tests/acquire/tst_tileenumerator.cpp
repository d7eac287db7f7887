#include "acquire/SourceAddress.h"
#include "acquire/TileEnumerator.h"
#include "mapview/TileGeometry.h"

#include <QtTest>

#include <deque>
#include <vector>

Q_DECLARE_METATYPE(GeoArea)

#include "TestFiles.h"

using TestFiles::area;

namespace {

} // namespace

class TestTileEnumerator : public QObject
{
    Q_OBJECT

private slots:
    void levelCounts_data();
    void levelCounts();
    void columnMajorOrder();
    void chunkLimit_data();
    void chunkLimit();
    void defaultLimitOnALargeArea();
    void sinkSeesTheListedEntries();
    void elevationCells_data();
    void elevationCells();
    void elevationOrderAndRegions();
    void millionTilesOfOneLevel();
    void gridBoundsEveryLevel_data();
    void gridBoundsEveryLevel();
};

// One level at a time: range, listed and skipped counts.
void TestTileEnumerator::levelCounts_data()
{
    QTest::addColumn<GeoArea>("area");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("xMin");
    QTest::addColumn<int>("xMax");
    QTest::addColumn<int>("yMin");
    QTest::addColumn<int>("yMax");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("skipped");

    const GeoArea alps = area(10.0, 47.5, 10.5, 47.0);
    QTest::newRow("10-10.5E 47-47.5N z12") << alps << 12 << 2161 << 2167 << 1432 << 1440 << qint64(63) << qint64(0);
    QTest::newRow("same area z11") << alps << 11 << 1080 << 1083 << 716 << 720 << qint64(20) << qint64(0);
    QTest::newRow("same area z7") << alps << 7 << 67 << 67 << 44 << 45 << qint64(2) << qint64(0);
    // Column -1 (west of 180 W), column 8 (= 2^3, past the east edge) and
    // row 8 (south of the grid) are skipped: 8 columns of 6 rows remain.
    QTest::newRow("past west and east edges z3")
        << area(-190.0, 60.0, 190.0, -86.0) << 3 << -1 << 8 << 2 << 8 << qint64(10 * 7) << qint64(10 * 7 - 8 * 6);
    // Row -1 (north of the grid's top) is skipped in every column.
    QTest::newRow("north of the grid z3")
        << area(0.0, 85.06, 44.0, 80.0) << 3 << 4 << 4 << -1 << 0 << qint64(2) << qint64(1);
    QTest::newRow("all negative")
        << area(-200.0, 86.0, -181.0, 85.5) << 3 << -1 << -1 << -1 << -1 << qint64(1) << qint64(1);
}

void TestTileEnumerator::levelCounts()
{
    QFETCH(GeoArea, area);
    QFETCH(int, zoom);
    QFETCH(int, xMin);
    QFETCH(int, xMax);
    QFETCH(int, yMin);
    QFETCH(int, yMax);
    QFETCH(qint64, total);
    QFETCH(qint64, skipped);

    const TileEnumerator::LevelRange range = TileEnumerator::levelRange(area, zoom);
    QCOMPARE(range.xMin, xMin);
    QCOMPARE(range.xMax, xMax);
    QCOMPARE(range.yMin, yMin);
    QCOMPARE(range.yMax, yMax);

    std::deque<TileId> list;
    const TileEnumerator::Result result = TileEnumerator::enumerateTiles(area, zoom, zoom, list);
    QCOMPARE(result.total, total);
    QCOMPARE(result.skipped, skipped);
    QCOMPARE(qint64(list.size()), total - skipped);
    QCOMPARE(result.restartZoom, 0);
    for (const TileId &t : list) {
        QVERIFY(t.x >= 0 && t.y >= 0 && t.x < (1 << zoom) && t.y < (1 << zoom));
        QCOMPARE(t.zoom, zoom);
        QVERIFY(t.x >= xMin && t.x <= xMax && t.y >= yMin && t.y <= yMax);
    }
}

void TestTileEnumerator::columnMajorOrder()
{
    std::deque<TileId> list;
    TileEnumerator::enumerateTiles(area(10.0, 47.5, 10.5, 47.0), 11, 12, list);
    QCOMPARE(list.size(), size_t(20 + 63));
    // Level ascending, then column ascending, then rows north to south.
    std::vector<TileId> expected;
    for (int z = 11; z <= 12; ++z) {
        const int x0 = z == 11 ? 1080 : 2161, x1 = z == 11 ? 1083 : 2167;
        const int y0 = z == 11 ? 716 : 1432, y1 = z == 11 ? 720 : 1440;
        for (int x = x0; x <= x1; ++x)
            for (int y = y0; y <= y1; ++y)
                expected.push_back(TileId{x, y, z});
    }
    QVERIFY(std::equal(list.begin(), list.end(), expected.begin(), expected.end()));
}

// The limit stops the enumeration at the start of the level after the one in
// which the list grew beyond it; never at the last level.
void TestTileEnumerator::chunkLimit_data()
{
    QTest::addColumn<int>("fromZoom");
    QTest::addColumn<int>("toZoom");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("listed");
    QTest::addColumn<int>("restartZoom");

    // Levels 10, 11, 12 of the example area hold 6, 20 and 63 tiles.
    QTest::newRow("passed in the first level") << 10 << 12 << 5 << 6 << 11;
    QTest::newRow("equal is not beyond") << 10 << 12 << 6 << 26 << 12;
    QTest::newRow("passed in the second level") << 10 << 12 << 25 << 26 << 12;
    QTest::newRow("passed in the last level") << 10 << 12 << 30 << 89 << 0;
    QTest::newRow("default limit") << 10 << 12 << TileEnumerator::ListLimit << 89 << 0;
    QTest::newRow("start beyond end") << 13 << 12 << 5 << 0 << 0;
}

void TestTileEnumerator::chunkLimit()
{
    QFETCH(int, fromZoom);
    QFETCH(int, toZoom);
    QFETCH(int, limit);
    QFETCH(int, listed);
    QFETCH(int, restartZoom);

    std::deque<TileId> list;
    const TileEnumerator::Result result =
        TileEnumerator::enumerateTiles(area(10.0, 47.5, 10.5, 47.0), fromZoom, toZoom, list, limit);
    QCOMPARE(int(list.size()), listed);
    QCOMPARE(result.listed(), qint64(listed));
    QCOMPARE(result.restartZoom, restartZoom);
    if (restartZoom)
        QCOMPARE(list.back().zoom, restartZoom - 1);
}

// With the real limit: a first level under 25000 tiles does not stop the
// enumeration, the second passes it and the third becomes the next chunk,
// which starts from an empty list and enumerates its level whole.
void TestTileEnumerator::defaultLimitOnALargeArea()
{
    const GeoArea large = area(0.0, 40.0, 50.0, 0.0);
    std::deque<TileId> list;
    const TileEnumerator::Result first = TileEnumerator::enumerateTiles(large, 10, 13, list);
    const TileEnumerator::LevelRange z10 = TileEnumerator::levelRange(large, 10);
    const qint64 level10 = qint64(z10.xMax - z10.xMin + 1) * (z10.yMax - z10.yMin + 1);
    QVERIFY(level10 < TileEnumerator::ListLimit);
    QVERIFY(qint64(list.size()) > TileEnumerator::ListLimit);
    QCOMPARE(first.restartZoom, 12);
    QCOMPARE(list.back().zoom, 11);

    list.clear();
    const TileEnumerator::Result next = TileEnumerator::enumerateTiles(large, first.restartZoom, 13, list);
    QCOMPARE(next.restartZoom, 13);
    QCOMPARE(list.front().zoom, 12);
    QCOMPARE(list.back().zoom, 12);
}

void TestTileEnumerator::sinkSeesTheListedEntries()
{
    std::deque<TileId> list;
    std::vector<TileId> seen;
    TileEnumerator::enumerateTiles(area(-190.0, 60.0, 190.0, -86.0), 2, 3, list, TileEnumerator::ListLimit,
                                   [&seen](const TileId &t) { seen.push_back(t); });
    QVERIFY(!seen.empty());
    QVERIFY(std::equal(list.begin(), list.end(), seen.begin(), seen.end()));

    std::deque<TileId> cells;
    seen.clear();
    TileEnumerator::enumerateElevation(area(10.2, 48.5, 12.9, 46.1), cells,
                                       [&seen](const TileId &t) { seen.push_back(t); });
    QCOMPARE(cells.size(), size_t(3 * 3));
    QVERIFY(std::equal(cells.begin(), cells.end(), seen.begin(), seen.end()));
}

void TestTileEnumerator::elevationCells_data()
{
    QTest::addColumn<GeoArea>("area");
    QTest::addColumn<int>("lon");
    QTest::addColumn<int>("lat");
    QTest::addColumn<int>("region");
    QTest::addColumn<QString>("folder");

    // A one-cell area at each probe; the region table's first match wins and
    // its bounds are inclusive.
    auto cell = [](double lon, double lat) { return area(lon + 0.2, lat + 0.7, lon + 0.7, lat + 0.2); };
    QTest::newRow("Alps") << cell(11, 47) << 11 << 47 << 3 << QStringLiteral("Eurasia");
    QTest::newRow("Great Plains") << area(-100.2, 40.7, -100.7, 40.2) << -100 << 40 << 5 << QStringLiteral("North_America");
    QTest::newRow("Amazon") << area(-60.2, -10.2, -60.7, -10.7) << -60 << -10 << 6 << QStringLiteral("South_America");
    QTest::newRow("Outback") << area(150.2, -30.2, 150.7, -30.7) << 150 << -30 << 2 << QStringLiteral("Australia");
    QTest::newRow("Greenland sea") << area(-30.2, 70.7, -30.7, 70.2) << -30 << 70 << 4 << QStringLiteral("Islandes");
    QTest::newRow("Africa corner 60/35") << cell(60, 35) << 60 << 35 << 1 << QStringLiteral("Africa");
    QTest::newRow("Eurasia before Africa 61/35") << cell(61, 35) << 61 << 35 << 3 << QStringLiteral("Eurasia");
    QTest::newRow("Eurasia west corner -14/36") << area(-14.2, 36.7, -14.7, 36.2) << -14 << 36 << 3 << QStringLiteral("Eurasia");
    QTest::newRow("Atlantic -15/36") << area(-15.2, 36.7, -15.7, 36.2) << -15 << 36 << 4 << QStringLiteral("Islandes");
    QTest::newRow("Panama 15 is North America") << area(-80.2, 15.7, -80.7, 15.2) << -80 << 15 << 5 << QStringLiteral("North_America");
}

void TestTileEnumerator::elevationCells()
{
    QFETCH(GeoArea, area);
    QFETCH(int, lon);
    QFETCH(int, lat);
    QFETCH(int, region);
    QFETCH(QString, folder);

    std::deque<TileId> cells;
    const TileEnumerator::Result result = TileEnumerator::enumerateElevation(area, cells);
    QCOMPARE(result.total, qint64(1));
    QCOMPARE(result.skipped, qint64(0));
    QCOMPARE(cells.size(), size_t(1));
    QCOMPARE(cells.front(), (TileId{lon, lat, region}));
    QCOMPARE(SourceAddress::srtmRegionFolder(cells.front().zoom), folder);
}

// Edges are truncated toward zero: -0.5 becomes 0, not -1.
void TestTileEnumerator::elevationOrderAndRegions()
{
    std::deque<TileId> cells;
    const TileEnumerator::Result result = TileEnumerator::enumerateElevation(area(-0.5, 2.5, 1.5, 0.5), cells);
    const std::vector<TileId> expected{{0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}, {0, 2, 1}, {1, 2, 1}};
    QCOMPARE(result.total, qint64(6));
    QVERIFY(std::equal(cells.begin(), cells.end(), expected.begin(), expected.end()));

    cells.clear();
    TileEnumerator::enumerateElevation(area(-2.5, -0.2, -0.7, -1.9), cells);
    // west -2, east 0, south -1, north 0: south to north, west to east.
    const std::vector<TileId> southWest{{-2, -1, 1}, {-1, -1, 1}, {0, -1, 1}, {-2, 0, 1}, {-1, 0, 1}, {0, 0, 1}};
    QVERIFY(std::equal(cells.begin(), cells.end(), southWest.begin(), southWest.end()));
}

// A single level is enumerated whole, whatever the limit.
void TestTileEnumerator::millionTilesOfOneLevel()
{
    // 1000 columns east of the prime meridian, over 1000 rows, at zoom 14.
    const double west = 0.0, east = 999.5 * 360.0 / 16384.0;
    std::deque<TileId> list;
    const TileEnumerator::Result result =
        TileEnumerator::enumerateTiles(area(west, 60.0, east, 10.0), 14, 14, list, 10);
    QCOMPARE(result.restartZoom, 0);
    QCOMPARE(list.front().x, 8192);
    QCOMPARE(list.back().x, 8192 + 999);
    QCOMPARE(qint64(list.size()), result.listed());
    QVERIFY(list.size() > 1000000u);
}

// However far the view reaches past the grid (dragged far south, or panned
// around the world many times), a level lists only cells of the grid, each
// at most once, and the enumeration ends at once.
void TestTileEnumerator::gridBoundsEveryLevel_data()
{
    QTest::addColumn<GeoArea>("area");
    QTest::addColumn<bool>("wholeGrid"); // every cell of every level, once

    // 2.5 world heights below the grid at zoom 1 (rows 5 to 7 of a 2-row
    // world), as the map reports such a view: latitudes a hair above -90.
    const double top = TileGeometry::tileYToLat(5.0, 1), bottom = TileGeometry::tileYToLat(7.0, 1);
    QTest::newRow("far south of the grid") << area(-180.0, top, 180.0, bottom) << false;
    QTest::newRow("far north of the grid") << area(-180.0, 89.999999, 180.0, 89.99) << false;
    QTest::newRow("south pole and below") << area(-10.0, -89.0, 10.0, -90.0) << false;
    QTest::newRow("beyond the south pole") << area(-10.0, -80.0, 10.0, -120.0) << false;
    QTest::newRow("a thousand worlds east and west") << area(-180000.0, 60.0, 180000.0, 40.0) << false;
    QTest::newRow("everything") << area(-1.0e9, 90.0, 1.0e9, -90.0) << true;
    QTest::newRow("all the grid and more") << area(-400.0, 89.0, 400.0, -89.0) << true;
}

void TestTileEnumerator::gridBoundsEveryLevel()
{
    QFETCH(GeoArea, area);
    QFETCH(bool, wholeGrid);

    QElapsedTimer clock;
    clock.start();
    std::deque<TileId> list;
    const TileEnumerator::Result result = TileEnumerator::enumerateTiles(area, 1, 7, list, INT_MAX);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    qint64 grid = 0;
    for (int z = 1; z <= 7; ++z)
        grid += qint64(1) << (2 * z);
    QVERIFY(qint64(list.size()) <= grid);
    QCOMPARE(result.listed(), qint64(list.size()));
    QVERIFY(result.total >= result.skipped && result.skipped >= 0);
    QSet<quint64> seen;
    for (const TileId &t : list) {
        QVERIFY(TileGeometry::tileExists(t.x, t.y, t.zoom));
        seen.insert(quint64(t.zoom) << 40 | quint64(t.x) << 20 | quint64(t.y));
    }
    QCOMPARE(qint64(seen.size()), qint64(list.size()));
    if (wholeGrid)
        QCOMPARE(qint64(list.size()), grid);
    // Deep levels of a view beyond the poles are just as empty.
    if (area.north < -85.06 || area.south > 85.06) {
        list.clear();
        const TileEnumerator::Result deep = TileEnumerator::enumerateTiles(area, 8, 18, list, INT_MAX);
        QCOMPARE(list.size(), size_t(0));
        QCOMPARE(deep.listed(), qint64(0));
    }
}

QTEST_APPLESS_MAIN(TestTileEnumerator)
#include "tst_tileenumerator.moc"
