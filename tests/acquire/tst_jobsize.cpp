// The job size computed from the grid bounds against what the enumeration
// really lists, and the estimate shown before a large job.

#include "acquire/JobSize.h"
#include "acquire/TileEnumerator.h"
#include "TestFiles.h"

#include <QRandomGenerator>
#include <QtTest>

Q_DECLARE_METATYPE(GeoArea)

namespace {

using TestFiles::area;

qint64 enumerated(const GeoArea &a, int fromZoom, int toZoom)
{
    std::deque<TileId> list;
    qint64 listed = 0;
    int from = fromZoom;
    // The enumeration works in chunks; the count covers the whole job.
    while (from != 0 && from <= toZoom) {
        list.clear();
        const TileEnumerator::Result r = TileEnumerator::enumerateTiles(a, from, toZoom, list);
        listed += qint64(list.size());
        from = r.restartZoom;
    }
    return listed;
}

} // namespace

class TestJobSize : public QObject
{
    Q_OBJECT

private slots:
    void countAgreesWithEnumeration_data();
    void countAgreesWithEnumeration();
    void countAgreesOnRandomViews();
    void elevationCount();
    void estimate();
};

void TestJobSize::countAgreesWithEnumeration_data()
{
    QTest::addColumn<GeoArea>("view");
    QTest::addColumn<int>("fromZoom");
    QTest::addColumn<int>("toZoom");

    QTest::newRow("Alps 12..12") << area(10.0, 47.5, 10.5, 47.0) << 12 << 12;
    QTest::newRow("Alps 8..14") << area(10.0, 47.5, 10.5, 47.0) << 8 << 14;
    QTest::newRow("world 1..7") << area(-180, 85.0511, 180, -85.0511) << 1 << 7;
    QTest::newRow("past the east edge") << area(170, 10, 200, -10) << 3 << 9;
    QTest::newRow("past the west edge") << area(-200, 10, -170, -10) << 3 << 9;
    QTest::newRow("far south of the grid") << area(-20, -89.9, 20, -89.99) << 1 << 7;
    QTest::newRow("north of the grid") << area(-20, 89.99, 20, 86) << 1 << 7;
    QTest::newRow("several worlds wide") << area(-900, 60, 900, -60) << 1 << 6;
    QTest::newRow("one point") << area(11.5, 48.1, 11.5, 48.1) << 5 << 15;
    QTest::newRow("empty range") << area(10, 47, 11, 46) << 9 << 8;
}

void TestJobSize::countAgreesWithEnumeration()
{
    QFETCH(GeoArea, view);
    QFETCH(int, fromZoom);
    QFETCH(int, toZoom);
    QCOMPARE(JobSize::countTiles(view, fromZoom, toZoom), enumerated(view, fromZoom, toZoom));
}

void TestJobSize::countAgreesOnRandomViews()
{
    QRandomGenerator rng(20261208);
    for (int i = 0; i < 300; ++i) {
        const double west = rng.bounded(400.0) - 200.0;
        const double east = west + rng.bounded(30.0);
        const double north = rng.bounded(180.0) - 90.0;
        const double south = north - rng.bounded(20.0);
        const int from = 1 + int(rng.bounded(10));
        const int to = from + int(rng.bounded(4));
        const GeoArea view = area(west, north, east, south);
        QCOMPARE(JobSize::countTiles(view, from, to), enumerated(view, from, to));
    }
}

void TestJobSize::elevationCount()
{
    for (const GeoArea &view : {area(10.2, 47.7, 11.7, 46.2), area(-1.5, 0.5, 0.5, -1.5),
                                area(-96.2, 15.7, -95.1, 13.2), area(5, 5, 4, 6)}) {
        std::deque<TileId> list;
        TileEnumerator::enumerateElevation(view, list);
        QCOMPARE(JobSize::countElevationCells(view), qint64(list.size()));
    }
}

void TestJobSize::estimate()
{
    QCOMPARE(JobSize::medianBytes({}), qint64(0));
    QCOMPARE(JobSize::medianBytes({300, 100, 200}), qint64(200));
    QCOMPARE(JobSize::medianBytes({5, 1, 1000000, 7}), qint64(7));

    // No tiles of the source held: the default size; no earlier job: no time.
    JobSize::Estimate e = JobSize::estimate(60000, 0, 20480, 0.0);
    QCOMPARE(e.bytes, qint64(60000) * 20480);
    QCOMPARE(e.seconds, qint64(-1));

    e = JobSize::estimate(60000, 15000, 20480, 40.0);
    QCOMPARE(e.bytes, qint64(60000) * 15000);
    QCOMPARE(e.seconds, qint64(1500));
    e = JobSize::estimate(7, 1, 20480, 2.0);
    QCOMPARE(e.seconds, qint64(4)); // rounded up: never promises less than it takes
}

QTEST_APPLESS_MAIN(TestJobSize)
#include "tst_jobsize.moc"
