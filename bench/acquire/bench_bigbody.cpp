// A 400 MB "tile" against the download job: the process's peak memory above
// idle and the GUI thread's longest stall, each case in a process of its own
// (peak memory only grows). The misbehaving server is the test fixture's.
//
//   bench_bigbody            runs every case and prints a table
//   bench_bigbody --case URL (internal) one job of one entry, prints its figures

#include "HostileServer.h"
#include "TestFiles.h"

#include "acquire/DownloadJob.h"
#include "settings/AppConfig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>


namespace {

int runCase(const QString &url, const QString &dest)
{
    DownloadJob job;
    job.begin(ProxySettings(), dest);
    EntryPlan plan;
    plan.entry = TileId{1, 1, 12};
    plan.address.text = url;
    plan.address.url = QUrl(url);
    plan.target.folder = dest + QStringLiteral("12/1/");
    plan.target.fileName = QStringLiteral("1.png");
    plan.transport = url.startsWith(QLatin1String("https")) ? EntryPlan::Transport::Https : EntryPlan::Transport::Http;

    const qint64 idle = TestFiles::processStatusKiB("VmRSS:");
    QElapsedTimer gap;
    qint64 longest = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] { longest = qMax(longest, gap.restart()); });
    bool done = false;
    QObject::connect(&job, &DownloadJob::tileFinished, [&] { done = true; });
    QObject::connect(&job, &DownloadJob::archiveFinished, [&] { done = true; });
    QElapsedTimer clock;
    clock.start();
    gap.start();
    beat.start(1);
    if (!job.start(plan))
        return 2;
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    beat.stop();
    longest = qMax(longest, gap.elapsed());
    const qint64 elapsed = clock.elapsed();
    const auto failure = job.finish().mostFrequentFailure();
    const QString text = QStringLiteral("reason %1").arg(int(failure.first));
    const qint64 peak = TestFiles::processStatusKiB("VmHWM:");
    QTextStream(stdout) << (peak - idle) / 1024.0 << ' ' << longest << ' ' << elapsed << ' ' << text << '\n';
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--case") == 0)
        return runCase(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    HostileServer server;
    if (!server.start()) {
        std::fprintf(stderr, "no hostile server: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    const QString size = QStringLiteral("size=%1").arg(400 * 1024 * 1024);
    const QList<QPair<QString, QString>> cases{
        {QStringLiteral("plain HTTP, 400 MB announced"), server.httpUrl() + QStringLiteral("/huge/12/1/1.png?") + size},
        {QStringLiteral("plain HTTP, 400 MB bytes, no length"),
         server.httpUrl() + QStringLiteral("/hugenolength/12/1/1.png?raw=1&") + size},
        {QStringLiteral("plain HTTP, 400 MB broken PNG, no length"),
         server.httpUrl() + QStringLiteral("/hugenolength/12/1/1.png?") + size},
        {QStringLiteral("HTTPS, 400 MB announced"), server.httpsUrl() + QStringLiteral("/huge/12/1/1.png?") + size},
        {QStringLiteral("HTTPS, 400 MB bytes, no length"),
         server.httpsUrl() + QStringLiteral("/hugenolength/12/1/1.png?raw=1&") + size},
    };
    QTextStream out(stdout);
    out << "case | peak memory above idle (MiB) | longest GUI stall (ms) | time (ms) | end text\n";
    for (const auto &c : cases) {
        QTemporaryDir dest;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TILEWRIGHT_CA_BUNDLE"), server.caFile());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--case"), c.second, dest.path() + QLatin1Char('/')});
        child.waitForFinished(600000);
        const QStringList f = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
        if (f.size() < 4) {
            out << c.first << " | failed: " << child.readAllStandardError() << '\n';
            continue;
        }
        out << c.first << " | " << f.at(0) << " | " << f.at(1) << " | " << f.at(2) << " | " << f.mid(3).join(QLatin1Char(' '))
            << '\n';
        out.flush();
    }
    out << "target: memory bounded (tile bound 16 MiB), GUI stall <= 100 ms\n";
    return 0;
}
