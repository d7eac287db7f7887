// The saved server list and where a source choice or a theme puts the
// destination folder, on real settings files and real folders.

#include "settings/ServerList.h"
#include "settings/SettingsKeys.h"
#include "settings/SourceDestination.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestSourceSettings : public QObject
{
    Q_OBJECT

private slots:
    void serverList_data();
    void serverList();
    void standardDestination_data();
    void standardDestination();
    void choosingAgainDoesNotNest();
    void themeDestination_data();
    void themeDestination();

private:
    QStringList makeRoots(const QString &existing);
    QTemporaryDir m_dir;
};

void TestSourceSettings::serverList_data()
{
    QTest::addColumn<QVariant>("storedCount"); // invalid: no key
    QTest::addColumn<QStringList>("storedServers"); // "-": key missing
    QTest::addColumn<QStringList>("read");
    QTest::addColumn<int>("addedAs");

    QTest::newRow("none") << QVariant() << QStringList() << QStringList() << 1;
    QTest::newRow("two") << QVariant(2) << QStringList{"a", "b"} << QStringList{"a", "b"} << 3;
    QTest::newRow("first key missing") << QVariant(2) << QStringList{"-", "b"} << QStringList{"", "b"} << 3;
    QTest::newRow("count short of the keys") << QVariant(1) << QStringList{"a", "b"} << QStringList{"a"} << 2;
    QTest::newRow("negative count") << QVariant(-4) << QStringList{"a"} << QStringList() << 1;
    QTest::newRow("count not a number") << QVariant(QStringLiteral("many")) << QStringList{"a"} << QStringList() << 1;
    QStringList thousand;
    for (int i = 0; i < ServerList::MaxEntries; ++i)
        thousand << QStringLiteral("s%1").arg(i + 1);
    // A full list refuses the new entry (0) and keeps its last one; an absurd
    // count reads no more than the limit and is full too.
    QTest::newRow("full") << QVariant(ServerList::MaxEntries) << thousand << thousand << 0;
    QTest::newRow("absurd count") << QVariant(50000000) << thousand << thousand << 0;
}

void TestSourceSettings::serverList()
{
    QFETCH(QVariant, storedCount);
    QFETCH(QStringList, storedServers);
    QFETCH(QStringList, read);
    QFETCH(int, addedAs);

    const QString file = m_dir.filePath(QStringLiteral("%1.ini").arg(QTest::currentDataTag()));
    {
        QSettings store(file, QSettings::IniFormat);
        if (storedCount.isValid())
            store.setValue(SettingsKeys::ServerCount.path(), storedCount);
        for (int i = 0; i < storedServers.size(); ++i) {
            if (storedServers.at(i) != QLatin1String("-"))
                SettingsKeys::server(i + 1).write(store, storedServers.at(i));
        }
    }
    QSettings store(file, QSettings::IniFormat);
    QCOMPARE(ServerList::read(store), read);
    QCOMPARE(ServerList::add(store, QStringLiteral("new")), addedAs);
    store.sync();

    QSettings again(file, QSettings::IniFormat);
    QStringList expected = read;
    if (addedAs > 0)
        expected = read.mid(0, addedAs - 1) << QStringLiteral("new");
    QCOMPARE(ServerList::read(again), expected);
    // The same text can be saved any number of times, while there is room.
    QCOMPARE(ServerList::add(again, QStringLiteral("new")), addedAs > 0 ? addedAs + 1 : 0);
}

// Which roots exist: "D", "C", "DC" or "".
QStringList TestSourceSettings::makeRoots(const QString &existing)
{
    static int run = 0;
    const QString base = m_dir.filePath(QStringLiteral("roots%1/").arg(++run));
    const QStringList roots{base + QStringLiteral("D/mapdata/maps/"), base + QStringLiteral("C/mapdata/maps/")};
    if (existing.contains(QLatin1Char('D')))
        QDir().mkpath(roots[0]);
    if (existing.contains(QLatin1Char('C')))
        QDir().mkpath(roots[1]);
    return roots;
}

void TestSourceSettings::standardDestination_data()
{
    QTest::addColumn<QString>("roots");
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("expected"); // "D:" / "C:" stand for the roots

    QTest::newRow("Mapnik, D present") << "DC" << "/x/" << 0 << "D:earth/openstreetmap/";
    QTest::newRow("Seamarks, only C") << "C" << "/x/" << 1 << "C:earth/openseamap/seamarks/";
    QTest::newRow("no root: below the destination") << "" << "/home/me/maps/" << 0
                                                    << "/home/me/maps/earth/openstreetmap/";
    QTest::newRow("no root: seamarks replace the standard folder")
        << "" << "/home/me/maps/earth/openstreetmap/" << 1 << "/home/me/maps/earth/openseamap/seamarks/";
    QTest::newRow("no root: a doubled slash is not kept")
        << "" << "/home/me/maps/earth/openseamap/seamarks//" << 0 << "/home/me/maps/earth/openstreetmap/";
    QTest::newRow("no root: only a whole folder name is replaced")
        << "" << "/home/me/myearth/openstreetmap/" << 1 << "/home/me/myearth/openstreetmap/earth/openseamap/seamarks/";
    QTest::newRow("no root: destination without slash") << "" << "/tmp/t" << 0 << "/tmp/t/earth/openstreetmap/";
    QTest::newRow("elevation keeps the folder") << "D" << "/x//" << 2 << "/x/";
}

void TestSourceSettings::standardDestination()
{
    QFETCH(QString, roots);
    QFETCH(QString, current);
    QFETCH(int, kind);
    QFETCH(QString, expected);
    const QStringList paths = makeRoots(roots);
    expected.replace(QStringLiteral("D:"), paths[0]).replace(QStringLiteral("C:"), paths[1]);
    if (kind == 2) // only standard tiles and seamarks move the destination
        QVERIFY(SourceDestination::standardSubFolder(kind).isEmpty());
    else
        QCOMPARE(SourceDestination::standardDestination(current, kind, paths), expected);
}

// Choosing back and forth with no map-data root stays one level deep.
void TestSourceSettings::choosingAgainDoesNotNest()
{
    const QStringList roots = makeRoots(QString());
    QString dest = QStringLiteral("/home/me/maps/");
    for (int kind : {0, 0, 1, 0, 1, 1}) {
        dest = SourceDestination::standardDestination(dest, kind, roots);
        QCOMPARE(dest, QStringLiteral("/home/me/maps/") + SourceDestination::standardSubFolder(kind));
    }
}

void TestSourceSettings::themeDestination_data()
{
    QTest::addColumn<QString>("sourceDir");
    QTest::addColumn<QString>("expected"); // "D:" / "C:" the roots, "=" unchanged

    QTest::newRow("under D") << "earth/osm" << "D:earth/osm/";
    QTest::newRow("under C only") << "earth/sea" << "C:earth/sea/";
    QTest::newRow("trailing slash once") << "earth/osm//" << "D:earth/osm/";
    QTest::newRow("under neither") << "earth/none" << "=";
    QTest::newRow("absolute path") << "ABS" << "=";
    QTest::newRow("parent components") << "../../outside" << "=";
    QTest::newRow("parent in the middle") << "earth/../../../outside" << "=";
    QTest::newRow("parent with backslashes") << "earth\\..\\..\\..\\outside" << "=";
    QTest::newRow("drive letter") << "C:/outside" << "=";
    QTest::newRow("drive letter without slash") << "C:outside" << "=";
}

void TestSourceSettings::themeDestination()
{
    QFETCH(QString, sourceDir);
    QFETCH(QString, expected);
    const QStringList roots = makeRoots(QStringLiteral("DC"));
    QDir().mkpath(roots[0] + QStringLiteral("earth/osm"));
    QDir().mkpath(roots[1] + QStringLiteral("earth/osm"));
    QDir().mkpath(roots[1] + QStringLiteral("earth/sea"));
    // Folders that the unsafe names would reach do exist.
    const QString outside = QDir::cleanPath(roots[0] + QStringLiteral("../../outside"));
    QDir().mkpath(outside);
    QDir().mkpath(QDir::cleanPath(roots[0] + QStringLiteral("earth/../../../outside")));
    sourceDir.replace(QStringLiteral("ABS"), outside);

    const QString current = QStringLiteral("/home/me/maps//");
    expected.replace(QStringLiteral("D:"), roots[0]).replace(QStringLiteral("C:"), roots[1]);
    if (expected == QLatin1String("="))
        expected = QStringLiteral("/home/me/maps/");
    QCOMPARE(SourceDestination::themeDestination(current, sourceDir, roots), expected);
    // Each further import of it changes nothing more.
    QCOMPARE(SourceDestination::themeDestination(expected, sourceDir, roots), expected);
}

QTEST_APPLESS_MAIN(TestSourceSettings)
#include "tst_sourcesettings.moc"
