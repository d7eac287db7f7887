// tilewright against curl on the same addresses of one local nginx, in the
// same run, alternating rounds:
//   1. one request at a time: `tilewright download` against one curl process
//      fetching the addresses in order over one kept-alive connection, over
//      plain HTTP and over HTTPS;
//   2. `--parallel 8` against the one-at-a-time rate and against
//      `curl --parallel --parallel-max 8` on the same addresses;
//   3. the same at a 30 ms round trip (a relay that holds every chunk 15 ms
//      each way), levels 0-4;
//   4. the peak memory of a 100,000-tile job (every address answered with
//      the same tile, so the tree costs no time to make).
// Usage: bench_cli [rounds [max zoom]]

#include "DelayRelay.h"
#include "NginxFixture.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace {

const QString World = QStringLiteral("-180,-85,180,85");

qint64 timed(const QString &program, const QStringList &arguments, const QProcessEnvironment &env, int *code = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(env);
    // What goes wrong is shown; curl's progress meter of --parallel is not.
    if (!program.startsWith(QLatin1String("curl")))
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    if (code)
        *code = process.exitCode();
    return clock.elapsed();
}

// One curl process, the addresses in the job's order (level, column, row).
QString curlConfig(const QString &work, const QString &base, const QString &dest, int maxZoom)
{
    QByteArray text;
    for (int z = 0; z <= maxZoom; ++z)
        for (int x = 0; x < (1 << z); ++x)
            for (int y = 0; y < (1 << z); ++y) {
                const QString rel = QStringLiteral("%1/%2/%3.png").arg(z).arg(x).arg(y);
                text += "url = \"" + (base + rel).toUtf8() + "\"\noutput = \"" + (dest + rel).toUtf8() + "\"\n";
            }
    const QString path = work + QStringLiteral("/curl-") + QString::number(qHash(base + dest)) + QStringLiteral(".cfg");
    TestFiles::writeFile(path, text);
    return path;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv); // the fixture paints its tiles
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 3;
    const int maxZoom = argc > 2 ? qBound(1, atoi(argv[2]), 8) : 6;
    const int tiles = int(((qint64(1) << (2 * (maxZoom + 1))) - 1) / 3);
    // Tiles and copies on a memory disk where there is one: the figures are
    // the programs', not the disk's.
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QTemporaryDir root(base + QStringLiteral("/twbench-XXXXXX")), work(base + QStringLiteral("/twbench-XXXXXX"));
    QFile::setPermissions(root.path(), QFile::permissions(root.path()) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    if (!NginxFixture::writeTileTree(root.path(), 0, maxZoom))
        return 1;
    NginxFixture nginx;
    if (!nginx.start(root.path(), QStringLiteral("location /one/ { rewrite ^ /0/0/0.png break; }"))) {
        std::fprintf(stderr, "nginx: %s\n", qPrintable(nginx.errorString()));
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "no_proxy"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("TILEWRIGHT_CA_BUNDLE"), nginx.caFile());
    const QString tool = QStringLiteral(TW_TILEWRIGHT);
    const QString curl = QStringLiteral("curl");
    const QStringList curlCommon = {QStringLiteral("-s"), QStringLiteral("--create-dirs"), QStringLiteral("--cacert"), nginx.caFile(),
                                    QStringLiteral("-A"), QStringLiteral("Corvane Tilewright 5.15")};
    std::printf("%d tiles (levels 0-%d), %d alternating rounds, files in %s\n", tiles, maxZoom, rounds, qPrintable(base));

    // --- 1 and 2 ---------------------------------------------------------------
    struct Series
    {
        const char *name;
        std::vector<double> ms;
    };
    Series one{"tilewright, one at a time, http", {}}, curlOne{"curl, one connection, http", {}};
    Series oneTls{"tilewright, one at a time, https", {}}, curlOneTls{"curl, one connection, https", {}};
    Series eight{"tilewright --parallel 8, http", {}}, curlEight{"curl --parallel-max 8, http", {}};
    for (int round = 0; round < rounds; ++round) {
        const QString r = work.path() + QStringLiteral("/r%1-").arg(round);
        auto ours = [&](const QString &server, const QString &name, int jobs, Series &series) {
            int code = 0;
            series.ms.push_back(double(timed(tool, {QStringLiteral("download"), server + QLatin1Char('/'), QStringLiteral("--bbox"), World,
                                                    QStringLiteral("--zoom"), QStringLiteral("0-%1").arg(maxZoom),
                                                    QStringLiteral("--dest"), r + name, QStringLiteral("--parallel"),
                                                    QString::number(jobs), QStringLiteral("--quiet")},
                                             env, &code)));
            if (code != 0 || TestFiles::countFilesBelow(r + name) < tiles)
                std::printf("  %s: exit %d, %d files\n", series.name, code, TestFiles::countFilesBelow(r + name));
        };
        auto theirs = [&](const QString &server, const QString &name, const QStringList &extra, Series &series) {
            const QString config = curlConfig(work.path(), server + QLatin1Char('/'), r + name + QLatin1Char('/'), maxZoom);
            series.ms.push_back(double(timed(curl, curlCommon + extra + QStringList{QStringLiteral("-K"), config}, env)));
        };
        ours(nginx.httpUrl(), QStringLiteral("one"), 1, one);
        theirs(nginx.httpUrl(), QStringLiteral("curl-one"), {}, curlOne);
        ours(nginx.httpsUrl(), QStringLiteral("one-tls"), 1, oneTls);
        theirs(nginx.httpsUrl(), QStringLiteral("curl-one-tls"), {}, curlOneTls);
        ours(nginx.httpUrl(), QStringLiteral("eight"), 8, eight);
        theirs(nginx.httpUrl(), QStringLiteral("curl-eight"), {QStringLiteral("--parallel"), QStringLiteral("--parallel-max"), QStringLiteral("8")}, curlEight);
        std::printf("round %d:", round + 1);
        for (const Series *s : {&one, &curlOne, &oneTls, &curlOneTls, &eight, &curlEight})
            std::printf(" %.0f", s->ms.back());
        std::printf(" ms\n");
    }
    for (const Series *s : {&one, &curlOne, &oneTls, &curlOneTls, &eight, &curlEight})
        std::printf("%-36s median %6.0f ms, %6.0f tiles/s\n", s->name, median(s->ms), tiles * 1000.0 / median(s->ms));
    std::printf("one at a time, http:  %.2f x curl's tiles/s (target >= 0.9)\n", median(curlOne.ms) / median(one.ms));
    std::printf("one at a time, https: %.2f x curl's tiles/s (target >= 0.9)\n", median(curlOneTls.ms) / median(oneTls.ms));
    std::printf("--parallel 8, http:   %.2f x one at a time, %.2f x curl --parallel-max 8 (loopback, no added round trip)\n",
                median(one.ms) / median(eight.ms), median(curlEight.ms) / median(eight.ms));

    // --- 3. 30 ms round trip --------------------------------------------------
    {
        const int rttZoom = 4;
        const int rttTiles = int(((qint64(1) << (2 * (rttZoom + 1))) - 1) / 3);
        DelayRelay relay(nginx.httpPort());
        const QString server = QStringLiteral("http://127.0.0.1:%1").arg(relay.port());
        Series rOne{"tilewright, one at a time, 30 ms", {}}, rCurlOne{"curl, one connection, 30 ms", {}};
        Series rEight{"tilewright --parallel 8, 30 ms", {}}, rCurlEight{"curl --parallel-max 8, 30 ms", {}};
        for (int round = 0; round < qMin(rounds, 2); ++round) {
            const QString r = work.path() + QStringLiteral("/rtt%1-").arg(round);
            auto ours = [&](const QString &name, int jobs, Series &series) {
                series.ms.push_back(double(timed(tool, {QStringLiteral("download"), server + QLatin1Char('/'), QStringLiteral("--bbox"), World,
                                                        QStringLiteral("--zoom"), QStringLiteral("0-%1").arg(rttZoom), QStringLiteral("--dest"),
                                                        r + name, QStringLiteral("--parallel"), QString::number(jobs), QStringLiteral("--quiet")},
                                                 env)));
            };
            auto theirs = [&](const QString &name, const QStringList &extra, Series &series) {
                const QString config = curlConfig(work.path(), server + QLatin1Char('/'), r + name + QLatin1Char('/'), rttZoom);
                series.ms.push_back(double(timed(curl, curlCommon + extra + QStringList{QStringLiteral("-K"), config}, env)));
            };
            ours(QStringLiteral("one"), 1, rOne);
            theirs(QStringLiteral("curl-one"), {}, rCurlOne);
            ours(QStringLiteral("eight"), 8, rEight);
            theirs(QStringLiteral("curl-eight"), {QStringLiteral("--parallel"), QStringLiteral("--parallel-max"), QStringLiteral("8")}, rCurlEight);
        }
        for (const Series *s : {&rOne, &rCurlOne, &rEight, &rCurlEight})
            std::printf("%-36s median %6.0f ms, %6.1f tiles/s (%d tiles)\n", s->name, median(s->ms), rttTiles * 1000.0 / median(s->ms), rttTiles);
        std::printf("30 ms: one at a time %.2f x curl; --parallel 8 %.2f x one at a time (target >= 6), %.2f x curl --parallel-max 8 (target >= 0.85)\n",
                    median(rCurlOne.ms) / median(rOne.ms), median(rOne.ms) / median(rEight.ms), median(rCurlEight.ms) / median(rEight.ms));
    }

    // --- 4. peak memory of a 100,000-tile job ---------------------------------
    // Columns 0-199 of level 9: 200 x 512 = 102,400 tiles, all the same body.
    {
        const QString dest = work.path() + QStringLiteral("/big");
        int code = 0;
        const qint64 ms = timed(tool, {QStringLiteral("download"), nginx.httpUrl() + QStringLiteral("/one/"), QStringLiteral("--bbox"),
                                       QStringLiteral("-180,-85,-39.5,85"), QStringLiteral("--zoom"), QStringLiteral("9"),
                                       QStringLiteral("--dest"), dest, QStringLiteral("--quiet")},
                                env, &code);
        struct rusage usage = {};
        getrusage(RUSAGE_CHILDREN, &usage); // the largest child waited for: this job
        std::printf("100k-tile job: %d files in %.1f s, exit %d; peak memory of the largest child %.1f MiB (target <= 64 MiB)\n",
                    TestFiles::countFilesBelow(dest), ms / 1000.0, code, usage.ru_maxrss / 1024.0);
    }
    return 0;
}
