#include "HostileServer.h"
#include "NginxFixture.h"

#include "acquire/ArchiveTransfer.h"
#include "acquire/CurlTransfer.h"
#include "mapview/TileContent.h"

#include <QtTest>

#include <QImage>

using CurlTransfer::Status;

Q_DECLARE_METATYPE(CurlTransfer::Status)

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// HTTPS transfers against a server that misbehaves in every way it can. Every
// run starts from an old tile; afterwards the tile is the old one or a
// complete new image, never a partial one, and nothing else is in its folder.
class TestHostileCurl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void hostile_data();
    void hostile();
    void emptyBodyWhereThereWasNone();
    void workerKeepsTheOldTile();

private:
    CurlTransfer::Options options() const;
    HostileServer m_server;
    QTemporaryDir m_out;
    QByteArray m_old;
};

void TestHostileCurl::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    m_old = NginxFixture::pngBytes(QImage(32, 32, QImage::Format_RGB32));
    QVERIFY(TileContent::check("image/png", m_old).ok());
}

void TestHostileCurl::init()
{
    QDir(m_out.path()).removeRecursively();
    QDir().mkpath(m_out.path());
}

CurlTransfer::Options TestHostileCurl::options() const
{
    CurlTransfer::Options o;
    o.caBundle = m_server.caFile();
    o.connectTimeoutSeconds = 5;
    // Short, so the trickling and silent servers end within the test.
    o.lowSpeedSeconds = 2;
    return o;
}

void TestHostileCurl::hostile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Status>("status");

    QTest::newRow("complete tile") << "/ok/12/1/1.png" << Status::Ok;
    QTest::newRow("gzip encoded, decoded") << "/gzip/12/1/2.png" << Status::Ok;
    QTest::newRow("reset mid-body") << "/reset/12/1/3.png" << Status::Incomplete;
    QTest::newRow("short body") << "/short/12/1/4.png" << Status::Incomplete;
    QTest::newRow("cut chunked body") << "/chunkcut/12/1/5.png" << Status::Incomplete;
    QTest::newRow("1 byte a second") << "/trickle/12/1/6.png" << Status::TimedOut;
    QTest::newRow("accepts, never answers") << "/silent/12/1/7.png" << Status::TimedOut;
    QTest::newRow("429 with Retry-After") << "/429/12/1/8.png?after=30" << Status::HttpError;
    QTest::newRow("503 with a date") << "/503/12/1/9.png?date=1" << Status::HttpError;
    QTest::newRow("403 with a text") << "/403/12/1/10.png" << Status::HttpError;
    QTest::newRow("html with 200") << "/html/12/1/11.png" << Status::NotContent;
    QTest::newRow("xml with 200") << "/xml/12/1/12.png" << Status::NotContent;
    QTest::newRow("html labelled png") << "/htmlpng/12/1/13.png" << Status::NotContent;
    QTest::newRow("empty 200 over a tile") << "/empty/12/1/14.png" << Status::Unchanged;
    QTest::newRow("huge, announced") << "/huge/12/1/15.png?size=41943040" << Status::TooLarge;
    // A PNG that turns to zeros is refused at its first broken chunk.
    QTest::newRow("huge, unannounced") << "/hugenolength/12/1/16.png?size=41943040" << Status::Incomplete;
    QTest::newRow("huge, unannounced, raw") << "/hugenolength/12/1/21.png?size=41943040&raw=1" << Status::TooLarge;
    QTest::newRow("redirect loop") << "/loop/12/1/17.png" << Status::TransportError;
    QTest::newRow("corrupt gzip") << "/gzipbad/12/1/18.png" << Status::Incomplete;
    QTest::newRow("random bytes as png") << "/random/12/1/19.png" << Status::NotContent;
    QTest::newRow("half a png, matching length") << "/halfpng/12/1/20.png" << Status::Incomplete;
}

void TestHostileCurl::hostile()
{
    QFETCH(QString, path);
    QFETCH(Status, status);

    const QString local = m_out.filePath(QStringLiteral("1.png"));
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(m_old);
    }
    QElapsedTimer clock;
    clock.start();
    const CurlTransfer::Result result = CurlTransfer::fetchToFile(m_server.httpsUrl() + path, local, options());
    QVERIFY2(result.status == status, qPrintable(QStringLiteral("status %1 (%2)").arg(int(result.status)).arg(result.errorString)));
    QVERIFY(!result.ok() || status == Status::Ok || status == Status::Unchanged);
    QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));

    const QByteArray stored = readAll(local);
    if (status == Status::Ok) {
        QVERIFY(stored != m_old);
        QVERIFY(TileContent::check("image/png", stored).ok());
        QVERIFY(!QImage::fromData(stored).isNull());
    } else {
        QCOMPARE(stored, m_old);
    }
    QCOMPARE(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{QStringLiteral("1.png")});
}

void TestHostileCurl::emptyBodyWhereThereWasNone()
{
    const QString local = m_out.filePath(QStringLiteral("2.png"));
    const CurlTransfer::Result result =
        CurlTransfer::fetchToFile(m_server.httpsUrl() + QStringLiteral("/empty/3/2/2.png"), local, options());
    QCOMPARE(result.status, Status::Ok);
    QVERIFY(QFileInfo::exists(local));
    QCOMPARE(QFileInfo(local).size(), qint64(0));
}

// Through the worker, as the job runs it: a cut body is reported and the
// old archive stays.
void TestHostileCurl::workerKeepsTheOldTile()
{
    const QString local = m_out.filePath(QStringLiteral("N47E011.hgt.zip"));
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(m_old);
    }
    ArchiveTransfer transfer;
    QSignalSpy spy(&transfer, &ArchiveTransfer::finished);
    CurlTransfer::Options o = options();
    o.maxBodyBytes = JobLimits::ArchiveBodyLimit;
    transfer.start(m_server.httpsUrl() + QStringLiteral("/halfpng/srtm/N47E011.hgt.zip"), local, o);
    transfer.start(m_server.httpsUrl() + QStringLiteral("/short/srtm/N47E011.hgt.zip"), local, o);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 20000);
    QCOMPARE(spy.at(0).at(1).value<FetchResult>().status, Status::Incomplete);
    QCOMPARE(spy.at(1).at(1).value<FetchResult>().status, Status::Incomplete);
    QCOMPARE(readAll(local), m_old);
    QCOMPARE(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("N47E011.hgt.zip")});
}

QTEST_GUILESS_MAIN(TestHostileCurl)
#include "tst_hostile_curl.moc"
