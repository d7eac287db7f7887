#include "cli/ProxyArgument.h"

#include "settings/ProxyDetection.h"

#include <QProcessEnvironment>
#include <QStringList>
#include <QUrl>

bool ProxyArgument::read(const QString &text, ProxySettings *settings)
{
    QString address = text.trimmed();
    if (address.isEmpty())
        return false;
    if (!address.contains(QLatin1String("://")))
        address.prepend(QStringLiteral("http://"));
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.scheme().toLower() != QLatin1String("http"))
        return false;
    settings->host = url.host();
    settings->port = url.port(80);
    settings->user = url.userName(QUrl::FullyDecoded);
    settings->password = url.password(QUrl::FullyDecoded);
    settings->enabled = true;
    return true;
}

bool ProxyArgument::bypassed(const QString &noProxy, const QString &host)
{
    const QString name = host.toLower();
    const QStringList entries = noProxy.toLower().split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString entry : entries) {
        entry = entry.trimmed();
        if (entry == QLatin1String("*"))
            return true;
        while (entry.startsWith(QLatin1Char('.')))
            entry.remove(0, 1);
        if (!entry.isEmpty() && (name == entry || name.endsWith(QLatin1Char('.') + entry)))
            return true;
    }
    return false;
}

ProxyArgument ProxyArgument::choose(const QString &option, const QString &serverAddress)
{
    ProxyArgument chosen;
    if (!option.isEmpty()) {
        if (!read(option, &chosen.m_settings))
            chosen.m_error = QStringLiteral("tilewright: --proxy \"%1\" is no http://[user:password@]host:port").arg(option);
        return chosen;
    }
    const QUrl server(serverAddress.contains(QLatin1String("://")) ? serverAddress : QStringLiteral("https://") + serverAddress);
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    auto variable = [&env](const char *name) {
        const QString lower = env.value(QLatin1String(name));
        return lower.isEmpty() ? env.value(QString::fromLatin1(name).toUpper()) : lower;
    };
    if (bypassed(variable("no_proxy"), server.host()))
        return chosen;
    // curl's rule: the upper-case HTTP_PROXY may be set by a web server's
    // caller, so only the lower-case one counts for plain http.
    const QString text = server.scheme().toLower() == QLatin1String("https") ? variable("https_proxy")
                                                                            : env.value(QStringLiteral("http_proxy"));
    if (text.isEmpty() || !read(text, &chosen.m_settings))
        return chosen;
    if (!chosen.m_settings.hasCredentials()) {
        const StoredProxyCredentials stored = ProxyDetection::readStoredCredentials();
        if (stored.useProxy && !stored.user.isEmpty() && !stored.password.isEmpty()) {
            chosen.m_settings.user = stored.user;
            chosen.m_settings.password = stored.password;
        }
    }
    return chosen;
}
