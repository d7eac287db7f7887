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

    QString httpUrl() const;   // http://127.0.0.1:port, no trailing slash
    QString httpsUrl() const;  // https://127.0.0.1:port
    quint16 httpPort() const { return m_httpPort; }
    quint16 httpsPort() const { return m_httpsPort; }
    QString caFile() const;
    QString docRoot() const { return m_docRoot; }

    // One line per request, oldest first: "METHOD URI STATUS USER-AGENT".
    QStringList accessLog() const;
    // The same once no new line has come for quietMs: nginx writes a line
    // after it answered, so a client can be ahead of the log.
    QStringList settledAccessLog(int quietMs = 150) const;
    // The same requests, one line each: "CONNECTION REQUEST-ON-IT URI", where
    // CONNECTION is nginx's serial number of the TCP connection.
    QStringList connectionLog() const;
    // How many TCP connections carried these lines of connectionLog().
    static int connectionsUsed(const QStringList &connectionLines);

    // Writes a generated tile tree z/x/y.png for every tile of zoom levels
    // minZoom..maxZoom; every tile gets a colour of its own and its numbers.
    static bool writeTileTree(const QString &root, int minZoom, int maxZoom);
    static QByteArray tilePng(int x, int y, int zoom);
    // The image encoded as PNG.
    static QByteArray pngBytes(const QImage &image);

private:
    quint16 m_httpPort = 0;
    quint16 m_httpsPort = 0;
    QString m_docRoot;
};
