#include "ServerFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

ServerFixture::ServerFixture()
{
    // Servers that drop privileges (nginx workers, squid) must be able to read
    // the fixture's files.
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                            | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                            | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                            | QFileDevice::ExeOther);
}

ServerFixture::~ServerFixture()
{
    stopProcess();
}

quint16 ServerFixture::freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool ServerFixture::waitForPort(quint16 port, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    return false;
}

QString ServerFixture::writeFile(const QString &relativePath, const QByteArray &content) const
{
    const QString path = m_dir.filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write(content);
    return path;
}

bool ServerFixture::startProcess(const QString &program, const QStringList &arguments,
                                 const QList<quint16> &ports, int timeoutMs)
{
    m_process.setProgram(program);
    m_process.setArguments(arguments);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("server-output.log")));
    m_process.start();
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(program, m_process.errorString());
        return false;
    }
    for (quint16 port : ports) {
        if (!waitForPort(port, timeoutMs) || m_process.state() != QProcess::Running) {
            QFile log(m_dir.filePath(QStringLiteral("server-output.log")));
            log.open(QIODevice::ReadOnly);
            m_error = QStringLiteral("%1 does not answer on port %2: %3")
                          .arg(program).arg(port).arg(QString::fromLocal8Bit(log.readAll()));
            stopProcess();
            return false;
        }
    }
    return true;
}

void ServerFixture::stopProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QString ServerFixture::loopbackUrl(const char *scheme, quint16 port)
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port);
}

bool ServerFixture::makeCertificate()
{
    QProcess openssl;
    openssl.setWorkingDirectory(workDir());
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
    return true;
}
