#include "NginxFixture.h"
#include "SmallTmpfs.h"
#include "TcpRelay.h"
#include "TestTiming.h"

#include <QColor>
#include <QImage>

#include "acquire/ArchiveTransfer.h"
#include "acquire/CurlEngine.h"
#include "acquire/CurlTransfer.h"
#include "settings/ProgramVersion.h"

#include <QtTest>

#include <unistd.h>

using CurlTransfer::Status;

Q_DECLARE_METATYPE(CurlTransfer::Status)

namespace {

// A complete tile image (no text drawn: the test has no GUI application).
QByteArray tileImage()
{
    static const QByteArray bytes = [] {
        QImage image(256, 256, QImage::Format_RGB32);
        image.fill(QColor(40, 120, 200));
        return NginxFixture::pngBytes(image);
    }();
    return bytes;
}
const QByteArray Zip = NginxFixture::zipBytes(QByteArray(4000, 'z'));
const QByteArray Old = QByteArrayLiteral("the tile that was there before");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QDateTime modified(const QString &path)
{
    return QFileInfo(path).fileTime(QFileDevice::FileModificationTime).toUTC();
}

bool setModified(const QString &path, const QDateTime &time)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.setFileTime(time, QFileDevice::FileModificationTime);
}

// Stop is checked on every received chunk and at least once a second, so an
// idle machine ends a stopped transfer within a second.
constexpr qint64 AbortBoundMs = 5000;

} // namespace

class TestCurlTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void transfer_data();
    void transfer();
    void sendsUserAgent();
    void verifiesCertificates();
    void noRedirectDownToHttp();
    void unwritableFolder();
    void conditionalRequest();
    void fullDisk();
    void proxyIsUsed();
    void proxyOffMeansNone();
    void abortEndsSlowTransferQuickly();
    void workerReportsInOrderAndAborts();
    void destructionDuringTransfer();

private:
    CurlTransfer::Options options() const;
    NginxFixture m_nginx;
    QTemporaryDir m_root;
    QTemporaryDir m_out;
};

void TestCurlTransfer::initTestCase()
{
    QVERIFY(m_root.isValid());
    const QString root = m_root.path();
    QFile::setPermissions(root, QFile::permissions(root) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    auto put = [&root](const QString &name, const QByteArray &bytes) {
        QDir().mkpath(QFileInfo(root + QLatin1Char('/') + name).absolutePath());
        QFile f(root + QLatin1Char('/') + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    put(QStringLiteral("tiles/a.png"), tileImage());
    put(QStringLiteral("srtm/N47E011.hgt.zip"), Zip);
    put(QStringLiteral("srtm/big.zip"), Zip + QByteArray(200000, 'b'));
    put(QStringLiteral("doc.html"), "<!DOCTYPE html><html><body>Not found</body></html>");
    put(QStringLiteral("exception.xml"),
        "<?xml version=\"1.0\"?><ServiceExceptionReport><ServiceException>bad layer</ServiceException>"
        "</ServiceExceptionReport>");
    put(QStringLiteral("markup.bin"), "<html><body>error</body></html>");
    put(QStringLiteral("cond/c.png"), tileImage());
    QVERIFY2(m_nginx.start(root, QStringLiteral("location = /tohttp { return 302 http://127.0.0.1:$server_port/tiles/a.png; }\n"
                                                "location /ignorant/ { alias %1/cond/; if_modified_since off; }")
                                     .arg(root)),
             qPrintable(m_nginx.errorString()));
}

void TestCurlTransfer::init()
{
    QDir(m_out.path()).removeRecursively();
    QDir().mkpath(m_out.path());
}

CurlTransfer::Options TestCurlTransfer::options() const
{
    CurlTransfer::Options o;
    o.userAgent = ProgramVersion::jobUserAgent();
    o.caBundle = m_nginx.caFile();
    o.connectTimeoutSeconds = 5;
    return o;
}

// Every failure leaves the old file as it was and nothing else in its folder.
void TestCurlTransfer::transfer_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Status>("status");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("tile") << QStringLiteral("/tiles/a.png") << Status::Ok << tileImage();
    QTest::newRow("archive") << QStringLiteral("/srtm/N47E011.hgt.zip") << Status::Ok << Zip;
    QTest::newRow("redirect followed") << QStringLiteral("/redirect/tiles/a.png") << Status::Ok << tileImage();
    // An empty answer never replaces a file that has content.
    QTest::newRow("empty body kept") << QStringLiteral("/empty/x.png") << Status::Unchanged << Old;
    QTest::newRow("404") << QStringLiteral("/e404/N00E000.hgt.zip") << Status::HttpError << Old;
    QTest::newRow("500") << QStringLiteral("/e500/a.png") << Status::HttpError << Old;
    QTest::newRow("missing file") << QStringLiteral("/srtm/N01E001.hgt.zip") << Status::HttpError << Old;
    QTest::newRow("redirect loop") << QStringLiteral("/loop") << Status::TransportError << Old;
    QTest::newRow("html page with 200") << QStringLiteral("/doc.html") << Status::NotContent << Old;
    QTest::newRow("WMS exception with 200") << QStringLiteral("/exception.xml") << Status::NotContent << Old;
    QTest::newRow("markup as octet-stream") << QStringLiteral("/markup.bin") << Status::NotContent << Old;
}

void TestCurlTransfer::transfer()
{
    QFETCH(QString, path);
    QFETCH(Status, status);
    QFETCH(QByteArray, stored);

    const QString local = m_out.filePath(QStringLiteral("tile.bin"));
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Old);
    }
    const CurlTransfer::Result result = CurlTransfer::fetchToFile(m_nginx.httpsUrl() + path, local, options());
    QCOMPARE(result.status, status);
    QCOMPARE(readAll(local), stored);
    QCOMPARE(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("tile.bin")});
}

void TestCurlTransfer::sendsUserAgent()
{
    const QString local = m_out.filePath(QStringLiteral("ua.png"));
    QVERIFY(CurlTransfer::fetchToFile(m_nginx.httpsUrl() + QStringLiteral("/tiles/a.png?ua"), local, options()).ok());
    const QStringList log = m_nginx.completeAccessLog();
    QVERIFY(!log.isEmpty());
    QCOMPARE(log.last(), QStringLiteral("GET /tiles/a.png?ua 200 ") + QString::fromLatin1(ProgramVersion::jobUserAgent()));
}

// Without the test CA the self-signed server is refused; with it (added to,
// not replacing, the system store) it is trusted.
void TestCurlTransfer::verifiesCertificates()
{
    CurlTransfer::Options o = options();
    o.caBundle.clear();
    const QString local = m_out.filePath(QStringLiteral("a.png"));
    const CurlTransfer::Result refused = CurlTransfer::fetchToFile(m_nginx.httpsUrl() + QStringLiteral("/tiles/a.png"), local, o);
    QCOMPARE(refused.status, Status::TransportError);
    QVERIFY(!QFile::exists(local));

    // Right CA, wrong host name: 127.0.0.2 is not in the certificate.
    const QString other = QStringLiteral("https://127.0.0.2:%1/tiles/a.png").arg(m_nginx.httpsPort());
    const CurlTransfer::Result wrongName = CurlTransfer::fetchToFile(other, local, options());
    QVERIFY(!wrongName.ok());
    QVERIFY(CurlTransfer::fetchToFile(m_nginx.httpsUrl() + QStringLiteral("/tiles/a.png"), local, options()).ok());
}

void TestCurlTransfer::noRedirectDownToHttp()
{
    const QString local = m_out.filePath(QStringLiteral("a.png"));
    const int before = m_nginx.completeAccessLog().size();
    const CurlTransfer::Result result = CurlTransfer::fetchToFile(m_nginx.httpsUrl() + QStringLiteral("/tohttp"), local, options());
    QVERIFY(!result.ok());
    QVERIFY(!QFile::exists(local));
    QCOMPARE(m_nginx.completeAccessLog().size(), before + 1); // the redirect target was never asked
}

void TestCurlTransfer::unwritableFolder()
{
    // A folder that is a file: nothing can be created below it (also as root).
    const QString blocker = m_out.filePath(QStringLiteral("blocker"));
    {
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const int before = m_nginx.completeAccessLog().size();
    const CurlTransfer::Result result =
        CurlTransfer::fetchToFile(m_nginx.httpsUrl() + QStringLiteral("/tiles/a.png"), blocker + QStringLiteral("/a.png"), options());
    QCOMPARE(result.status, Status::WriteError);
    QCOMPARE(m_nginx.completeAccessLog().size(), before); // no request for a tile that cannot be kept
}

// A tile the server has not changed since ours stays exactly as it is, bytes
// and time; a changed one replaces it and takes the server's time.
void TestCurlTransfer::conditionalRequest()
{
    const QString served = m_root.filePath(QStringLiteral("cond/c.png"));
    const QDateTime t1(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);
    QVERIFY(setModified(served, t1));
    const QString url = m_nginx.httpsUrl() + QStringLiteral("/cond/c.png");
    const QString local = m_out.filePath(QStringLiteral("c.png"));
    CurlEngine engine;

    QCOMPARE(CurlTransfer::fetchToFile(engine, url + QStringLiteral("?plain"), local, options()).status, Status::Ok);
    QCOMPARE(modified(local), t1);

    // 304: the bytes we hold are not even looked at.
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Old);
    }
    QVERIFY(setModified(local, t1));
    CurlTransfer::Options conditional = options();
    conditional.ifModifiedSince = t1;
    CurlTransfer::Result r = CurlTransfer::fetchToFile(engine, url + QStringLiteral("?same"), local, conditional);
    QCOMPARE(r.status, Status::NotModified);
    QVERIFY(r.ok());
    QCOMPARE(readAll(local), Old);
    QCOMPARE(modified(local), t1);
    QCOMPARE(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // The condition belonged to that transfer alone.
    QCOMPARE(CurlTransfer::fetchToFile(engine, url + QStringLiteral("?again"), local, options()).status, Status::Ok);
    QCOMPARE(readAll(local), tileImage());

    // A newer version on the server replaces ours.
    QImage newer(256, 256, QImage::Format_RGB32);
    newer.fill(QColor(200, 60, 40));
    const QByteArray newerBytes = NginxFixture::pngBytes(newer);
    {
        QFile f(served);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(newerBytes);
    }
    const QDateTime t2 = t1.addDays(1);
    QVERIFY(setModified(served, t2));
    QVERIFY(setModified(local, t1));
    r = CurlTransfer::fetchToFile(engine, url + QStringLiteral("?newer"), local, conditional);
    QCOMPARE(r.status, Status::Ok);
    QCOMPARE(readAll(local), newerBytes);
    QCOMPARE(modified(local), t2);

    // A server that ignores the condition answers 200: its answer is taken,
    // whatever its date says (only the server's 304 keeps a file).
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Old);
    }
    conditional.ifModifiedSince = t2.addSecs(3600);
    QVERIFY(setModified(local, conditional.ifModifiedSince));
    r = CurlTransfer::fetchToFile(engine, m_nginx.httpsUrl() + QStringLiteral("/ignorant/c.png?ignored"), local,
                                  conditional);
    QCOMPARE(r.status, Status::Ok);
    QCOMPARE(readAll(local), newerBytes);
    QCOMPARE(modified(local), t2);

    const QStringList log = m_nginx.completeAccessLog();
    auto statusOf = [&log](const QString &query) {
        for (const QString &line : log) {
            if (line.section(QLatin1Char(' '), 1, 1).endsWith(query))
                return line.section(QLatin1Char(' '), 2, 2);
        }
        return QString();
    };
    QCOMPARE(statusOf(QStringLiteral("?same")), QStringLiteral("304"));
    QCOMPARE(statusOf(QStringLiteral("?again")), QStringLiteral("200"));
    QCOMPARE(statusOf(QStringLiteral("?newer")), QStringLiteral("200"));
    QCOMPARE(statusOf(QStringLiteral("?ignored")), QStringLiteral("200"));
}

// A body that does not fit: the old tile stays, a new one never appears, and
// no temporary file is left either way.
void TestCurlTransfer::fullDisk()
{
    SmallTmpfs disk(QStringLiteral("64k"));
    if (!disk.mounted())
        QSKIP(qPrintable(disk.whyNot()));

    const QString existing = disk.filePath(QStringLiteral("old.zip"));
    const QByteArray old(20000, 'o');
    {
        QFile f(existing);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(old), qint64(old.size()));
    }
    const QString url = m_nginx.httpsUrl() + QStringLiteral("/srtm/big.zip");
    CurlEngine engine;
    const CurlTransfer::Result full = CurlTransfer::fetchToFile(engine, url, existing, options());
    QVERIFY2(full.status == Status::DiskFull, qPrintable(QStringLiteral("%1 %2").arg(int(full.status)).arg(full.errorString)));
    QCOMPARE(readAll(existing), old);
    const QString fresh = disk.filePath(QStringLiteral("new.zip"));
    QCOMPARE(CurlTransfer::fetchToFile(engine, url, fresh, options()).status, Status::DiskFull);
    QVERIFY(!QFileInfo::exists(fresh));
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{QStringLiteral("old.zip")});
    // What fits is still stored.
    QCOMPARE(CurlTransfer::fetchToFile(engine, m_nginx.httpsUrl() + QStringLiteral("/tiles/a.png"),
                                       disk.filePath(QStringLiteral("a.png")), options()).status,
             Status::Ok);
    QCOMPARE(readAll(disk.filePath(QStringLiteral("a.png"))), tileImage());
}

// Switched off means no proxy at all: a proxy named by the environment is
// not followed either, as on the plain-HTTP road.
void TestCurlTransfer::proxyOffMeansNone()
{
    const QByteArray dead = QStringLiteral("http://127.0.0.1:%1").arg(ServerFixture::freePort()).toUtf8();
    qputenv("https_proxy", dead);
    qputenv("HTTPS_PROXY", dead);
    qputenv("all_proxy", dead);
    const CurlTransfer::Result r = CurlTransfer::fetchToFile(m_nginx.httpsUrl() + QStringLiteral("/tiles/a.png"),
                                                             m_out.filePath(QStringLiteral("direct.png")), options());
    qunsetenv("https_proxy");
    qunsetenv("HTTPS_PROXY");
    qunsetenv("all_proxy");
    QVERIFY2(r.status == Status::Ok, qPrintable(r.errorString));
}

void TestCurlTransfer::proxyIsUsed()
{
    CurlTransfer::Options o = options();
    o.proxy.enabled = true;
    o.proxy.host = QStringLiteral("127.0.0.1");
    o.proxy.port = ServerFixture::freePort(); // nothing listens there
    o.proxy.user = QStringLiteral("user");
    o.proxy.password = QStringLiteral("secret");
    const QString local = m_out.filePath(QStringLiteral("a.png"));
    const CurlTransfer::Result result = CurlTransfer::fetchToFile(m_nginx.httpsUrl() + QStringLiteral("/tiles/a.png"), local, o);
    QCOMPARE(result.status, Status::TransportError);
    QVERIFY(!QFile::exists(local));
}

void TestCurlTransfer::abortEndsSlowTransferQuickly()
{
    const QString local = m_out.filePath(QStringLiteral("big.zip"));
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Old);
    }
    // Stop once the transfer has run for half a second; it takes minutes.
    QElapsedTimer clock;
    clock.start();
    qint64 stoppedAt = -1;
    const CurlTransfer::Result result = CurlTransfer::fetchToFile(
        m_nginx.httpsUrl() + QStringLiteral("/slow/srtm/big.zip"), local, options(), [&clock, &stoppedAt]() {
            if (stoppedAt < 0 && clock.elapsed() > 500)
                stoppedAt = clock.elapsed();
            return stoppedAt >= 0;
        });
    QCOMPARE(result.status, Status::Aborted);
    const qint64 latency = clock.elapsed() - stoppedAt;
    QVERIFY2(TestTiming::within(latency, AbortBoundMs), qPrintable(QString::number(latency)));
    QCOMPARE(readAll(local), Old);
    QCOMPARE(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("big.zip")});
}

void TestCurlTransfer::workerReportsInOrderAndAborts()
{
    ArchiveTransfer transfer;
    QSignalSpy spy(&transfer, &ArchiveTransfer::finished);
    const int first = transfer.start(m_nginx.httpsUrl() + QStringLiteral("/tiles/a.png"), m_out.filePath(QStringLiteral("1.png")), options());
    const int second = transfer.start(m_nginx.httpsUrl() + QStringLiteral("/e404/2.png"), m_out.filePath(QStringLiteral("2.png")), options());
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 20000);
    QCOMPARE(spy.at(0).at(0).toInt(), first);
    QCOMPARE(spy.at(0).at(1).value<FetchResult>().status, Status::Ok);
    QCOMPARE(spy.at(1).at(0).toInt(), second);
    QCOMPARE(spy.at(1).at(1).value<FetchResult>().status, Status::HttpError);

    // Stop during a slow transfer: reported as aborted within a second; a
    // transfer started afterwards runs normally. Both reports may come in
    // the same turn of the event loop.
    spy.clear();
    TcpRelay relay; // tells when the slow transfer has reached the server
    QVERIFY(relay.start(m_nginx.httpsPort()));
    const QString slowUrl = QStringLiteral("https://127.0.0.1:%1/slow/srtm/big.zip").arg(relay.port());
    const int slow = transfer.start(slowUrl, m_out.filePath(QStringLiteral("big.zip")), options());
    QTRY_VERIFY_WITH_TIMEOUT(relay.connections() > 0, 20000);
    QElapsedTimer clock;
    clock.start();
    transfer.abortAll();
    const int after = transfer.start(m_nginx.httpsUrl() + QStringLiteral("/tiles/a.png"), m_out.filePath(QStringLiteral("3.png")), options());
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 1, 20000);
    QVERIFY2(TestTiming::within(clock.elapsed(), AbortBoundMs), qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(spy.at(0).at(0).toInt(), slow);
    QCOMPARE(spy.at(0).at(1).value<FetchResult>().status, Status::Aborted);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 20000);
    QCOMPARE(spy.at(1).at(0).toInt(), after);
    QCOMPARE(spy.at(1).at(1).value<FetchResult>().status, Status::Ok);
    QVERIFY(!QFile::exists(m_out.filePath(QStringLiteral("big.zip"))));
}

void TestCurlTransfer::destructionDuringTransfer()
{
    TcpRelay relay; // tells when the transfer has reached the server
    QVERIFY(relay.start(m_nginx.httpsPort()));
    QElapsedTimer clock;
    auto *transfer = new ArchiveTransfer;
    transfer->start(QStringLiteral("https://127.0.0.1:%1/slow/srtm/big.zip").arg(relay.port()),
                    m_out.filePath(QStringLiteral("big.zip")), options());
    QTRY_VERIFY_WITH_TIMEOUT(relay.connections() > 0, 20000);
    clock.start();
    delete transfer;
    QVERIFY2(TestTiming::within(clock.elapsed(), AbortBoundMs), qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!QFile::exists(m_out.filePath(QStringLiteral("big.zip"))));
}

QTEST_GUILESS_MAIN(TestCurlTransfer)
#include "tst_curltransfer.moc"
