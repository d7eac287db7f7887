// Map view figures, offscreen:
//  1. paint time of a full-HD map with every visible tile held (tiles are
//     stored directly), against a paint that decodes every tile each time, as
//     the map was first built (built here, beside the map);
//  2. the memory the tile store holds after 10,000 tiles stored directly;
//  3. the real window at 1920 x 1080 panned over 10,000 tiles fetched from a
//     loopback nginx: process memory above idle against the caches' budgets,
//     CPU per arriving tile and the window's repaints, once with the map made
//     to repaint as it was first built (painted over the window, all of it
//     for every tile and drag step) and once as it is, each in a process of
//     its own.
// Not a test: it prints the figures and the targets.
//
//   bench_mapview [paint repetitions, default 200] [tiles to pan over, default 10000]
//                 [tile sets to pan over, default street,sparse]

#include "NginxFixture.h"
#include "TileBodies.h"

#include "app/window/CvTilewright.h"
#include "mapview/widgets/CvMapCache.h"
#include "mapview/widgets/CvMapWidget.h"
#include "mapview/TileGeometry.h"
#include "mapview/TileStore.h"
#include "settings/AppConfig.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QTest>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <limits>
#include <cstdio>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

namespace {

long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * 4 : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template<typename Paint>
double medianPaintMs(QSize size, int repetitions, Paint paint)
{
    QImage target(size, QImage::Format_ARGB32_Premultiplied);
    paint(target); // warm-up
    std::vector<double> times;
    QElapsedTimer timer;
    for (int i = 0; i < repetitions; ++i) {
        timer.start();
        paint(target);
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}

// The map as first built: white, then every visible tile decoded afresh and drawn.
struct PlacedPng
{
    QPoint at;
    QByteArray png;
};
void paintDecodingEveryTile(QImage &target, const std::vector<PlacedPng> &tiles)
{
    QPainter painter(&target);
    painter.fillRect(target.rect(), Qt::white);
    for (const PlacedPng &tile : tiles) {
        QImage image;
        image.loadFromData(tile.png);
        painter.drawImage(tile.at, image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                                 : QImage::Format_RGB32));
    }
}

int memoryRun(const QString &budgetText)
{
    const qint64 budget = budgetText == QLatin1String("unbounded") ? std::numeric_limits<qint64>::max()
                                                                   : budgetText.toLongLong() * 1024 * 1024;
    std::vector<QByteArray> samples;
    for (int i = 0; i < 64; ++i)
        samples.push_back(TileBodies::mapLike(100000 + i));
    qint64 sampleBytes = 0;
    for (const QByteArray &s : samples)
        sampleBytes += s.size();

    const long before = residentKiB();
    TileStore store(budget);
    for (int i = 0; i < 10000; ++i) {
        // Distinct byte arrays, as replies deliver them.
        const QByteArray &s = samples[size_t(i) % samples.size()];
        store.insert(TileId{i % 100, i / 100, 17}, QByteArray(s.constData(), s.size()));
    }
    const long after = residentKiB();
    std::printf("10,000 tiles of %.1f KiB, budget %s: %d tiles held, store %.1f MiB, resident +%.1f MiB\n",
                sampleBytes / 1024.0 / samples.size(),
                budget == std::numeric_limits<qint64>::max() ? "unbounded (as designed)"
                                                             : qPrintable(budgetText + QStringLiteral(" MiB")),
                store.count(), store.bytesUsed() / 1048576.0, (after - before) / 1024.0);
    return 0;
}


double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
           + usage.ru_stime.tv_usec / 1e6;
}

// Makes the map repaint as it was first built: painted over the window, all of
// it for every drag step (and, connected to the cache, for every tile).
class WholeRepaint : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseMove)
            static_cast<QWidget *>(watched)->update();
        return false;
    }
};

// Paint events by receiver: the map, the window and everything else.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *map)
        : m_map(map)
    {
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            if (watched == m_map)
                ++mapPaints;
            else if (qobject_cast<CvTilewright *>(watched))
                ++windowPaints;
            else if (watched->isWidgetType())
                ++otherPaints;
        }
        return false;
    }
    QObject *m_map;
    long mapPaints = 0, windowPaints = 0, otherPaints = 0;
};

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Every tile position the map shows is held at its zoom.
bool viewHeld(CvMapWidget *map, CvMapCache *cache)
{
    const TileGeometry::AxisPlacement columns = TileGeometry::placeAxis(map->width(), map->center().x());
    const TileGeometry::AxisPlacement rows = TileGeometry::placeAxis(map->height(), map->center().y());
    for (int px = columns.firstPixel, x = columns.firstTile; px < map->width(); px += 256, ++x)
        for (int py = rows.firstPixel, y = rows.firstTile; py < map->height(); py += 256, ++y)
            if (TileGeometry::tileExists(x, y, map->mapZoom()) && !cache->holdsTile(TileId{x, y, map->mapZoom()}))
                return false;
    return true;
}

// The real window panned eastward in drags of 1,024 pixels until `target`
// tiles have arrived, each drag waiting until every visible tile is held.
int panRun(bool before, int target, qint64 budgetMiB)
{
    const int zoom = 14;
    {
        QSettings settings;
        settings.beginGroup(QStringLiteral("CvMapWidget"));
        settings.setValue(QStringLiteral("Lat"), 4000.5);
        settings.setValue(QStringLiteral("Lon"), 5000.5);
        settings.setValue(QStringLiteral("Zoom"), zoom);
    }
    CvTilewright window;
    window.resize(1920, 1080);
    CvMapWidget *map = window.findChild<CvMapWidget *>();
    CvMapCache *cache = CvMapCache::instance();
    if (!map || !cache) {
        std::fprintf(stderr, "no map widget\n");
        return 1;
    }
    if (budgetMiB > 0)
        cache->setMemoryBudget(budgetMiB * 1024 * 1024);
    WholeRepaint wholeRepaint;
    if (before) {
        map->setAttribute(Qt::WA_OpaquePaintEvent, false);
        map->installEventFilter(&wholeRepaint);
        QObject::connect(cache, &CvMapCache::tileStored, map, [map] { map->update(); });
    }
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "the window was not exposed\n");
    // The first view loads and the proxy detection (3 s after start) is done
    // before idle is taken: it aborts the request in flight.
    QTest::qWait(3500);
    if (!QTest::qWaitFor([&] { return viewHeld(map, cache); }, 30000))
        std::fprintf(stderr, "the first view did not load\n");
    QTest::qWait(200);
    malloc_trim(0);
    const long idle = residentKiB();

    int arrived = 0;
    QObject::connect(cache, &CvMapCache::requestDone, [&arrived](const TileId &, bool stored) {
        if (stored)
            ++arrived;
    });
    PaintCounter paints(map);
    qApp->installEventFilter(&paints);
    const double processStart = cpuSeconds(RUSAGE_SELF);
    const double threadStart = cpuSeconds(RUSAGE_THREAD);
    QElapsedTimer wall;
    wall.start();
    int drags = 0, stalls = 0;
    const QPoint from(map->width() - 100, map->height() / 2);
    while (arrived < target) {
        sendMouse(map, QEvent::MouseButtonPress, from, Qt::LeftButton);
        for (int step = 1; step <= 8; ++step)
            sendMouse(map, QEvent::MouseMove, from - QPoint(128 * step, 0), Qt::LeftButton);
        sendMouse(map, QEvent::MouseButtonRelease, from - QPoint(1024, 0), Qt::NoButton);
        ++drags;
        QElapsedTimer settle;
        settle.start();
        while (!viewHeld(map, cache) && settle.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (!viewHeld(map, cache))
            ++stalls;
    }
    const double seconds = wall.nsecsElapsed() / 1e9;
    const double processCpu = cpuSeconds(RUSAGE_SELF) - processStart;
    const double threadCpu = cpuSeconds(RUSAGE_THREAD) - threadStart;
    qApp->removeEventFilter(&paints);

    const long after = residentKiB();
    malloc_trim(0);
    const long trimmed = residentKiB();
    const double mib = 1048576.0;
    const double budgets = (cache->memoryBudget() + CvMapCache::DecodedBudget
                            + CvMapCache::DecodedPreviewBudget)
                           / mib;
    const double counted = (cache->memoryUsed() + cache->previewMemoryUsed() + cache->decodedMemoryUsed()) / mib;
    std::printf("%s, tile budget %lld MiB: %d tiles arrived in %d drags (%d drags did not settle), %.1f s\n",
                before ? "before (map painted over the window, whole map repainted)"
                       : "after (opaque map, tile-sized repaints)",
                cache->memoryBudget() / 1024 / 1024, arrived, drags, stalls, seconds);
    std::printf("  CPU per arriving tile: %.2f ms process, %.2f ms GUI thread\n", processCpu * 1000 / arrived,
                threadCpu * 1000 / arrived);
    std::printf("  paints: map %ld, window %ld, other widgets %ld (%.2f window paints per tile)\n",
                paints.mapPaints, paints.windowPaints, paints.otherPaints,
                double(paints.windowPaints) / arrived);
    std::printf("  caches count %.1f MiB (tiles %.1f, previews %.1f, decoded %.1f) of %.0f MiB budgets\n", counted,
                cache->memoryUsed() / mib, cache->previewMemoryUsed() / mib, cache->decodedMemoryUsed() / mib,
                budgets);
    std::printf("  memory above idle: %.1f MiB, %.1f MiB after malloc_trim = %.2f x counted, %.2f x budgets\n",
                (after - idle) / 1024.0, (trimmed - idle) / 1024.0, (trimmed - idle) / 1024.0 / counted,
                (trimmed - idle) / 1024.0 / budgets);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's complaints about size hints are no figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
        if (!message.contains(QLatin1String("propagateSizeHints")) && !message.contains(QLatin1String("XDG_RUNTIME_DIR")))
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    if (argc > 4 && QByteArray(argv[1]) == "--pan") {
        // A child run: nginx, the settings folder and the folders come from the parent.
        QApplication app(argc, argv);
        AppConfig::reload();
        return panRun(QByteArray(argv[2]) == "before", QByteArray(argv[3]).toInt(), QByteArray(argv[4]).toLongLong());
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    // Every figure is of tiles from memory or the network, never from disk
    // (the child runs inherit it).
    qputenv("TILEWRIGHT_MAP_CACHE_DIR", "none");
    // Nothing listens here: every tile the benchmark needs is stored directly.
    qputenv("TILEWRIGHT_OSM_TILE_URL", "http://127.0.0.1:9");
    QApplication app(argc, argv);
    AppConfig::reload();
    if (argc > 2 && QByteArray(argv[1]) == "--memory")
        return memoryRun(QString::fromLatin1(argv[2]));
    const int repetitions = argc > 1 ? QByteArray(argv[1]).toInt() : 200;
    const int panTiles = argc > 2 ? QByteArray(argv[2]).toInt() : 10000;
    const QByteArray panSets = argc > 3 ? QByteArray(argv[3]) : QByteArray("street,sparse");

    const int zoom = 10;
    const double cx = 540.3, cy = 350.7;
    {
        QSettings settings;
        settings.beginGroup(QStringLiteral("CvMapWidget"));
        settings.setValue(QStringLiteral("Lat"), cx);
        settings.setValue(QStringLiteral("Lon"), cy);
        settings.setValue(QStringLiteral("Zoom"), zoom);
    }

    CvMapWidget widget;
    widget.resize(1920, 1080);
    CvMapCache *cache = CvMapCache::instance();
    const TileGeometry::AxisPlacement columns = TileGeometry::placeAxis(1920, cx);
    const TileGeometry::AxisPlacement rows = TileGeometry::placeAxis(1080, cy);
    int visible = 0;
    qint64 visibleBytes = 0;
    std::vector<PlacedPng> placed;
    for (int px = columns.firstPixel, x = columns.firstTile; px < 1920; px += 256, ++x) {
        for (int py = rows.firstPixel, y = rows.firstTile; py < 1080; py += 256, ++y) {
            const QByteArray png = TileBodies::mapLike(x * 1000 + y);
            cache->storeTile(TileId{x, y, zoom}, png);
            placed.push_back(PlacedPng{QPoint(px, py), png});
            ++visible;
            visibleBytes += png.size();
        }
    }
    std::printf("full-HD view: %d visible tiles, %.1f KiB PNG on average\n", visible,
                visibleBytes / 1024.0 / visible);

    const double decodeEveryPaint = medianPaintMs(widget.size(), repetitions, [&placed](QImage &target) {
        paintDecodingEveryTile(target, placed);
    });
    const double decodedCache =
        medianPaintMs(widget.size(), repetitions, [&widget](QImage &target) { widget.render(&target); });
    std::printf("paint 1920x1080, median of %d: decoding every paint %.2f ms; decoded-image cache %.2f ms\n",
                repetitions, decodeEveryPaint, decodedCache);
    if (cache->requestsStarted() != 0)
        std::printf("warning: %d requests were started\n", cache->requestsStarted());

    // Memory after 10,000 tiles, each budget in a process of its own so that
    // memory freed by one run does not hide the growth of the next.
    std::fflush(stdout);
    for (const char *budget : {"unbounded", "256", "64"}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--memory"), QString::fromLatin1(budget)});
        child.waitForFinished(-1);
    }

    // The real window against a loopback nginx. Any /z/x/y.png is answered
    // with one of 100 sample tiles picked by the last digits of x and y.
    for (const bool sparse : {false, true}) {
        if (!panSets.contains(sparse ? "sparse" : "street"))
            continue;
        QTemporaryDir root;
        QDir(root.path()).mkpath(QStringLiteral("t"));
        qint64 sampleBytes = 0;
        for (int i = 0; i < 100; ++i) {
            QFile file(root.filePath(QStringLiteral("t/%1.png").arg(i, 2, 10, QLatin1Char('0'))));
            const QByteArray png = TileBodies::mapLike(200000 + i, sparse);
            sampleBytes += png.size();
            if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size())
                return 1;
            file.setPermissions(file.permissions() | QFileDevice::ReadOther);
        }
        QFile::setPermissions(root.path(), QFile::permissions(root.path()) | QFileDevice::ReadOther
                                               | QFileDevice::ExeOther);
        QFile::setPermissions(root.filePath(QStringLiteral("t")),
                              QFile::permissions(root.filePath(QStringLiteral("t"))) | QFileDevice::ReadOther
                                  | QFileDevice::ExeOther);
        NginxFixture nginx;
        if (!nginx.start(root.path(),
                         QStringLiteral(R"(rewrite "^/\d+/\d*(\d)/\d*(\d)\.png$" /t/$1$2.png last;)"))) {
            std::fprintf(stderr, "nginx: %s\n", qPrintable(nginx.errorString()));
            return 1;
        }
        qputenv("TILEWRIGHT_OSM_TILE_URL", nginx.httpUrl().toUtf8());
        QTemporaryDir folders;
        qputenv("TILEWRIGHT_ROOT_D", folders.filePath(QStringLiteral("D")).toUtf8());
        qputenv("TILEWRIGHT_ROOT_C", folders.filePath(QStringLiteral("C")).toUtf8());
        std::printf("\npanning the window (1920 x 1080, zoom 14) over %d tiles of %.1f KiB (%s) from nginx\n",
                    panTiles, sampleBytes / 1024.0 / 100, sparse ? "sparse" : "street map");
        std::fflush(stdout);
        const std::vector<std::pair<const char *, const char *>> runs =
            sparse ? std::vector<std::pair<const char *, const char *>>{{"before", "0"}, {"after", "0"}}
                   : std::vector<std::pair<const char *, const char *>>{{"before", "0"}, {"after", "0"}, {"after", "64"}};
        for (const auto &run : runs) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            // The overview images beside the program, as it is shipped: every
            // missing tile shows a preview enlarged from a coarser tile.
            child.setWorkingDirectory(QStringLiteral(TW_RUNTIME_DIR));
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--pan"), QString::fromLatin1(run.first), QString::number(panTiles),
                         QString::fromLatin1(run.second)});
            child.waitForFinished(-1);
        }
    }
    std::printf("targets: memory above idle <= 1.25 x budgets, CPU per arriving tile <= 1.5 ms, "
                "paint median <= 8 ms\n");
    return 0;
}
