// Download job figures, measured on this machine against a local nginx:
//  1. a 10,000-tile HTTP job of the real window against curl fetching the
//     same addresses one at a time over one connection into the same layout;
//  2. peak memory above idle while one level of 1,000,000 tiles is enumerated;
//  3. the GUI thread's longest stall during an HTTPS archive job.
// Not a test: it prints the figures and the targets.

#include "NginxFixture.h"
#include "TestFiles.h"
#include "WindowSteps.h"

#include "acquire/SourceAddress.h"
#include "acquire/TileEnumerator.h"
#include "app/window/CvTilewright.h"
#include "mapview/widgets/CvMapWidget.h"
#include "mapview/TileGeometry.h"
#include "settings/AppConfig.h"
#include "settings/ProgramVersion.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <deque>
#include <functional>

using TestFiles::writeFile;

namespace {

// The floor set by Qt's network access itself: the same addresses fetched
// one at a time through a QNetworkAccessManager, bodies dropped.
qint64 networkAccessAlone(const QStringList &urls)
{
    QNetworkAccessManager manager;
    QEventLoop loop;
    int next = 0;
    QElapsedTimer clock;
    std::function<void()> fetchNext = [&] {
        if (next >= urls.size()) {
            loop.quit();
            return;
        }
        QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(urls.at(next++))));
        QObject::connect(reply, &QNetworkReply::finished, [&, reply] {
            reply->readAll();
            reply->deleteLater();
            fetchNext();
        });
    };
    clock.start();
    QTimer::singleShot(0, fetchNext);
    loop.exec();
    return clock.elapsed();
}

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
    static void prepare(CvTilewright &w, QSize mapSize, int sourceKind, const QString &server,
                        const QString &dest, int toZoom)
    {
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            std::fprintf(stderr, "the window was not exposed\n");
        WindowSteps::mapOf(&w)->setFixedSize(mapSize);
        QTest::qWait(100);
        if (sourceKind >= 3)
            WindowSteps::chooseServer(&w, server);
        else
            WindowSteps::chooseEntry(&w, sourceKind);
        QDir().mkpath(dest);
        WindowSteps::chooseDestination(&w, dest);
        form(&w).zoomTo->setValue(toZoom);
    }
    static GeoArea area(CvTilewright &w) { return WindowSteps::mapOf(&w)->visibleArea(); }
    static int zoom(CvTilewright &w) { return WindowSteps::mapOf(&w)->mapZoom(); }
    static int toZoom(CvTilewright &w) { return form(&w).zoomTo->value(); }
    static qint64 runJob(CvTilewright &w, qint64 *longestStallMs = nullptr)
    {
        QElapsedTimer clock, stall;
        qint64 longest = 0;
        QTimer beat;
        QObject::connect(&beat, &QTimer::timeout, [&] { longest = qMax(longest, stall.restart()); });
        if (longestStallMs) {
            stall.start();
            beat.start(1);
        }
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
        const qint64 elapsed = clock.elapsed();
        beat.stop();
        if (longestStallMs)
            *longestStallMs = longest;
        std::printf("  job status: %s\n", qPrintable(form(&w).progLab->text()));
        return elapsed;
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());

    // --- 2. memory: done first, while the process is small --------------------
    {
        const qint64 idle = TestFiles::processStatusKiB("VmRSS:");
        std::deque<TileId> list;
        // 1000 columns by 1000 rows of zoom 14, edges inside the outer tiles.
        GeoArea a;
        a.west = TileGeometry::tileXToLon(8192.5, 14);
        a.east = TileGeometry::tileXToLon(9191.5, 14);
        a.north = TileGeometry::tileYToLat(4000.5, 14);
        a.south = TileGeometry::tileYToLat(4999.5, 14);
        QElapsedTimer clock;
        clock.start();
        const TileEnumerator::Result r = TileEnumerator::enumerateTiles(a, 14, 14, list);
        const qint64 ms = clock.elapsed();
        const qint64 peak = TestFiles::processStatusKiB("VmHWM:");
        std::printf("enumeration: %lld tiles of one level in %lld ms; peak %.1f MiB above idle "
                    "(target <= 64 MiB)\n",
                    r.listed(), ms, (peak - idle) / 1024.0);
    }

    QApplication app(argc, argv);
    QTemporaryDir root, work;
    QFile::setPermissions(root.path(), QFile::permissions(root.path()) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    NginxFixture nginx;
    if (!nginx.start(root.path())) {
        std::fprintf(stderr, "nginx: %s\n", qPrintable(nginx.errorString()));
        return 1;
    }
    qputenv("TILEWRIGHT_OSM_TILE_URL", nginx.httpUrl().toUtf8());
    qputenv("TILEWRIGHT_SRTM_URL", (nginx.httpsUrl() + QStringLiteral("/SRTM3")).toUtf8());
    qputenv("TILEWRIGHT_CA_BUNDLE", nginx.caFile().toUtf8());
    qputenv("TILEWRIGHT_ROOT_D", work.filePath(QStringLiteral("D")).toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", work.filePath(QStringLiteral("C")).toUtf8());
    AppConfig::reload();

    // --- 1. 10,000 tiles: our job against curl ------------------------------
    // Two tiles of zoom 8 (510 x 254 pixels, inside the tile edges) down to
    // zoom 14: 2 x (1 + 4 + ... + 4096) = 10922 tiles.
    {
        TestDownloadJob::placeView(136.0, 89.5, 8);
        const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 2;
        qint64 ours = 0, theirs = 0, bestOurs = LLONG_MAX, bestTheirs = LLONG_MAX, bestFloor = LLONG_MAX;
        int tiles = 0;
        for (int round = 0; round < rounds; ++round) {
            const QString dest = work.filePath(QStringLiteral("job%1/").arg(round));
            CvTilewright w;
            TestDownloadJob::prepare(w, QSize(510, 254), 3, nginx.httpUrl() + QLatin1Char('/'), dest, 14);
            std::deque<TileId> list;
            TileEnumerator::enumerateTiles(TestDownloadJob::area(w), TestDownloadJob::zoom(w),
                                           TestDownloadJob::toZoom(w), list, INT_MAX);
            tiles = int(list.size());
            if (round == 0) {
                QVector<QByteArray> images;
                for (int i = 0; i < 64; ++i)
                    images << NginxFixture::tilePng(i, i, 14);
                for (const TileId &t : list)
                    writeFile(QStringLiteral("%1/%2/%3/%4.png").arg(root.path()).arg(t.zoom).arg(t.x).arg(t.y),
                              images.at((t.x * 7 + t.y) % images.size()));
            }
            // curl: one process, one connection, the same addresses in order.
            QByteArray curlConfig;
            QStringList urls;
            const QString curlDest = work.filePath(QStringLiteral("curl%1/").arg(round));
            for (const TileId &t : list) {
                const QString rel = QStringLiteral("%1/%2/%3.png").arg(t.zoom).arg(t.x).arg(t.y);
                urls << nginx.httpUrl() + QLatin1Char('/') + rel;
                curlConfig += "url = \"" + urls.last().toUtf8() + "\"\n";
                curlConfig += "output = \"" + (curlDest + rel).toUtf8() + "\"\n";
            }
            const QString configPath = work.filePath(QStringLiteral("curl%1.cfg").arg(round));
            writeFile(configPath, curlConfig);

            const qint64 job = TestDownloadJob::runJob(w);
            QElapsedTimer clock;
            clock.start();
            QProcess curl;
            curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("--create-dirs"),
                                                QStringLiteral("-A"), QString::fromLatin1(ProgramVersion::jobUserAgent()),
                                                QStringLiteral("-K"), configPath});
            curl.waitForFinished(-1);
            const qint64 reference = clock.elapsed();
            const qint64 floor = networkAccessAlone(urls);
            std::printf("round %d: %d tiles; job %lld ms (%d files), curl %lld ms (%d files), "
                        "Qt network access alone %lld ms\n",
                        round + 1, tiles, job, TestFiles::countFilesBelow(dest), reference, TestFiles::countFilesBelow(curlDest), floor);
            ours += job;
            theirs += reference;
            bestOurs = qMin(bestOurs, job);
            bestTheirs = qMin(bestTheirs, reference);
            bestFloor = qMin(bestFloor, floor);
        }
        std::printf("10k-tile job: %.2f x curl's time over %d rounds, best rounds %.2f x (target <= 1.5); "
                    "the job takes %.2f x the time of Qt's network access alone\n",
                    double(ours) / double(qMax<qint64>(1, theirs)), rounds,
                    double(bestOurs) / double(qMax<qint64>(1, bestTheirs)),
                    double(bestOurs) / double(qMax<qint64>(1, bestFloor)));
    }

    // --- 3. GUI stall during an HTTPS archive job ----------------------------
    {
        // 256 x 256 pixels at zoom 5: about 11 x 10 whole-degree cells.
        TestDownloadJob::placeView(17.0, 11.0, 5);
        const QString dest = work.filePath(QStringLiteral("srtm/"));
        CvTilewright w;
        TestDownloadJob::prepare(w, QSize(256, 256), 2, QString(), dest, 5);
        std::deque<TileId> cells;
        TileEnumerator::enumerateElevation(TestDownloadJob::area(w), cells);
        const QByteArray archive = NginxFixture::zipBytes(QByteArray(400 * 1024, 'z'));
        SourceAddress::TileSource srtm;
        srtm.sourceKind = SourceKind::ElevationArchives;
        for (const TileId &c : cells) {
            const QString path = SourceAddress::downloadAddress(srtm, c).url.path();
            writeFile(root.path() + path, archive);
        }
        qint64 longest = 0;
        const qint64 job = TestDownloadJob::runJob(w, &longest);
        std::printf("HTTPS job: %d archives of 400 KiB in %lld ms (%d files); longest GUI stall %lld ms "
                    "(target <= 100 ms)\n",
                    int(cells.size()), job, TestFiles::countFilesBelow(dest), longest);
    }
    return 0;
}
