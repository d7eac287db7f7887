#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Base of the real-server fixtures used by the tests: owns a temporary working
// folder and one server process, and stops the process when it dies (also when
// a test fails half-way).
class ServerFixture
{
public:
    ServerFixture();
    virtual ~ServerFixture();
    Q_DISABLE_COPY(ServerFixture)

    QString errorString() const { return m_error; }
    QString workDir() const { return m_dir.path(); }

    // A loopback TCP port that was free a moment ago.
    static quint16 freePort();
    // True once something accepts connections on 127.0.0.1:port.
    static bool waitForPort(quint16 port, int timeoutMs = 10000);
    // The self-signed certificate made by makeCertificate(), for clients that
    // must trust the server (key.pem beside it).
    QString caFile() const { return workDir() + QStringLiteral("/cert.pem"); }
    // scheme://127.0.0.1:port, no trailing slash.
    static QString loopbackUrl(const char *scheme, quint16 port);

    // Writes text to a file below workDir(); returns the absolute path.
    QString writeFile(const QString &relativePath, const QByteArray &content) const;

protected:
    // Starts the program in the foreground; true once all ports answer.
    bool startProcess(const QString &program, const QStringList &arguments,
                      const QList<quint16> &ports, int timeoutMs = 15000);
    void stopProcess();
    void setError(const QString &error) { m_error = error; }
    // Makes cert.pem and key.pem in workDir(): a two-day self-signed
    // certificate for 127.0.0.1 and localhost.
    bool makeCertificate();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_error;
};
