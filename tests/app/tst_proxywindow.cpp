// The whole proxy road in the main window: the system names an
// authenticating squid, the detection asks for credentials, proves and keeps
// them, and the map, the tile jobs and the HTTPS archive transfers go through
// the proxy. The tile server's name resolves only inside the proxy.
#include "NginxFixture.h"
#include "OffscreenNotes.h"
#include "SquidFixture.h"
#include "TestFiles.h"
#include "WindowSteps.h"
#include "acquire/DownloadJob.h"
#include "app/window/CvTilewright.h"
#include "app/DownloadRun.h"
#include "settings/AppConfig.h"
#include "settings/CredentialCipher.h"
#include "settings/HttpWindow.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPointer>
#include <QtTest>

#include <functional>

using namespace TestFiles;
using namespace WindowSteps;

namespace {

const QString Finished = QStringLiteral("Download finished!");
const QString User = QStringLiteral("alice");
const QString Secret = QStringLiteral("s3cret");
// Small enough for a few tiles at zoom 3.
const GeoArea View = area(-30.0, 50.0, 30.0, 10.0);
const int ViewZoom = 3;

// Watches for the proxy dialog on every pass of the event loop (also inside
// the detection's own waits) and answers it.
class DialogWatch : public QObject
{
public:
    std::function<void(HttpWindow *)> answer;
    int shown = 0;
    explicit DialogWatch(std::function<void(HttpWindow *)> a) : answer(std::move(a))
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *dialog = qobject_cast<HttpWindow *>(QApplication::activeModalWidget());
            if (!dialog || dialog == m_last)
                return;
            m_last = dialog;
            ++shown;
            if (answer)
                answer(dialog);
        });
        m_poll.start(20);
    }

private:
    QTimer m_poll;
    QPointer<HttpWindow> m_last;
};

void typeCredentials(HttpWindow *dialog, const QString &user, const QString &password, quint16 port)
{
    const QList<QLineEdit *> edits = dialog->findChildren<QLineEdit *>();
    QLineEdit *userEdit = edits.at(0);
    QLineEdit *passwordEdit = edits.at(1);
    QLineEdit *portEdit = edits.at(2);
    QTest::keyClicks(userEdit, user);
    QTest::keyClicks(passwordEdit, password);
    portEdit->clear();
    QTest::keyClicks(portEdit, QString::number(port));
    QPushButton *ok = nullptr;
    for (QPushButton *button : dialog->findChildren<QPushButton *>())
        if (button->text() == QLatin1String("OK"))
            ok = button;
    QTest::mouseClick(ok, Qt::LeftButton);
}

void storeCredentials(const QString &user, const QString &password, int port)
{
    auto store = SettingsKeys::openProgramStore();
    CredentialCipher cipher(CredentialCipher::StoreKey);
    SettingsKeys::UserName.write(*store, user);
    SettingsKeys::Password.write(*store, cipher.encryptToString(password));
    SettingsKeys::ProxyPort.write(*store, port);
    SettingsKeys::UseProxy.write(*store, true);
}

// The detection applied the proxy with the credentials it proved.
bool proxyApplied()
{
    const QNetworkProxy proxy = QNetworkProxy::applicationProxy();
    return proxy.type() == QNetworkProxy::HttpProxy && proxy.user() == User;
}

// The detection has begun (its timer is stopped) and has not yet applied a proxy.
bool detecting(const QWidget *w) { return !proxyTimer(w)->isActive() && !proxyApplied(); }

} // namespace

class TestProxyWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void askedProvedKeptAndUsed();
    void wrongCredentialsGet407();
    void cancelAndAskAgain();
    void windowUsedDuringTheSilentTest();
    void windowDeletedDuringTheSilentTest();

private:
    std::unique_ptr<CvTilewright> makeWindow(const GeoArea &view, int zoom);
    bool pressDownloadAndWait(CvTilewright *w, int timeoutMs = 60000);
    void useTestTileServer(const NginxFixture &server);
    QStringList squidSince(int start) const { return m_squid.accessLog().mid(start); }

    QTemporaryDir m_root;
    QTemporaryDir m_slowRoot;
    QTemporaryDir m_work;
    NginxFixture m_tiles;
    NginxFixture m_slowTiles; // its test tile takes about four seconds
    SquidFixture m_squid;
    QString m_dest;
};

void TestProxyWindow::initTestCase()
{
    hideOffscreenSizeHintNotes();
    for (QTemporaryDir *dir : {&m_root, &m_slowRoot})
        QFile::setPermissions(dir->path(), QFile::permissions(dir->path()) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QVERIFY(NginxFixture::writeTileTree(m_root.path(), 1, 3));
    QVERIFY(writeFile(m_root.filePath(QStringLiteral("7/63/42.png")), NginxFixture::tilePng(63, 42, 7)));
    for (const QString &cell : {QStringLiteral("S01W001"), QStringLiteral("S01E000"), QStringLiteral("N00W001"),
                                QStringLiteral("N00E000")})
        QVERIFY(writeFile(m_root.filePath(QStringLiteral("SRTM3/Africa/%1.hgt.zip").arg(cell)),
                          NginxFixture::zipBytes(cell.toUtf8() + QByteArray(3000, 'z'))));
    QVERIFY(NginxFixture::writeTileTree(m_slowRoot.path(), 1, 3));
    QVERIFY(writeFile(m_slowRoot.filePath(QStringLiteral("7/63/42.png")),
                      NginxFixture::tilePng(63, 42, 7).leftJustified(8192, '\0')));
    QVERIFY2(m_tiles.start(m_root.path()), qPrintable(m_tiles.errorString()));
    QVERIFY2(m_slowTiles.start(m_slowRoot.path(), QStringLiteral("location /7/ { limit_rate 2k; }")),
             qPrintable(m_slowTiles.errorString()));
    QVERIFY2(m_squid.start({{User, Secret}}), qPrintable(m_squid.errorString()));

    qputenv("TILEWRIGHT_SRTM_URL", (m_tiles.httpsUrl() + QStringLiteral("/SRTM3")).toUtf8());
    qputenv("TILEWRIGHT_CA_BUNDLE", m_tiles.caFile().toUtf8());
    qputenv("TILEWRIGHT_ROOT_D", m_work.filePath(QStringLiteral("D")).toUtf8());
}

void TestProxyWindow::init()
{
    // A drive C: of its own per test, whose temp/ folder a window starts with.
    static int run = 0;
    const QString driveC = m_work.filePath(QStringLiteral("C%1").arg(++run));
    qputenv("TILEWRIGHT_ROOT_C", driveC.toUtf8());
    m_dest = driveC + QStringLiteral("/temp/");
    QVERIFY(QDir().mkpath(m_dest));
    useTestTileServer(m_tiles);
    qputenv("http_proxy", m_squid.proxyUrl().toUtf8());
    SettingsKeys::openProgramStore()->clear();
}

void TestProxyWindow::cleanup()
{
    qunsetenv("http_proxy");
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    SettingsKeys::openProgramStore()->clear();
    QSettings().clear();
}

void TestProxyWindow::useTestTileServer(const NginxFixture &server)
{
    qputenv("TILEWRIGHT_OSM_TILE_URL", QStringLiteral("http://tiles.tilewright.test:%1").arg(server.httpPort()).toUtf8());
    AppConfig::reload();
}

std::unique_ptr<CvTilewright> TestProxyWindow::makeWindow(const GeoArea &view, int zoom)
{
    storeMapView(view, zoom);
    auto w = std::make_unique<CvTilewright>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    mapOf(w.get())->setFixedSize(mapSize(view, zoom));
    if (form(w).tilesFolder->text() != m_dest)
        return nullptr;
    form(w).zoomTo->setValue(zoom);
    return w;
}

bool TestProxyWindow::pressDownloadAndWait(CvTilewright *w, int timeoutMs)
{
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (form(w).downloadButton->isEnabled())
            return true;
        QTest::qWait(20);
    }
    return false;
}

// First start: asked, proved, kept enciphered; the map, a tile job and an
// HTTPS archive job go through the proxy with the credentials. Next start:
// applied without a dialog.
void TestProxyWindow::askedProvedKeptAndUsed()
{
    const int logStart = m_squid.accessLog().size();
    {
        DialogWatch watch([this](HttpWindow *d) { typeCredentials(d, User, Secret, m_squid.port()); });
        auto w = makeWindow(View, ViewZoom);
        QVERIFY(w);
        QTRY_VERIFY_WITH_TIMEOUT(proxyApplied(), 15000);
        QCOMPARE(watch.shown, 1);
        const QNetworkProxy applied = QNetworkProxy::applicationProxy();
        QCOMPARE(applied.hostName(), QStringLiteral("127.0.0.1"));
        QCOMPARE(applied.port(), m_squid.port());
        QCOMPARE(applied.user(), User);
        QCOMPARE(applied.password(), Secret);

        // The map fills through the proxy (its tiles are known only there).
        QVERIFY(m_squid.waitForLog(QStringLiteral("/%1/").arg(ViewZoom)));
        QTRY_VERIFY2_WITH_TIMEOUT(squidSince(logStart).filter(QStringLiteral(".png 200 alice")).size() > 2,
                                  qPrintable(squidSince(logStart).join(QLatin1Char('\n'))), 15000);

        // The settings hold the four keys, the password enciphered.
        {
            auto store = SettingsKeys::openProgramStore();
            QCOMPARE(SettingsKeys::UserName.read(*store), User);
            QCOMPARE(SettingsKeys::ProxyPort.read(*store), int(m_squid.port()));
            QCOMPARE(SettingsKeys::UseProxy.read(*store), true);
            QFile file(store->fileName());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(!file.readAll().contains(Secret.toUtf8()));
            CredentialCipher cipher(CredentialCipher::StoreKey);
            QCOMPARE(cipher.decryptToString(SettingsKeys::Password.read(*store)), Secret);
        }

        // A plain-HTTP tile job.
        QVERIFY(pressDownloadAndWait(w.get()));
        QCOMPARE(form(w).progLab->text(), Finished);
        const QVector<TileId> tiles = tilesOf(mapOf(w.get())->visibleArea(), ViewZoom, ViewZoom);
        QVERIFY(!tiles.isEmpty());
        for (const TileId &t : tiles) {
            QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_root.filePath(tilePath(t))));
            QVERIFY(m_squid.waitForLog(QStringLiteral("GET http://tiles.tilewright.test:%1/%2 200 alice Corvane Tilewright")
                                           .arg(m_tiles.httpPort())
                                           .arg(tilePath(t))));
        }
    }
    {
        // An HTTPS archive job: CONNECT through the proxy, with the credentials.
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        auto w = makeWindow(area(-1.9, 0.9, 0.9, -1.9), 7);
        QVERIFY(w);
        int dialogs = 0;
        DialogWatch watch([&dialogs](HttpWindow *) { ++dialogs; });
        QTRY_VERIFY_WITH_TIMEOUT(proxyApplied(), 15000); // from the store, without asking
        QCOMPARE(dialogs, 0);
        chooseEntry(w.get(), 2);
        QVERIFY(pressDownloadAndWait(w.get()));
        QCOMPARE(form(w).progLab->text(), Finished);
        // Into the folder the archives' server got.
        QCOMPARE(filesBelow(form(w).tilesFolder->text()).filter(QStringLiteral(".hgt.zip")).size(), 4);
        // squid logs a tunnel when it closes; the job keeps its connection
        // open for the next archive until the window goes.
        w.reset();
        QVERIFY(m_squid.waitForLog(QStringLiteral("CONNECT 127.0.0.1:%1 200 alice").arg(m_tiles.httpsPort())));
        QCOMPARE(watch.shown, 0);
    }
}

// Credentials the proxy refuses: the proxy answers 407 to the job's tiles
// and to the archive transfer's CONNECT, and nothing is stored. The run
// reads the proxy as the window's detection left it.
void TestProxyWindow::wrongCredentialsGet407()
{
    const int logStart = m_squid.accessLog().size();
    const ProxySettings wrong{QStringLiteral("127.0.0.1"), m_squid.port(), User, QStringLiteral("wrong"), true};
    for (const int kind : {0, 2}) {
        DownloadJob job;
        DownloadRun run;
        SourceAddress::TileSource source;
        source.sourceKind = kind;
        run.setInputs(DownloadRun::Inputs{[source] { return source; }, [wrong] { return wrong; }, [] { return 7; }});
        QSignalSpy ended(&run, &DownloadRun::ended);
        const GeoArea view = kind == 0 ? View : area(-1.9, 0.9, 0.9, -1.9);
        run.start(&job, DownloadRun::Job{view, kind == 0 ? ViewZoom : 7, kind, m_dest});
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 60000);
    }
    QVERIFY(m_squid.waitForLog(QStringLiteral(".png 407 alice Corvane Tilewright")));
    QVERIFY(m_squid.waitForLog(QStringLiteral("CONNECT 127.0.0.1:%1 407").arg(m_tiles.httpsPort())));
    QVERIFY(filesBelow(m_dest).isEmpty());
    QVERIFY(squidSince(logStart).filter(QStringLiteral(" 200 ")).filter(QStringLiteral("Corvane")).isEmpty());
}

// Cancel leaves the program without a proxy; the next detection (after a
// source change) asks again.
void TestProxyWindow::cancelAndAskAgain()
{
    DialogWatch watch([](HttpWindow *d) { d->reject(); });
    auto w = makeWindow(View, ViewZoom);
    QVERIFY(w);
    QTRY_COMPARE_WITH_TIMEOUT(watch.shown, 1, 15000);
    QTRY_VERIFY(!proxyTimer(w.get())->isActive());
    QCOMPARE(QNetworkProxy::applicationProxy().type(), QNetworkProxy::NoProxy);
    QVERIFY(SettingsKeys::openProgramStore()->allKeys().isEmpty());
    chooseEntry(w.get(), 0); // an applied source choice looks again
    QVERIFY(proxyTimer(w.get())->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(watch.shown, 2, 15000);
    QTRY_VERIFY(!proxyTimer(w.get())->isActive());
    QCOMPARE(QNetworkProxy::applicationProxy().type(), QNetworkProxy::NoProxy);
}

// While the silent test waits, the window stays usable: Download, Source, a
// second timeout of the detection and closing the window neither crash nor
// start a second detection; the late answer still proves the credentials.
void TestProxyWindow::windowUsedDuringTheSilentTest()
{
    useTestTileServer(m_slowTiles);
    storeCredentials(User, Secret, m_squid.port());
    auto w = makeWindow(View, ViewZoom);
    QVERIFY(w);
    int nestedDialogs = 0;
    bool acted = false;
    // The source dialog (or any other) that Source opens is dismissed.
    QTimer otherDialogs;
    connect(&otherDialogs, &QTimer::timeout, this, [] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (dialog && !qobject_cast<HttpWindow *>(dialog))
            dialog->reject();
    });
    otherDialogs.start(20);
    QTimer during;
    connect(&during, &QTimer::timeout, this, [&] {
        if (acted || !detecting(w.get()))
            return;
        acted = true;
        QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
        QTest::mouseClick(form(w).urlButton, Qt::LeftButton);
        w->slot_proxy(); // the timer's next timeout, as after a source change
        nestedDialogs = w->findChildren<HttpWindow *>().size();
        w->close();
    });
    during.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(acted, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(proxyApplied(), 15000); // the late answer accepted the dialog
    QCOMPARE(nestedDialogs, 1);
    QTRY_VERIFY_WITH_TIMEOUT(form(w).downloadButton->isEnabled(), 30000);
}

// The window destroyed while the silent test waits.
void TestProxyWindow::windowDeletedDuringTheSilentTest()
{
    useTestTileServer(m_slowTiles);
    storeCredentials(User, Secret, m_squid.port());
    QPointer<CvTilewright> w = makeWindow(View, ViewZoom).release();
    QVERIFY(w);
    QTimer during;
    connect(&during, &QTimer::timeout, this, [&w] {
        if (w && detecting(w))
            delete w.data();
    });
    during.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(!w, 15000);
    QVERIFY(SettingsKeys::openProgramStore()->contains(QStringLiteral("Password")));
}

QTEST_MAIN(TestProxyWindow)
#include "tst_proxywindow.moc"
