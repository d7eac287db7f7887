// The HTTPS worker keeps one libcurl handle: consecutive tiles of one server
// travel over one connection, while every transfer still gets its own proxy,
// certificate check, abort and no-loss handling.

#include "NginxFixture.h"
#include "SquidFixture.h"

#include "acquire/ArchiveTransfer.h"
#include "acquire/CurlEngine.h"
#include "acquire/CurlTransfer.h"
#include "settings/ProgramVersion.h"

#include <QtTest>

using CurlTransfer::Status;

namespace {

// A complete PNG of its own for every tile number (a colour each; no text:
// the test has no GUI application).
QByteArray tile(int n)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(n * 3 % 360, 200, 200));
    return NginxFixture::pngBytes(image);
}
const QByteArray Old = QByteArrayLiteral("the tile that was there before");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeOld(const QString &path)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(Old);
}

// True while this process has a file open below folder that holds bytes:
// a transfer's temporary file (named or unnamed) that the body is going into.
bool receivingInto(const QString &folder)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString link = fds.filePath(fd);
        if (QFile::symLinkTarget(link).startsWith(folder + QLatin1Char('/')) && QFileInfo(link).size() > 0)
            return true;
    }
    return false;
}

} // namespace

class TestTransferReuse : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void consecutiveTilesShareOneConnection();
    void stopInTheMiddle();
    void proxyChangeTakesEffect();
    void certificateFailureInTheMiddle();
    void aTileThatAppearsMeanwhileIsKept();

private:
    CurlTransfer::Options options() const;
    QString tileUrl(int n) const { return m_nginx.httpsUrl() + QStringLiteral("/tiles/%1.png").arg(n); }
    QString out(const QString &name) const { return m_out.filePath(name); }
    // Runs one transfer on the worker and waits for its report.
    Status runOne(ArchiveTransfer &transfer, const QString &url, const QString &path,
                  const CurlTransfer::Options &options);
    // The connection log's lines of every answered request whose URI holds uriPart.
    QStringList connectionsOf(const QString &uriPart);

    NginxFixture m_nginx;
    QTemporaryDir m_root;
    QTemporaryDir m_out;
};

void TestTransferReuse::initTestCase()
{
    QVERIFY(m_root.isValid());
    const QString root = m_root.path();
    QFile::setPermissions(root, QFile::permissions(root) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QDir().mkpath(root + QStringLiteral("/tiles"));
    QDir().mkpath(root + QStringLiteral("/srtm"));
    for (int n = 0; n < 100; ++n) {
        QFile f(root + QStringLiteral("/tiles/%1.png").arg(n));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(tile(n));
    }
    QFile doc(root + QStringLiteral("/tiles/doc.html"));
    QVERIFY(doc.open(QIODevice::WriteOnly));
    doc.write("<!DOCTYPE html><html><body>Not a tile</body></html>");
    doc.close();
    // A tile of some 24 KB of noise, which the trickling location takes
    // seconds to send.
    QImage noise(100, 80, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, random.generate() | 0xff000000u);
    QFile noisy(root + QStringLiteral("/tiles/noise.png"));
    QVERIFY(noisy.open(QIODevice::WriteOnly));
    noisy.write(NginxFixture::pngBytes(noise));
    noisy.close();
    QFile big(root + QStringLiteral("/srtm/big.zip"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    big.write(NginxFixture::zipBytes(QByteArray(200000, 'b')));
    big.close();
    const QString trickle = QStringLiteral("location /trickle/ { alias %1/; limit_rate_after 1k; limit_rate 8k; }\n").arg(root);
    QVERIFY2(m_nginx.start(root, trickle), qPrintable(m_nginx.errorString()));
}

void TestTransferReuse::init()
{
    QDir(m_out.path()).removeRecursively();
    QDir().mkpath(m_out.path());
}

CurlTransfer::Options TestTransferReuse::options() const
{
    CurlTransfer::Options o;
    o.userAgent = ProgramVersion::jobUserAgent();
    o.caBundle = m_nginx.caFile();
    o.connectTimeoutSeconds = 5;
    return o;
}

Status TestTransferReuse::runOne(ArchiveTransfer &transfer, const QString &url, const QString &path,
                                 const CurlTransfer::Options &options)
{
    QSignalSpy spy(&transfer, &ArchiveTransfer::finished);
    const int id = transfer.start(url, path, options);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        for (const QList<QVariant> &report : qAsConst(spy)) {
            if (report.at(0).toInt() == id)
                return report.at(1).value<FetchResult>().status;
        }
        spy.wait(100);
    }
    qWarning("no report for %s", qPrintable(url));
    return Status::TransportError;
}

QStringList TestTransferReuse::connectionsOf(const QString &uriPart)
{
    // Every request answered so far is logged once the marker is.
    if (m_nginx.completeAccessLog().isEmpty())
        qWarning("the access log did not settle");
    QStringList lines;
    for (const QString &line : m_nginx.connectionLog()) {
        if (line.contains(uriPart))
            lines << line;
    }
    return lines;
}

// 100 tiles, with error statuses and documents among them, over one
// connection; each answer is still judged on its own.
void TestTransferReuse::consecutiveTilesShareOneConnection()
{
    ArchiveTransfer transfer;
    QSignalSpy spy(&transfer, &ArchiveTransfer::finished);
    QHash<int, Status> expected;
    for (int n = 0; n < 100; ++n) {
        QString url = tileUrl(n) + QStringLiteral("?run1");
        Status status = Status::Ok;
        if (n % 20 == 7) {
            url = m_nginx.httpsUrl() + QStringLiteral("/e404/%1.png?run1").arg(n);
            status = Status::HttpError;
        } else if (n % 20 == 13) {
            url = m_nginx.httpsUrl() + QStringLiteral("/tiles/doc.html?run1");
            status = Status::NotContent;
        }
        if (status != Status::Ok)
            writeOld(out(QStringLiteral("%1.png").arg(n)));
        expected.insert(transfer.start(url, out(QStringLiteral("%1.png").arg(n)), options()), status);
    }
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 100, 60000);
    for (const QList<QVariant> &report : qAsConst(spy))
        QCOMPARE(report.at(1).value<FetchResult>().status, expected.value(report.at(0).toInt()));
    for (int n = 0; n < 100; ++n) {
        const QByteArray stored = readAll(out(QStringLiteral("%1.png").arg(n)));
        QCOMPARE(stored, n % 20 == 7 || n % 20 == 13 ? Old : tile(n));
    }
    QCOMPARE(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden).size(), 100);

    const QStringList lines = connectionsOf(QStringLiteral("?run1"));
    QCOMPARE(lines.size(), 100);
    QCOMPARE(NginxFixture::connectionsUsed(lines), 1);
}

// Stop during a transfer ends it and keeps the old file; the transfers after
// it work, again over one connection.
void TestTransferReuse::stopInTheMiddle()
{
    ArchiveTransfer transfer;
    QSignalSpy spy(&transfer, &ArchiveTransfer::finished);
    for (int n = 0; n < 5; ++n)
        transfer.start(tileUrl(n) + QStringLiteral("?run2a"), out(QStringLiteral("a%1.png").arg(n)), options());
    const QString slowTarget = out(QStringLiteral("big.zip"));
    writeOld(slowTarget);
    const int slow = transfer.start(m_nginx.httpsUrl() + QStringLiteral("/slow/srtm/big.zip"), slowTarget, options());
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 5, 20000);
    // Stopped while the body is coming in.
    QTRY_VERIFY_WITH_TIMEOUT(receivingInto(m_out.path()), 10000);
    transfer.abortAll();
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 6, 10000);
    QCOMPARE(spy.at(5).at(0).toInt(), slow);
    QCOMPARE(spy.at(5).at(1).value<FetchResult>().status, Status::Aborted);
    QCOMPARE(readAll(slowTarget), Old);

    for (int n = 0; n < 5; ++n) {
        QCOMPARE(runOne(transfer, tileUrl(n) + QStringLiteral("?run2b"), out(QStringLiteral("b%1.png").arg(n)), options()),
                 Status::Ok);
        QCOMPARE(readAll(out(QStringLiteral("b%1.png").arg(n))), tile(n));
    }
    QCOMPARE(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden).size(), 11); // no temporary file left
    QCOMPARE(NginxFixture::connectionsUsed(connectionsOf(QStringLiteral("?run2a"))), 1);
    QCOMPARE(NginxFixture::connectionsUsed(connectionsOf(QStringLiteral("?run2b"))), 1);
}

// The proxy is set for every transfer: a kept direct connection never carries
// a transfer that should go through the proxy, nor the other way round.
void TestTransferReuse::proxyChangeTakesEffect()
{
    SquidFixture squid;
    QVERIFY2(squid.start({{QStringLiteral("tiler"), QStringLiteral("s3cret")}}), qPrintable(squid.errorString()));
    ArchiveTransfer transfer;
    const CurlTransfer::Options direct = options();
    CurlTransfer::Options proxied = options();
    proxied.proxy.enabled = true;
    proxied.proxy.host = QStringLiteral("127.0.0.1");
    proxied.proxy.port = squid.port();
    proxied.proxy.user = QStringLiteral("tiler");
    proxied.proxy.password = QStringLiteral("s3cret");
    CurlTransfer::Options deadProxy = proxied;
    deadProxy.proxy.port = ServerFixture::freePort(); // nothing listens there

    for (int n = 0; n < 3; ++n)
        QCOMPARE(runOne(transfer, tileUrl(n) + QStringLiteral("?run3a"), out(QStringLiteral("a%1.png").arg(n)), direct), Status::Ok);
    for (int n = 0; n < 3; ++n)
        QCOMPARE(runOne(transfer, tileUrl(n) + QStringLiteral("?run3b"), out(QStringLiteral("b%1.png").arg(n)), proxied), Status::Ok);
    writeOld(out(QStringLiteral("dead.png")));
    QCOMPARE(runOne(transfer, tileUrl(0) + QStringLiteral("?run3c"), out(QStringLiteral("dead.png")), deadProxy),
             Status::TransportError);
    QCOMPARE(readAll(out(QStringLiteral("dead.png"))), Old);
    for (int n = 0; n < 3; ++n)
        QCOMPARE(runOne(transfer, tileUrl(n) + QStringLiteral("?run3d"), out(QStringLiteral("d%1.png").arg(n)), direct), Status::Ok);

    const QStringList first = connectionsOf(QStringLiteral("?run3a"));
    const QStringList viaProxy = connectionsOf(QStringLiteral("?run3b"));
    const QStringList after = connectionsOf(QStringLiteral("?run3d"));
    QVERIFY(connectionsOf(QStringLiteral("?run3c")).isEmpty());
    QCOMPARE(NginxFixture::connectionsUsed(first), 1);
    QCOMPARE(NginxFixture::connectionsUsed(viaProxy), 1);
    QCOMPARE(NginxFixture::connectionsUsed(after), 1);
    // The proxy's own connection to the server is another one than the
    // direct ones before and after.
    QCOMPARE(NginxFixture::connectionsUsed(first + viaProxy), 2);
    QCOMPARE(NginxFixture::connectionsUsed(viaProxy + after), 2);
}

// A transfer that must not trust the server fails even while a connection
// verified under other certificates is open; the kept connection goes on
// serving the transfers that do trust it.
void TestTransferReuse::certificateFailureInTheMiddle()
{
    CurlEngine engine;
    const CurlTransfer::Options trusting = options();
    CurlTransfer::Options systemOnly = options();
    systemOnly.caBundle.clear();
    for (int n = 0; n < 3; ++n)
        QVERIFY(CurlTransfer::fetchToFile(engine, tileUrl(n) + QStringLiteral("?run4"), out(QStringLiteral("a%1.png").arg(n)), trusting).ok());

    const QString refusedTarget = out(QStringLiteral("refused.png"));
    writeOld(refusedTarget);
    QCOMPARE(CurlTransfer::fetchToFile(engine, tileUrl(5) + QStringLiteral("?refused"), refusedTarget, systemOnly).status,
             Status::TransportError);
    QCOMPARE(readAll(refusedTarget), Old);
    // Right certificates, wrong name: 127.0.0.2 is not in the certificate.
    const QString otherName = QStringLiteral("https://127.0.0.2:%1/tiles/6.png?refused").arg(m_nginx.httpsPort());
    QCOMPARE(CurlTransfer::fetchToFile(engine, otherName, refusedTarget, trusting).status, Status::TransportError);
    QCOMPARE(readAll(refusedTarget), Old);

    for (int n = 3; n < 6; ++n)
        QVERIFY(CurlTransfer::fetchToFile(engine, tileUrl(n) + QStringLiteral("?run4"), out(QStringLiteral("b%1.png").arg(n)), trusting).ok());
    // Once refused, refused again: the failure left nothing that a later
    // transfer of the same trust could slip through on.
    QCOMPARE(CurlTransfer::fetchToFile(engine, tileUrl(7) + QStringLiteral("?refused"), refusedTarget, systemOnly).status,
             Status::TransportError);
    QCOMPARE(readAll(refusedTarget), Old);
    QCOMPARE(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden).size(), 7);

    const QStringList lines = connectionsOf(QStringLiteral("?run4"));
    QCOMPARE(lines.size(), 6);
    QCOMPARE(NginxFixture::connectionsUsed(lines), 1);
    QVERIFY(connectionsOf(QStringLiteral("?refused")).isEmpty());
}

// A new tile is written beside its name and renamed at the end; a file that
// appeared at the name meanwhile (another program, another job) is not
// replaced, and nothing of the transfer is left.
void TestTransferReuse::aTileThatAppearsMeanwhileIsKept()
{
    ArchiveTransfer transfer;
    QSignalSpy spy(&transfer, &ArchiveTransfer::finished);
    const QString target = out(QStringLiteral("appearing.png"));
    transfer.start(m_nginx.httpsUrl() + QStringLiteral("/trickle/tiles/noise.png"), target, options());
    QTRY_VERIFY_WITH_TIMEOUT(receivingInto(m_out.path()), 20000);
    writeOld(target);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 60000);
    QCOMPARE(spy.at(0).at(1).value<FetchResult>().status, Status::WriteError);
    QCOMPARE(readAll(target), Old);
    QCOMPARE(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("appearing.png")});
}

QTEST_GUILESS_MAIN(TestTransferReuse)
#include "tst_transferreuse.moc"
