#pragma once

#include "ServerFixture.h"

#include <QMap>

// A real squid on a loopback port that lets through only requests carrying
// basic proxy credentials from its own password file (made at start).
//
// Host names given to start() resolve only inside the proxy (squid's hosts
// file), so a client reaches them only through it: a test that fetches
// http://tiles.tilewright.test:PORT/ proves that its request went through the
// proxy with the right credentials. Nothing is cached.
class SquidFixture : public ServerFixture
{
public:
    // users: user name -> password. hosts: host names mapped to 127.0.0.1.
    bool start(const QMap<QString, QString> &users,
               const QStringList &hosts = {QStringLiteral("tiles.tilewright.test")});

    quint16 port() const { return m_port; }
    QString proxyUrl() const; // http://127.0.0.1:port, what http_proxy names

    // One line per request, oldest first: "METHOD URL STATUS USER USER-AGENT"
    // ("-" for a missing user or agent).
    QStringList accessLog() const;
    // Waits until a line containing text has been logged (squid logs after
    // it answered); false after timeoutMs.
    bool waitForLog(const QString &text, int timeoutMs = 10000) const;

private:
    quint16 m_port = 0;
};
