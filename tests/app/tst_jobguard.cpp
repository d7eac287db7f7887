// The window counts a job before it fetches anything: the public
// OpenStreetMap server gets no bulk job, a very large job asks first, and a
// job that starts shows its size.
#include "NginxFixture.h"
#include "TestFiles.h"
#include "WindowSteps.h"
#include "app/window/CvTilewright.h"
#include "mapview/widgets/CvMapWidget.h"
#include "settings/AppConfig.h"

#include <QApplication>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPushButton>
#include <QTcpServer>
#include <QtTest>

using namespace TestFiles;
using namespace WindowSteps;

namespace {

const GeoArea World = area(-180.0, 85.0, 180.0, -85.0);
const QString Canceled = QStringLiteral("Download canceled!");
const QString Finished = QStringLiteral("Download finished!");

// The job's size by the enumeration itself, as the status line gives it.
qint64 tilesInView(const GeoArea &view, int toZoom)
{
    return tilesOf(view, 1, toZoom).size();
}

QString countText(const GeoArea &view, int toZoom)
{
    return QStringLiteral("Download: %1 tiles").arg(QLocale().toString(tilesInView(view, toZoom)));
}

// Answers every message box shown while it lives and keeps its text.
class BoxAnswers : public QObject
{
public:
    explicit BoxAnswers(QMessageBox::StandardButton answer)
    {
        connect(&m_poll, &QTimer::timeout, this, [this, answer] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            texts << box->text();
            QAbstractButton *button = box->button(answer);
            if (!button)
                button = box->buttons().value(0);
            button->click();
        });
        m_poll.start(10);
    }
    QStringList texts;

private:
    QTimer m_poll;
};

} // namespace

class TestJobGuard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void publicServerGetsNoBulkJob_data();
    void publicServerGetsNoBulkJob();
    void otherServerRunsTheSameJob();
    void largeJobAsksFirst_data();
    void largeJobAsksFirst();
    void questionKnowsThePaceOfTheLastJob();

private:
    std::unique_ptr<CvTilewright> makeWindow(int downloadZoom);

    QTemporaryDir m_root;
    QTemporaryDir m_work;
    NginxFixture m_nginx;
};

void TestJobGuard::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QFile::setPermissions(m_root.path(), QFile::permissions(m_root.path()) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QVERIFY(NginxFixture::writeTileTree(m_root.path(), 1, 2));
    QVERIFY2(m_nginx.start(m_root.path()), qPrintable(m_nginx.errorString()));
    qputenv("TILEWRIGHT_ROOT_D", m_work.filePath(QStringLiteral("D")).toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", m_work.filePath(QStringLiteral("C")).toUtf8());
    qputenv("TILEWRIGHT_PROXY_DELAY_MS", "600000"); // no proxy detection meanwhile
    qunsetenv("http_proxy");
}

void TestJobGuard::init()
{
    qputenv("TILEWRIGHT_OSM_TILE_URL", m_nginx.httpUrl().toUtf8());
    AppConfig::reload();
    QSettings().clear();
}

void TestJobGuard::cleanup()
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    QSettings().clear();
}

// The window stays hidden: an unpainted map asks for no tiles, so every
// request counted is the job's.
std::unique_ptr<CvTilewright> TestJobGuard::makeWindow(int downloadZoom)
{
    storeMapView(World, 1);
    // A destination of its own per window (the default one, on a drive of its
    // own): tiles of an earlier test would be asked for conditionally and end
    // as unchanged, not stored.
    static int windows = 0;
    qputenv("TILEWRIGHT_ROOT_C", m_work.filePath(QStringLiteral("C%1").arg(++windows)).toUtf8());
    AppConfig::reload();
    auto w = std::make_unique<CvTilewright>();
    mapOf(w.get())->setFixedSize(mapSize(World, 1));
    form(w).zoomTo->setValue(downloadZoom);
    return w;
}

void TestJobGuard::publicServerGetsNoBulkJob_data()
{
    QTest::addColumn<bool>("listed");
    QTest::newRow("standard source") << false;
    QTest::newRow("listed server with the public host") << true;
}

// Zoom 1 to 7 of the whole world: some 21,000 tiles. The public host name is only
// configured: any request, the job's or the map's, would go to a loopback
// port acting as proxy, and none comes.
void TestJobGuard::publicServerGetsNoBulkJob()
{
    QFETCH(bool, listed);
    QTcpServer sink;
    QVERIFY(sink.listen(QHostAddress::LocalHost));
    int connections = 0;
    connect(&sink, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *s = sink.nextPendingConnection()) {
            ++connections;
            s->deleteLater();
        }
    });
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), sink.serverPort()));
    const QString publicServer = QStringLiteral("http://tile.openstreetmap.org:%1/").arg(sink.serverPort());
    if (!listed) {
        qputenv("TILEWRIGHT_OSM_TILE_URL", publicServer.toUtf8());
        AppConfig::reload();
    }
    auto w = makeWindow(7);
    if (listed)
        chooseServer(w.get(), publicServer);
    QCOMPARE(form(w).zoomTo->value(), 7);

    {
        BoxAnswers answers(QMessageBox::Ok);
        form(w).downloadButton->click();
        QCOMPARE(answers.texts.size(), 1);
        const QString text = answers.texts.first();
        QVERIFY(tilesInView(mapOf(w.get())->visibleArea(), 7) > 5000);
        QVERIFY2(text.contains(QStringLiteral("usage policy")) && text.contains(QStringLiteral("offline use"))
                     && text.contains(QLocale().toString(tilesInView(mapOf(w.get())->visibleArea(), 7))) && text.contains(QStringLiteral("TILEWRIGHT_OSM_TILE_URL")),
                 qPrintable(text));
    }
    QVERIFY(form(w).downloadButton->isEnabled()); // nothing was sent, nothing is waiting
    QVERIFY(!form(w).cancleButton->isEnabled());
    QVERIFY(form(w).progLab->text().startsWith(QStringLiteral("Download refused")));
    QCoreApplication::processEvents();
    QCOMPARE(connections, 0);

    // A job within what the server allows runs as before: zoom 1 to 5.
    form(w).zoomTo->setValue(5);
    {
        BoxAnswers answers(QMessageBox::Ok);
        form(w).downloadButton->click();
        QVERIFY(answers.texts.isEmpty());
    }
    QVERIFY(form(w).cancleButton->isEnabled());
    QCOMPARE(form(w).progLab->toolTip(), countText(mapOf(w.get())->visibleArea(), 5));
    QTRY_VERIFY_WITH_TIMEOUT(connections >= 1, 20000); // the first request, to the loopback proxy
    QTest::mouseClick(form(w).cancleButton, Qt::LeftButton);
    QCOMPARE(form(w).progLab->text(), Canceled);
}

// The same job from a loopback server start without a question and
// show their count.
void TestJobGuard::otherServerRunsTheSameJob()
{
    auto w = makeWindow(7);
    QCOMPARE(form(w).zoomTo->value(), 7);
    {
        BoxAnswers answers(QMessageBox::Ok);
        form(w).downloadButton->click();
        QVERIFY(answers.texts.isEmpty());
    }
    QCOMPARE(form(w).progLab->toolTip(), countText(mapOf(w.get())->visibleArea(), 7));
    QCOMPARE(form(w).progressBar->toolTip(), form(w).progLab->toolTip());
    QVERIFY(!form(w).downloadButton->isEnabled());
    QVERIFY(m_nginx.waitForAccessLog(3).size() >= 3);
    QTest::mouseClick(form(w).cancleButton, Qt::LeftButton);
    QCOMPARE(form(w).progLab->text(), Canceled);
    QVERIFY(form(w).progLab->toolTip().isEmpty());
}

void TestJobGuard::largeJobAsksFirst_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("answered No") << false;
    QTest::newRow("answered Yes") << true;
}

// A listed server is not limited: zoom 1 to 9 of the world, some 350,000 tiles.
void TestJobGuard::largeJobAsksFirst()
{
    QFETCH(bool, yes);
    auto w = makeWindow(9);
    chooseServer(w.get(), m_nginx.httpUrl() + QLatin1Char('/'));
    form(w).zoomTo->setValue(9);
    QCOMPARE(form(w).zoomTo->value(), 9);
    const int before = m_nginx.completeAccessLog().size();
    {
        BoxAnswers answers(yes ? QMessageBox::Yes : QMessageBox::No);
        form(w).downloadButton->click();
        QCOMPARE(answers.texts.size(), 1);
        const QString text = answers.texts.first();
        QVERIFY2(text.contains(QLocale().toString(tilesInView(mapOf(w.get())->visibleArea(), 9)) + QStringLiteral(" tiles")) && text.contains(QStringLiteral("GiB"))
                     && text.contains(QStringLiteral("Start it?")),
                 qPrintable(text));
    }
    if (!yes) {
        QVERIFY(form(w).downloadButton->isEnabled() && !form(w).cancleButton->isEnabled());
        QCOMPARE(form(w).progLab->text(),
                 QStringLiteral("Not started: %1 tiles.").arg(QLocale().toString(tilesInView(mapOf(w.get())->visibleArea(), 9))));
        QCOMPARE(m_nginx.completeAccessLog().size(), before);
        return;
    }
    QVERIFY(form(w).cancleButton->isEnabled());
    QVERIFY(m_nginx.waitForAccessLog(before + 1).size() >= before + 1);
    QTest::mouseClick(form(w).cancleButton, Qt::LeftButton);
    QCOMPARE(form(w).progLab->text(), Canceled);
}

// After a finished job the question names the time at that job's pace.
void TestJobGuard::questionKnowsThePaceOfTheLastJob()
{
    auto w = makeWindow(2);
    form(w).downloadButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(form(w).progLab->text(), Finished, 60000);
    // The size tip goes with the job; the label's tip repeats the end text.
    QCOMPARE(form(w).progLab->toolTip(), form(w).progLab->text());
    QVERIFY(form(w).progressBar->toolTip().isEmpty());

    chooseServer(w.get(), m_nginx.httpUrl() + QLatin1Char('/'));
    // A folder of its own (the first one names the standard source), and the
    // same server: its pace is known.
    const QString own = form(w).tilesFolder->text() + QStringLiteral("listed/");
    QVERIFY(QDir().mkpath(own));
    chooseDestination(w.get(), own);
    form(w).zoomTo->setValue(9);
    BoxAnswers answers(QMessageBox::No);
    form(w).downloadButton->click();
    QCOMPARE(answers.texts.size(), 1);
    QVERIFY2(answers.texts.first().contains(QStringLiteral("At the pace of the last job it takes about")),
             qPrintable(answers.texts.first()));
}

QTEST_MAIN(TestJobGuard)
#include "tst_jobguard.moc"
