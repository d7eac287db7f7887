// The proxy detection's decisions over a scripted environment: what is read,
// tested, asked, saved and applied.
#include "settings/CredentialCipher.h"
#include "settings/ProxyDetection.h"
#include "settings/ProxyEnvironment.h"
#include "settings/SettingsKeys.h"

#include <QNetworkProxy>
#include <QtTest>

namespace {

class ScriptedEnvironment : public ProxyEnvironment
{
public:
    QString reportedHost;     // what the system names
    bool silentTestWorks = false;
    ProxyPromptOutcome answer; // what the user gives
    QStringList calls;

    QString systemProxyHost(const QUrl &query) override
    {
        calls << QStringLiteral("query ") + query.toString();
        return reportedHost;
    }
    void openPrompt(const QString &host) override { calls << QStringLiteral("open ") + host; }
    void testCredentials(const QString &user, const QString &password, int port, Answer done) override
    {
        calls << QStringLiteral("test %1 %2 %3").arg(user, password).arg(port);
        ProxyPromptOutcome outcome;
        outcome.connected = silentTestWorks;
        done(outcome);
    }
    void askUser(Answer done) override
    {
        calls << QStringLiteral("ask");
        done(answer);
    }
    void closePrompt() override { calls << QStringLiteral("close"); }
};

// One detection; the scripted environment answers at once, so it has ended
// when this returns.
ProxySettings detect(ProxyState &state, const QUrl &query, ProxyEnvironment &env)
{
    ProxySettings result;
    bool ended = false;
    ProxyDetection::configure(state, query, env, [&](const ProxyState &next, const ProxySettings &proxy) {
        state = next;
        result = proxy;
        ended = true;
    });
    if (!ended)
        qFatal("the detection did not end");
    return result;
}

ProxyPromptOutcome proved(const QString &user, const QString &password, int port)
{
    ProxyPromptOutcome outcome;
    outcome.accepted = true;
    outcome.connected = true;
    outcome.user = user;
    outcome.password = password;
    outcome.port = port;
    return outcome;
}

QString encipher(const QString &password)
{
    CredentialCipher cipher(CredentialCipher::StoreKey);
    return cipher.encryptToString(password);
}

// The whole store as text, to see that nothing was written.
QMap<QString, QString> storeContents()
{
    const auto store = SettingsKeys::openProgramStore();
    QMap<QString, QString> contents;
    const QStringList keys = store->allKeys();
    for (const QString &key : keys)
        contents.insert(key, store->value(key).toString());
    return contents;
}

void store(const QVariant &user, const QVariant &password, const QVariant &port, const QVariant &useProxy)
{
    auto s = SettingsKeys::openProgramStore();
    const QList<QPair<QString, QVariant>> values{{QStringLiteral("UserName"), user},
                                                 {QStringLiteral("Password"), password},
                                                 {QStringLiteral("ProxyPort"), port},
                                                 {QStringLiteral("UseProxy"), useProxy}};
    for (const auto &v : values) {
        if (v.second.isValid())
            s->setValue(v.first, v.second);
    }
}

} // namespace
Q_DECLARE_METATYPE(ProxyPromptOutcome)
namespace {

const QUrl Query(QStringLiteral("http://tiles.example"));
const QString Detected = QStringLiteral("proxy.example");

} // namespace

class TestProxyDetection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void noProxyReported();
    void silentTest_data();
    void silentTest();
    void askedInstead_data();
    void askedInstead();
    void userAnswer_data();
    void userAnswer();
    void cancelledThenAskedAgain();
    void standingProxyReapplied();
    void queryAddress_data();
    void queryAddress();
    void systemProxyOfTheAddress();
};

void TestProxyDetection::init()
{
    SettingsKeys::openProgramStore()->clear();
    qunsetenv("http_proxy");
    qunsetenv("no_proxy");
    qunsetenv("https_proxy");
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
}

void TestProxyDetection::cleanup()
{
    init();
}

// Without a proxy nothing is read, asked or written, even with credentials stored.
void TestProxyDetection::noProxyReported()
{
    store(QStringLiteral("alice"), encipher(QStringLiteral("secret")), 3128, true);
    const auto before = storeContents();
    ScriptedEnvironment env;
    ProxyState state;
    const ProxySettings proxy = detect(state, Query, env);
    QVERIFY(!proxy.enabled);
    QCOMPARE(env.calls, QStringList{QStringLiteral("query http://tiles.example")});
    QVERIFY(state.user.isEmpty());
    QVERIFY(state.password.isEmpty());
    QCOMPARE(state.port, 80);
    QVERIFY(state.askProxy);
    QCOMPARE(storeContents(), before);
}

void TestProxyDetection::silentTest_data()
{
    QTest::addColumn<QVariant>("storedPort");
    QTest::addColumn<int>("testedPort");
    QTest::newRow("port stored") << QVariant(8080) << 8080;
    QTest::newRow("port missing") << QVariant() << 80;
}

// Stored credentials that work are applied after the silent test, without
// asking and without writing; a missing port is tried as 80.
void TestProxyDetection::silentTest()
{
    QFETCH(QVariant, storedPort);
    QFETCH(int, testedPort);
    store(QStringLiteral("alice"), encipher(QStringLiteral("secret")), storedPort, true);
    const auto before = storeContents();
    ScriptedEnvironment env;
    env.reportedHost = Detected;
    env.silentTestWorks = true;
    ProxyState state;
    const ProxySettings proxy = detect(state, Query, env);
    QCOMPARE(env.calls, (QStringList{QStringLiteral("query http://tiles.example"), QStringLiteral("open proxy.example"),
                                     QStringLiteral("test alice secret %1").arg(testedPort), QStringLiteral("close")}));
    QVERIFY(proxy.enabled);
    QCOMPARE(proxy.host, Detected);
    QCOMPARE(proxy.user, QStringLiteral("alice"));
    QCOMPARE(proxy.password, QStringLiteral("secret"));
    QCOMPARE(proxy.port, testedPort);
    QCOMPARE(state.port, testedPort);
    QCOMPARE(state.host, Detected);
    QVERIFY(!state.askProxy);
    QCOMPARE(storeContents(), before);
}

void TestProxyDetection::askedInstead_data()
{
    QTest::addColumn<QVariant>("password");
    QTest::addColumn<bool>("useProxy");
    QTest::addColumn<bool>("silentTest"); // run (and fail) before asking
    QTest::addColumn<QVariant>("port");
    const QVariant secret = encipher(QStringLiteral("secret"));
    QTest::newRow("nothing stored") << QVariant() << true << false << QVariant(3128);
    QTest::newRow("UseProxy false") << secret << false << false << QVariant(3128);
    QTest::newRow("not Base64") << QVariant(QStringLiteral("%%%not-base64%%%")) << true << false << QVariant(3128);
    QTest::newRow("damaged cipher text") << QVariant(QStringLiteral("AwLfb3Jrc2hvcA==")) << true << false
                                         << QVariant(3128);
    QTest::newRow("plain text password") << QVariant(QStringLiteral("secret")) << true << false << QVariant(3128);
    QTest::newRow("silent test fails") << secret << true << true << QVariant(3128);
    // A stored port that is no TCP port is not tried on port 80.
    QTest::newRow("port 0") << secret << true << false << QVariant(0);
    QTest::newRow("port past 65535") << secret << true << false << QVariant(70000);
    QTest::newRow("negative port") << secret << true << false << QVariant(-3128);
    QTest::newRow("port not a number") << secret << true << false << QVariant(QStringLiteral("eighty"));
}

// Without a usable stored password, or when it fails, the user is asked; a
// stored text that does not decipher is empty and reaches nothing.
void TestProxyDetection::askedInstead()
{
    QFETCH(QVariant, password);
    QFETCH(bool, useProxy);
    QFETCH(bool, silentTest);
    QFETCH(QVariant, port);
    store(QStringLiteral("alice"), password, port, useProxy);
    ScriptedEnvironment env;
    env.reportedHost = Detected;
    env.answer.accepted = false; // Cancel
    ProxyState state;
    const ProxySettings proxy = detect(state, Query, env);
    QStringList expected{QStringLiteral("query http://tiles.example"), QStringLiteral("open proxy.example")};
    if (silentTest)
        expected << QStringLiteral("test alice secret 3128");
    expected << QStringLiteral("ask") << QStringLiteral("close");
    QCOMPARE(env.calls, expected);
    QVERIFY(!proxy.enabled);
    if (!silentTest && useProxy && port == QVariant(3128)) // the password did not decipher
        QVERIFY(state.password.isEmpty());
    QVERIFY(!state.askProxy);
}

void TestProxyDetection::userAnswer_data()
{
    QTest::addColumn<ProxyPromptOutcome>("answer");
    QTest::addColumn<bool>("inForce");
    QTest::addColumn<bool>("written");

    const ProxyPromptOutcome ok = proved(QStringLiteral("bob"), QStringLiteral("pa:ss word"), 8081);
    QTest::newRow("proved and saved") << ok << true << true;
    ProxyPromptOutcome keep = ok;
    keep.saveCredentials = false;
    QTest::newRow("save credentials cleared") << keep << true << false;
    ProxyPromptOutcome without = ok;
    without.useProxy = false;
    QTest::newRow("use this proxy cleared") << without << false << false;
    ProxyPromptOutcome cancelled = ok;
    cancelled.accepted = false;
    QTest::newRow("cancelled after a proved test") << cancelled << false << false;
    ProxyPromptOutcome unproved = ok;
    unproved.connected = false;
    QTest::newRow("accepted without a test") << unproved << false << false;
}

// What the user proved is applied; it is written only when it is in force
// and the user wants it kept.
void TestProxyDetection::userAnswer()
{
    QFETCH(ProxyPromptOutcome, answer);
    QFETCH(bool, inForce);
    QFETCH(bool, written);
    store(QStringLiteral("old"), encipher(QStringLiteral("oldpass")), 1080, false);
    const auto before = storeContents();
    ScriptedEnvironment env;
    env.reportedHost = Detected;
    env.answer = answer;
    ProxyState state;
    const ProxySettings proxy = detect(state, Query, env);
    QCOMPARE(proxy.enabled, inForce);
    QCOMPARE(state.useProxy, answer.useProxy);
    QVERIFY(!state.askProxy);
    if (inForce) {
        QCOMPARE(proxy.host, Detected);
        QCOMPARE(proxy.user, QStringLiteral("bob"));
        QCOMPARE(proxy.password, QStringLiteral("pa:ss word"));
        QCOMPARE(proxy.port, 8081);
    }
    if (!written) {
        QCOMPARE(storeContents(), before);
        return;
    }
    const auto s = SettingsKeys::openProgramStore();
    QCOMPARE(SettingsKeys::UserName.read(*s), QStringLiteral("bob"));
    QCOMPARE(SettingsKeys::ProxyPort.read(*s), 8081);
    QCOMPARE(SettingsKeys::UseProxy.read(*s), true);
    const QString cipherText = SettingsKeys::Password.read(*s);
    QVERIFY(!cipherText.contains(QLatin1String("pa:ss")));
    CredentialCipher cipher(CredentialCipher::StoreKey);
    QCOMPARE(cipher.decryptToString(cipherText), QStringLiteral("pa:ss word"));
    QCOMPARE(s->allKeys().size(), 4);
}

// After Cancel the program has no proxy; the next detection reads the store
// and asks again.
void TestProxyDetection::cancelledThenAskedAgain()
{
    ScriptedEnvironment env;
    env.reportedHost = Detected;
    ProxyState state;
    QVERIFY(!detect(state, Query, env).enabled);
    state.useProxy = false; // what the window keeps from the result
    store(QStringLiteral("alice"), encipher(QStringLiteral("secret")), 3128, true);
    env.calls.clear();
    env.silentTestWorks = true;
    QVERIFY(detect(state, Query, env).enabled);
    QVERIFY(env.calls.contains(QStringLiteral("test alice secret 3128")));
}

// While a proved proxy stands, later detections re-apply it as it is, even
// when the system names another host; nothing is read, tested or asked.
void TestProxyDetection::standingProxyReapplied()
{
    store(QStringLiteral("other"), encipher(QStringLiteral("other")), 9999, true);
    ScriptedEnvironment env;
    env.reportedHost = QStringLiteral("another.example");
    ProxyState state;
    state.host = Detected;
    state.user = QStringLiteral("alice");
    state.password = QStringLiteral("secret");
    state.port = 3128;
    state.useProxy = true;
    state.askProxy = false;
    const ProxySettings proxy = detect(state, Query, env);
    QCOMPARE(env.calls.size(), 1);
    QVERIFY(proxy.enabled);
    QCOMPARE(proxy.host, Detected);
    QCOMPARE(proxy.user, QStringLiteral("alice"));
    QCOMPARE(proxy.port, 3128);
}

void TestProxyDetection::queryAddress_data()
{
    QTest::addColumn<int>("sourceKind");
    QTest::addColumn<QString>("sourceFolder");
    QTest::addColumn<QString>("standardUrl");
    QTest::addColumn<QString>("query");
    const QString osm = QStringLiteral("https://tile.openstreetmap.org");
    QTest::newRow("standard tiles") << 0 << QString() << osm << "https://tile.openstreetmap.org";
    QTest::newRow("seamarks") << 1 << QStringLiteral("ignored.example") << osm << "https://tile.openstreetmap.org";
    QTest::newRow("elevation") << 2 << QString() << osm << "https://tile.openstreetmap.org";
    QTest::newRow("configured server with port")
        << 0 << QString() << QStringLiteral("http://tiles.tilewright.test:8080") << "http://tiles.tilewright.test:8080";
    QTest::newRow("listed host") << 3 << QStringLiteral("tiles.example.com") << osm << "http://tiles.example.com";
    QTest::newRow("listed full address")
        << 4 << QStringLiteral("https://tiles.example.com:8443/osm/") << osm << "https://tiles.example.com:8443";
    QTest::newRow("listed nothing") << 3 << QString() << osm << "http:";
    QTest::newRow("theme server") << 5 << QStringLiteral("https://maps.example.org:8443") << osm
                                  << "https://maps.example.org:8443";
}

void TestProxyDetection::queryAddress()
{
    QFETCH(int, sourceKind);
    QFETCH(QString, sourceFolder);
    QFETCH(QString, standardUrl);
    QFETCH(QString, query);
    QCOMPARE(ProxyDetection::queryAddress(sourceKind, sourceFolder, standardUrl).toString(), query);
}

// The system's answer (http_proxy on Linux) decides, its exceptions for the
// tile server included; the proxy this program installed itself does not
// count as the system's, so a proxy the system dropped is dropped too.
void TestProxyDetection::systemProxyOfTheAddress()
{
    const QUrl tiles(QStringLiteral("http://tiles.tilewright.test:8080"));
    QCOMPARE(ProxyDetection::systemProxyHost(tiles), QString());
    qputenv("http_proxy", "http://127.0.0.1:3128");
    QCOMPARE(ProxyDetection::systemProxyHost(tiles), QStringLiteral("127.0.0.1"));
    qputenv("no_proxy", "tiles.tilewright.test");
    QCOMPARE(ProxyDetection::systemProxyHost(tiles), QString());
    QCOMPARE(ProxyDetection::systemProxyHost(QUrl(QStringLiteral("http://other.example"))), QStringLiteral("127.0.0.1"));

    // A system that names only an HTTPS proxy: the question about the
    // configured https server finds it.
    qunsetenv("no_proxy");
    qunsetenv("http_proxy");
    qputenv("https_proxy", "http://127.0.0.1:3129");
    const QUrl query = ProxyDetection::queryAddress(0, QString(), QStringLiteral("https://tiles.tilewright.test"));
    QCOMPARE(ProxyDetection::systemProxyHost(query), QStringLiteral("127.0.0.1"));
    qunsetenv("https_proxy");

    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 3128, QStringLiteral("a"), QStringLiteral("b")));
    QCOMPARE(ProxyDetection::systemProxyHost(tiles), QString());
}

QTEST_GUILESS_MAIN(TestProxyDetection)
#include "tst_proxydetection.moc"
