// What other programs make of a tile folder, read by the real readers (GDAL's
// command-line tools, sqlite3): the GDAL and QGIS descriptions, the elevation
// mosaic over synthetic SRTM archives, and the MBTiles export, including one
// killed halfway.

#include "TileBodies.h"
#include "acquire/ElevationMosaic.h"
#include "acquire/MbtilesExport.h"
#include "acquire/TileFolderDescription.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>
#include <QtEndian>

namespace {

const double Edge = 20037508.342789244;

struct Run
{
    int code = -1;
    QString out;
};

Run run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.waitForFinished(120000);
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               QString::fromUtf8(process.readAll())};
}

// A tile whose colour tells its place, so a flipped row cannot pass.
QImage tileImage(int z, int x, int y)
{
    QImage image(256, 256, QImage::Format_ARGB32);
    image.fill(QColor(30 + 50 * x, 30 + 50 * y, 60 + 40 * z));
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.drawLine(0, 0, 255, 100 + 20 * y);
    return image;
}

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void put(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

void putTile(const QString &root, int z, int x, int y)
{
    put(QStringLiteral("%1/%2/%3/%4.png").arg(root).arg(z).arg(x).arg(y), png(tileImage(z, x, y)));
}

// -projwin of tile (z, x, y) in Web Mercator metres.
QStringList tileWindow(int z, int x, int y)
{
    const double side = 2 * Edge / (1 << z);
    return {QStringLiteral("-projwin"), QString::number(-Edge + x * side, 'f', 3),
            QString::number(Edge - y * side, 'f', 3), QString::number(-Edge + (x + 1) * side, 'f', 3),
            QString::number(Edge - (y + 1) * side, 'f', 3)};
}

// The tile's window read through GDAL equals the tile.
void readsAsTile(const QStringList &open, const QString &out, int z, int x, int y)
{
    const Run translate = run(QStringLiteral("gdal_translate"),
                              QStringList{QStringLiteral("-q"), QStringLiteral("-of"), QStringLiteral("PNG")}
                                  + tileWindow(z, x, y) + open + QStringList{out});
    QVERIFY2(translate.code == 0, qPrintable(translate.out));
    const QImage read(out);
    QCOMPARE(read.size(), QSize(256, 256));
    QCOMPARE(read.convertToFormat(QImage::Format_ARGB32), tileImage(z, x, y));
}

QString sql(const QString &db, const QString &statement)
{
    return run(QStringLiteral("sqlite3"), {db, statement}).out.trimmed();
}

bool haveTools(const QStringList &tools)
{
    for (const QString &tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return false;
    return true;
}

} // namespace

class TestOtherPrograms : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (!haveTools({QStringLiteral("gdalinfo"), QStringLiteral("gdal_translate"),
                        QStringLiteral("gdallocationinfo"), QStringLiteral("sqlite3")}))
            QSKIP("gdal-bin or sqlite3 is not installed");
    }
    void descriptions_data();
    void descriptions();
    void elevationMosaic();
    void mbtilesExport();
    void exportKilledHalfway_data();
    void exportKilledHalfway();
};

void TestOtherPrograms::descriptions_data()
{
    QTest::addColumn<QVector<int>>("zooms"); // a later job adds the last one
    QTest::addColumn<int>("level");
    QTest::newRow("one level") << QVector<int>{2} << 2;
    QTest::newRow("deeper later") << QVector<int>{1, 3} << 3;
    QTest::newRow("shallower later") << QVector<int>{3, 1} << 3;
}

void TestOtherPrograms::descriptions()
{
    QFETCH(QVector<int>, zooms);
    QFETCH(int, level);
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("my tiles")); // a space in the address
    for (int z : zooms) {
        putTile(root, z, 1, 1); // all else are holes
        QVERIFY(TileFolderDescription::write(root).ok);
    }
    const QString gdal = root + QStringLiteral("/my tiles.xml");
    const Run info = run(QStringLiteral("gdalinfo"), {gdal});
    QVERIFY2(info.code == 0, qPrintable(info.out));
    QVERIFY(info.out.contains(QStringLiteral("ID[\"EPSG\",3857]")));
    QVERIFY(info.out.contains(QStringLiteral("Size is %1, %1").arg(256 << level)));
    readsAsTile({gdal}, dir.filePath(QStringLiteral("tile.png")), level, 1, 1);
    // The whole raster, holes included, reads without an error.
    const Run whole = run(QStringLiteral("gdal_translate"),
                          {QStringLiteral("-q"), QStringLiteral("-outsize"), QStringLiteral("256"), QStringLiteral("256"),
                           gdal, dir.filePath(QStringLiteral("whole.tif"))});
    QVERIFY2(whole.code == 0 && !whole.out.contains(QStringLiteral("ERROR")), qPrintable(whole.out));

    QFile qgis(root + QStringLiteral("/my tiles-qgis.xml"));
    QVERIFY(qgis.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&qgis);
    while (xml.readNextStartElement() && xml.name() != QLatin1String("xyztiles"))
        ;
    QCOMPARE(xml.attributes().value(QStringLiteral("url")).toString(),
             QStringLiteral("file://%1/{z}/{x}/{y}.png").arg(QString(root).replace(QLatin1Char(' '), QLatin1String("%20"))));
    QCOMPARE(xml.attributes().value(QStringLiteral("zmin")).toInt(), *std::min_element(zooms.begin(), zooms.end()));
    QCOMPARE(xml.attributes().value(QStringLiteral("zmax")).toInt(), level);
}

void TestOtherPrograms::elevationMosaic()
{
    // Heights follow the position on one grid across all archives, so the
    // shared edges agree, as in real ones.
    const auto height = [](int gx, int gy) { return qint16((gx * 7 + gy * 3) % 30000); };
    const int west = 11, north = 47; // cells (11,47) (12,47) (11,46)
    const QVector<QPair<int, int>> cells{{11, 47}, {12, 47}, {11, 46}};
    QTemporaryDir dir;
    for (const auto &cell : cells) {
        QByteArray hgt(ElevationMosaic::Samples * ElevationMosaic::Samples * 2, '\0');
        for (int row = 0; row < ElevationMosaic::Samples; ++row)
            for (int col = 0; col < ElevationMosaic::Samples; ++col)
                qToBigEndian(height((cell.first - west) * 1200 + col, (north - cell.second) * 1200 + row),
                             hgt.data() + 2 * (row * ElevationMosaic::Samples + col));
        const QString name = QStringLiteral("N%1E%2.hgt").arg(cell.second).arg(cell.first, 3, 10, QLatin1Char('0'));
        put(dir.filePath(name), hgt);
        QDir().mkpath(dir.filePath(QStringLiteral("Eurasia")));
        const Run zip = run(QStringLiteral("/usr/bin/python3"),
                            {QStringLiteral("-c"),
                             QStringLiteral("import sys,zipfile; zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)"
                                            ".write(sys.argv[2],sys.argv[3])"),
                             dir.filePath(QStringLiteral("Eurasia/%1.zip").arg(name)), dir.filePath(name), name});
        QVERIFY2(zip.code == 0, qPrintable(zip.out));
    }
    QVERIFY(ElevationMosaic::write(dir.path()).ok);
    const QString vrt = dir.filePath(ElevationMosaic::fileName(dir.path()));
    // Inside one archive, just east of a shared edge, on it, and in the one below.
    const QVector<QPair<int, int>> samples{{600, 300}, {1201, 600}, {1200, 600}, {300, 2100}};
    for (const auto &at : samples) {
        const double lon = west + at.first / 1200.0;
        const double lat = north + 1 - at.second / 1200.0;
        const Run value = run(QStringLiteral("gdallocationinfo"),
                              {QStringLiteral("-valonly"), QStringLiteral("-wgs84"), vrt, QString::number(lon, 'f', 8),
                               QString::number(lat, 'f', 8)});
        QVERIFY2(value.code == 0, qPrintable(value.out));
        QCOMPARE(value.out.trimmed().toInt(), int(height(at.first, at.second)));
    }
}

void TestOtherPrograms::mbtilesExport()
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("tiles"));
    for (int x = 0; x < 2; ++x)
        putTile(root, 1, x, 0);
    putTile(root, 2, 2, 1);
    put(root + QStringLiteral("/2/3/3.png"), TileBodies::unsound().first().second);
    put(root + QStringLiteral("/2/3/2.jpg"), TileBodies::encoded("JPEG"));
    put(root + QStringLiteral("/2/3/1.png"), TileBodies::encoded("JPEG")); // named png, holding a JPEG
    put(root + QStringLiteral("/2/2/1.PNG"), png(tileImage(2, 2, 1)));     // the same place once more
    put(root + QStringLiteral("/2/03/1.png"), png(tileImage(2, 2, 1)));    // no column number
    const QString target = dir.filePath(QStringLiteral("out.mbtiles"));
    MbtilesExport::Request request{root, target, QString(), QString(), QStringLiteral("credit"), true};
    const std::atomic_bool cancel{false};
    const MbtilesExport::Result result = MbtilesExport::run(request, cancel, nullptr);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.packed, 3);
    QCOMPARE(result.found, 7);
    QCOMPARE(result.skipped(), 4);
    QCOMPARE(result.otherFormat, 2);
    QCOMPARE(result.duplicate, 1);
    QCOMPARE(int(QFile::permissions(target) & 0x0fff), 0x0644); // readable by all, as a new document
    QCOMPARE(result.format, QStringLiteral("png"));

    QCOMPARE(sql(target, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    QCOMPARE(sql(target, QStringLiteral("PRAGMA application_id")), QString::number(0x4d504258));
    QCOMPARE(sql(target, QStringLiteral("SELECT tile_row FROM tiles WHERE zoom_level = 2")), QStringLiteral("2"));
    QCOMPARE(sql(target, QStringLiteral("SELECT value FROM metadata WHERE name = 'type'")), QStringLiteral("overlay"));
    const Run info = run(QStringLiteral("gdalinfo"), {target});
    QVERIFY2(info.code == 0, qPrintable(info.out));
    QVERIFY(info.out.contains(QStringLiteral("minzoom=1")));
    QVERIFY(info.out.contains(QStringLiteral("maxzoom=2")));
    QVERIFY(info.out.contains(QStringLiteral("bounds=-180.000000,0.000000,180.000000,85.051129")));
    readsAsTile({QStringLiteral("-oo"), QStringLiteral("ZOOM_LEVEL=2"), target}, dir.filePath(QStringLiteral("t.png")),
                2, 2, 1);

    // Stopped once its draft is begun, it changes nothing and leaves no draft.
    const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    std::atomic_bool stop{false};
    QVERIFY(MbtilesExport::run(request, stop, [&](qint64, qint64) { stop = true; }).cancelled);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    QCOMPARE(sql(target, QStringLiteral("SELECT count(*) FROM tiles")), QStringLiteral("3"));
}

void TestOtherPrograms::exportKilledHalfway_data()
{
    QTest::addColumn<bool>("earlierExport");
    QTest::newRow("over an earlier export") << true;
    QTest::newRow("new file") << false;
}

// A child process packs and is killed once half is in its temporary file.
void TestOtherPrograms::exportKilledHalfway()
{
    QFETCH(bool, earlierExport);
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("tiles"));
    const QByteArray body = png(tileImage(8, 0, 0));
    for (int i = 0; i < 300; ++i)
        put(QStringLiteral("%1/8/%2/%3.png").arg(root).arg(i / 16).arg(i % 16), body);
    const QString target = dir.filePath(QStringLiteral("out.mbtiles"));
    QByteArray before;
    if (earlierExport) {
        put(root + QStringLiteral("/7/0/0.png"), body);
        const std::atomic_bool cancel{false};
        QVERIFY(MbtilesExport::run(MbtilesExport::Request{root, target, {}, {}, {}, false}, cancel, nullptr).ok);
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        before = file.readAll();
    }
    QProcess child;
    child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/mbtiles_export_child"), {root, target});
    QVERIFY(child.waitForStarted());
    while (!child.readAllStandardOutput().contains("half"))
        QVERIFY(child.waitForReadyRead(60000));
    child.kill();
    QVERIFY(child.waitForFinished());
    QFile file(target);
    QCOMPARE(file.exists(), earlierExport);
    if (earlierExport) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        QCOMPARE(sql(target, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    }
}

QTEST_GUILESS_MAIN(TestOtherPrograms)
#include "tst_otherprograms.moc"
