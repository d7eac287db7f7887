#include "NginxFixture.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <unistd.h>

bool NginxFixture::start(const QString &docRoot, const QString &extraConfig)
{
    m_docRoot = QDir(docRoot).absolutePath();
    const QString dir = workDir();
    QDir().mkpath(dir + QStringLiteral("/tmp"));

    QProcess openssl;
    openssl.setWorkingDirectory(dir);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-keyout"),
                   QStringLiteral("key.pem"), QStringLiteral("-out"), QStringLiteral("cert.pem")});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        setError(QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(openssl.readAllStandardError()));
        return false;
    }

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
    access_log %2/access.log tw;
    log_format twconn '$connection $connection_requests $request_uri';
    access_log %2/connections.log twconn;
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

QString NginxFixture::httpUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_httpPort);
}

QString NginxFixture::httpsUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(m_httpsPort);
}

QString NginxFixture::caFile() const
{
    return workDir() + QStringLiteral("/cert.pem");
}

QStringList NginxFixture::accessLog() const
{
    QFile log(workDir() + QStringLiteral("/access.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList NginxFixture::connectionLog() const
{
    QFile log(workDir() + QStringLiteral("/connections.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int NginxFixture::connectionsUsed(const QStringList &connectionLines)
{
    QSet<QString> connections;
    for (const QString &line : connectionLines)
        connections.insert(line.section(QLatin1Char(' '), 0, 0));
    return connections.size();
}

QStringList NginxFixture::settledAccessLog(int quietMs) const
{
    QStringList log = accessLog();
    for (int waited = 0; waited < 5000; waited += quietMs) {
        QThread::msleep(ulong(quietMs));
        const QStringList now = accessLog();
        if (now.size() == log.size())
            break;
        log = now;
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
