#include "HostileServer.h"
#include "MapTestSupport.h"
#include "NginxFixture.h"
#include "mapview/widgets/CvMapCache.h"
#include "mapview/TileStore.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace MapTest;

namespace {

// Waits until the cache reports the end of the request for key.
bool waitForTile(CvMapCache *cache, const TileId &key, bool *stored = nullptr, int timeoutMs = 15000)
{
    QSignalSpy done(cache, &CvMapCache::requestDone);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        for (const QList<QVariant> &args : qAsConst(done)) {
            if (args.at(0).value<TileId>() == key) {
                if (stored)
                    *stored = args.at(1).toBool();
                return true;
            }
        }
        done.wait(100);
    }
    return false;
}

bool waitIdle(CvMapCache *cache, int timeoutMs = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (cache->isRequestPending() && timer.elapsed() < timeoutMs)
        QTest::qWait(10);
    return !cache->isRequestPending();
}

// The paths asked for, once every answered request is in the log.
QStringList tileRequests(const NginxFixture &nginx)
{
    QStringList requests;
    const QStringList log = nginx.completeAccessLog();
    for (const QString &line : log)
        requests << line.section(QLatin1Char(' '), 1, 1);
    return requests;
}

// Budget that holds `tiles` stored entries of `bytes` each.
qint64 budgetFor(int tiles, int bytes)
{
    return tiles * (bytes + TileStore::EntryOverhead);
}

const char kExtraLocations[] = R"(
        location /xml/ { types { } default_type application/vnd.ogc.se_xml;
            return 200 '<?xml version="1.0"?><ServiceExceptionReport><ServiceException>no</ServiceException></ServiceExceptionReport>'; }
        location /html/ { types { } default_type text/html; return 200 '<html><body>Busy</body></html>'; }
        location /sniff/ { types { } default_type application/octet-stream; return 200 '<?xml version="1.0"?><error/>'; }
        location /labelled/ { return 200 '<?xml version="1.0"?><ServiceExceptionReport/>'; }
        location /cycle/ { return 302 $uri; }
)";

} // namespace

class TestMapCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void overviewImagesSeedTheCoarseLevels();
    void previewsFromParentQuarters_data();
    void previewsFromParentQuarters();
    void queueKeepsOneLevel();
    void fillsFromServerAtOnce();
    void duplicatesAreSkipped();
    void failedAnswersAreNotStored_data();
    void failedAnswersAreNotStored();
    void onlyCompleteTilesAreKept_data();
    void onlyCompleteTilesAreKept();
    void networkErrorEmptiesQueue();
    void redirectsAreFollowed_data();
    void redirectsAreFollowed();
    void answerForAnEarlierSourceIsDropped_data();
    void answerForAnEarlierSourceIsDropped();
    void evictedTileIsFetchedAgain();
    void proxyPortStaysApart();
    void memoryIsCountedAsHeld();

private:
    NginxFixture m_nginx;
    // Answers every plain tile request with a redirect to m_nginx over HTTPS,
    // as the public tile servers do, and /down/ with one from HTTPS to HTTP.
    NginxFixture m_redirector;
    HostileServer m_hostile;
    QTemporaryDir m_root;
};

void TestMapCache::initTestCase()
{
    qRegisterMetaType<TileId>();
    QVERIFY(m_root.isValid());
    QVERIFY(NginxFixture::writeTileTree(m_root.path(), 1, 3));
    QVERIFY2(m_nginx.start(m_root.path(), QString::fromLatin1(kExtraLocations)), qPrintable(m_nginx.errorString()));
    const QString redirects =
        QStringLiteral("location ~ \"^/[0-9]+/[0-9]+/[0-9]+\\.png$\" { return 301 %1$uri; }\n"
                       "location /down/ { rewrite ^/down/(.*)$ %2/$1 redirect; }\n")
            .arg(m_nginx.httpsUrl(), m_nginx.httpUrl());
    QVERIFY2(m_redirector.start(m_root.path(), redirects), qPrintable(m_redirector.errorString()));
    QVERIFY2(m_hostile.start(), qPrintable(m_hostile.errorString()));

    // The self-signed certificates are trusted through the configured CA file.
    const QString bundle = m_root.path() + QStringLiteral("/ca.pem");
    QFile out(bundle);
    QVERIFY(out.open(QIODevice::WriteOnly));
    for (const QString &ca : {m_nginx.caFile(), m_redirector.caFile(), m_hostile.caFile()}) {
        QFile file(ca);
        QVERIFY(file.open(QIODevice::ReadOnly));
        out.write(file.readAll());
    }
    out.close();
    qputenv("TILEWRIGHT_CA_BUNDLE", bundle.toUtf8());
}

void TestMapCache::cleanup()
{
    CvMapCache::resetInstanceForTests();
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
}

void TestMapCache::overviewImagesSeedTheCoarseLevels()
{
    OverviewFolder folder({QStringLiteral("000"), QStringLiteral("100"), QStringLiteral("110"), QStringLiteral("111")});
    QFile empty(folder.path() + QStringLiteral("/Tiles/101.png"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();

    CvMapCache *cache = freshCache(QStringLiteral("http://127.0.0.1:9"));
    for (const TileId &key : {TileId{0, 0, 0}, TileId{0, 0, 1}, TileId{1, 0, 1}, TileId{1, 1, 1}})
        QVERIFY(cache->holdsTile(key));
    QVERIFY(!cache->holdsTile(TileId{0, 1, 1})); // empty file skipped

    const QImage image = cache->cachedTile(1, 0, 1);
    QVERIFY(colourNear(image.pixel(200, 200), quarterColour(TileId{1, 0, 1}, 3)));
    QCOMPARE(cache->requestsStarted(), 0);

    // A zoom 1 tile without its overview has no preview.
    QVERIFY(cache->derivedTile(0, 1, 1).isNull());
}

void TestMapCache::previewsFromParentQuarters_data()
{
    QTest::addColumn<TileId>("tile");
    QTest::addColumn<TileId>("source");  // the held ancestor
    QTest::addColumn<int>("quarter");    // its quarter the tile's colour comes from
    QTest::newRow("z2 top-left of 0,0") << TileId{0, 0, 2} << TileId{0, 0, 1} << 0;
    QTest::newRow("z2 bottom-right of 1,1") << TileId{3, 3, 2} << TileId{1, 1, 1} << 3;
    QTest::newRow("z2 top-right of 1,0") << TileId{3, 0, 2} << TileId{1, 0, 1} << 1;
    QTest::newRow("z2 bottom-left of 0,1") << TileId{0, 3, 2} << TileId{0, 1, 1} << 2;
    // Two levels down: the quarter of a quarter keeps one colour.
    QTest::newRow("z3 from z1") << TileId{7, 0, 3} << TileId{1, 0, 1} << 1;
    // Nine levels down, from one pixel of the overview.
    QTest::newRow("z10 from z1") << TileId{1000, 100, 10} << TileId{1, 0, 1} << 1;
}

void TestMapCache::previewsFromParentQuarters()
{
    QFETCH(TileId, tile);
    QFETCH(TileId, source);
    QFETCH(int, quarter);
    OverviewFolder folder;
    QTcpServer silent; // accepts and never answers: requests stay in flight
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    CvMapCache *cache = freshCache(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));

    const QImage preview = cache->cachedTile(tile.x, tile.y, tile.zoom);
    QCOMPARE(preview.size(), QSize(256, 256));
    for (const QPoint &p : {QPoint(0, 0), QPoint(255, 0), QPoint(0, 255), QPoint(255, 255), QPoint(128, 128)})
        QVERIFY2(colourNear(preview.pixel(p), quarterColour(source, quarter)), qPrintable(QString::number(p.x())));
    QVERIFY(cache->holdsPreview(tile));
    QVERIFY(!cache->holdsTile(tile));
    // The tile itself was asked for.
    QVERIFY(cache->isRequestPending());

    // A reload drops the previews with the tiles they came from.
    cache->reload();
    QVERIFY(!cache->holdsPreview(tile));
}

void TestMapCache::queueKeepsOneLevel()
{
    OverviewFolder folder;
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    CvMapCache *cache = freshCache(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));

    const TileId a{0, 0, 3}, b{1, 0, 3}, c{0, 0, 4}, d{5, 5, 4};
    cache->requestTile(a);
    QVERIFY(cache->isRequestPending());
    QCOMPARE(cache->keyInFlight(), a);
    cache->requestTile(b);
    cache->requestTile(a);
    cache->requestTile(b);
    QCOMPARE(cache->queuedKeys(), (QVector<TileId>{b, a, b})); // duplicates allowed
    cache->requestTile(c);
    QCOMPARE(cache->queuedKeys(), QVector<TileId>{c}); // another level drops the rest
    cache->requestTile(d);
    cache->requestTile(c);
    QCOMPARE(cache->queuedKeys(), (QVector<TileId>{c, d, c}));
    QCOMPARE(cache->requestsStarted(), 1); // one request at a time
}

void TestMapCache::fillsFromServerAtOnce()
{
    OverviewFolder folder;
    // No proxy set-up and no reload: the server is known from construction.
    CvMapCache *cache = freshCache(m_nginx.httpUrl() + QStringLiteral("/"));
    const TileId key{2, 1, 2};
    QCOMPARE(cache->tileAddress(key), QUrl(m_nginx.httpUrl() + QStringLiteral("/2/2/1.png")));
    QVERIFY(cache->cachedTile(key.x, key.y, key.zoom).isNull() == false); // preview meanwhile
    bool stored = false;
    QVERIFY(waitForTile(cache, key, &stored));
    QVERIFY(stored);
    QVERIFY(cache->holdsTile(key));
    QVERIFY(!cache->holdsPreview(key));
    const QImage expected = QImage::fromData(NginxFixture::tilePng(key.x, key.y, key.zoom));
    QCOMPARE(cache->cachedTile(key.x, key.y, key.zoom).convertToFormat(QImage::Format_RGB32),
             expected.convertToFormat(QImage::Format_RGB32));
    const QStringList log = m_nginx.completeAccessLog();
    QVERIFY(!log.isEmpty());
    QVERIFY2(log.constLast().endsWith(QLatin1String("/2/2/1.png 200 Tilewright")), qPrintable(log.constLast()));
}

void TestMapCache::duplicatesAreSkipped()
{
    OverviewFolder folder;
    CvMapCache *cache = freshCache(m_nginx.httpUrl());
    const int logBefore = m_nginx.completeAccessLog().size();
    const TileId a{0, 1, 2}, b{1, 1, 2};
    cache->requestTile(a);
    cache->requestTile(a);
    cache->requestTile(a);
    cache->requestTile(b);
    QVERIFY(waitForTile(cache, a));
    // What a repaint does: start the next request; the held duplicates go.
    cache->startNextRequest();
    QCOMPARE(cache->keyInFlight(), b);
    QVERIFY(waitForTile(cache, b));
    cache->startNextRequest();
    QVERIFY(!cache->isRequestPending());
    const QStringList requests = tileRequests(m_nginx).mid(logBefore);
    QCOMPARE(requests, (QStringList{QStringLiteral("/2/0/1.png"), QStringLiteral("/2/1/1.png")}));
}

void TestMapCache::failedAnswersAreNotStored_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("queueGoesOn");
    // A tile the server lacks does not hold up the rest of the view.
    QTest::newRow("404") << QStringLiteral("/e404/") << true;
    QTest::newRow("500") << QStringLiteral("/e500/") << false;
    QTest::newRow("WMS exception with 200") << QStringLiteral("/xml/") << false;
    QTest::newRow("HTML page with 200") << QStringLiteral("/html/") << false;
    QTest::newRow("XML sent as octet-stream") << QStringLiteral("/sniff/") << false;
    QTest::newRow("XML labelled image/png by its extension") << QStringLiteral("/labelled/") << false;
}

void TestMapCache::failedAnswersAreNotStored()
{
    QFETCH(QString, folder);
    QFETCH(bool, queueGoesOn);
    OverviewFolder overview;
    CvMapCache *cache = freshCache(m_nginx.httpUrl());
    // A listed server in the plain form: its address plus zoom/x/y.png.
    cache->setServer(m_nginx.httpUrl() + folder, QString(), QString(), QString(), QString(), 0, 3);
    const TileId a{0, 0, 2}, b{1, 0, 2}, c{2, 0, 2};
    QVERIFY(!cache->cachedTile(a.x, a.y, a.zoom).isNull()); // preview from zoom 1
    cache->requestTile(b);
    cache->requestTile(c);
    bool stored = true;
    QVERIFY(waitForTile(cache, a, &stored));
    QVERIFY(!stored);
    QVERIFY(!cache->holdsTile(a));
    QVERIFY(cache->holdsPreview(a)); // still shows its preview
    if (queueGoesOn) {
        QVERIFY(waitForTile(cache, c));
        QVERIFY(!cache->holdsTile(b) && !cache->holdsTile(c));
    } else {
        QVERIFY(cache->queuedKeys().isEmpty());
        QVERIFY(!cache->isRequestPending());
    }
    // Asked for again at a later paint.
    const int started = cache->requestsStarted();
    cache->cachedTile(a.x, a.y, a.zoom);
    QCOMPARE(cache->requestsStarted(), started + 1);
    QVERIFY(waitIdle(cache));
}

void TestMapCache::onlyCompleteTilesAreKept_data()
{
    QTest::addColumn<bool>("https");
    QTest::addColumn<QString>("fault"); // first path segment on the hostile server
    QTest::addColumn<bool>("kept");
    for (const bool https : {false, true}) {
        const char *scheme = https ? "https" : "http";
        const auto row = [&](const char *fault, bool kept) {
            QTest::addRow("%s %s", scheme, fault) << https << QString::fromLatin1(fault) << kept;
        };
        row("ok", true);
        row("gzip", true); // decoded before it is judged
        row("reset", false);      // half the announced body, then a reset
        row("short", false);      // half the announced body, then a clean close
        row("chunkcut", false);   // chunked, the last chunk missing
        row("halfpng", false);    // half a PNG with a length that matches
        row("random", false);     // noise labelled image/png
        row("htmlpng", false);    // an error page labelled image/png
        row("gzipbad", false);
        row("huge", false);                    // 400 MiB announced: refused at once
        row("hugenolength?size=33554432", false); // 32 MiB, no length: refused as it comes
    }
}

// Whatever the server does, a tile is kept only when its whole body came and
// is what it says; otherwise it keeps its preview and is asked for again.
void TestMapCache::onlyCompleteTilesAreKept()
{
    QFETCH(bool, https);
    QFETCH(QString, fault);
    QFETCH(bool, kept);
    OverviewFolder overview;
    CvMapCache *cache = freshCache(QStringLiteral("http://127.0.0.1:9"));
    const QString base = https ? m_hostile.httpsUrl() : m_hostile.httpUrl();
    const QString query = fault.section(QLatin1Char('?'), 1);
    cache->setServer(base + QLatin1Char('/') + fault.section(QLatin1Char('?'), 0, 0) + QLatin1Char('/'), QString(),
                     query.isEmpty() ? QString() : QLatin1Char('?') + query, QString(), QString(), 0, 3);
    const TileId key{1, 2, 2}, next{2, 2, 2};
    QVERIFY(!cache->cachedTile(key.x, key.y, key.zoom).isNull()); // the preview meanwhile
    cache->requestTile(next);
    bool stored = !kept;
    QVERIFY(waitForTile(cache, key, &stored, 60000));
    QCOMPARE(stored, kept);
    QCOMPARE(cache->holdsTile(key), kept);
    if (kept) {
        const QImage image = cache->cachedTile(key.x, key.y, key.zoom);
        QCOMPARE(image.size(), QSize(64, 64)); // the server's own small PNG, decoded whole
        QVERIFY(!cache->holdsPreview(key));
        cache->startNextRequest(); // what the repaint after an arrival does
        QVERIFY(waitForTile(cache, next, &stored, 60000)); // the queue goes on
        QVERIFY(stored);
        return;
    }
    QVERIFY(cache->holdsPreview(key)); // still shows its preview
    // A server sending broken tiles is in trouble: the rest waits for a later paint.
    QVERIFY(cache->queuedKeys().isEmpty());
    QVERIFY(!cache->isRequestPending());
    QVERIFY(cache->memoryUsed() == 0);
    // Shown again, it is asked for again.
    const int started = cache->requestsStarted();
    cache->cachedTile(key.x, key.y, key.zoom);
    QCOMPARE(cache->requestsStarted(), started + 1);
    QVERIFY(waitForTile(cache, key, &stored, 60000));
    QVERIFY(!stored);
}

void TestMapCache::networkErrorEmptiesQueue()
{
    OverviewFolder folder;
    CvMapCache *cache = freshCache(QStringLiteral("http://127.0.0.1:%1").arg(ServerFixture::freePort()));
    const TileId a{0, 0, 2};
    cache->requestTile(a);
    cache->requestTile(TileId{1, 0, 2});
    cache->requestTile(TileId{2, 0, 2});
    QCOMPARE(cache->queuedKeys().size(), 2);
    QVERIFY(waitForTile(cache, a));
    QVERIFY(cache->queuedKeys().isEmpty());
    QVERIFY(!cache->isRequestPending());
    QCOMPARE(cache->requestsStarted(), 1);
}

void TestMapCache::redirectsAreFollowed_data()
{
    QTest::addColumn<QString>("standardUrl");
    QTest::addColumn<QString>("listedServer"); // empty: the standard tiles
    QTest::addColumn<bool>("stored");
    QTest::newRow("plain request answered with a redirect to https")
        << QStringLiteral("REDIRECTOR") << QString() << true;
    QTest::newRow("redirect location") << QStringLiteral("NGINX") << QStringLiteral("NGINX/redirect/") << true;
    QTest::newRow("never from https down to http")
        << QStringLiteral("NGINX") << QStringLiteral("SECURE/down/") << false;
    QTest::newRow("redirect cycle gives up") << QStringLiteral("NGINX") << QStringLiteral("NGINX/cycle/") << false;
}

void TestMapCache::redirectsAreFollowed()
{
    QFETCH(QString, standardUrl);
    QFETCH(QString, listedServer);
    QFETCH(bool, stored);
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS support in this Qt");
    OverviewFolder folder;
    auto expand = [this](QString text) {
        return text.replace(QLatin1String("REDIRECTOR"), m_redirector.httpUrl())
            .replace(QLatin1String("SECURE"), m_redirector.httpsUrl())
            .replace(QLatin1String("NGINX"), m_nginx.httpUrl());
    };
    CvMapCache *cache = freshCache(expand(standardUrl));
    if (!listedServer.isEmpty())
        cache->setServer(expand(listedServer), QString(), QString(), QString(), QString(), 0, 3);
    const TileId key{5, 2, 3};
    cache->requestTile(key);
    bool wasStored = !stored;
    QVERIFY(waitForTile(cache, key, &wasStored));
    QCOMPARE(wasStored, stored);
    QCOMPARE(cache->holdsTile(key), stored);
    if (stored) {
        const QImage expected = QImage::fromData(NginxFixture::tilePng(key.x, key.y, key.zoom));
        QCOMPARE(cache->cachedTile(key.x, key.y, key.zoom).convertToFormat(QImage::Format_RGB32),
                 expected.convertToFormat(QImage::Format_RGB32));
    }
}

void TestMapCache::answerForAnEarlierSourceIsDropped_data()
{
    QTest::addColumn<bool>("reload");
    QTest::newRow("source switch and reload") << true;
    QTest::newRow("new server, no reload yet") << false;
}

// The old server answers only after the map has switched to another source:
// its tile must neither be kept nor shown under the new one.
void TestMapCache::answerForAnEarlierSourceIsDropped()
{
    QFETCH(bool, reload);
    OverviewFolder folder;
    QTcpServer oldServer; // holds the request until the test answers it
    QVERIFY(oldServer.listen(QHostAddress::LocalHost));
    CvMapCache *cache = freshCache(QStringLiteral("http://127.0.0.1:%1").arg(oldServer.serverPort()));
    QSignalSpy done(cache, &CvMapCache::requestDone);
    const TileId key{1, 2, 2};
    cache->requestTile(key);
    QTRY_VERIFY(oldServer.hasPendingConnections());
    QTcpSocket *request = oldServer.nextPendingConnection();
    QByteArray head;
    QTRY_VERIFY((head += request->readAll()).contains("\r\n\r\n"));

    cache->setServer(m_nginx.httpUrl() + QLatin1Char('/'), QString(), QString(), QString(), QString(), 0, 3);
    if (reload)
        cache->reload();
    QImage stale(256, 256, QImage::Format_RGB32);
    stale.fill(Qt::magenta);
    const QByteArray body = NginxFixture::pngBytes(stale);
    request->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nConnection: close\r\nContent-Length: "
                   + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    request->flush();
    QTRY_VERIFY(!done.isEmpty());
    QCOMPARE(done.first().at(0).value<TileId>(), key);
    QVERIFY(!cache->holdsTile(key));

    // Asked for again, it comes from the source now shown.
    bool stored = false;
    cache->cachedTile(key.x, key.y, key.zoom);
    QVERIFY(waitForTile(cache, key, &stored));
    QVERIFY(stored);
    const QImage expected = QImage::fromData(NginxFixture::tilePng(key.x, key.y, key.zoom));
    QCOMPARE(cache->cachedTile(key.x, key.y, key.zoom).convertToFormat(QImage::Format_RGB32),
             expected.convertToFormat(QImage::Format_RGB32));
    int stores = 0;
    for (const QList<QVariant> &args : qAsConst(done))
        stores += args.at(1).toBool() ? 1 : 0;
    QCOMPARE(stores, 1);
}

void TestMapCache::evictedTileIsFetchedAgain()
{
    OverviewFolder folder;
    CvMapCache *cache = freshCache(m_nginx.httpUrl());
    const QVector<TileId> keys{{0, 0, 3}, {1, 0, 3}, {2, 0, 3}, {3, 0, 3}};
    int largest = 0;
    for (const TileId &key : keys)
        largest = qMax(largest, NginxFixture::tilePng(key.x, key.y, key.zoom).size());
    cache->setMemoryBudget(budgetFor(3, largest));
    for (const TileId &key : keys) {
        cache->requestTile(key);
        bool stored = false;
        QVERIFY(waitForTile(cache, key, &stored));
        QVERIFY(stored);
    }
    QVERIFY(!cache->holdsTile(keys[0]));
    for (int i = 1; i < keys.size(); ++i)
        QVERIFY(cache->holdsTile(keys[i]));
    QVERIFY(cache->memoryUsed() <= cache->memoryBudget());
    // The overview images stay whatever the budget.
    for (const TileId &key : {TileId{0, 0, 0}, TileId{0, 0, 1}, TileId{1, 1, 1}})
        QVERIFY(cache->holdsTile(key));

    // Shown again: it is fetched again.
    const int started = cache->requestsStarted();
    cache->cachedTile(keys[0].x, keys[0].y, keys[0].zoom);
    QCOMPARE(cache->requestsStarted(), started + 1);
    QVERIFY(waitForTile(cache, keys[0]));
    QVERIFY(cache->holdsTile(keys[0]));
    QVERIFY(!cache->holdsTile(keys[1]));

    // Lowering the budget drops tiles at once.
    cache->setMemoryBudget(0);
    QCOMPARE(cache->memoryUsed(), qint64(0));
    QVERIFY(cache->holdsTile(TileId{0, 0, 1}));
}

void TestMapCache::proxyPortStaysApart()
{
    OverviewFolder folder;
    CvMapCache *cache = freshCache(m_nginx.httpUrl());
    const TileId key{5, 3, 4};

    cache->setServer(QStringLiteral("maps.test"), QStringLiteral("/tiles/"), QString(), QStringLiteral("Custom"),
                     QStringLiteral("png"), 8080, 3);
    cache->setProxy(ProxySettings{QStringLiteral("proxy.test"), 3128, QStringLiteral("u"), QStringLiteral("p"), true});
    QCOMPARE(QNetworkProxy::applicationProxy().port(), quint16(3128));
    QCOMPARE(QNetworkProxy::applicationProxy().hostName(), QStringLiteral("proxy.test"));
    QCOMPARE(cache->tileAddress(key), QUrl(QStringLiteral("http://maps.test:8080/tiles/4/5/3.png")));

    cache->setServer(QStringLiteral("maps.test"), QString(), QString(), QString(), QString(), 0, 3);
    QCOMPARE(cache->tileAddress(key).port(), -1);
    cache->setServerHost(QStringLiteral("maps.test"), 0);
    QCOMPARE(cache->tileAddress(key).port(), int(m_nginx.httpPort()));

    // Without a proxy the tiles still come from the server's own port.
    cache->setProxy(ProxySettings{QStringLiteral("proxy.test"), 3128, QString(), QString(), false});
    QCOMPARE(QNetworkProxy::applicationProxy().type(), QNetworkProxy::NoProxy);
    cache->setServer(m_nginx.httpUrl() + QStringLiteral("/"), QString(), QString(), QString(), QString(), 0, 3);
    bool stored = false;
    cache->requestTile(TileId{3, 3, 2});
    QVERIFY(waitForTile(cache, TileId{3, 3, 2}, &stored));
    QVERIFY(stored);
}

void TestMapCache::memoryIsCountedAsHeld()
{
    // An array with room to spare is kept right-sized and counted by what it
    // holds; borrowed data is copied, not referenced.
    TileStore store(1 << 20);
    QByteArray roomy(1000, 'r');
    roomy.reserve(64 * 1024);
    store.insert(TileId{0, 0, 4}, roomy);
    QCOMPARE(store.find(TileId{0, 0, 4}).capacity(), 1000);
    QCOMPARE(store.bytesUsed(), budgetFor(1, 1000));
    QByteArray borrowed(500, 'b');
    store.insert(TileId{1, 0, 4}, QByteArray::fromRawData(borrowed.constData(), borrowed.size()));
    QVERIFY(store.find(TileId{1, 0, 4}).constData() != borrowed.constData());
    QCOMPARE(store.bytesUsed(), budgetFor(1, 1000) + budgetFor(1, 500));

    // Answers from the server and computed previews alike.
    OverviewFolder folder;
    CvMapCache *cache = freshCache(m_nginx.httpUrl());
    const TileId key{2, 1, 2};
    cache->requestTile(key);
    QVERIFY(waitForTile(cache, key));
    QCOMPARE(cache->memoryUsed(), budgetFor(1, NginxFixture::tilePng(key.x, key.y, key.zoom).size()));
    const QImage preview = cache->derivedTile(4, 2, 3); // from the tile just fetched
    QVERIFY(!preview.isNull());
    // Previews are held as images, counted by their pixels.
    QVERIFY(cache->previewMemoryUsed() >= preview.sizeInBytes());
    QVERIFY(cache->previewMemoryUsed() <= CvMapCache::DecodedPreviewBudget);

    // Decoded images are counted in bytes against their budgets: far more
    // tiles than fit are decoded, and the caches stay within them.
    QImage small(256, 256, QImage::Format_RGB32);
    small.fill(Qt::darkCyan);
    const QByteArray png = NginxFixture::pngBytes(small);
    for (int i = 0; i < 300; ++i) {
        cache->storeTile(TileId{i, 0, 9}, png);
        QVERIFY(!cache->cachedTile(i, 0, 9).isNull());
    }
    QVERIFY(cache->decodedMemoryUsed() > CvMapCache::DecodedBudget / 2);
    QVERIFY(cache->decodedMemoryUsed() <= CvMapCache::DecodedBudget);
    QVERIFY(cache->previewMemoryUsed() <= CvMapCache::DecodedPreviewBudget);
}

QTEST_MAIN(TestMapCache)
#include "tst_mapcache.moc"
