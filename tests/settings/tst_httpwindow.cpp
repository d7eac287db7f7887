// The proxy credentials dialog against a real authenticating proxy (squid)
// in front of a real tile server (nginx) whose name only the proxy knows.
#include "NginxFixture.h"
#include "OffscreenNotes.h"
#include "SquidFixture.h"
#include "TestShots.h"
#include "settings/AppConfig.h"
#include "settings/CredentialCipher.h"
#include "settings/HttpWindow.h"
#include "settings/HttpWindowEnvironment.h"
#include "settings/ProxyDetection.h"
#include "settings/SettingsKeys.h"

#include "ModalAnswer.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTranslator>
#include <QtTest>

#include <optional>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void storeCredentials(quint16 port)
{
    auto store = SettingsKeys::openProgramStore();
    CredentialCipher cipher(CredentialCipher::StoreKey);
    SettingsKeys::UserName.write(*store, QStringLiteral("alice"));
    SettingsKeys::Password.write(*store, cipher.encryptToString(QStringLiteral("s3cret")));
    SettingsKeys::ProxyPort.write(*store, int(port));
    SettingsKeys::UseProxy.write(*store, true);
}

// One detection for the standard tiles, run until it has ended.
bool detect(ProxyEnvironment &environment, ProxySettings &proxy)
{
    bool ended = false;
    ProxyDetection::configure(ProxyState(), ProxyDetection::queryAddress(0, QString(), AppConfig::instance().osmTileUrl),
                              environment, [&](const ProxyState &, const ProxySettings &result) {
                                  proxy = result;
                                  ended = true;
                              });
    return QTest::qWaitFor([&ended] { return ended; }, 30000);
}

} // namespace

// The dialog's parts, found by their names as a person finds them by sight.
template<typename T>
T *part(const QWidget &dialog, const char *name)
{
    T *w = dialog.findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("the dialog has no %s", name);
    return w;
}

class TestHttpWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void freshDialog();
    void enablingRule();
    void portText_data();
    void portText();
    void choiceBoxes();
    void provedThroughTheProxy();
    void refusedThenProved();
    void unreachableProxy();
    void secondOkDuringTheWait();
    void windowGoneDuringTheWait();
    void lateAnswerAcceptsTheShownDialog();
    void silentProxyTimesOut();
    void anyTileServerAnswerProves();
    void httpsOnlyProxyBehindOwnCa();
    void screenshots();

private:
    void useTileServer(const NginxFixture &server);
    void fill(HttpWindow &dialog, const QString &user, const QString &password, quint16 port);

    QTemporaryDir m_root;
    QTemporaryDir m_slowRoot;
    NginxFixture m_tiles;
    NginxFixture m_slowTiles; // its test tile takes about four seconds
    SquidFixture m_squid;
};

void TestHttpWindow::initTestCase()
{
    hideOffscreenSizeHintNotes();
    for (QTemporaryDir *dir : {&m_root, &m_slowRoot})
        QFile::setPermissions(dir->path(), QFile::permissions(dir->path()) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QVERIFY(writeFile(m_root.filePath(QStringLiteral("7/63/42.png")), NginxFixture::tilePng(63, 42, 7)));
    QVERIFY(writeFile(m_slowRoot.filePath(QStringLiteral("7/63/42.png")),
                      NginxFixture::tilePng(63, 42, 7).leftJustified(8192, '\0')));
    QVERIFY2(m_tiles.start(m_root.path()), qPrintable(m_tiles.errorString()));
    QVERIFY2(m_slowTiles.start(m_slowRoot.path(), QStringLiteral("location /7/ { limit_rate 2k; }")),
             qPrintable(m_slowTiles.errorString()));
    QVERIFY2(m_squid.start({{QStringLiteral("alice"), QStringLiteral("s3cret")}},
                           {QStringLiteral("tiles.tilewright.test"), QStringLiteral("localhost")}),
             qPrintable(m_squid.errorString()));
}

void TestHttpWindow::init()
{
    useTileServer(m_tiles);
    SettingsKeys::openProgramStore()->clear();
}

void TestHttpWindow::cleanup()
{
    qunsetenv("http_proxy");
    qunsetenv("https_proxy");
    qunsetenv("TILEWRIGHT_CA_BUNDLE");
    SettingsKeys::openProgramStore()->clear();
}

void TestHttpWindow::useTileServer(const NginxFixture &server)
{
    qputenv("TILEWRIGHT_OSM_TILE_URL", QStringLiteral("http://tiles.tilewright.test:%1").arg(server.httpPort()).toUtf8());
    AppConfig::reload();
}

void TestHttpWindow::fill(HttpWindow &dialog, const QString &user, const QString &password, quint16 port)
{
    part<QLineEdit>(dialog, "userEdit")->clear();
    QTest::keyClicks(part<QLineEdit>(dialog, "userEdit"), user);
    part<QLineEdit>(dialog, "passwordEdit")->clear();
    QTest::keyClicks(part<QLineEdit>(dialog, "passwordEdit"), password);
    part<QLineEdit>(dialog, "portEdit")->setText(QString::number(port));
}

void TestHttpWindow::freshDialog()
{
    QWidget parent;
    HttpWindow dialog(&parent);
    dialog.proxyHost = QStringLiteral("proxy.example");
    dialog.preparePrompt(QStringLiteral("proxy.example"));
    QCOMPARE(int(dialog.windowType()), 0x37); // the framework adds its title-bar hints
    QVERIFY(dialog.isModal());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Connect to proxy.example"));
    QCOMPARE(part<QLabel>(dialog, "statusLabel")->text(), QStringLiteral("The server proxy.example requires a username and password."));
    QVERIFY(!part<QPushButton>(dialog, "okButton")->isEnabled());
    QVERIFY(part<QPushButton>(dialog, "okButton")->isDefault());
    QVERIFY(!part<QPushButton>(dialog, "cancelButton")->autoDefault());
    QCOMPARE(part<QDialogButtonBox>(dialog, "buttonBox")->buttonRole(part<QPushButton>(dialog, "okButton")), QDialogButtonBox::ActionRole);
    QCOMPARE(part<QDialogButtonBox>(dialog, "buttonBox")->buttonRole(part<QPushButton>(dialog, "cancelButton")), QDialogButtonBox::RejectRole);
    QVERIFY(part<QCheckBox>(dialog, "proxyBox")->isChecked() && dialog.useProxy);
    QVERIFY(part<QCheckBox>(dialog, "credentialsBox")->isChecked() && dialog.saveCredentials);
    QCOMPARE(part<QLineEdit>(dialog, "portEdit")->text(), QStringLiteral("80"));
    QCOMPARE(part<QLineEdit>(dialog, "passwordEdit")->echoMode(), QLineEdit::Password);
    QCOMPARE(part<QLabel>(dialog, "userLabel")->buddy(), part<QLineEdit>(dialog, "userEdit"));
    QVERIFY(!dialog.connected && !dialog.askAgain);
    QCOMPARE(dialog.proxyPort, 80);
}

void TestHttpWindow::enablingRule()
{
    HttpWindow dialog;
    QTest::keyClicks(part<QLineEdit>(dialog, "userEdit"), QStringLiteral("alice"));
    QVERIFY(!part<QPushButton>(dialog, "okButton")->isEnabled());
    QTest::keyClicks(part<QLineEdit>(dialog, "passwordEdit"), QStringLiteral("x"));
    QVERIFY(part<QPushButton>(dialog, "okButton")->isEnabled());
    QCOMPARE(dialog.password(), QStringLiteral("x"));
    part<QLineEdit>(dialog, "userEdit")->clear();
    QVERIFY(!part<QPushButton>(dialog, "okButton")->isEnabled());
    QTest::keyClicks(part<QLineEdit>(dialog, "userEdit"), QStringLiteral("a"));
    QVERIFY(part<QPushButton>(dialog, "okButton")->isEnabled());
    part<QLineEdit>(dialog, "passwordEdit")->clear();
    QVERIFY(!part<QPushButton>(dialog, "okButton")->isEnabled());
}

void TestHttpWindow::portText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    QTest::newRow("port") << "3128" << 3128;
    QTest::newRow("not a number") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("past 65535") << "68664" << 0; // would wrap to 3128
    QTest::newRow("negative") << "-1" << 0;
}

void TestHttpWindow::portText()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    HttpWindow dialog;
    part<QLineEdit>(dialog, "portEdit")->setText(text);
    QCOMPARE(dialog.proxyPort, port);
}

void TestHttpWindow::choiceBoxes()
{
    HttpWindow dialog;
    dialog.show();
    QTest::mouseClick(part<QCheckBox>(dialog, "proxyBox"), Qt::LeftButton);
    QVERIFY(!dialog.useProxy && !part<QCheckBox>(dialog, "proxyBox")->isChecked());
    QTest::mouseClick(part<QCheckBox>(dialog, "proxyBox"), Qt::LeftButton);
    QVERIFY(dialog.useProxy && part<QCheckBox>(dialog, "proxyBox")->isChecked());
    QTest::mouseClick(part<QCheckBox>(dialog, "credentialsBox"), Qt::LeftButton);
    QVERIFY(!dialog.saveCredentials && !part<QCheckBox>(dialog, "credentialsBox")->isChecked());
}

// OK fetches the test tile through the proxy with the typed credentials and
// ends the dialog accepted once the answer is in.
void TestHttpWindow::provedThroughTheProxy()
{
    QWidget parent;
    HttpWindow dialog(&parent);
    dialog.proxyHost = QStringLiteral("127.0.0.1");
    dialog.preparePrompt(dialog.proxyHost);
    const int logStart = m_squid.accessLog().size();
    answerNextModal<HttpWindow>([this](HttpWindow *d) {
        fill(*d, QStringLiteral("alice"), QStringLiteral("s3cret"), m_squid.port());
        QTest::mouseClick(part<QPushButton>(*d, "okButton"), Qt::LeftButton);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(dialog.connected);
    QCOMPARE(dialog.userName(), QStringLiteral("alice"));
    QCOMPARE(dialog.password(), QStringLiteral("s3cret"));
    QCOMPARE(dialog.proxyPort, int(m_squid.port()));
    const QString line = QStringLiteral("GET http://tiles.tilewright.test:%1/7/63/42.png 200 alice Tilewright")
                             .arg(m_tiles.httpPort());
    QVERIFY(m_squid.waitForLog(line));
    QCOMPARE(m_squid.accessLog().mid(logStart).filter(QStringLiteral("200")).size(), 1);
}

// A refused test shows the failure box, clears the password and gives OK
// back; the right password then gets through in the same dialog.
void TestHttpWindow::refusedThenProved()
{
    QWidget parent;
    HttpWindow dialog(&parent);
    dialog.proxyHost = QStringLiteral("127.0.0.1");
    dialog.preparePrompt(dialog.proxyHost);
    QString boxTitle, boxText;
    bool okAfterWrongTry = false;
    QString passwordAfterWrongTry = QStringLiteral("unset");
    answerNextModal<HttpWindow>([&](HttpWindow *d) {
        fill(*d, QStringLiteral("alice"), QStringLiteral("wrong"), m_squid.port());
        answerNextModal<QMessageBox>([&, d](QMessageBox *box) {
            boxTitle = box->windowTitle();
            boxText = box->text();
            box->accept();
            okAfterWrongTry = part<QPushButton>(*d, "okButton")->isEnabled();
            passwordAfterWrongTry = part<QLineEdit>(*d, "passwordEdit")->text() + d->password();
            QTest::keyClicks(part<QLineEdit>(*d, "passwordEdit"), QStringLiteral("s3cret"));
            QTest::mouseClick(part<QPushButton>(*d, "okButton"), Qt::LeftButton);
        });
        QTest::mouseClick(part<QPushButton>(*d, "okButton"), Qt::LeftButton); // returns at once
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(boxTitle, QStringLiteral("Proxy"));
    QVERIFY2(boxText.startsWith(QLatin1String("Connection failed, error: ")) && boxText.endsWith(QLatin1Char('.')),
             qPrintable(boxText));
    QVERIFY(okAfterWrongTry);
    QCOMPARE(passwordAfterWrongTry, QString());
    QVERIFY(m_squid.waitForLog(QStringLiteral("42.png 407 alice Tilewright")));
    QVERIFY(m_squid.waitForLog(QStringLiteral("42.png 200 alice Tilewright")));
}

void TestHttpWindow::unreachableProxy()
{
    HttpWindow dialog;
    dialog.proxyHost = QStringLiteral("127.0.0.1");
    QSignalSpy tested(&dialog, &HttpWindow::tested);
    dialog.testCredentials(QStringLiteral("alice"), QStringLiteral("s3cret"), ServerFixture::freePort());
    QVERIFY(tested.wait(10000));
    QCOMPARE(tested.at(0).at(0).toBool(), false);
    QVERIFY(!dialog.connected);
    QVERIFY(dialog.password().isEmpty());
    // Told once the dialog is shown.
    QString boxText;
    answerNextModal<QMessageBox>([&](QMessageBox *box) {
        boxText = box->text();
        box->accept();
    });
    dialog.show();
    QTRY_VERIFY2(boxText.startsWith(QLatin1String("Connection failed, error: ")), qPrintable(boxText));
}

// A second OK while the first test still waits: only the newest test counts,
// the dropped one neither fails the dialog nor reaches a reply that is gone.
void TestHttpWindow::secondOkDuringTheWait()
{
    useTileServer(m_slowTiles);
    QWidget parent;
    HttpWindow dialog(&parent);
    dialog.proxyHost = QStringLiteral("127.0.0.1");
    int boxes = 0;
    QTimer boxWatch;
    connect(&boxWatch, &QTimer::timeout, this, [&boxes] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            ++boxes;
            box->accept();
        }
    });
    boxWatch.start(10);
    answerNextModal<HttpWindow>([&](HttpWindow *d) {
        fill(*d, QStringLiteral("alice"), QStringLiteral("s3cret"), m_squid.port());
        QTimer::singleShot(300, part<QPushButton>(*d, "okButton"), [d] { QTest::mouseClick(part<QPushButton>(*d, "okButton"), Qt::LeftButton); });
        QTimer::singleShot(900, part<QPushButton>(*d, "okButton"), [d] { QTest::mouseClick(part<QPushButton>(*d, "okButton"), Qt::LeftButton); });
        QTest::mouseClick(part<QPushButton>(*d, "okButton"), Qt::LeftButton);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(dialog.connected);
    QCOMPARE(boxes, 0);
}

// The window that owns the dialog goes away while a silent test waits: the
// detection ends unproved and nothing touches the dialog that is gone.
void TestHttpWindow::windowGoneDuringTheWait()
{
    useTileServer(m_slowTiles);
    auto *parent = new QWidget;
    HttpWindowEnvironment environment(parent);
    environment.openPrompt(QStringLiteral("127.0.0.1"));
    QVERIFY(environment.prompt());
    QTimer::singleShot(300, parent, [parent] { delete parent; });
    std::optional<ProxyPromptOutcome> tested;
    environment.testCredentials(QStringLiteral("alice"), QStringLiteral("s3cret"), m_squid.port(),
                                [&tested](const ProxyPromptOutcome &outcome) { tested = outcome; });
    QTRY_VERIFY_WITH_TIMEOUT(tested.has_value(), 10000);
    QVERIFY(!tested->connected);
    QVERIFY(!environment.prompt());
    std::optional<ProxyPromptOutcome> asked;
    environment.askUser([&asked](const ProxyPromptOutcome &outcome) { asked = outcome; });
    QVERIFY(asked && !asked->accepted);
    environment.closePrompt();
}

// Stored credentials whose test answer comes after the silent wait: the
// dialog is shown with empty edits and accepts itself when the answer
// arrives; the stored credentials are applied and written again.
void TestHttpWindow::lateAnswerAcceptsTheShownDialog()
{
    useTileServer(m_slowTiles);
    qputenv("http_proxy", m_squid.proxyUrl().toUtf8());
    storeCredentials(m_squid.port());
    QWidget parent;
    HttpWindowEnvironment environment(&parent);
    bool shownEmpty = false;
    answerNextModal<HttpWindow>([&shownEmpty](HttpWindow *d) {
        shownEmpty = part<QLineEdit>(*d, "userEdit")->text().isEmpty() && part<QLineEdit>(*d, "passwordEdit")->text().isEmpty();
    });
    ProxySettings proxy;
    QVERIFY(detect(environment, proxy));
    QVERIFY(shownEmpty);
    QVERIFY(proxy.enabled);
    QCOMPARE(proxy.host, QStringLiteral("127.0.0.1"));
    QCOMPARE(proxy.user, QStringLiteral("alice"));
    QCOMPARE(proxy.password, QStringLiteral("s3cret"));
    QCOMPARE(proxy.port, int(m_squid.port()));
    QVERIFY(!environment.prompt());
    auto store = SettingsKeys::openProgramStore();
    CredentialCipher cipher(CredentialCipher::StoreKey);
    QCOMPARE(cipher.decryptToString(SettingsKeys::Password.read(*store)), QStringLiteral("s3cret"));
}

// A proxy that takes the connection and never answers: the test ends with
// the failure box naming the time-out, and OK is given back.
void TestHttpWindow::silentProxyTimesOut()
{
    QTcpServer mute;
    QVERIFY(mute.listen(QHostAddress::LocalHost));
    QWidget parent;
    HttpWindow dialog(&parent);
    dialog.answerWaitMs = 1000;
    dialog.proxyHost = QStringLiteral("127.0.0.1");
    QString boxText;
    bool okBack = false;
    answerNextModal<HttpWindow>([&](HttpWindow *d) {
        fill(*d, QStringLiteral("alice"), QStringLiteral("s3cret"), mute.serverPort());
        answerNextModal<QMessageBox>([&, d](QMessageBox *box) {
            boxText = box->text();
            okBack = part<QPushButton>(*d, "okButton")->isEnabled();
            box->accept();
            d->reject();
        });
        QTest::mouseClick(part<QPushButton>(*d, "okButton"), Qt::LeftButton);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY2(boxText.startsWith(QLatin1String("Connection failed, error: the proxy did not answer within 1 seconds")),
             qPrintable(boxText));
    QVERIFY(okBack);
    QVERIFY(!dialog.connected);
}

// The proxy let the request through when the tile server answers at all:
// a server without the test tile (404) proves the credentials too.
void TestHttpWindow::anyTileServerAnswerProves()
{
    QTemporaryDir emptyRoot;
    QFile::setPermissions(emptyRoot.path(), QFile::permissions(emptyRoot.path()) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    NginxFixture bare;
    QVERIFY2(bare.start(emptyRoot.path()), qPrintable(bare.errorString()));
    useTileServer(bare);
    HttpWindow dialog;
    dialog.proxyHost = QStringLiteral("127.0.0.1");
    QSignalSpy tested(&dialog, &HttpWindow::tested);
    dialog.testCredentials(QStringLiteral("alice"), QStringLiteral("s3cret"), m_squid.port());
    QVERIFY(tested.wait(10000));
    QVERIFY(dialog.connected);
    QVERIFY(m_squid.waitForLog(QStringLiteral("42.png 404 alice Tilewright")));
}

// The system names only an HTTPS proxy, and the tile server's certificate
// comes from a CA of this test (TILEWRIGHT_CA_BUNDLE): the detection finds
// the proxy for the https server and the silent test gets through it.
void TestHttpWindow::httpsOnlyProxyBehindOwnCa()
{
    qputenv("https_proxy", m_squid.proxyUrl().toUtf8());
    qputenv("TILEWRIGHT_CA_BUNDLE", m_tiles.caFile().toUtf8());
    qputenv("TILEWRIGHT_OSM_TILE_URL", QStringLiteral("https://localhost:%1").arg(m_tiles.httpsPort()).toUtf8());
    AppConfig::reload();
    storeCredentials(m_squid.port());
    QWidget parent;
    HttpWindowEnvironment environment(&parent);
    int shown = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&shown] {
        if (auto *d = qobject_cast<HttpWindow *>(QApplication::activeModalWidget())) {
            ++shown;
            d->reject();
        }
    });
    watch.start(20);
    ProxySettings proxy;
    QVERIFY(detect(environment, proxy));
    QCOMPARE(shown, 0);
    QVERIFY(proxy.enabled);
    QCOMPARE(proxy.host, QStringLiteral("127.0.0.1"));
    QVERIFY(m_squid.waitForLog(QStringLiteral("CONNECT localhost:%1 200 alice").arg(m_tiles.httpsPort())));
}

// The dialog as the user sees it, in English and German (PNGs for a look).
void TestHttpWindow::screenshots()
{
    for (const QString &language : {QStringLiteral("en"), QStringLiteral("de")}) {
        QTranslator translator;
        if (language == QLatin1String("de")) {
            QVERIFY(translator.load(QStringLiteral(TW_RUNTIME_DIR "/CvTile_de.qm")));
            QApplication::installTranslator(&translator);
        }
        HttpWindow dialog;
        dialog.proxyHost = QStringLiteral("proxy.corvane.example");
        dialog.preparePrompt(dialog.proxyHost);
        QTest::keyClicks(part<QLineEdit>(dialog, "userEdit"), QStringLiteral("alice"));
        QTest::keyClicks(part<QLineEdit>(dialog, "passwordEdit"), QStringLiteral("s3cret"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(part<QPushButton>(dialog, "okButton")->isEnabled());
        if (language == QLatin1String("de"))
            QCOMPARE(part<QCheckBox>(dialog, "proxyBox")->text(), QStringLiteral("diesen Proxy verwenden "));
        QVERIFY(dialog.grab().save(testShotPath(QStringLiteral("httpwindow-%1.png").arg(language))));
        QApplication::removeTranslator(&translator);
    }
}

QTEST_MAIN(TestHttpWindow)
#include "tst_httpwindow.moc"
