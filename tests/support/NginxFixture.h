#pragma once

#include "ServerFixture.h"

class QImage;

// A real nginx on two loopback ports: plain HTTP and HTTPS with a self-signed
// certificate made at start (caFile() names it for clients that must trust it).
//
// Besides the document root it always serves these locations:
//   /e404/...      answers 404           /e500/...     answers 500
//   /redirect/P    302 to /P             /loop         302 to itself
//   /slow/P        the file P at 2 KiB/s  /empty/...    200 with an empty body
// extraConfig is inserted into the server block (more locations).
class NginxFixture : public ServerFixture
{
public:
    bool start(const QString &docRoot, const QString &extraConfig = QString());

    QString httpUrl() const { return loopbackUrl("http", m_httpPort); }   // http://127.0.0.1:port, no trailing slash
    QString httpsUrl() const { return loopbackUrl("https", m_httpsPort); }  // https://127.0.0.1:port
    quint16 httpPort() const { return m_httpPort; }
    quint16 httpsPort() const { return m_httpsPort; }
    QString docRoot() const { return m_docRoot; }

    // One line per request, oldest first: "METHOD URI STATUS USER-AGENT".
    // nginx writes a line only after it answered, so a client that has its
    // answer can be ahead of the log; the two calls below wait for it.
    QStringList accessLog() const;
    // The log once it holds at least atLeast lines (what it holds at the
    // time-out otherwise; the caller's comparison then fails).
    QStringList waitForAccessLog(int atLeast, int timeoutMs = 20000) const;
    // The log of every request answered so far: asks for a marker address
    // and waits for its line; nginx logs in the order it finished, so every
    // earlier answer is in the log by then. Marker requests are never listed.
    // Empty (and errorString() set) if the marker did not come through.
    QStringList completeAccessLog(int timeoutMs = 20000) const;

    // The requests again, one line each: "CONNECTION REQUEST-ON-IT URI", where
    // CONNECTION is nginx's serial number of the TCP connection. Every request
    // in the access log is here too (wait with completeAccessLog first).
    QStringList connectionLog() const;
    // How many TCP connections carried these lines of connectionLog().
    static int connectionsUsed(const QStringList &connectionLines);

    // Writes a generated tile tree z/x/y.png for every tile of zoom levels
    // minZoom..maxZoom; every tile gets a colour of its own and its numbers.
    static bool writeTileTree(const QString &root, int minZoom, int maxZoom);
    static QByteArray tilePng(int x, int y, int zoom);
    // The image encoded as PNG.
    static QByteArray pngBytes(const QImage &image);
    // A complete zip archive in form: a local header, the payload and an
    // end-of-central-directory record naming an empty directory before it.
    static QByteArray zipBytes(const QByteArray &payload);

private:
    quint16 m_httpPort = 0;
    quint16 m_httpsPort = 0;
    QString m_docRoot;
    mutable int m_markers = 0;
};
