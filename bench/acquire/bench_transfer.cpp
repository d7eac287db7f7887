// Transfer figures: the download job against libcurl used the way the curl
// tool uses it, on the same tiles of one local nginx, rounds alternating in
// one run:
//  1. plain HTTP on loopback: the window's job, the bare Qt network-access
//     loop and that loop with the job's parts added one by one, libcurl over
//     one connection and with a new connection per tile, mapproxy-seed;
//  2. HTTPS on loopback: the window's job, the job's HTTPS worker alone,
//     libcurl over one connection and with a new connection per tile;
//  3. the same HTTPS comparison over a link with 30 ms round-trip time;
//  4. peak memory of a 10,922-tile job (HTTP and HTTPS), each in a fresh
//     process;
//  5. the HTTPS transfer engine writing to the real disk (the temporary
//     folder): new tiles, then the same tiles replaced.
// Every variant's TCP connections are counted in nginx's log. Not a test: it
// prints the figures and the targets.
//
//   bench_transfer [rounds [parts [variant]]]
//       parts: any of http,https,disk,rtt,seed,memory; variant: run only the
//       variants whose name holds one of these texts, split by "|" (for
//       profiling some of them)
//
// Tiles are written to /dev/shm where it is a memory file system, so that a
// slow or shared disk does not blur the transfer figures; every variant
// writes into the same place (part 5 alone writes to the disk).

#include "DelayRelay.h"
#include "NginxFixture.h"
#include "TestFiles.h"
#include "WindowSteps.h"

#include "acquire/ArchiveTransfer.h"
#include "acquire/CurlEngine.h"
#include "acquire/TileEnumerator.h"
#include "acquire/TileWriter.h"
#include "app/window/CvTilewright.h"
#include "mapview/widgets/CvMapWidget.h"
#include "mapview/TileContent.h"
#include "settings/AppConfig.h"
#include "settings/ProgramVersion.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QProgressBar>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <unistd.h>
#include <vector>

using TestFiles::writeFile;
using TestFiles::tilePath;

namespace {

const QByteArray UserAgent = ProgramVersion::jobUserAgent();

// ---- figures ----------------------------------------------------------------

struct Sample
{
    qint64 ms = 0;
    int connections = 0;
    int files = 0;
};

// Samples per variant name, in the order the variants were first run.
class Table
{
public:
    void add(const QString &variant, const Sample &s)
    {
        if (!m_samples.count(variant))
            m_order << variant;
        m_samples[variant].push_back(s);
    }
    qint64 median(const QString &variant) const
    {
        std::vector<qint64> ms;
        if (!has(variant))
            return 0; // left out by the variant filter
        for (const Sample &s : m_samples.at(variant))
            ms.push_back(s.ms);
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0 : (ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2);
    }
    bool has(const QString &variant) const { return m_samples.count(variant) > 0; }
    void print(const char *title, int tiles) const
    {
        std::printf("\n%s (%d tiles)\n", title, tiles);
        std::printf("| Variant | Median | Min - max | Tiles/s (median) | Connections | Files |\n|---|---|---|---|---|---|\n");
        for (const QString &variant : m_order) {
            const std::vector<Sample> &samples = m_samples.at(variant);
            qint64 lo = LLONG_MAX, hi = 0;
            int connLo = INT_MAX, connHi = 0, files = 0;
            for (const Sample &s : samples) {
                lo = qMin(lo, s.ms);
                hi = qMax(hi, s.ms);
                connLo = qMin(connLo, s.connections);
                connHi = qMax(connHi, s.connections);
                files = s.files;
            }
            const qint64 med = median(variant);
            const QString conns = connLo == connHi ? QString::number(connLo)
                                                   : QStringLiteral("%1-%2").arg(connLo).arg(connHi);
            std::printf("| %s | %.2f s | %.2f - %.2f s | %.0f | %s | %d |\n", qPrintable(variant), med / 1000.0,
                        lo / 1000.0, hi / 1000.0, med > 0 ? tiles * 1000.0 / med : 0.0, qPrintable(conns), files);
        }
        std::fflush(stdout);
    }

private:
    QStringList m_order;
    std::map<QString, std::vector<Sample>> m_samples;
};

// Requests nginx logged since `from`, once `expected` of them are there.
QStringList connectionLinesSince(const NginxFixture &nginx, int from, int expected)
{
    QStringList lines;
    QElapsedTimer clock;
    clock.start();
    do {
        lines = nginx.connectionLog().mid(from);
        if (lines.size() >= expected)
            break;
        QThread::msleep(20);
    } while (clock.elapsed() < 10000);
    return lines;
}

// ---- libcurl, as the curl tool uses it ------------------------------------------

size_t toFile(char *data, size_t size, size_t count, void *file)
{
    return fwrite(data, size, count, static_cast<FILE *>(file));
}

// Fetches base + path of every tile into dest + path, one request at a time:
// over one handle (the curl tool with many addresses: one reused connection)
// or over a new handle, and so a new connection, per tile.
qint64 curlFetch(const QString &base, const std::vector<TileId> &tiles, const QString &dest, bool reuse,
                 const QString &caFile)
{
    const QByteArray ca = QFile::encodeName(caFile);
    QElapsedTimer clock;
    clock.start();
    CURL *kept = reuse ? curl_easy_init() : nullptr;
    QString lastFolder;
    for (const TileId &t : tiles) {
        const QString rel = tilePath(t);
        const QString local = dest + rel;
        const QString folder = QFileInfo(local).path();
        if (folder != lastFolder) {
            QDir().mkpath(folder);
            lastFolder = folder;
        }
        FILE *file = fopen(QFile::encodeName(local).constData(), "wb");
        if (!file)
            continue;
        CURL *curl = reuse ? kept : curl_easy_init();
        const QByteArray url = (base + QLatin1Char('/') + rel).toUtf8();
        curl_easy_setopt(curl, CURLOPT_URL, url.constData());
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, UserAgent.constData());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &toFile);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
        if (!ca.isEmpty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, ca.constData());
        curl_easy_perform(curl);
        fclose(file);
        if (!reuse)
            curl_easy_cleanup(curl);
    }
    if (kept)
        curl_easy_cleanup(kept);
    return clock.elapsed();
}

// ---- the transfer engine on this thread, no thread hops ------------------------

qint64 engineDirect(const QString &base, const std::vector<TileId> &tiles, const QString &dest,
                    const QString &caFile)
{
    QElapsedTimer clock;
    clock.start();
    CurlEngine engine;
    CurlTransfer::Options options;
    options.userAgent = UserAgent;
    options.caBundle = caFile;
    QString lastFolder;
    for (const TileId &t : tiles) {
        const QString rel = tilePath(t);
        const QString folder = QFileInfo(dest + rel).path();
        if (folder != lastFolder) {
            QDir().mkpath(folder);
            lastFolder = folder;
        }
        CurlTransfer::fetchToFile(engine, base + QLatin1Char('/') + rel, dest + rel, options);
    }
    return clock.elapsed();
}

// ---- the job's HTTPS worker alone ------------------------------------------------

qint64 engineFetch(const QString &base, const std::vector<TileId> &tiles, const QString &dest,
                   const QString &caFile)
{
    QElapsedTimer clock;
    clock.start();
    ArchiveTransfer transfer;
    CurlTransfer::Options options;
    options.userAgent = UserAgent;
    options.caBundle = caFile;
    QEventLoop loop;
    size_t next = 0;
    QString lastFolder;
    std::function<void()> startNext = [&] {
        if (next >= tiles.size()) {
            loop.quit();
            return;
        }
        const QString rel = tilePath(tiles[next++]);
        const QString folder = QFileInfo(dest + rel).path();
        if (folder != lastFolder) {
            QDir().mkpath(folder);
            lastFolder = folder;
        }
        transfer.start(base + QLatin1Char('/') + rel, dest + rel, options);
    };
    QObject::connect(&transfer, &ArchiveTransfer::finished, [&] { startNext(); });
    QTimer::singleShot(0, startNext);
    loop.exec();
    return clock.elapsed();
}

// ---- Qt's network access, with the job's parts added one by one ---------------

enum Stage {
    BareLoop,        // get, read the body, release the reply
    RequestOptions,  // + the job's request attributes and user agent
    WriterHandOver,  // + status and content check, body to the tile writer
    FolderChecks,    // + local path, folder made and checked on every change
    WindowFeedback,  // + status text and progress bar as the job shows them
};

qint64 qtLoop(const QString &base, const std::vector<TileId> &tiles, const QString &dest, Stage stage,
              QLabel *label, QProgressBar *bar)
{
    QNetworkAccessManager manager;
    TileWriter writer;
    QEventLoop loop;
    size_t next = 0;
    QString lastFolder, pendingPath, pendingStatus;
    QTimer throttle;
    throttle.setSingleShot(true);
    QObject::connect(&throttle, &QTimer::timeout, [&] {
        if (!pendingStatus.isEmpty()) {
            label->setText(pendingStatus);
            pendingStatus.clear();
            throttle.start(40);
        }
    });
    bar->setMinimum(1);
    bar->setMaximum(int(tiles.size()));
    bar->setValue(1);
    QElapsedTimer clock;
    std::function<void()> fetchNext = [&] {
        if (next >= tiles.size()) {
            loop.quit();
            return;
        }
        const TileId t = tiles[next++];
        const QString rel = tilePath(t);
        const QUrl url(base + QLatin1Char('/') + rel);
        if (stage >= FolderChecks) {
            const QString folder = dest + QStringLiteral("%1/%2").arg(t.zoom).arg(t.x);
            if (folder != lastFolder) {
                if (!QDir().mkpath(folder) || !QFileInfo(folder).isWritable())
                    return;
                lastFolder = folder;
            }
            pendingPath = folder + QStringLiteral("/%1.png").arg(t.y);
        } else {
            pendingPath = dest + rel;
            if (stage >= WriterHandOver)
                QDir().mkpath(QFileInfo(pendingPath).path());
        }
        if (stage >= WindowFeedback) {
            const QString text = QCoreApplication::translate("CvTilewright", "Download Level %1/Tile %2 :")
                                     .arg(t.zoom)
                                     .arg(url.toString().section(QLatin1Char('/'), -1));
            if (throttle.isActive()) {
                pendingStatus = text;
            } else {
                label->setText(text);
                throttle.start(40);
            }
            bar->setValue(bar->value() + 1);
        }
        QNetworkRequest request(url);
        if (stage >= RequestOptions) {
            request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
            request.setMaximumRedirectsAllowed(5);
            request.setRawHeader(QByteArrayLiteral("User-Agent"), UserAgent);
        }
        QNetworkReply *reply = manager.get(request);
        QObject::connect(reply, &QNetworkReply::finished, [&, reply] {
            const QByteArray body = reply->readAll();
            if (stage >= WriterHandOver && reply->error() == QNetworkReply::NoError) {
                const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                const bool document = !body.isEmpty()
                                      && TileContent::isNonImageDocument(reply->rawHeader(QByteArrayLiteral("Content-Type")), body);
                if (status >= 200 && status <= 299 && !document)
                    writer.write(pendingPath, body);
                if (writer.pending() > 32)
                    writer.waitForIdle();
            }
            reply->disconnect();
            reply->deleteLater();
            fetchNext();
        });
    };
    clock.start();
    QTimer::singleShot(0, fetchNext);
    loop.exec();
    writer.waitForIdle();
    return clock.elapsed();
}

// ---- a link with round-trip time ---------------------------------------------------

bool run(const QString &program, const QStringList &arguments, QString *error = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("%1 %2: %3").arg(program, arguments.join(QLatin1Char(' ')),
                                                     QString::fromLocal8Bit(p.readAll()).trimmed());
        return false;
    }
    return true;
}

// A network namespace joined to this one by a veth pair, each end delaying
// what it sends by 15 ms (netem): 30 ms round trip. nginx runs inside it.
class DelayedNamespace
{
public:
    ~DelayedNamespace()
    {
        if (m_nginx.state() != QProcess::NotRunning) {
            m_nginx.terminate();
            if (!m_nginx.waitForFinished(5000))
                m_nginx.kill();
            m_nginx.waitForFinished(5000);
        }
        if (m_created)
            run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("del"), m_name});
    }

    bool create(QString *error)
    {
        if (geteuid() != 0) {
            *error = QStringLiteral("not running as root");
            return false;
        }
        const QString ip = QStringLiteral("ip");
        const QString host = QStringLiteral("twh%1").arg(getpid() % 100000);
        const QString inner = QStringLiteral("twn%1").arg(getpid() % 100000);
        m_name = QStringLiteral("twbench%1").arg(getpid());
        if (!run(ip, {QStringLiteral("netns"), QStringLiteral("add"), m_name}, error))
            return false;
        m_created = true;
        const QStringList exec = {QStringLiteral("netns"), QStringLiteral("exec"), m_name};
        const QList<QPair<QString, QStringList>> steps = {
            {ip, {QStringLiteral("link"), QStringLiteral("add"), host, QStringLiteral("type"), QStringLiteral("veth"),
                  QStringLiteral("peer"), QStringLiteral("name"), inner}},
            {ip, {QStringLiteral("link"), QStringLiteral("set"), inner, QStringLiteral("netns"), m_name}},
            {ip, {QStringLiteral("addr"), QStringLiteral("add"), QStringLiteral("10.213.7.1/30"), QStringLiteral("dev"), host}},
            {ip, {QStringLiteral("link"), QStringLiteral("set"), host, QStringLiteral("up")}},
            {ip, exec + QStringList{ip, QStringLiteral("addr"), QStringLiteral("add"), QStringLiteral("10.213.7.2/30"),
                                    QStringLiteral("dev"), inner}},
            {ip, exec + QStringList{ip, QStringLiteral("link"), QStringLiteral("set"), inner, QStringLiteral("up")}},
            {ip, exec + QStringList{ip, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}},
            {QStringLiteral("tc"), {QStringLiteral("qdisc"), QStringLiteral("add"), QStringLiteral("dev"), host,
                                    QStringLiteral("root"), QStringLiteral("netem"), QStringLiteral("delay"), QStringLiteral("15ms")}},
            {ip, exec + QStringList{QStringLiteral("tc"), QStringLiteral("qdisc"), QStringLiteral("add"), QStringLiteral("dev"), inner,
                                    QStringLiteral("root"), QStringLiteral("netem"), QStringLiteral("delay"), QStringLiteral("15ms")}},
        };
        for (const auto &step : steps) {
            if (!run(step.first, step.second, error))
                return false;
        }
        return true;
    }

    // nginx inside the namespace on 10.213.7.2:port over docRoot; the
    // certificate is made for that address.
    bool startNginx(const QString &docRoot, QString *error)
    {
        const QString dir = m_dir.path();
        QFile::setPermissions(dir, QFile::permissions(dir) | QFileDevice::ReadOther | QFileDevice::ExeOther);
        QDir().mkpath(dir + QStringLiteral("/tmp"));
        if (!run(QStringLiteral("openssl"),
                 {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                  QStringLiteral("-nodes"), QStringLiteral("-subj"), QStringLiteral("/CN=10.213.7.2"), QStringLiteral("-addext"),
                  QStringLiteral("subjectAltName=IP:10.213.7.2"), QStringLiteral("-days"), QStringLiteral("2"),
                  QStringLiteral("-keyout"), dir + QStringLiteral("/key.pem"), QStringLiteral("-out"), caFile()},
                 error))
            return false;
        const QString conf = QStringLiteral(R"(user root;
worker_processes 1;
error_log %1/error.log warn;
pid %1/nginx.pid;
events { worker_connections 256; }
http {
    log_format twconn '$connection $connection_requests $request_uri';
    access_log %1/connections.log twconn;
    client_body_temp_path %1/tmp/body;
    proxy_temp_path %1/tmp/proxy;
    fastcgi_temp_path %1/tmp/fastcgi;
    uwsgi_temp_path %1/tmp/uwsgi;
    scgi_temp_path %1/tmp/scgi;
    types { image/png png; }
    keepalive_requests 100000;
    server {
        listen 10.213.7.2:%2 ssl;
        ssl_certificate %1/cert.pem;
        ssl_certificate_key %1/key.pem;
        root %3;
    }
}
)")
                                 .arg(dir)
                                 .arg(Port)
                                 .arg(docRoot);
        writeFile(dir + QStringLiteral("/nginx.conf"), conf.toUtf8());
        m_nginx.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), m_name, QStringLiteral("/usr/sbin/nginx"),
                                             QStringLiteral("-p"), dir, QStringLiteral("-c"), dir + QStringLiteral("/nginx.conf"),
                                             QStringLiteral("-g"), QStringLiteral("daemon off;")});
        for (int waited = 0; waited < 10000; waited += 100) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("10.213.7.2"), Port);
            if (probe.waitForConnected(500))
                return true;
            QThread::msleep(100);
        }
        *error = QStringLiteral("nginx in the namespace does not answer");
        return false;
    }
    QString url() const { return QStringLiteral("https://10.213.7.2:%1").arg(Port); }
    QString caFile() const { return m_dir.path() + QStringLiteral("/cert.pem"); }
    QStringList connectionLog() const
    {
        QFile log(m_dir.path() + QStringLiteral("/connections.log"));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    static constexpr quint16 Port = 8443;
    QString m_name;
    bool m_created = false;
    QTemporaryDir m_dir;
    QProcess m_nginx;
};

} // namespace

// Sets the job's source and destination in the window as a person does.
class TestDownloadJob
{
public:
    static void placeView(double centerX, double centerY, int zoom)
    {
        QSettings settings;
        settings.beginGroup(QStringLiteral("CvMapWidget"));
        settings.setValue(QStringLiteral("Lat"), centerX);
        settings.setValue(QStringLiteral("Lon"), centerY);
        settings.setValue(QStringLiteral("Zoom"), zoom);
    }
    static void prepare(CvTilewright &w, QSize mapSize, const QString &server, const QString &dest, int toZoom)
    {
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            std::fprintf(stderr, "the window was not exposed\n");
        WindowSteps::mapOf(&w)->setFixedSize(mapSize);
        QTest::qWait(100);
        WindowSteps::chooseServer(&w, server + QLatin1Char('/'));
        QDir().mkpath(dest);
        WindowSteps::chooseDestination(&w, dest);
        form(&w).zoomTo->setValue(toZoom);
    }
    static std::vector<TileId> tiles(CvTilewright &w)
    {
        std::deque<TileId> list;
        TileEnumerator::enumerateTiles(area(w), WindowSteps::mapOf(&w)->mapZoom(), form(&w).zoomTo->value(),
                                       list, INT_MAX);
        return std::vector<TileId>(list.begin(), list.end());
    }
    static GeoArea area(CvTilewright &w) { return WindowSteps::mapOf(&w)->visibleArea(); }
    static qint64 runJob(CvTilewright &w)
    {
        QElapsedTimer clock;
        // The job's end is seen from the event loop, as the user would see it.
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (form(&w).downloadButton->isEnabled())
                loop.quit();
        });
        poll.start(5);
        clock.start();
        QTest::mouseClick(form(&w).downloadButton, Qt::LeftButton);
        loop.exec();
        return clock.elapsed();
    }
};

namespace {

struct View
{
    QSize size;
    int toZoom;
};

// Two tiles of zoom 8 (510 x 254 pixels, inside the tile edges) down to the
// given zoom: 2 x (1 + 4 + ...) tiles.
const View TwoTiles{QSize(510, 254), 14};

// One 10,922-tile job in this (fresh) process; prints its peak memory.
int memoryJob(const QString &server)
{
    const qint64 before = TestFiles::processStatusKiB("VmHWM:");
    QTemporaryDir work;
    CvTilewright w;
    TestDownloadJob::prepare(w, TwoTiles.size, server, work.path() + QLatin1Char('/'), 14);
    const qint64 idle = TestFiles::processStatusKiB("VmRSS:");
    const qint64 ms = TestDownloadJob::runJob(w);
    std::printf("memory-job %lld %lld %lld %lld %d %s\n", before, idle, TestFiles::processStatusKiB("VmHWM:"), ms,
                TestFiles::countFilesBelow(work.path()), qPrintable(form(&w).progLab->text()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool child = argc > 2 && qstrcmp(argv[1], "--memory-job") == 0;
    QTemporaryDir config;
    if (!child)
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_ALL);
    if (child) {
        AppConfig::reload();
        return memoryJob(QString::fromLocal8Bit(argv[2]));
    }
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 3;
    const QString parts = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("http,https,disk,rtt,seed,memory");
    const QStringList chosen = parts.split(QLatin1Char(','));
    const auto part = [&chosen](const char *name) { return chosen.contains(QLatin1String(name)); };
    const QStringList only = argc > 3 ? QString::fromLocal8Bit(argv[3]).split(QLatin1Char('|')) : QStringList();

    QTemporaryDir root;
    QTemporaryDir work(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                           ? QStringLiteral("/dev/shm/bench_transfer-XXXXXX")
                           : QDir::tempPath() + QStringLiteral("/bench_transfer-XXXXXX"));
    QFile::setPermissions(root.path(), QFile::permissions(root.path()) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    NginxFixture nginx;
    if (!nginx.start(root.path())) {
        std::fprintf(stderr, "nginx: %s\n", qPrintable(nginx.errorString()));
        return 1;
    }
    TestDownloadJob::placeView(136.0, 89.5, 8);

    // The tile tree: every tile of the largest job, bodies of street-map size.
    std::vector<TileId> httpTiles, httpsTiles, rttTiles;
    GeoArea area;
    {
        CvTilewright w;
        TestDownloadJob::prepare(w, TwoTiles.size, nginx.httpUrl(), work.filePath(QStringLiteral("probe/")), 14);
        httpTiles = TestDownloadJob::tiles(w);
        area = TestDownloadJob::area(w);
        form(&w).zoomTo->setValue(13);
        httpsTiles = TestDownloadJob::tiles(w);
        form(&w).zoomTo->setValue(11);
        rttTiles = TestDownloadJob::tiles(w);
    }
    {
        QVector<QByteArray> images;
        for (int i = 0; i < 64; ++i)
            images << NginxFixture::tilePng(i, i, 14);
        for (const TileId &t : httpTiles)
            writeFile(root.path() + QLatin1Char('/') + tilePath(t), images.at((t.x * 7 + t.y) % images.size()));
    }

    // Namespace first: its certificate joins the job's CA bundle.
    DelayedNamespace ns;
    std::unique_ptr<DelayRelay> relay;
    QString rttUrl, rttNote;
    QStringList caFiles{nginx.caFile()};
    {
        QString error;
        if (ns.create(&error) && ns.startNginx(root.path(), &error)) {
            rttUrl = ns.url();
            caFiles << ns.caFile();
            rttNote = QStringLiteral("nginx in a network namespace, veth pair, netem delay 15 ms on both ends");
        } else {
            std::printf("30 ms link: network namespace skipped: %s\n", qPrintable(error));
            relay.reset(new DelayRelay(nginx.httpsPort()));
            rttUrl = QStringLiteral("https://127.0.0.1:%1").arg(relay->port());
            rttNote = QStringLiteral("loopback relay holding every chunk 15 ms each way (no netem here)");
        }
    }
    QByteArray bundle;
    for (const QString &file : caFiles) {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        bundle += f.readAll();
    }
    const QString bundlePath = work.filePath(QStringLiteral("ca-bundle.pem"));
    writeFile(bundlePath, bundle);
    qputenv("TILEWRIGHT_CA_BUNDLE", bundlePath.toUtf8());
    qputenv("TILEWRIGHT_ROOT_D", work.filePath(QStringLiteral("D")).toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", work.filePath(QStringLiteral("C")).toUtf8());
    AppConfig::reload();

    QLabel label;
    QProgressBar bar;
    label.show();
    bar.show();
    int runNo = 0;
    auto dest = [&work, &runNo] { return work.filePath(QStringLiteral("run%1/").arg(++runNo)); };
    // Runs one variant against a server whose log is given; counts its
    // connections and files, and removes the files again.
    auto measure = [&](Table &table, const QString &name, int tiles, const std::function<QStringList()> &log,
                       const std::function<qint64(const QString &)> &body) {
        if (!only.isEmpty() && std::none_of(only.cbegin(), only.cend(), [&name](const QString &o) { return name.contains(o); }))
            return;
        const QString out = dest();
        const int before = log().size();
        Sample s;
        s.ms = body(out);
        QStringList lines;
        for (int waited = 0; waited < 10000; waited += 20) {
            lines = log().mid(before);
            if (lines.size() >= tiles)
                break;
            QThread::msleep(20);
        }
        // The window's map asks for the tiles it shows first; the job's are the last.
        s.connections = NginxFixture::connectionsUsed(lines.mid(qMax(0, int(lines.size()) - tiles)));
        s.files = TestFiles::countFilesBelow(out);
        QDir(out).removeRecursively();
        table.add(name, s);
    };
    auto loopbackLog = [&nginx] { return nginx.connectionLog(); };
    auto rttLog = [&] { return relay ? nginx.connectionLog() : ns.connectionLog(); };
    auto job = [&](const QString &server, int toZoom) {
        return [&, server, toZoom](const QString &out) {
            CvTilewright w;
            TestDownloadJob::prepare(w, TwoTiles.size, server, out, toZoom);
            return TestDownloadJob::runJob(w);
        };
    };

    Table http, https, rtt, disk;
    QTemporaryDir diskWork(QDir::tempPath() + QStringLiteral("/bench_transfer-disk-XXXXXX"));
    const QString testCa = nginx.caFile();
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d of %d\n", round + 1, rounds);
        std::fflush(stdout);
        const int n = int(httpTiles.size());
        if (part("http")) {
        measure(http, QStringLiteral("our job"), n, loopbackLog, job(nginx.httpUrl(), 14));
        measure(http, QStringLiteral("Qt loop, bare"), n, loopbackLog, [&](const QString &out) {
            return qtLoop(nginx.httpUrl(), httpTiles, out, BareLoop, &label, &bar);
        });
        measure(http, QStringLiteral("  + request options"), n, loopbackLog, [&](const QString &out) {
            return qtLoop(nginx.httpUrl(), httpTiles, out, RequestOptions, &label, &bar);
        });
        measure(http, QStringLiteral("  + checks, writer hand-over"), n, loopbackLog, [&](const QString &out) {
            return qtLoop(nginx.httpUrl(), httpTiles, out, WriterHandOver, &label, &bar);
        });
        measure(http, QStringLiteral("  + folder checks"), n, loopbackLog, [&](const QString &out) {
            return qtLoop(nginx.httpUrl(), httpTiles, out, FolderChecks, &label, &bar);
        });
        measure(http, QStringLiteral("  + status text, progress bar"), n, loopbackLog, [&](const QString &out) {
            return qtLoop(nginx.httpUrl(), httpTiles, out, WindowFeedback, &label, &bar);
        });
        measure(http, QStringLiteral("libcurl, one connection"), n, loopbackLog, [&](const QString &out) {
            return curlFetch(nginx.httpUrl(), httpTiles, out, true, QString());
        });
        measure(http, QStringLiteral("libcurl, new connection per tile"), n, loopbackLog, [&](const QString &out) {
            return curlFetch(nginx.httpUrl(), httpTiles, out, false, QString());
        });
        }

        const int m = int(httpsTiles.size());
        if (part("https")) {
        measure(https, QStringLiteral("our job"), m, loopbackLog, job(nginx.httpsUrl(), 13));
        measure(https, QStringLiteral("our HTTPS worker alone"), m, loopbackLog, [&](const QString &out) {
            return engineFetch(nginx.httpsUrl(), httpsTiles, out, bundlePath);
        });
        measure(https, QStringLiteral("our transfer engine, no thread hops"), m, loopbackLog, [&](const QString &out) {
            return engineDirect(nginx.httpsUrl(), httpsTiles, out, bundlePath);
        });
        measure(https, QStringLiteral("libcurl, one connection"), m, loopbackLog, [&](const QString &out) {
            return curlFetch(nginx.httpsUrl(), httpsTiles, out, true, testCa);
        });
        measure(https, QStringLiteral("libcurl, new connection per tile"), m, loopbackLog, [&](const QString &out) {
            return curlFetch(nginx.httpsUrl(), httpsTiles, out, false, testCa);
        });
        }

        // The same engine writing to the real disk: new tiles are renamed
        // into place unsynced, replaced ones go through a synced save.
        if (part("disk")) {
            const QString out = diskWork.filePath(QStringLiteral("round%1/").arg(round));
            Sample fresh, again;
            fresh.ms = engineDirect(nginx.httpsUrl(), httpsTiles, out, bundlePath);
            fresh.files = TestFiles::countFilesBelow(out);
            again.ms = engineDirect(nginx.httpsUrl(), httpsTiles, out, bundlePath);
            again.files = TestFiles::countFilesBelow(out);
            disk.add(QStringLiteral("our transfer engine, new tiles"), fresh);
            disk.add(QStringLiteral("our transfer engine, replacing them"), again);
            QDir(out).removeRecursively();
        }

        const int r = int(rttTiles.size());
        const QString rttCa = relay ? testCa : ns.caFile();
        if (part("rtt")) {
        measure(rtt, QStringLiteral("our job"), r, rttLog, job(rttUrl, 11));
        measure(rtt, QStringLiteral("libcurl, one connection"), r, rttLog, [&](const QString &out) {
            return curlFetch(rttUrl, rttTiles, out, true, rttCa);
        });
        measure(rtt, QStringLiteral("libcurl, new connection per tile"), r, rttLog, [&](const QString &out) {
            return curlFetch(rttUrl, rttTiles, out, false, rttCa);
        });
        }
    }

    // mapproxy-seed at concurrency 1 into a file cache: the tool a user would
    // script instead. Once; it is far slower than the rest.
    QString seedFigure = QStringLiteral("not run");
    if (part("seed")) {
        const QString dir = work.filePath(QStringLiteral("mapproxy"));
        QDir().mkpath(dir);
        writeFile(dir + QStringLiteral("/mapproxy.yaml"),
                  QStringLiteral("services:\n  tms:\nlayers:\n  - name: osm\n    title: osm\n    sources: [osm_cache]\n"
                                 "caches:\n  osm_cache:\n    grids: [webmerc]\n    sources: [osm_tiles]\n"
                                 "    meta_size: [1, 1]\n    meta_buffer: 0\n"
                                 "    cache:\n      type: file\n      directory: %1/cache\n"
                                 "grids:\n  webmerc:\n    base: GLOBAL_WEBMERCATOR\n    origin: nw\n"
                                 "sources:\n  osm_tiles:\n    type: tile\n    grid: webmerc\n"
                                 "    url: %2/%(z)s/%(x)s/%(y)s.png\n")
                      .arg(dir, nginx.httpUrl())
                      .toUtf8());
        // The area shrunk by a hair so that its edges stay inside the same tiles.
        const double dx = (area.east - area.west) * 1e-4, dy = (area.north - area.south) * 1e-4;
        writeFile(dir + QStringLiteral("/seed.yaml"),
                  QStringLiteral("seeds:\n  job:\n    caches: [osm_cache]\n    levels:\n      from: 8\n      to: 14\n"
                                 "    coverages: [area]\ncoverages:\n  area:\n    bbox: [%1, %2, %3, %4]\n"
                                 "    srs: 'EPSG:4326'\n")
                      .arg(area.west + dx, 0, 'f', 8)
                      .arg(area.south + dy, 0, 'f', 8)
                      .arg(area.east - dx, 0, 'f', 8)
                      .arg(area.north - dy, 0, 'f', 8)
                      .toUtf8());
        const int before = nginx.connectionLog().size();
        QProcess seed;
        seed.setProcessChannelMode(QProcess::MergedChannels);
        seed.start(QStringLiteral("/usr/bin/time"),
                   {QStringLiteral("-f"), QStringLiteral("TWTIME %e %M"), QStringLiteral("mapproxy-seed"), QStringLiteral("-f"),
                    dir + QStringLiteral("/mapproxy.yaml"), QStringLiteral("-s"), dir + QStringLiteral("/seed.yaml"),
                    QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("--seed"), QStringLiteral("job")});
        seed.waitForFinished(-1);
        const QString output = QString::fromLocal8Bit(seed.readAll());
        const QString timing = output.section(QStringLiteral("TWTIME "), 1).trimmed();
        const QStringList lines = connectionLinesSince(nginx, before, 1);
        if (seed.exitCode() == 0 && !timing.isEmpty())
            seedFigure = QStringLiteral("%1 s wall, peak %2 MiB, %3 requests over %4 connections, %5 files")
                             .arg(timing.section(QLatin1Char(' '), 0, 0))
                             .arg(timing.section(QLatin1Char(' '), 1, 1).toDouble() / 1024.0, 0, 'f', 1)
                             .arg(lines.size())
                             .arg(NginxFixture::connectionsUsed(lines))
                             .arg(TestFiles::countFilesBelow(dir + QStringLiteral("/cache")));
        else
            seedFigure = QStringLiteral("failed: ") + output.right(400);
    }

    // Peak memory of a 10,922-tile job, each in a fresh process.
    QStringList memory;
    for (const QString &server : {nginx.httpUrl(), nginx.httpsUrl()}) {
        if (!part("memory"))
            break;
        QProcess childJob;
        childJob.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        childJob.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--memory-job"), server});
        childJob.waitForFinished(-1);
        const QStringList f = QString::fromLocal8Bit(childJob.readAllStandardOutput())
                                  .section(QStringLiteral("memory-job "), 1)
                                  .trimmed()
                                  .split(QLatin1Char(' '));
        if (f.size() < 5) {
            memory << QStringLiteral("%1: failed").arg(server);
            continue;
        }
        memory << QStringLiteral("%1 job, %2 files in %3 s: peak %4 MiB (window up, before the job: %5 MiB; "
                                 "%6 MiB above it)")
                      .arg(server.section(QLatin1Char(':'), 0, 0))
                      .arg(f.at(4))
                      .arg(f.at(3).toDouble() / 1000.0, 0, 'f', 2)
                      .arg(f.at(2).toDouble() / 1024.0, 0, 'f', 1)
                      .arg(f.at(1).toDouble() / 1024.0, 0, 'f', 1)
                      .arg((f.at(2).toDouble() - f.at(1).toDouble()) / 1024.0, 0, 'f', 1);
    }

    std::printf("\n%d alternating rounds; connections counted in nginx's log ($connection)\n", rounds);
    if (part("http"))
        http.print("Plain HTTP, loopback", int(httpTiles.size()));
    if (part("https"))
        https.print("HTTPS, loopback", int(httpsTiles.size()));
    if (part("disk"))
        disk.print(qPrintable(QStringLiteral("HTTPS, loopback, tiles on the disk of %1").arg(QDir::tempPath())),
                   int(httpsTiles.size()));
    if (part("rtt"))
        rtt.print(qPrintable(QStringLiteral("HTTPS, 30 ms round trip: ") + rttNote), int(rttTiles.size()));
    const auto ratio = [](const Table &t, const char *a, const char *b) {
        if (!t.has(QString::fromLatin1(a)))
            return 0.0;
        return double(t.median(QString::fromLatin1(a))) / double(qMax<qint64>(1, t.median(QString::fromLatin1(b))));
    };
    if (part("https"))
        std::printf("\nHTTPS job on loopback: %.2f x libcurl over one connection (target <= 1.5)\n",
                ratio(https, "our job", "libcurl, one connection"));
    if (part("rtt"))
        std::printf("HTTPS job at 30 ms: %.0f %% of libcurl's tiles per second over one connection (target >= 90 %%)\n",
                100.0 / ratio(rtt, "our job", "libcurl, one connection"));
    if (part("http"))
        std::printf("HTTP job: %.2f x the bare Qt loop (target <= 1.15)\n", ratio(http, "our job", "Qt loop, bare"));
    std::printf("mapproxy-seed -c 1, file cache, same area and levels: %s\n", qPrintable(seedFigure));
    for (const QString &line : memory)
        std::printf("memory: %s (target <= 64 MiB)\n", qPrintable(line));
    curl_global_cleanup();
    return 0;
}
