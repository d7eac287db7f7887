// What the download job makes of one list entry: address, local file,
// transport and status text, for every kind of source.

#include "acquire/EntryPlan.h"
#include "settings/AppConfig.h"

#include <QtTest>

using Transport = EntryPlan::Transport;

class TestEntryPlan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void transportAndTarget_data();
    void transportAndTarget();
    void elevationStatusNamesTheRegion();
    void themeWithoutFormatIsPng();
    void unsafeThemeFormat();
    void rejectedAndPausedHosts();
};

namespace {

const QString Dest = QStringLiteral("/dest/");

SourceAddress::TileSource listed(const QString &address)
{
    SourceAddress::TileSource source;
    source.sourceKind = SourceKind::FirstListedServer;
    source.sourceFolder = address;
    return source;
}

SourceAddress::TileSource theme(const QString &protocol, const QString &format)
{
    SourceAddress::TileSource source;
    source.sourceKind = SourceKind::FirstListedServer;
    source.themeActive = true;
    source.themeProtocol = protocol;
    source.themeHost = QStringLiteral("127.0.0.1");
    source.themePort = QStringLiteral("8080");
    source.themePath = QStringLiteral("/tiles/");
    source.themeStorageMode = QStringLiteral("OpenStreetMap");
    source.themeFormat = format;
    return source;
}

} // namespace

Q_DECLARE_METATYPE(SourceAddress::TileSource)
Q_DECLARE_METATYPE(EntryPlan::Transport)

void TestEntryPlan::initTestCase()
{
    qputenv("TILEWRIGHT_OSM_TILE_URL", "http://127.0.0.1:9");
    qputenv("TILEWRIGHT_SRTM_URL", "https://127.0.0.1:9");
    qputenv("TILEWRIGHT_INTERNAL_TILE_SERVER", "10.1.2.3");
    AppConfig::reload();
}

void TestEntryPlan::transportAndTarget_data()
{
    QTest::addColumn<SourceAddress::TileSource>("source");
    QTest::addColumn<Transport>("transport");
    QTest::addColumn<QString>("path"); // empty: no address
    QTest::addColumn<QString>("shownName"); // in the status line

    SourceAddress::TileSource standard;
    QTest::newRow("standard tiles over http") << standard << Transport::Http << QStringLiteral("/dest/12/2176/1436.png")
                                              << QStringLiteral("1436.png");
    QTest::newRow("listed server over HTTPS in capitals")
        << listed(QStringLiteral("HTTPS://127.0.0.1:9/t/")) << Transport::Https
        << QStringLiteral("/dest/12/2176/1436.png") << QStringLiteral("1436.png");
    QTest::newRow("listed file: address") << listed(QStringLiteral("file:///etc/")) << Transport::None
                                          << QStringLiteral("/dest/12/2176/1436.png")
                                          << QStringLiteral("1436.png");
    QTest::newRow("theme naming qrc:") << theme(QStringLiteral("qrc"), QStringLiteral("png")) << Transport::None
                                       << QStringLiteral("/dest/12/2176/1436.png")
                                       << QStringLiteral("1436.png");
    // An empty server address leaves a relative address: nothing to ask.
    QTest::newRow("listed server without address") << listed(QString()) << Transport::None
                                                   << QStringLiteral("/dest/12/2176/1436.png")
                                                   << QStringLiteral("1436.png");
    // The status line names the theme's local file, not the address.
    QTest::newRow("theme over http, jpg") << theme(QStringLiteral("http"), QStringLiteral("jpg")) << Transport::Http
                                          << QStringLiteral("/dest/12/2176/1436.jpg")
                                          << QStringLiteral("1436.jpg");
}

void TestEntryPlan::transportAndTarget()
{
    QFETCH(SourceAddress::TileSource, source);
    QFETCH(Transport, transport);
    QFETCH(QString, path);
    QFETCH(QString, shownName);

    const EntryPlan plan = EntryPlan::plan(source, Dest, TileId{2176, 1436, 12});
    QCOMPARE(plan.transport, transport);
    QCOMPARE(plan.hasAddress(), !path.isEmpty());
    QVERIFY(!plan.rejectedHost);
    if (path.isEmpty())
        return;
    QVERIFY(plan.target.isValid());
    QCOMPARE(plan.target.path(), path);
    QCOMPARE(plan.shownName, shownName);
}

void TestEntryPlan::elevationStatusNamesTheRegion()
{
    SourceAddress::TileSource source;
    source.sourceKind = SourceKind::ElevationArchives;
    const EntryPlan plan = EntryPlan::plan(source, Dest, TileId{-100, 40, 5});
    QCOMPARE(plan.transport, Transport::Https);
    QCOMPARE(plan.target.path(), QStringLiteral("/dest/North_America/N40W100.hgt.zip"));
    QVERIFY(plan.address.text.endsWith(QLatin1String("/North_America/N40W100.hgt.zip")));

    // A region outside the table gives no request at all.
    const EntryPlan nowhere = EntryPlan::plan(source, Dest, TileId{0, 0, 7});
    QVERIFY(!nowhere.hasAddress());
    QCOMPARE(nowhere.transport, Transport::None);
}

// A theme without format asks for png already in its first request and saves
// png files; a listed source is left alone.
void TestEntryPlan::themeWithoutFormatIsPng()
{
    SourceAddress::TileSource wms = theme(QStringLiteral("http"), QString());
    wms.tileLayout = false;
    wms.themeStorageMode = QStringLiteral("WebMapService");
    QCOMPARE(EntryPlan::themeFormatOf(wms), QStringLiteral("png"));
    const EntryPlan plan = EntryPlan::plan(wms, Dest, TileId{4, 2, 3});
    QVERIFY2(plan.address.text.contains(QLatin1String("format=image/png")), qPrintable(plan.address.text));
    QCOMPARE(plan.target.fileName, QStringLiteral("2.png"));
    QVERIFY(plan.unsafeFormat.isEmpty());

    SourceAddress::TileSource inactive = wms;
    inactive.themeActive = false;
    QCOMPARE(EntryPlan::themeFormatOf(inactive), QString());
}

void TestEntryPlan::unsafeThemeFormat()
{
    const EntryPlan plan = EntryPlan::plan(theme(QStringLiteral("http"), QStringLiteral("../../x")), Dest,
                                           TileId{4, 2, 3});
    QCOMPARE(plan.unsafeFormat, QStringLiteral("../../x"));
    QCOMPARE(plan.savedExtension, QStringLiteral("x"));
    QCOMPARE(plan.target.path(), QStringLiteral("/dest/3/4/2.x"));
}

void TestEntryPlan::rejectedAndPausedHosts()
{
    const EntryPlan rejected = EntryPlan::plan(listed(QStringLiteral("http://maps.google.test/")), Dest, TileId{1, 1, 2});
    QVERIFY(rejected.rejectedHost);
    QVERIFY(!rejected.hasAddress());
    QCOMPARE(rejected.transport, Transport::None);

    const EntryPlan paused = EntryPlan::plan(listed(QStringLiteral("http://10.1.2.3/tiles/")), Dest, TileId{1, 1, 2});
    QVERIFY(paused.pauseFirst);
    QCOMPARE(paused.transport, Transport::Http);
    QVERIFY(!EntryPlan::plan(listed(QStringLiteral("http://10.9.9.9/")), Dest, TileId{1, 1, 2}).pauseFirst);
}

QTEST_APPLESS_MAIN(TestEntryPlan)
#include "tst_entryplan.moc"
