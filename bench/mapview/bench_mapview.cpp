// Paint time of a full-HD map with every visible tile held, with and without
// the decoded-image cache, and the memory the tile store holds after 10,000
// tiles. Runs offscreen; no network is used (tiles are stored directly).
//
//   bench_mapview [paint repetitions, default 200]

#include "mapview/CvMapCache.h"
#include "mapview/CvMapWidget.h"
#include "mapview/TileGeometry.h"
#include "settings/AppConfig.h"

#include <QApplication>
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

namespace {

// A tile with roads, areas and labels: about the size and entropy of a
// rendered street map tile, so decoding costs what it costs in use.
QByteArray mapLikeTile(int seed)
{
    QRandomGenerator random(quint32(seed) * 2654435761u + 1);
    QImage image(256, 256, QImage::Format_RGB32);
    image.fill(QColor(242, 239, 233));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 12; ++i) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromHsv(int(random.bounded(360)), 40 + int(random.bounded(60)), 200 + int(random.bounded(50))));
        painter.drawRect(int(random.bounded(256)), int(random.bounded(256)), 10 + int(random.bounded(90)),
                         10 + int(random.bounded(90)));
    }
    for (int i = 0; i < 40; ++i) {
        painter.setPen(QPen(QColor::fromHsv(int(random.bounded(60)), 120, 230), 1 + random.bounded(6)));
        QPolygonF line;
        for (int k = 0; k < 5; ++k)
            line << QPointF(random.bounded(300.0) - 20, random.bounded(300.0) - 20);
        painter.drawPolyline(line);
    }
    painter.setPen(Qt::black);
    for (int i = 0; i < 6; ++i)
        painter.drawText(int(random.bounded(200)), int(random.bounded(250)), QStringLiteral("Strasse %1").arg(seed + i));
    painter.end();
    // Street map tiles are served as palette PNGs.
    image = image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

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

double medianPaintMs(CvMapWidget &widget, int repetitions)
{
    QImage target(widget.size(), QImage::Format_ARGB32_Premultiplied);
    widget.render(&target); // warm-up
    std::vector<double> times;
    QElapsedTimer timer;
    for (int i = 0; i < repetitions; ++i) {
        timer.start();
        widget.render(&target);
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}

int memoryRun(const QString &budgetText)
{
    const qint64 budget = budgetText == QLatin1String("unbounded") ? std::numeric_limits<qint64>::max()
                                                                   : budgetText.toLongLong() * 1024 * 1024;
    std::vector<QByteArray> samples;
    for (int i = 0; i < 64; ++i)
        samples.push_back(mapLikeTile(100000 + i));
    qint64 sampleBytes = 0;
    for (const QByteArray &s : samples)
        sampleBytes += s.size();

    const long before = residentKiB();
    CvMapCache store(budget);
    for (int i = 0; i < 10000; ++i) {
        // Distinct byte arrays, as replies deliver them.
        const QByteArray &s = samples[size_t(i) % samples.size()];
        store.storeTile(TileId{i % 100, i / 100, 17}, QByteArray(s.constData(), s.size()));
    }
    const long after = residentKiB();
    std::printf("10,000 tiles of %.1f KiB, budget %s: %d tiles held, store %.1f MiB, resident +%.1f MiB\n",
                sampleBytes / 1024.0 / samples.size(),
                budget == std::numeric_limits<qint64>::max() ? "unbounded (as designed)"
                                                             : qPrintable(budgetText + QStringLiteral(" MiB")),
                store.tileCount(), store.memoryUsed() / 1048576.0, (after - before) / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    // Nothing listens here: every tile the benchmark needs is stored directly.
    qputenv("TILEWRIGHT_OSM_TILE_URL", "http://127.0.0.1:9");
    QApplication app(argc, argv);
    AppConfig::reload();
    if (argc > 2 && QByteArray(argv[1]) == "--memory")
        return memoryRun(QString::fromLatin1(argv[2]));
    const int repetitions = argc > 1 ? QByteArray(argv[1]).toInt() : 200;

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
    for (int px = columns.firstPixel, x = columns.firstTile; px < 1920; px += 256, ++x) {
        for (int py = rows.firstPixel, y = rows.firstTile; py < 1080; py += 256, ++y) {
            const QByteArray png = mapLikeTile(x * 1000 + y);
            cache->storeTile(TileId{x, y, zoom}, png);
            ++visible;
            visibleBytes += png.size();
        }
    }
    std::printf("full-HD view: %d visible tiles, %.1f KiB PNG on average\n", visible,
                visibleBytes / 1024.0 / visible);

    cache->setDecodedCacheEnabled(false);
    const double decodeEveryPaint = medianPaintMs(widget, repetitions);
    cache->setDecodedCacheEnabled(true);
    const double decodedCache = medianPaintMs(widget, repetitions);
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
    return 0;
}
