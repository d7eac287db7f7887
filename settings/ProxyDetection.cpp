#include "settings/ProxyDetection.h"

#include "settings/CredentialCipher.h"
#include "settings/ProxyEnvironment.h"
#include "settings/SettingsKeys.h"
#include "settings/SourceKind.h"

#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>

#include <memory>

QString ProxyEnvironment::systemProxyHost(const QUrl &query)
{
    return ProxyDetection::systemProxyHost(query);
}

namespace ProxyDetection {

namespace {

// The stored port is user-editable text in the store: anything that is not a
// TCP port counts as missing.
int validPort(int port)
{
    return port >= 1 && port <= 65535 ? port : 0;
}

ProxySettings inForce(const ProxyState &state, bool enabled)
{
    ProxySettings proxy;
    proxy.host = state.host;
    proxy.port = state.port;
    proxy.user = state.user;
    proxy.password = state.password;
    proxy.enabled = enabled;
    return proxy;
}

} // namespace

QUrl queryAddress(int sourceKind, const QString &sourceFolder, const QString &standardTileUrl)
{
    // The system may name a proxy for one scheme only (https_proxy without
    // http_proxy), so the question carries the scheme, host and port that the
    // requests will use. A bare host name, as the theme's, is asked as http.
    QString text = (SourceKind::isServerSource(sourceKind) ? sourceFolder : standardTileUrl).trimmed();
    if (!text.contains(QLatin1String("://")))
        text.prepend(QStringLiteral("http://"));
    const QUrl configured(text, QUrl::TolerantMode);
    QUrl query;
    query.setScheme(configured.scheme().isEmpty() ? QStringLiteral("http") : configured.scheme());
    query.setHost(configured.host());
    query.setPort(configured.port());
    return query;
}

QString systemProxyHost(const QUrl &query)
{
    const QNetworkProxyQuery request(query, QNetworkProxyQuery::UrlRequest);
    const QList<QNetworkProxy> system = QNetworkProxyFactory::systemProxyForQuery(request);
    if (system.isEmpty())
        return QString();
    QNetworkProxy candidate = system.first();
    if (candidate.type() == QNetworkProxy::NoProxy) {
        // The application-level answer is also the proxy this program installed
        // at an earlier detection; that one says nothing about the system, and
        // taking it would keep a proxy the system no longer names.
        const QList<QNetworkProxy> application = QNetworkProxyFactory::proxyForQuery(request);
        if (!application.isEmpty() && application.first().type() != QNetworkProxy::NoProxy
            && application.first() != QNetworkProxy::applicationProxy())
            candidate = application.first();
    }
    if (candidate.type() == QNetworkProxy::NoProxy || candidate.type() == QNetworkProxy::DefaultProxy)
        return QString();
    return candidate.hostName();
}

StoredProxyCredentials readStoredCredentials()
{
    const auto store = SettingsKeys::openProgramStore();
    StoredProxyCredentials stored;
    stored.port = validPort(SettingsKeys::ProxyPort.read(*store));
    stored.portUnusable = stored.port == 0 && SettingsKeys::ProxyPort.isStored(*store);
    stored.useProxy = SettingsKeys::UseProxy.read(*store);
    stored.user = SettingsKeys::UserName.read(*store);
    const QString cipherText = SettingsKeys::Password.read(*store);
    if (!cipherText.isEmpty()) {
        CredentialCipher cipher(CredentialCipher::StoreKey);
        // Any failure gives the empty string: the user is asked again.
        stored.password = cipher.decryptToString(cipherText);
    }
    return stored;
}

void saveCredentials(const QString &user, const QString &password, int port, bool useProxy)
{
    CredentialCipher cipher(CredentialCipher::StoreKey);
    const QString cipherText = cipher.encryptToString(password);
    const auto store = SettingsKeys::openProgramStore();
    SettingsKeys::UserName.write(*store, user);
    SettingsKeys::Password.write(*store, cipherText);
    SettingsKeys::ProxyPort.write(*store, port);
    SettingsKeys::UseProxy.write(*store, useProxy);
}

void configure(const ProxyState &start, const QUrl &query, ProxyEnvironment &environment, Finished done)
{
    const QString detected = environment.systemProxyHost(query);
    if (detected.isEmpty()) {
        done(start, inForce(start, false));
        return;
    }
    // The configuration proved earlier still stands; the newly reported host
    // does not replace it.
    if (!start.askProxy && start.useProxy) {
        done(start, inForce(start, true));
        return;
    }

    auto state = std::make_shared<ProxyState>(start);
    const StoredProxyCredentials stored = readStoredCredentials();
    state->port = stored.port;
    state->useProxy = stored.useProxy;
    state->user = stored.user;
    state->password = stored.password;

    ProxyEnvironment *env = &environment;
    environment.openPrompt(detected);
    auto ask = [state, detected, env, done] {
        env->askUser([state, detected, env, done](const ProxyPromptOutcome &answer) {
            state->askProxy = answer.askAgain;
            state->useProxy = answer.useProxy;
            bool enabled = false;
            if (answer.accepted && answer.connected && answer.useProxy) {
                state->host = detected;
                state->user = answer.user;
                state->password = answer.password;
                state->port = answer.port;
                enabled = true;
                if (answer.saveCredentials)
                    saveCredentials(state->user, state->password, state->port, state->useProxy);
            }
            env->closePrompt();
            done(*state, inForce(*state, enabled));
        });
    };
    // A stored port that is no TCP port is not tried on another one: the
    // user is asked at once.
    if (state->password.isEmpty() || !state->useProxy || stored.portUnusable) {
        ask();
        return;
    }
    if (state->port == 0)
        state->port = 80;
    env->testCredentials(state->user, state->password, state->port,
                         [state, detected, env, done, ask](const ProxyPromptOutcome &silent) {
                             if (!silent.connected) {
                                 ask();
                                 return;
                             }
                             state->askProxy = silent.askAgain;
                             state->host = detected;
                             env->closePrompt();
                             done(*state, inForce(*state, true));
                         });
}

} // namespace ProxyDetection
