// The map view's tiles on disk between starts, against nginx answering with
// caching headers: fresh tiles come back without a request, stale ones are
// revalidated, and a cache that cannot be used costs nothing but requests.

#include "MapTestSupport.h"
#include "NginxFixture.h"
#include "mapview/widgets/CvMapCache.h"
#include "mapview/widgets/CvMapWidget.h"
#include "settings/SettingsKeys.h"

#include <QSettings>
#include <QtTest>

#include <memory>

using namespace MapTest;

namespace {

void storeView(double centerX, double centerY, int zoom)
{
    QSettings settings;
    settings.setValue(SettingsKeys::MapCenterX.path(), centerX);
    settings.setValue(SettingsKeys::MapCenterY.path(), centerY);
    settings.setValue(SettingsKeys::MapZoom.path(), zoom);
    settings.sync();
}

// Columns 2..5, rows 1..4 at zoom 3: what 800 x 560 around (4, 3) shows.
QVector<TileId> visibleTiles()
{
    QVector<TileId> keys;
    for (int x = 2; x <= 5; ++x)
        for (int y = 1; y <= 4; ++y)
            keys << TileId{x, y, 3};
    return keys;
}

bool allHeld(CvMapCache *cache, const QVector<TileId> &keys)
{
    return std::all_of(keys.cbegin(), keys.cend(), [cache](const TileId &key) { return cache->holdsTile(key); });
}

// Log lines of tile requests ("GET /3/4/3.png 200 ...") from index `from` on.
QStringList tileLines(const QStringList &log, int from = 0)
{
    QStringList lines;
    for (int i = from; i < log.size(); ++i)
        if (log.at(i).startsWith(QLatin1String("GET /")))
            lines << log.at(i);
    return lines;
}

int countStatus(const QStringList &lines, const QString &status)
{
    return int(std::count_if(lines.cbegin(), lines.cend(), [&status](const QString &line) {
        return line.section(QLatin1Char(' '), 2, 2) == status;
    }));
}

} // namespace

class TestMapDiskCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void freshTilesShowAfterRestartWithoutRequest();
    void staleTilesAreRevalidated();
    void unusableCacheFolderStillLoads_data();
    void unusableCacheFolderStillLoads();

private:
    // Shows the stored view in a new map widget (and a new cache) until all
    // its tiles are held; checks that the centre tile is the server's.
    std::unique_ptr<CvMapWidget> showView(const NginxFixture &server);
    void endLifetime(std::unique_ptr<CvMapWidget> &widget);

    QTemporaryDir m_root;
    NginxFixture m_fresh; // Cache-Control: max-age=3600
    NginxFixture m_stale; // Expires: long past
    std::unique_ptr<QTemporaryDir> m_cacheDir;
    std::unique_ptr<OverviewFolder> m_overview;
};

void TestMapDiskCache::initTestCase()
{
    qRegisterMetaType<TileId>();
    QVERIFY(NginxFixture::writeTileTree(m_root.path(), 1, 3));
    // nginx sends ETag and Last-Modified for the files itself.
    QVERIFY2(m_fresh.start(m_root.path(), QStringLiteral("add_header Cache-Control \"max-age=3600\";")),
             qPrintable(m_fresh.errorString()));
    // Expired at once: the answers may be kept, but must be asked about again.
    QVERIFY2(m_stale.start(m_root.path(), QStringLiteral("add_header Expires \"Thu, 01 Jan 1970 00:00:01 GMT\";")),
             qPrintable(m_stale.errorString()));
}

void TestMapDiskCache::init()
{
    m_overview = std::make_unique<OverviewFolder>();
    m_cacheDir = std::make_unique<QTemporaryDir>();
    qputenv("TILEWRIGHT_MAP_CACHE_DIR", (m_cacheDir->path() + QStringLiteral("/map-tiles")).toUtf8());
    storeView(4.0, 3.0, 3);
}

void TestMapDiskCache::cleanup()
{
    CvMapCache::resetInstanceForTests();
    qunsetenv("TILEWRIGHT_MAP_CACHE_DIR");
    m_overview.reset();
    m_cacheDir.reset();
}

std::unique_ptr<CvMapWidget> TestMapDiskCache::showView(const NginxFixture &server)
{
    CvMapCache *cache = freshCache(server.httpUrl());
    auto widget = std::make_unique<CvMapWidget>();
    widget->resize(800, 560);
    widget->show();
    if (!QTest::qWaitForWindowExposed(widget.get()))
        return nullptr;
    const QVector<TileId> visible = visibleTiles();
    if (!QTest::qWaitFor([&] { return allHeld(cache, visible) && !cache->isRequestPending(); }, 30000))
        return nullptr;
    const QImage shot = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage expected = QImage::fromData(NginxFixture::tilePng(4, 3, 3)).convertToFormat(QImage::Format_RGB32);
    // Tile (4, 3) begins at the centre (400, 280); the credit lies far below.
    if (shot.copy(400, 280, 256, 200) != expected.copy(0, 0, 256, 200))
        return nullptr;
    return widget;
}

void TestMapDiskCache::endLifetime(std::unique_ptr<CvMapWidget> &widget)
{
    widget.reset();
    CvMapCache::resetInstanceForTests(); // as the program's end does
}

void TestMapDiskCache::freshTilesShowAfterRestartWithoutRequest()
{
    auto first = showView(m_fresh);
    QVERIFY(first);
    QCOMPARE(QDir(CvMapCache::instance()->diskCacheFolder()), QDir(m_cacheDir->path() + QStringLiteral("/map-tiles")));
    const QStringList firstLog = m_fresh.completeAccessLog();
    QVERIFY(countStatus(tileLines(firstLog), QStringLiteral("200")) >= visibleTiles().size());
    endLifetime(first);
    QVERIFY(!QDir(m_cacheDir->path() + QStringLiteral("/map-tiles")).isEmpty());

    auto second = showView(m_fresh);
    QVERIFY(second);
    QVERIFY(CvMapCache::instance()->requestsStarted() >= visibleTiles().size());
    const QStringList secondLog = m_fresh.completeAccessLog();
    QCOMPARE(tileLines(secondLog, firstLog.size()), QStringList());
}

void TestMapDiskCache::staleTilesAreRevalidated()
{
    auto first = showView(m_stale);
    QVERIFY(first);
    const QStringList firstLog = m_stale.completeAccessLog();
    endLifetime(first);

    auto second = showView(m_stale);
    QVERIFY(second);
    // Every tile is asked about again; none of them is sent again.
    const QStringList asked = tileLines(m_stale.completeAccessLog(), firstLog.size());
    QVERIFY2(countStatus(asked, QStringLiteral("304")) >= visibleTiles().size(), qPrintable(asked.join(u'\n')));
    QCOMPARE(countStatus(asked, QStringLiteral("200")), 0);
    for (const TileId &key : visibleTiles())
        QVERIFY(asked.contains(QStringLiteral("GET /3/%1/%2.png 304 Tilewright").arg(key.x).arg(key.y)));
}

void TestMapDiskCache::unusableCacheFolderStillLoads_data()
{
    QTest::addColumn<QString>("folder"); // below the test's temporary folder; "none" as is
    QTest::newRow("no disk cache") << "none";
    QTest::newRow("a file in the way") << "blocked/map-tiles";
}

void TestMapDiskCache::unusableCacheFolderStillLoads()
{
    QFETCH(QString, folder);
    if (folder != QLatin1String("none")) {
        QFile blocker(m_cacheDir->path() + QStringLiteral("/blocked"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.write("not a folder");
        blocker.close();
        folder = m_cacheDir->path() + QLatin1Char('/') + folder;
    }
    qputenv("TILEWRIGHT_MAP_CACHE_DIR", folder.toUtf8());

    // Even with caching headers that allow it, nothing comes from disk.
    auto first = showView(m_fresh);
    QVERIFY(first);
    QVERIFY(CvMapCache::instance()->diskCacheFolder().isEmpty());
    const int before = m_fresh.completeAccessLog().size();
    endLifetime(first);
    auto second = showView(m_fresh);
    QVERIFY(second);
    const QStringList asked = tileLines(m_fresh.completeAccessLog(), before);
    QVERIFY(countStatus(asked, QStringLiteral("200")) >= visibleTiles().size());
}

QTEST_MAIN(TestMapDiskCache)
#include "tst_mapdiskcache.moc"
