#include "app/SourceChoice.h"
#include "settings/AppConfig.h"
#include "settings/SourceKind.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

// The effect of a source choice and of a theme import on the window's fields.
class TestSourceState : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void themeFolderPrefersTheFirstRoot();
    void copyChoiceKeepsDownloadSource();
    void themeChoicePointsMapAtItsServer();
    void builtInAndListedChoices();
    void themeImportKeepsWhatTheFileLacks();

private:
    QTemporaryDir drives;
    static SourceState themeWindow()
    {
        SourceState state;
        state.destFolder = QStringLiteral("/tiles/");
        state.source.sourceKind = SourceKind::FirstListedServer + 1;
        state.source.themeActive = true;
        state.source.sourceFolder = QStringLiteral("wms.example.test");
        state.source.themeHost = QStringLiteral("wms.example.test");
        state.source.themePort = QStringLiteral("8080");
        state.source.themePath = QStringLiteral("/service");
        state.source.themeQuery = QStringLiteral("layers=a");
        state.source.themeStorageMode = QStringLiteral("WebMapService");
        state.source.themeFormat = QStringLiteral("jpg");
        return state;
    }
    static SourceChoice::Applied choose(const SourceState &before, const ChosenSource &chosen)
    {
        return SourceChoice::apply(before, chosen, QStringLiteral("http://osm.example.test/{z}/{x}/{y}.png"),
                                   QStringLiteral("http://sea.example.test:81/{z}/{x}/{y}.png"), QStringList());
    }
};

void TestSourceState::initTestCase()
{
    QVERIFY(drives.isValid());
    // Read once, on the program's first use of its configuration.
    qputenv("TILEWRIGHT_ROOT_D", QFile::encodeName(drives.filePath(QStringLiteral("d"))));
    qputenv("TILEWRIGHT_ROOT_C", QFile::encodeName(drives.filePath(QStringLiteral("c"))));
}

void TestSourceState::themeFolderPrefersTheFirstRoot()
{
    const QString earth = QStringLiteral("/mapdata/maps/earth/");
    const QString onD = drives.filePath(QStringLiteral("d")) + earth;
    const QString onC = drives.filePath(QStringLiteral("c")) + earth;
    QCOMPARE(SourceChoice::themeFolder(), QString());
    QVERIFY(QDir().mkpath(onC));
    QCOMPARE(SourceChoice::themeFolder(), onC);
    QVERIFY(QDir().mkpath(onD));
    QCOMPARE(SourceChoice::themeFolder(), onD);
}

void TestSourceState::copyChoiceKeepsDownloadSource()
{
    const SourceState before = themeWindow();
    const SourceChoice::Applied applied =
        choose(before, ChosenSource{false, true, 1, -1, QStringLiteral("/from/tiles/"), QString()});
    QVERIFY(applied.copyMode);
    QVERIFY(!applied.destinationShown);
    QVERIFY(!applied.state.downloadMode);
    QCOMPARE(applied.state.source.sourceFolder, QStringLiteral("/from/tiles/"));
    // The copy leaves kind, theme and destination to the next download choice.
    QCOMPARE(applied.state.source.sourceKind, before.source.sourceKind);
    QVERIFY(applied.state.source.themeActive);
    QCOMPARE(applied.state.destFolder, before.destFolder);
}

void TestSourceState::themeChoicePointsMapAtItsServer()
{
    const int k = SourceKind::FirstListedServer + 1;
    SourceChoice::Applied wms =
        choose(themeWindow(), ChosenSource{true, false, k, k, QStringLiteral("ignored"), QStringLiteral("wms.example.test")});
    QVERIFY(!wms.copyMode);
    QVERIFY(wms.state.source.themeActive);
    QCOMPARE(wms.state.source.sourceFolder, QStringLiteral("wms.example.test"));
    QCOMPARE(wms.map.host, QStringLiteral("wms.example.test"));
    QVERIFY(!wms.map.viaHost);
    QCOMPARE(wms.map.port, -8080); // a Web Map Service
    QCOMPARE(wms.map.mode, k);
    QCOMPARE(wms.map.path, QStringLiteral("/service"));
    QCOMPARE(wms.map.query, QStringLiteral("layers=a"));
    QCOMPARE(wms.map.storageMode, QStringLiteral("WebMapService"));
    QCOMPARE(wms.map.format, QStringLiteral("jpg"));
    QCOMPARE(wms.state.destFolder, QStringLiteral("/tiles/"));
    QVERIFY(!wms.destinationShown);

    const SourceChoice::Applied tiles =
        choose(themeWindow(), ChosenSource{true, true, k, k, QString(), QStringLiteral("wms.example.test")});
    QCOMPARE(tiles.map.port, 8080);
}

void TestSourceState::builtInAndListedChoices()
{
    // A listed server other than the theme switches the theme off.
    const SourceChoice::Applied listed =
        choose(themeWindow(), ChosenSource{true, true, 5, 4, QStringLiteral("tiles.example.test"), QString()});
    QVERIFY(!listed.state.source.themeActive);
    QCOMPARE(listed.state.source.sourceKind, 5);
    // Kept in the form its downloads use: the tile's zoom/x/y follows a "/".
    QCOMPARE(listed.state.source.sourceFolder, QStringLiteral("tiles.example.test/"));
    QCOMPARE(listed.map.host, QStringLiteral("tiles.example.test/"));
    QVERIFY(listed.map.viaHost);
    QCOMPARE(listed.map.port, 0);
    QCOMPARE(listed.map.mode, 5);

    // Seamarks: the seamark host and their standard sub-folder, nested no deeper.
    SourceState before = themeWindow();
    before.destFolder = QStringLiteral("/tiles/earth/openstreetmap/");
    const SourceChoice::Applied sea = choose(before, ChosenSource{true, true, 1, 4, QString(), QString()});
    QCOMPARE(sea.map.host, QStringLiteral("sea.example.test"));
    QVERIFY(sea.destinationShown);
    QCOMPARE(sea.state.destFolder, QStringLiteral("/tiles/earth/openseamap/seamarks/"));
    QCOMPARE(sea.state.source.sourceFolder, before.source.sourceFolder);
    QVERIFY(!sea.state.source.themeActive);

    // Elevation archives: the map shows standard tiles in mode 0; the
    // destination is a folder named after the archive server.
    const SourceChoice::Applied srtm = choose(before, ChosenSource{true, true, 2, -1, QString(), QString()});
    QCOMPARE(srtm.state.source.sourceKind, int(SourceKind::ElevationArchives));
    QCOMPARE(srtm.map.host, QStringLiteral("osm.example.test"));
    QCOMPARE(srtm.map.mode, 0);
    QVERIFY(srtm.destinationShown);
    QCOMPARE(srtm.state.destFolder, AppConfig::dPath(QStringLiteral("mapdata/maps/earth/%1/").arg(QUrl(AppConfig::instance().srtmUrl).host())));
    // Chosen again, it keeps whatever destination it has by then.
    QCOMPARE(choose(srtm.state, ChosenSource{true, true, 2, -1, QString(), QString()}).state.destFolder, srtm.state.destFolder);
}

void TestSourceState::themeImportKeepsWhatTheFileLacks()
{
    QTemporaryDir roots;
    QVERIFY(roots.isValid());
    const QStringList rootList{roots.filePath(QStringLiteral("d")), roots.filePath(QStringLiteral("c"))};
    QVERIFY(QDir().mkpath(rootList.at(1) + QStringLiteral("/earth/topo")));

    DgmlTheme theme;
    theme.name = QStringLiteral("Topo");
    theme.host = QStringLiteral("topo.example.test");
    theme.protocol = QStringLiteral("https");
    theme.port = QStringLiteral("443");
    theme.path = QStringLiteral("/t/");
    theme.storageMode = QStringLiteral("Custom");
    theme.sourceDirs = QStringList{QStringLiteral("earth/topo"), QStringLiteral("../outside")};
    const SourceState imported = SourceChoice::importTheme(themeWindow(), theme, rootList);
    QCOMPARE(imported.themeName, QStringLiteral("Topo"));
    QCOMPARE(imported.source.themeHost, QStringLiteral("topo.example.test"));
    QCOMPARE(imported.source.themeProtocol, QStringLiteral("https"));
    QCOMPARE(imported.source.themePort, QStringLiteral("443"));
    QCOMPARE(imported.source.themeQuery, QString()); // the file's (empty) query replaces the old one
    QCOMPARE(imported.source.themeFormat, QStringLiteral("jpg")); // no format in the file
    QCOMPARE(imported.themeSourceDir, QString());
    // A folder outside the roots leaves the destination where the one before put it.
    QCOMPARE(imported.destFolder, rootList.at(1) + QStringLiteral("/earth/topo/"));
    // The import itself neither switches the theme on nor changes the source kind.
    QCOMPARE(imported.source.sourceKind, themeWindow().source.sourceKind);

    theme.hasFormat = true;
    theme.format = QStringLiteral("png");
    theme.hasSourceDir = true;
    theme.sourceDir = QString();
    theme.sourceDirs.clear();
    SourceState before = themeWindow();
    before.themeSourceDir = QStringLiteral("old");
    const SourceState second = SourceChoice::importTheme(before, theme, rootList);
    QCOMPARE(second.source.themeFormat, QStringLiteral("png"));
    QCOMPARE(second.themeSourceDir, QString());
    QCOMPARE(second.destFolder, before.destFolder);
}

QTEST_APPLESS_MAIN(TestSourceState)
#include "tst_sourcestate.moc"
