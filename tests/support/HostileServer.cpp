#include "HostileServer.h"

#include <QDir>
#include <QFile>

bool HostileServer::start()
{
    if (!makeCertificate())
        return false;
    const QString script = QStringLiteral(TW_SOURCE_DIR "/tests/support/hostile_server.py");
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_httpPort = freePort();
        m_httpsPort = freePort();
        if (m_httpPort == m_httpsPort)
            continue;
        // Debian's interpreter: the first python3 on PATH may be another one.
        if (startProcess(QStringLiteral("/usr/bin/python3"),
                         {script, QStringLiteral("--port"), QString::number(m_httpPort), QStringLiteral("--tls-port"),
                          QString::number(m_httpsPort), QStringLiteral("--cert"), workDir() + QStringLiteral("/cert.pem"),
                          QStringLiteral("--key"), workDir() + QStringLiteral("/key.pem"), QStringLiteral("--log"),
                          workDir() + QStringLiteral("/requests.log")},
                         {m_httpPort, m_httpsPort}))
            return true;
    }
    return false;
}


QStringList HostileServer::requests() const
{
    QFile log(workDir() + QStringLiteral("/requests.log"));
    if (!log.open(QIODevice::ReadOnly))
        return QStringList();
    QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines;
}

int HostileServer::requestCount(const QString &pathPrefix) const
{
    int n = 0;
    for (const QString &line : requests())
        if (line.section(QLatin1Char(' '), 1).startsWith(pathPrefix))
            ++n;
    return n;
}
