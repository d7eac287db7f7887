#include "SquidFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

// The proxy's own user reads the configuration and the password file and
// writes the logs, whatever user runs the test.
void openUp(const QString &path, bool writable)
{
    QFileDevice::Permissions p = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                 | QFileDevice::ReadOther;
    if (QFileInfo(path).isDir())
        p |= QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    if (writable)
        p |= QFileDevice::WriteGroup | QFileDevice::WriteOther;
    QFile::setPermissions(path, p);
}

} // namespace

bool SquidFixture::start(const QMap<QString, QString> &users, const QStringList &hosts)
{
    const QString dir = workDir();
    const QString passwd = writeFile(QStringLiteral("passwd"), QByteArray());
    for (auto it = users.cbegin(); it != users.cend(); ++it) {
        QProcess htpasswd;
        htpasswd.start(QStringLiteral("htpasswd"), {QStringLiteral("-b"), QStringLiteral("-m"), passwd, it.key(), it.value()});
        if (!htpasswd.waitForFinished(10000) || htpasswd.exitCode() != 0) {
            setError(QStringLiteral("htpasswd failed: ") + QString::fromLocal8Bit(htpasswd.readAllStandardError()));
            return false;
        }
    }
    QByteArray hostLines;
    for (const QString &host : hosts)
        hostLines += "127.0.0.1 " + host.toUtf8() + '\n';
    const QString hostsFile = writeFile(QStringLiteral("hosts"), hostLines);
    const QString logs = dir + QStringLiteral("/logs");
    QDir().mkpath(logs);
    openUp(logs, true);
    openUp(passwd, false);
    openUp(hostsFile, false);

    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        const QString conf = QStringLiteral(R"(
http_port 127.0.0.1:%1
pid_filename %2/squid.pid
cache_log %2/cache.log
logformat tw %rm %ru %>Hs %[un "%{User-Agent}>h"
access_log stdio:%2/access.log tw
cache deny all
cache_mem 0 MB
coredump_dir %2
netdb_filename none
pinger_enable off
icp_port 0
htcp_port 0
shutdown_lifetime 0 seconds
visible_hostname tilewright-test
cache_effective_user proxy
hosts_file %3
dns_nameservers 127.0.0.1
positive_dns_ttl 1 second
negative_dns_ttl 1 second
auth_param basic program /usr/lib/squid/basic_ncsa_auth %4
auth_param basic children 2 startup=1
auth_param basic realm tilewright
auth_param basic credentialsttl 1 second
acl authed proxy_auth REQUIRED
http_access allow authed
http_access deny all
)")
                                 .arg(m_port)
                                 .arg(logs, hostsFile, passwd);
        const QString confPath = writeFile(QStringLiteral("squid.conf"), conf.toUtf8());
        openUp(confPath, false);
        if (startProcess(QStringLiteral("/usr/sbin/squid"), {QStringLiteral("-N"), QStringLiteral("-f"), confPath},
                         {m_port}, 30000))
            return true;
    }
    return false;
}

QString SquidFixture::proxyUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QStringList SquidFixture::accessLog() const
{
    QFile log(workDir() + QStringLiteral("/logs/access.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString &line : lines)
        line.remove(QLatin1Char('"'));
    return lines;
}

bool SquidFixture::waitForLog(const QString &text, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        for (const QString &line : accessLog()) {
            if (line.contains(text))
                return true;
        }
        QTest::qWait(50);
    }
    return false;
}
