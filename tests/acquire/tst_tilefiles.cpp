#include "acquire/TileFiles.h"

#include <QtTest>

using SourceAddress::TileSource;

Q_DECLARE_METATYPE(TileSource)

class TestTileFiles : public QObject
{
    Q_OBJECT

private slots:
    void target_data();
    void target();
    void safeExtension_data();
    void safeExtension();
    void fileNames_data();
    void fileNames();
};

namespace {

TileSource kind(int sourceKind, bool tileLayout = true)
{
    TileSource s;
    s.sourceKind = sourceKind;
    s.tileLayout = tileLayout;
    return s;
}

TileSource theme(const QString &format, bool tileLayout = true)
{
    TileSource s = kind(3, tileLayout);
    s.themeActive = true;
    s.themeFormat = format;
    return s;
}

} // namespace

void TestTileFiles::target_data()
{
    QTest::addColumn<TileSource>("source");
    QTest::addColumn<TileId>("entry");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("fileName");

    const TileId tile{2176, 1436, 12};
    QTest::newRow("standard tiles") << kind(0) << tile << QStringLiteral("https://tile.example/12/2176/1436.png")
                                    << QStringLiteral("/d/12/2176/") << QStringLiteral("1436.png");
    QTest::newRow("seamarks") << kind(1) << tile << QStringLiteral("http://sea.example/seamark/12/2176/1436.png")
                              << QStringLiteral("/d/12/2176/") << QStringLiteral("1436.png");
    QTest::newRow("listed tile server") << kind(4) << tile << QStringLiteral("http://h:81/t/12/2176/1436.png")
                                        << QStringLiteral("/d/12/2176/") << QStringLiteral("1436.png");
    QTest::newRow("listed WMS") << kind(3, false) << tile
                                << QStringLiteral("http://h/wms?SERVICE=WMS&bbox=1,2,3,4/5")
                                << QStringLiteral("/d/12/2176/") << QStringLiteral("1436.png");
    QTest::newRow("theme jpg") << theme(QStringLiteral("jpg")) << tile << QStringLiteral("http://h:80/x/12/2176/1436.png")
                               << QStringLiteral("/d/12/2176/") << QStringLiteral("1436.jpg");
    QTest::newRow("theme WMS png") << theme(QStringLiteral("png"), false) << tile
                                   << QStringLiteral("http://h:80/wms?bbox=1,2,3,4")
                                   << QStringLiteral("/d/12/2176/") << QStringLiteral("1436.png");
    // A format with separators never leads out of the tile's folder.
    QTest::newRow("theme format with path") << theme(QStringLiteral("../../../etc/cron.d/x")) << tile
                                            << QStringLiteral("http://h:80/a") << QStringLiteral("/d/12/2176/")
                                            << QStringLiteral("1436.x");
    QTest::newRow("elevation") << kind(2) << TileId{11, 47, 3}
                               << QStringLiteral("https://srtm.example/SRTM3/Eurasia/N47E011.hgt.zip")
                               << QStringLiteral("/d/Eurasia/") << QStringLiteral("N47E011.hgt.zip");
    QTest::newRow("elevation south-west") << kind(2) << TileId{-5, -3, 1}
                                          << QStringLiteral("https://s/SRTM3/Africa/S03W005.hgt.zip")
                                          << QStringLiteral("/d/Africa/") << QStringLiteral("S03W005.hgt.zip");
    // The server's "Islands" archives go to the local "Islandes" folder.
    QTest::newRow("elevation islands") << kind(2) << TileId{-30, 70, 4}
                                       << QStringLiteral("https://s/SRTM3/Islands/N70W030.hgt.zip")
                                       << QStringLiteral("/d/Islandes/") << QStringLiteral("N70W030.hgt.zip");
    QTest::newRow("elevation bad region") << kind(2) << TileId{1, 1, 9} << QStringLiteral("https://s/x.zip")
                                          << QString() << QString();
}

void TestTileFiles::target()
{
    QFETCH(TileSource, source);
    QFETCH(TileId, entry);
    QFETCH(QString, address);
    QFETCH(QString, folder);
    QFETCH(QString, fileName);

    const TileFiles::Target t = TileFiles::target(QStringLiteral("/d/"), source, entry, address);
    QCOMPARE(t.folder, folder);
    QCOMPARE(t.fileName, fileName);
    QCOMPARE(t.isValid(), !folder.isEmpty());
    if (t.isValid())
        QVERIFY(QDir::cleanPath(t.path()).startsWith(QLatin1String("/d/")));
}

void TestTileFiles::safeExtension_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("changed");

    QTest::newRow("png") << QStringLiteral("png") << QStringLiteral("png") << false;
    QTest::newRow("JPG kept as written") << QStringLiteral("JPG") << QStringLiteral("JPG") << false;
    QTest::newRow("mime type") << QStringLiteral("image/png") << QStringLiteral("png") << true;
    QTest::newRow("parent folders") << QStringLiteral("../../evil") << QStringLiteral("evil") << true;
    QTest::newRow("backslashes") << QStringLiteral("..\\..\\win") << QStringLiteral("win") << true;
    QTest::newRow("only dots") << QStringLiteral("..") << QStringLiteral("png") << true;
    QTest::newRow("trailing dots piece") << QStringLiteral("png/..") << QStringLiteral("png") << true;
    QTest::newRow("dot inside") << QStringLiteral("tar.gz") << QStringLiteral("targz") << true;
    QTest::newRow("space") << QStringLiteral("pn g") << QStringLiteral("png") << true;
}

void TestTileFiles::safeExtension()
{
    QFETCH(QString, format);
    QFETCH(QString, extension);
    QFETCH(bool, changed);

    bool reduced = !changed;
    QCOMPARE(TileFiles::safeExtension(format, &reduced), extension);
    QCOMPARE(reduced, changed);
}

void TestTileFiles::fileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("safe");

    QTest::newRow("tile") << QStringLiteral("1436.png") << true;
    QTest::newRow("archive") << QStringLiteral("N47E011.hgt.zip") << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("dot") << QStringLiteral(".") << false;
    QTest::newRow("dot dot") << QStringLiteral("..") << false;
    QTest::newRow("slash") << QStringLiteral("a/b") << false;
    QTest::newRow("backslash") << QStringLiteral("a\\b") << false;
}

void TestTileFiles::fileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, safe);
    QCOMPARE(TileFiles::Target::isSafeFileName(name), safe);
}

QTEST_APPLESS_MAIN(TestTileFiles)
#include "tst_tilefiles.moc"
