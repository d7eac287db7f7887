#pragma once

#include "ServerFixture.h"

// A tile server that misbehaves on purpose (tests/support/hostile_server.py),
// on a plain and a TLS loopback port. The first path segment picks the fault,
// e.g. /ok/12/2161/1432.png (a complete PNG of its own for every path),
// /reset/..., /short/..., /chunkcut/..., /trickle/..., /silent/...,
// /429/...?after=2&times=1, /503/...?date=1, /403/..., /html/..., /xml/...,
// /empty/..., /huge/...?size=N, /hugenolength/...?size=N&raw=1, /loop/..., /gzip/..., /gzipbad/..., /random/...,
// /halfpng/... (the script lists them all). It ends with the fixture, or after
// half an hour at the latest.
class HostileServer : public ServerFixture
{
public:
    bool start();

    QString httpUrl() const { return loopbackUrl("http", m_httpPort); }  // http://127.0.0.1:port
    QString httpsUrl() const { return loopbackUrl("https", m_httpsPort); } // https://127.0.0.1:port (certificate: caFile())

    // Every request so far, oldest first: "GET /fault/rest?query". A request
    // is logged before it is answered.
    QStringList requests() const;
    int requestCount(const QString &pathPrefix) const;

private:
    quint16 m_httpPort = 0;
    quint16 m_httpsPort = 0;
};
