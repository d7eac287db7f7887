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

#include <QCoreApplication>
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
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return Child{clock.nsecsElapsed() / 1e9, usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

// A block of zoom 14 filled from 64 map-like tiles of street-map size.
void makeTree(const QString &root, int count, QByteArray *sql)
{
    std::vector<QByteArray> bodies;
    for (int seed = 0; seed < 64; ++seed)
        bodies.push_back(TileBodies::mapLike(seed, seed % 4 == 0));
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
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::string(argv[1]) == "--pack") {
        const std::atomic_bool cancel{false};
        const MbtilesExport::Result result = MbtilesExport::run(
            MbtilesExport::Request{QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), {}, {}, {}, false},
            cancel, nullptr);
        return result.ok && result.skipped() == 0 ? 0 : 1;
    }
    const int tiles = argc > 1 ? std::max(100, atoi(argv[1])) : 10000;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("big")), small = dir.filePath(QStringLiteral("small"));
    QByteArray sql, smallSql;
    makeTree(big, tiles, &sql);
    makeTree(small, tiles / 10, &smallSql);
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
    std::printf("  ratio %.2f x; export of %d tiles: peak %.1f MiB (memory bounded: target within 2 MiB)\n",
                median(ours) / median(shell), tiles / 10, smallPeak / 1024.0);
    return 0;
}
