// Bodies framed like tiles that are no sound tile, served by a real nginx
// over HTTP and HTTPS and lying in a copy source, over a destination of good
// old tiles: every old tile stays, every broken body is counted, and a sound
// 512 px tile is still stored.

#include "NginxFixture.h"
#include "TestFiles.h"
#include "TileBodies.h"

#include "acquire/CopyThread.h"
#include "acquire/DownloadJob.h"

#include <QtTest>

Q_DECLARE_METATYPE(JobOutcome::Reason)

using Reason = JobOutcome::Reason;
using TestFiles::readFile;
using TestFiles::writeFile;

namespace {

constexpr int Tiles = 4; // 12/1/0..3.png

QString tileName(int y)
{
    return QStringLiteral("12/1/%1.png").arg(y);
}

EntryPlan planFor(const QString &base, const QString &dest, int y)
{
    EntryPlan p;
    p.entry = TileId{1, y, 12};
    p.address.text = QStringLiteral("%1/%2").arg(base, tileName(y));
    p.address.url = QUrl(p.address.text);
    p.target.folder = dest + QStringLiteral("12/1/");
    p.target.fileName = QStringLiteral("%1.png").arg(y);
    p.transport = base.startsWith(QLatin1String("https")) ? EntryPlan::Transport::Https : EntryPlan::Transport::Http;
    return p;
}

} // namespace

class TestSoundTiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void download_data();
    void download();
    void copyKeepsGoodTiles();

private:
    QString prefilled(const QString &name);

    NginxFixture m_server;
    QTemporaryDir m_work;
    QVector<QPair<QString, QByteArray>> m_bodies; // broken ones, then a sound 512 px tile
    QByteArray m_old;
};

void TestSoundTiles::initTestCase()
{
    m_bodies = TileBodies::unsound();
    m_bodies.append({QStringLiteral("sound 512 px png"), TileBodies::encoded("PNG", 512)});
    m_old = TileBodies::encoded("PNG", 256);
    // Folder i serves body i as every tile.
    const QString root = m_work.filePath(QStringLiteral("www"));
    for (int i = 0; i < m_bodies.size(); ++i)
        for (int y = 0; y < Tiles; ++y)
            QVERIFY(writeFile(QStringLiteral("%1/%2/%3").arg(root).arg(i).arg(tileName(y)), m_bodies.at(i).second));
    QVERIFY2(m_server.start(root), qPrintable(m_server.errorString()));
    qputenv("TILEWRIGHT_CA_BUNDLE", m_server.caFile().toUtf8());
}

QString TestSoundTiles::prefilled(const QString &name)
{
    const QString dest = m_work.filePath(name) + QLatin1Char('/');
    // Older than what the server has, so a conditional request is answered
    // with the body, not 304.
    const QDateTime past(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    for (int y = 0; y < Tiles; ++y) {
        writeFile(dest + tileName(y), m_old);
        QFile tile(dest + tileName(y));
        if (!tile.open(QIODevice::ReadWrite) || !tile.setFileTime(past, QFileDevice::FileModificationTime))
            return QString();
    }
    return dest;
}

void TestSoundTiles::download_data()
{
    QTest::addColumn<int>("body");
    QTest::addColumn<bool>("https");
    QTest::addColumn<Reason>("reason");
    for (const bool https : {false, true}) {
        for (int i = 0; i < m_bodies.size(); ++i) {
            const bool sound = i == m_bodies.size() - 1;
            // A JPEG without its end marker is cut short; the rest are framed
            // like images and broken inside.
            const bool cut = m_bodies.at(i).second.startsWith("\xff\xd8");
            QTest::addRow("%s%s", qPrintable(m_bodies.at(i).first), https ? ", https" : "")
                << i << https << (sound ? Reason::None : cut ? Reason::Incomplete : Reason::NotSound);
        }
    }
}

void TestSoundTiles::download()
{
    QFETCH(int, body);
    QFETCH(bool, https);
    QFETCH(Reason, reason);
    const QByteArray served = m_bodies.at(body).second;
    static int run = 0;
    const QString dest = prefilled(QStringLiteral("dest%1").arg(++run));
    QVERIFY(!dest.isEmpty());
    const QString base = QStringLiteral("%1/%2").arg(https ? m_server.httpsUrl() : m_server.httpUrl()).arg(body);

    DownloadJob job;
    job.begin(ProxySettings(), dest);
    QSignalSpy tiles(&job, &DownloadJob::tileFinished);
    QSignalSpy archives(&job, &DownloadJob::archiveFinished);
    for (int y = 0; y < Tiles; ++y) {
        QVERIFY(job.start(planFor(base, dest, y)));
        QTRY_COMPARE_WITH_TIMEOUT(tiles.count() + archives.count(), y + 1, 60000);
    }
    const JobOutcome outcome = job.finish();
    QCOMPARE(outcome.entries(), Tiles);
    if (reason == Reason::None) {
        QCOMPARE(outcome.stored(), Tiles);
    } else {
        QCOMPARE(outcome.stored(), 0);
        const auto most = outcome.mostFrequentFailure();
        QVERIFY2(outcome.failed(reason) == Tiles, qPrintable(QStringLiteral("reason %1").arg(int(most.first))));
    }
    for (int y = 0; y < Tiles; ++y)
        QCOMPARE(readFile(dest + tileName(y)), reason == Reason::None ? served : m_old);
    QCOMPARE(TestFiles::filesBelow(dest).size(), Tiles); // nothing temporary left
}

// A broken tile in the copy source is not copied over a good one; the sound
// one is.
void TestSoundTiles::copyKeepsGoodTiles()
{
    const QString source = m_work.filePath(QStringLiteral("copysource"));
    for (int y = 0; y < m_bodies.size(); ++y)
        QVERIFY(writeFile(QStringLiteral("%1/%2").arg(source, tileName(y)), m_bodies.at(y).second));
    const QString dest = prefilled(QStringLiteral("copydest"));
    QVERIFY(!dest.isEmpty());
    for (int y = Tiles; y < m_bodies.size(); ++y)
        QVERIFY(writeFile(dest + tileName(y), m_old));

    CopyThread worker;
    QSignalSpy reports(&worker, &CopyThread::sendUpdate);
    for (int y = 0; y < m_bodies.size(); ++y)
        worker.addTile(1, y, 12);
    QVERIFY(worker.startCopy(source, dest));
    QTRY_VERIFY_WITH_TIMEOUT(!reports.isEmpty() && reports.last().at(0).toInt() == -1, 20000);
    QVERIFY(worker.wait(5000));
    const int sound = m_bodies.size() - 1;
    QCOMPARE(worker.runFailures().unsound, sound);
    for (int y = 0; y < m_bodies.size(); ++y)
        QVERIFY2(readFile(dest + tileName(y)) == (y == sound ? m_bodies.at(y).second : m_old),
                 qPrintable(m_bodies.at(y).first));
}

QTEST_GUILESS_MAIN(TestSoundTiles)
#include "tst_soundtiles.moc"
