#pragma once

#include "settings/ProxySettings.h"

#include <QString>

// The proxy a command's requests go through, in this order: --proxy, the
// environment's https_proxy or http_proxy for the server's scheme (unless
// no_proxy names the server), with the credentials the window stored when
// the address carries none. No proxy otherwise.
class ProxyArgument
{
public:
    // serverAddress: where the requests go (scheme and host count).
    static ProxyArgument choose(const QString &option, const QString &serverAddress);

    bool ok() const { return m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    const ProxySettings &settings() const { return m_settings; }

    // http://[user:password@]host[:port]; false when the text is none.
    static bool read(const QString &text, ProxySettings *settings);
    // no_proxy's rule: "*", or the host itself or below a listed domain.
    static bool bypassed(const QString &noProxy, const QString &host);

private:
    ProxySettings m_settings;
    QString m_error;
};
