#pragma once

#include <QNetworkProxy>
#include <QString>

// The proxy in force: what the detection decided, handed as one value to the
// map view, the download job and the HTTPS transfers.
struct ProxySettings
{
    QString host;
    int port = 80;
    QString user;
    QString password; // plain text, in memory only
    bool enabled = false;

    // Credentials are sent only when both are set.
    bool hasCredentials() const { return !user.isEmpty() && !password.isEmpty(); }

    // An HTTP proxy with the credentials when enabled, the no-proxy type otherwise.
    QNetworkProxy networkProxy() const
    {
        if (!enabled)
            return QNetworkProxy(QNetworkProxy::NoProxy);
        return QNetworkProxy(QNetworkProxy::HttpProxy, host, quint16(port), user, password);
    }

    friend bool operator==(const ProxySettings &a, const ProxySettings &b)
    {
        return a.host == b.host && a.port == b.port && a.user == b.user && a.password == b.password
               && a.enabled == b.enabled;
    }
    friend bool operator!=(const ProxySettings &a, const ProxySettings &b) { return !(a == b); }
};
