// An MBTiles export of a tile folder against the sqlite3 shell importing the
// same files into the same tables in one transaction (readfile(), no check of
// the tiles), in the same run. Each side runs in a process of its own, so its
// peak memory is its own; the export also runs on a tenth of the tiles, to
// show its memory does not grow with their number.
//
//   bench_export [tiles, default 10000] [rounds, default 3]
//   bench_export --pack <folder> <target>      (the export side, run by the above)

#include "TileBodies.h"
#include "acquire/MbtilesExport.h"

#include <QGuiApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Child
{
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

Child spawn(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout)) // the shell prints its pragmas' answers
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return Child{clock.nsecsElapsed() / 1e9, usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

std::vector<QByteArray> bodies()
{
    std::vector<QByteArray> made;
    for (int seed = 0; seed < 64; ++seed)
        made.push_back(TileBodies::mapLike(seed, seed % 4 == 0));
    return made;
}

// A block of zoom 14 filled from 64 map-like tiles of street-map size.
void makeTree(const QString &root, int count, const std::vector<QByteArray> &bodies, QByteArray *sql)
{
    *sql = "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
           "CREATE TABLE metadata (name TEXT, value TEXT);"
           "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);\nBEGIN;\n";
    for (int i = 0; i < count; ++i) {
        const int x = 8600 + i / 100, y = 5700 + i % 100;
        const QString path = QStringLiteral("%1/14/%2/%3.png").arg(root).arg(x).arg(y);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bodies[i % bodies.size()]) < 0)
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        *sql += "INSERT INTO tiles VALUES (14, " + QByteArray::number(x) + ", "
                + QByteArray::number(MbtilesExport::tmsRow(14, y)) + ", readfile('" + path.toUtf8() + "'));\n";
    }
    *sql += "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);\nCOMMIT;\n";
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--pack") {
        QCoreApplication app(argc, argv); // the export needs no more

        const std::atomic_bool cancel{false};
        const MbtilesExport::Result result = MbtilesExport::run(
            MbtilesExport::Request{QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), {}, {}, {}, false},
            cancel, nullptr);
        return result.ok && result.skipped() == 0 ? 0 : 1;
    }
    // The map-like tiles are painted, which needs a (screenless) GUI.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int tiles = argc > 1 ? std::max(100, atoi(argv[1])) : 10000;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("big")), small = dir.filePath(QStringLiteral("small"));
    QByteArray sql, smallSql;
    const std::vector<QByteArray> made = bodies();
    makeTree(big, tiles, made, &sql);
    makeTree(small, tiles / 10, made, &smallSql);
    // For scale: the sound-tile check alone over the same bodies, in this process.
    QElapsedTimer checkClock;
    checkClock.start();
    int sound = 0;
    for (int i = 0; i < tiles; ++i)
        sound += TileContent::check("image/png", made[i % made.size()]).ok();
    const double checkSeconds = checkClock.nsecsElapsed() / 1e9;
    if (sound != tiles)
        return 1;
    const QString script = dir.filePath(QStringLiteral("import.sql"));
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly) || file.write(sql) != sql.size())
        return 1;
    file.close();

    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    const auto target = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)).toStdString(); };
    std::vector<double> ours, shell;
    long oursPeak = 0, shellPeak = 0, smallPeak = 0;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(QString::fromStdString(target("shell.mbtiles")));
        const Child a = spawn({self, "--pack", big.toStdString(), target("ours.mbtiles")});
        const Child b = spawn({"sqlite3", target("shell.mbtiles"), ".read " + script.toStdString()});
        const Child c = spawn({self, "--pack", small.toStdString(), target("small.mbtiles")});
        if (!a.ok || !b.ok || !c.ok) {
            std::fprintf(stderr, "a run failed (export %d, sqlite3 %d, small export %d)\n", a.ok, b.ok, c.ok);
            return 1;
        }
        ours.push_back(a.seconds);
        shell.push_back(b.seconds);
        oursPeak = std::max(oursPeak, a.peakKiB);
        shellPeak = std::max(shellPeak, b.peakKiB);
        smallPeak = std::max(smallPeak, c.peakKiB);
    }
    const double tileMiB = sql.size() > 0 ? QFileInfo(QString::fromStdString(target("ours.mbtiles"))).size() / 1048576.0 : 0;
    std::printf("%d tiles (%.1f MiB file), median of %d rounds\n", tiles, tileMiB, rounds);
    std::printf("  export (sound-tile check included): %.2f s, peak %.1f MiB\n", median(ours), oursPeak / 1024.0);
    std::printf("  sqlite3 shell, readfile():          %.2f s, peak %.1f MiB\n", median(shell), shellPeak / 1024.0);
    std::printf("  ratio %.2f x; the sound-tile check alone: %.2f s\n", median(ours) / median(shell), checkSeconds);
    std::printf("  export of %d tiles: peak %.1f MiB (bounded: the same as for %d tiles, within 2 MiB)\n", tiles / 10,
                smallPeak / 1024.0, tiles);
    return 0;
}
