#include "app/DestinationFolder.h"
#include "app/DownloadZoomRule.h"
#include "app/ProgramFiles.h"
#include "settings/AppConfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestAppCore : public QObject
{
    Q_OBJECT

private slots:
    void catalogueChoice_data();
    void catalogueChoice();
    void manualUrl_data();
    void manualUrl();
    void maxDownloadZoom_data();
    void maxDownloadZoom();
    void limitApplies_data();
    void limitApplies();
    void zoomRule_data();
    void zoomRule();
    void defaultDestination_data();
    void defaultDestination();
    void pickedDestination_data();
    void pickedDestination();
    void projectionFile();
    void projectionFileInUnwritableFolder();
    void proxyDelay_data();
    void proxyDelay();

private:
    static void touch(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
};

void TestAppCore::catalogueChoice_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("expected");
    // Sorting ignores case but the name test does not: cvtile_en sorts first yet never matches.
    QTest::newRow("case-insensitive order") << QStringList{"cvtile_en.qm", "CvTile_de.qm"} << "CvTile_de.qm";
    QTest::newRow("substring anywhere") << QStringList{"app.qm", "xCvTile.qm"} << "xCvTile.qm";
    QTest::newRow("first of several matches") << QStringList{"CvTile_fr.qm", "CvTile_de.qm"} << "CvTile_de.qm";
    QTest::newRow("no match") << QStringList{"app.qm", "qt_de.qm", "CVTILE.qm"} << QString();
    QTest::newRow("only .qm files count") << QStringList{"CvTile_de.ts", "CvTile.txt"} << QString();
    QTest::newRow("empty folder") << QStringList{} << QString();
}

void TestAppCore::catalogueChoice()
{
    QFETCH(QStringList, files);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    for (const QString &name : files)
        touch(dir.filePath(name));
    const QString found = ProgramFiles::findCatalogue(dir.path());
    QCOMPARE(found, expected.isEmpty() ? QString() : QDir(dir.path()).absoluteFilePath(expected));
}

void TestAppCore::manualUrl_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("localFile");
    QTest::newRow("unix path") << "/opt/tilewright/bin" << "/opt/tilewright/bin/Manuals/Tilewright.pdf";
    QTest::newRow("blank in path") << "/home/a b/bin" << "/home/a b/bin/Manuals/Tilewright.pdf";
    QTest::newRow("drive path") << "C:/Program Files/Tilewright" << "C:/Program Files/Tilewright/Manuals/Tilewright.pdf";
}

void TestAppCore::manualUrl()
{
    QFETCH(QString, folder);
    QFETCH(QString, localFile);
    const QUrl url = ProgramFiles::manualUrl(folder);
    QVERIFY(url.isValid());
    QCOMPARE(url.scheme(), QStringLiteral("file"));
    QVERIFY(url.host().isEmpty());
    if (localFile.startsWith(QLatin1Char('/')))
        QCOMPARE(url.toLocalFile(), localFile);
    else
        QCOMPARE(url.path(), QLatin1Char('/') + localFile);
}

void TestAppCore::maxDownloadZoom_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("limit");
    const int table[][2] = {{0, 0},   {1, 7},   {2, 7},   {3, 9},   {4, 9},   {5, 10},
                            {6, 10},  {7, 11},  {8, 11},  {9, 13},  {10, 14}, {11, 14},
                            {12, 15}, {13, 15}, {14, 16}, {15, 0},  {17, 0},  {18, 0}};
    for (const auto &row : table)
        QTest::addRow("zoom %d", row[0]) << row[0] << row[1];
}

void TestAppCore::maxDownloadZoom()
{
    QFETCH(int, current);
    QFETCH(int, limit);
    QCOMPARE(DownloadZoomRule::maxDownloadZoom(current), limit);
}

void TestAppCore::limitApplies_data()
{
    QTest::addColumn<bool>("downloadMode");
    QTest::addColumn<int>("sourceKind");
    QTest::addColumn<QString>("sourceFolder");
    QTest::addColumn<bool>("applies");
    QTest::newRow("standard") << true << 0 << QString() << true;
    QTest::newRow("seamarks") << true << 1 << QString() << true;
    QTest::newRow("elevation") << true << 2 << QString() << false;
    QTest::newRow("listed server") << true << 3 << "http://tiles.example.org/" << false;
    QTest::newRow("listed openstreetmap") << true << 4 << "http://a.tile.openstreetmap.org/" << true;
    QTest::newRow("case-sensitive name") << true << 3 << "http://tile.OpenStreetMap.org/" << false;
    QTest::newRow("copy mode") << false << 0 << "/data/openstreetmap" << false;
}

void TestAppCore::limitApplies()
{
    QFETCH(bool, downloadMode);
    QFETCH(int, sourceKind);
    QFETCH(QString, sourceFolder);
    QFETCH(bool, applies);
    QCOMPARE(DownloadZoomRule::limitApplies(downloadMode, sourceKind, sourceFolder), applies);
}

void TestAppCore::zoomRule_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("applies");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("afterChange");
    QTest::addColumn<int>("afterPaint");
    QTest::newRow("5: 14 becomes 10") << 5 << true << 14 << 10 << 10;
    QTest::newRow("5: 8 stays") << 5 << true << 8 << 8 << 8;
    QTest::newRow("5: below current, paint raises") << 5 << true << 3 << 3 << 5;
    QTest::newRow("15: 18 stays") << 15 << true << 18 << 18 << 18;
    QTest::newRow("15: 15 stays") << 15 << true << 15 << 15 << 15;
    QTest::newRow("copy mode 3: 18 stays") << 3 << false << 18 << 18 << 18;
    QTest::newRow("14: 18 becomes 16") << 14 << true << 18 << 16 << 16;
    QTest::newRow("9: 13 stays") << 9 << true << 13 << 13 << 13;
    QTest::newRow("1: 18 becomes 7") << 1 << true << 18 << 7 << 7;
}

void TestAppCore::zoomRule()
{
    QFETCH(int, current);
    QFETCH(bool, applies);
    QFETCH(int, value);
    QFETCH(int, afterChange);
    QFETCH(int, afterPaint);
    QCOMPARE(DownloadZoomRule::afterValueChanged(value, current, applies), afterChange);
    QCOMPARE(DownloadZoomRule::afterPaint(value, current, applies), afterPaint);
    // A value within the rule is left alone by a second pass.
    QCOMPARE(DownloadZoomRule::afterValueChanged(afterChange, current, applies), afterChange);
}

void TestAppCore::defaultDestination_data()
{
    QTest::addColumn<bool>("onD");
    QTest::addColumn<bool>("onC");
    QTest::addColumn<QString>("expected");
    QTest::newRow("neither") << false << false << "C/temp/";
    QTest::newRow("only C") << false << true << "C/mapdata/maps/earth/openstreetmap/";
    QTest::newRow("only D") << true << false << "D/mapdata/maps/earth/openstreetmap/";
    QTest::newRow("both: D wins") << true << true << "D/mapdata/maps/earth/openstreetmap/";
}

void TestAppCore::defaultDestination()
{
    QFETCH(bool, onD);
    QFETCH(bool, onC);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    QDir().mkpath(root + QStringLiteral("D"));
    QDir().mkpath(root + QStringLiteral("C"));
    if (onD)
        QVERIFY(QDir().mkpath(root + QStringLiteral("D/mapdata/maps/earth/openstreetmap")));
    if (onC)
        QVERIFY(QDir().mkpath(root + QStringLiteral("C/mapdata/maps/earth/openstreetmap")));
    qputenv("TILEWRIGHT_ROOT_D", (root + QStringLiteral("D")).toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", (root + QStringLiteral("C")).toUtf8());
    AppConfig::reload();
    QCOMPARE(DestinationFolder::defaultDestination(), root + expected);
    // The fallback is only named, never created.
    QCOMPARE(QFileInfo::exists(root + QStringLiteral("C/temp")), false);
    qunsetenv("TILEWRIGHT_ROOT_D");
    qunsetenv("TILEWRIGHT_ROOT_C");
    AppConfig::reload();
}

void TestAppCore::pickedDestination_data()
{
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("destination");
    QTest::newRow("drive root") << "C:/" << "C:/";
    QTest::newRow("folder") << "D:/maps" << "D:/maps/";
    QTest::newRow("root") << "/" << "/";
}

void TestAppCore::pickedDestination()
{
    QFETCH(QString, picked);
    QFETCH(QString, destination);
    QCOMPARE(DestinationFolder::pickedDestination(picked), destination);
}

void TestAppCore::projectionFile()
{
    QTemporaryDir dir;
    QFile old(dir.filePath(QStringLiteral("map.prj")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(500, 'x'));
    old.close();

    QVERIFY(DestinationFolder::writeProjectionFile(dir.path()));
    QFile file(dir.filePath(QStringLiteral("map.prj")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), 91);
    QCOMPARE(bytes, QByteArrayLiteral("proj=merc\nellps=WGS84\na=6378137\nb=6378137\nlat_ts=0.0\n"
                                      "lon_0=0.0\nx_0=0.0\ny_0=0\nk=1.0\nunits=m\n"));
    QVERIFY(!bytes.contains('\r'));
}

void TestAppCore::projectionFileInUnwritableFolder()
{
    QTemporaryDir dir;
    QVERIFY(!DestinationFolder::writeProjectionFile(dir.filePath(QStringLiteral("missing/folder"))));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
}

void TestAppCore::proxyDelay_data()
{
    QTest::addColumn<QByteArray>("configured"); // empty: not set
    QTest::addColumn<int>("delay");
    QTest::newRow("default") << QByteArray() << 3000;
    QTest::newRow("shortened") << QByteArray("150") << 150;
    QTest::newRow("zero keeps the default") << QByteArray("0") << 3000;
    QTest::newRow("negative keeps the default") << QByteArray("-5") << 3000;
    QTest::newRow("text keeps the default") << QByteArray("soon") << 3000;
}

void TestAppCore::proxyDelay()
{
    QFETCH(QByteArray, configured);
    QFETCH(int, delay);
    if (configured.isEmpty())
        qunsetenv("TILEWRIGHT_PROXY_DELAY_MS");
    else
        qputenv("TILEWRIGHT_PROXY_DELAY_MS", configured);
    AppConfig::reload();
    QCOMPARE(AppConfig::instance().proxyDelayMs, delay);
    qunsetenv("TILEWRIGHT_PROXY_DELAY_MS");
    AppConfig::reload();
}

QTEST_APPLESS_MAIN(TestAppCore)
#include "tst_appcore.moc"
