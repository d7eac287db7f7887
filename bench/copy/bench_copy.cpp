// Duration of a copy run over a real tile tree against the pauses it is made
// of: n tiles start at least (n - 1) x 10 ms apart, and the run should take
// little more than that. Also measures what a tile copy costs and how far a
// plain 10 ms sleep overshoots, the two costs the run's schedule absorbs.
//
//   bench_copy [tiles, default 10000] [folder for the trees, default: temp]

#include "acquire/CopyThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// Tiles of 256 x 256 street map PNGs are mostly 5 to 30 KiB.
QByteArray tileBytes(QRandomGenerator &random)
{
    QByteArray bytes(5 * 1024 + int(random.bounded(25 * 1024)), Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// The tiles of a square block of a deep level, as a job lists them.
std::vector<TileId> tilesFor(int count)
{
    std::vector<TileId> tiles;
    const int side = 1 + int(std::sqrt(double(count)));
    for (int x = 0; int(tiles.size()) < count; ++x)
        for (int y = 0; y < side && int(tiles.size()) < count; ++y)
            tiles.push_back(TileId{8600 + x, 5700 + y, 14});
    return tiles;
}

QString tilePath(const QString &root, const TileId &t)
{
    return QStringLiteral("%1/%2/%3/%4.png").arg(root).arg(t.zoom).arg(t.x).arg(t.y);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? qMax(2, args.at(1).toInt()) : 10000;
    QTemporaryDir dir(args.size() > 2 ? args.at(2) + QStringLiteral("/bench_copy-XXXXXX") : QString());
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString source = dir.filePath(QStringLiteral("src"));
    const QString target = dir.filePath(QStringLiteral("dst/"));
    const std::vector<TileId> tiles = tilesFor(count);

    QRandomGenerator random(20251208);
    qint64 bytes = 0;
    for (const TileId &t : tiles) {
        const QString path = tilePath(source, t);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        const QByteArray content = tileBytes(random);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        bytes += content.size();
    }
    std::printf("tree: %d tiles, %.1f MiB, in %s\n", count, bytes / 1048576.0, qPrintable(dir.path()));

    // What one tile copy costs (the same steps as the worker: read, write to a
    // temporary file, flush to disk, rename over the old tile).
    std::vector<double> copyMs;
    const int samples = qMin(count, 300);
    for (int i = 0; i < samples; ++i) {
        QElapsedTimer t;
        t.start();
        QFile in(tilePath(source, tiles[size_t(i)]));
        in.open(QIODevice::ReadOnly);
        const QString out = tilePath(dir.filePath(QStringLiteral("probe")), tiles[size_t(i)]);
        QDir().mkpath(QFileInfo(out).path());
        QSaveFile save(out);
        save.open(QIODevice::WriteOnly);
        save.write(in.readAll());
        save.commit();
        copyMs.push_back(t.nsecsElapsed() / 1e6);
    }
    // How far a plain 10 ms sleep overshoots here.
    std::vector<double> sleepMs;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer t;
        t.start();
        QThread::msleep(CopyThread::PauseMs);
        sleepMs.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("one tile copy: median %.3f ms; msleep(%d): median %.3f ms\n", median(copyMs),
                CopyThread::PauseMs, median(sleepMs));

    CopyThread worker;
    int reported = 0;
    QEventLoop loop;
    QObject::connect(&worker, &CopyThread::sendUpdate, &loop, [&](int zoom, int) {
        if (zoom < 0)
            loop.quit();
        else
            ++reported;
    });
    for (const TileId &t : tiles)
        worker.addTile(t.x, t.y, t.zoom);
    QElapsedTimer run;
    run.start();
    worker.startCopy(source, target);
    worker.wait();
    const double totalMs = run.nsecsElapsed() / 1e6;
    loop.exec();

    const double designedMs = double(count - 1) * CopyThread::PauseMs;
    const double overheadMs = totalMs - designedMs;
    std::printf("copy run: %d tiles copied of %d, %.1f s; designed pauses (n-1) x %d ms = %.1f s\n", reported,
                count, totalMs / 1000.0, CopyThread::PauseMs, designedMs / 1000.0);
    std::printf("overhead beyond the pauses: %.1f ms in all, %.2f %% (limit 10 %%), %.4f ms per tile\n", overheadMs,
                100.0 * overheadMs / designedMs, overheadMs / (count - 1));
    return reported == count && overheadMs <= designedMs * 0.10 ? 0 : 2;
}
