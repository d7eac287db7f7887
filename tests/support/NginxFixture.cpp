#include "NginxFixture.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QNetworkProxy>
#include <QPainter>
#include <QProcess>
#include <QSet>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>

#include <unistd.h>

bool NginxFixture::start(const QString &docRoot, const QString &extraConfig)
{
    m_docRoot = QDir(docRoot).absolutePath();
    const QString dir = workDir();
    QDir().mkpath(dir + QStringLiteral("/tmp"));

    if (!makeCertificate())
        return false;

    for (int attempt = 0; attempt < 5; ++attempt) {
        m_httpPort = freePort();
        m_httpsPort = freePort();
        if (m_httpPort == m_httpsPort)
            continue;
        const QString conf = QStringLiteral(R"(
%1
worker_processes 1;
error_log %2/error.log warn;
pid %2/nginx.pid;
events { worker_connections 256; }
http {
    log_format tw '$request_method $request_uri $status $http_user_agent';
    log_format twconn '$connection $connection_requests $request_uri';
    # nginx writes the logs of a request in this order: once a line is in
    # access.log, its line in connections.log is there too.
    access_log %2/connections.log twconn;
    access_log %2/access.log tw;
    client_body_temp_path %2/tmp/body;
    proxy_temp_path %2/tmp/proxy;
    fastcgi_temp_path %2/tmp/fastcgi;
    uwsgi_temp_path %2/tmp/uwsgi;
    scgi_temp_path %2/tmp/scgi;
    types { image/png png; image/jpeg jpg; application/zip zip; text/html html; application/xml xml; }
    default_type application/octet-stream;
    keepalive_requests 100000;
    server {
        listen 127.0.0.1:%3;
        listen 127.0.0.1:%4 ssl;
        ssl_certificate %2/cert.pem;
        ssl_certificate_key %2/key.pem;
        root %5;
        location /e404/ { return 404; }
        location /e500/ { return 500; }
        location /redirect/ { rewrite ^/redirect/(.*)$ /$1 redirect; }
        location = /loop { return 302 /loop; }
        location /slow/ { alias %5/; limit_rate 2k; }
        location /empty/ { return 200 ""; }
        location ^~ /tw-log-marker/ { return 204; }
        %6
    }
}
)")
                                 .arg(geteuid() == 0 ? QStringLiteral("user root;") : QString(), dir)
                                 .arg(m_httpPort)
                                 .arg(m_httpsPort)
                                 .arg(m_docRoot, extraConfig);
        const QString confPath = writeFile(QStringLiteral("nginx.conf"), conf.toUtf8());
        if (startProcess(QStringLiteral("/usr/sbin/nginx"),
                         {QStringLiteral("-p"), dir, QStringLiteral("-c"), confPath,
                          QStringLiteral("-g"), QStringLiteral("daemon off;")},
                         {m_httpPort, m_httpsPort}))
            return true;
    }
    return false;
}


namespace {

const QString MarkerPath = QStringLiteral("/tw-log-marker/");

bool isMarker(const QString &line)
{
    return line.section(QLatin1Char(' '), 1, 1).startsWith(MarkerPath);
}

// The complete lines of the log, markers included: a line counts only once
// its newline is written.
QStringList logLines(const QString &path)
{
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = log.readAll();
    bytes.truncate(bytes.lastIndexOf('\n') + 1);
    return QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

QStringList NginxFixture::accessLog() const
{
    QStringList lines = logLines(workDir() + QStringLiteral("/access.log"));
    lines.erase(std::remove_if(lines.begin(), lines.end(), isMarker), lines.end());
    return lines;
}

QStringList NginxFixture::connectionLog() const
{
    // The marker requests of completeAccessLog() come on connections of their own.
    QStringList lines = logLines(workDir() + QStringLiteral("/connections.log"));
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const QString &line) { return line.section(QLatin1Char(' '), 2, 2).startsWith(MarkerPath); }),
                lines.end());
    return lines;
}

int NginxFixture::connectionsUsed(const QStringList &connectionLines)
{
    QSet<QString> connections;
    for (const QString &line : connectionLines)
        connections.insert(line.section(QLatin1Char(' '), 0, 0));
    return connections.size();
}

QStringList NginxFixture::waitForAccessLog(int atLeast, int timeoutMs) const
{
    QStringList log;
    const bool reached = QTest::qWaitFor([&] {
        log = accessLog();
        return log.size() >= atLeast;
    }, timeoutMs);
    if (!reached)
        qWarning("the access log holds %d lines, not the %d awaited", int(log.size()), atLeast);
    return log;
}

QStringList NginxFixture::completeAccessLog(int timeoutMs) const
{
    const QString marker = MarkerPath + QString::number(++m_markers);
    {
        // A plain blocking request past any application proxy a test has set.
        QTcpSocket socket;
        socket.setProxy(QNetworkProxy::NoProxy);
        socket.connectToHost(QStringLiteral("127.0.0.1"), m_httpPort);
        if (!socket.waitForConnected(timeoutMs)) {
            qWarning("log marker %s not sent: %s", qPrintable(marker), qPrintable(socket.errorString()));
            return {};
        }
        socket.write(QStringLiteral("GET %1 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n").arg(marker).toLatin1());
        // HTTP/1.0: nginx closes the connection after its answer.
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(timeoutMs))
            socket.readAll();
    }
    const QString wanted = QStringLiteral("GET %1 ").arg(marker);
    QStringList log;
    const bool seen = QTest::qWaitFor([&] {
        const QStringList lines = logLines(workDir() + QStringLiteral("/access.log"));
        const auto at = std::find_if(lines.cbegin(), lines.cend(),
                                     [&wanted](const QString &line) { return line.startsWith(wanted); });
        if (at == lines.cend())
            return false;
        log.clear();
        std::copy_if(lines.cbegin(), at, std::back_inserter(log), [](const QString &line) { return !isMarker(line); });
        return true;
    }, timeoutMs);
    if (!seen) {
        qWarning("log marker %s never logged", qPrintable(marker));
        return {};
    }
    return log;
}

QByteArray NginxFixture::tilePng(int x, int y, int zoom)
{
    QImage image(256, 256, QImage::Format_RGB32);
    const uint seed = uint(x) * 73856093u ^ uint(y) * 19349663u ^ uint(zoom) * 83492791u;
    image.fill(QColor::fromHsv(int(seed % 360), 90 + int(seed / 360 % 120), 200));
    QPainter painter(&image);
    painter.setPen(Qt::black);
    painter.drawRect(0, 0, 255, 255);
    painter.drawText(image.rect(), Qt::AlignCenter,
                     QStringLiteral("%1/%2/%3").arg(zoom).arg(x).arg(y));
    painter.end();
    return pngBytes(image);
}

QByteArray NginxFixture::zipBytes(const QByteArray &payload)
{
    QByteArray zip = QByteArray("PK\x03\x04", 4) + payload;
    const quint32 directoryAt = quint32(zip.size());
    QByteArray end("PK\x05\x06", 4);
    end.append(QByteArray(12, '\0')); // disks, entries and directory size: none
    for (int i = 0; i < 4; ++i)
        end.append(char((directoryAt >> (8 * i)) & 0xff));
    end.append(QByteArray(2, '\0')); // no comment
    return zip + end;
}

QByteArray NginxFixture::pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

bool NginxFixture::writeTileTree(const QString &root, int minZoom, int maxZoom)
{
    for (int z = minZoom; z <= maxZoom; ++z) {
        const int n = 1 << z;
        for (int x = 0; x < n; ++x) {
            const QString folder = QStringLiteral("%1/%2/%3").arg(root).arg(z).arg(x);
            if (!QDir().mkpath(folder))
                return false;
            for (int y = 0; y < n; ++y) {
                QFile file(QStringLiteral("%1/%2.png").arg(folder).arg(y));
                if (!file.open(QIODevice::WriteOnly) || file.write(tilePng(x, y, z)) < 0)
                    return false;
            }
        }
    }
    return true;
}
