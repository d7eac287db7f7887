#include "mapview/TileTemplate.h"

#include <QtTest>

namespace {

const QString kMetres12 =
    QStringLiteral("bbox=-20037508.339999999851,-0.000000000708,0.000000000000,20037508.340000033379");

} // namespace

class TestTileTemplate : public QObject
{
    Q_OBJECT

private slots:
    void wmsQueryItems_data();
    void wmsQueryItems();
    void configuredBase_data();
    void configuredBase();
};

void TestTileTemplate::wmsQueryItems_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("format");
    QTest::addColumn<TileId>("tile");
    QTest::addColumn<QString>("expected");
    const TileId t010{0, 0, 1};
    QTest::newRow("lower-case srs in metres, no second srs")
        << QStringLiteral("layers=roads&srs=EPSG:900913") << QStringLiteral("png") << t010
        << QStringLiteral("service=WMS&request=GetMap&version=1.1.1&layers=roads&srs=EPSG:900913&styles="
                          "&format=image/png&width=256&height=256&")
               + kMetres12;
    QTest::newRow("upper-case SRS: metres, and srs added")
        << QStringLiteral("SRS=EPSG:900913") << QStringLiteral("png") << t010
        << QStringLiteral("service=WMS&request=GetMap&version=1.1.1&SRS=EPSG:900913&styles="
                          "&format=image/png&srs=EPSG:4326&width=256&height=256&")
               + kMetres12;
    QTest::newRow("JPG format") << QStringLiteral("layers=a") << QStringLiteral("JPG") << t010
                                << QStringLiteral("service=WMS&request=GetMap&version=1.1.1&layers=a&styles="
                                                  "&format=image/jpeg&srs=EPSG:4326&width=256&height=256"
                                                  "&bbox=-180.000000000000,0.000000000000,0.000000000000,"
                                                  "85.051128779807");
    QTest::newRow("configured styles, format and srs are kept")
        << QStringLiteral("styles=x&format=image/gif&srs=EPSG:4326") << QStringLiteral("png") << TileId{1, 1, 1}
        << QStringLiteral("service=WMS&request=GetMap&version=1.1.1&styles=x&format=image/gif&srs=EPSG:4326"
                          "&width=256&height=256&bbox=0.000000000000,-85.051128779807,180.000000000000,"
                          "0.000000000000");
    QTest::newRow("empty pieces give empty items; third part dropped")
        << QStringLiteral("a=b=c&&styles=") << QString() << t010
        << QStringLiteral("service=WMS&request=GetMap&version=1.1.1&a=b&=&styles=&format=image/"
                          "&srs=EPSG:4326&width=256&height=256"
                          "&bbox=-180.000000000000,0.000000000000,0.000000000000,85.051128779807");
}

void TestTileTemplate::wmsQueryItems()
{
    QFETCH(QString, query);
    QFETCH(QString, format);
    QFETCH(TileId, tile);
    QFETCH(QString, expected);
    QCOMPARE(TileTemplate::wmsGetMapQuery(query, format, tile), expected);
}

void TestTileTemplate::configuredBase_data()
{
    QTest::addColumn<QString>("configured");
    QTest::addColumn<QString>("base");
    QTest::newRow("https default") << QStringLiteral("https://tile.openstreetmap.org")
                                   << QStringLiteral("https://tile.openstreetmap.org");
    QTest::newRow("no scheme means https") << QStringLiteral("tile.test") << QStringLiteral("https://tile.test");
    QTest::newRow("port kept, path dropped") << QStringLiteral("http://127.0.0.1:8088/some/path/")
                                             << QStringLiteral("http://127.0.0.1:8088");
}

void TestTileTemplate::configuredBase()
{
    QFETCH(QString, configured);
    QFETCH(QString, base);
    QCOMPARE(TileTemplate::serverBase(configured), base);
}

QTEST_APPLESS_MAIN(TestTileTemplate)
#include "tst_tiletemplate.moc"
