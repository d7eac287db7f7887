#pragma once

#include <QByteArray>
#include <QString>

// One libcurl easy handle kept for the life of a worker, so that consecutive
// transfers to one server travel over one kept-alive connection and resume
// its TLS session. Every transfer starts from a reset handle and sets all of
// its own options again; only connections, TLS sessions and the resolver
// cache outlive a transfer. Used on one thread at a time.
class CurlEngine
{
public:
    CurlEngine();
    ~CurlEngine();

    // The handle reset to libcurl's defaults, or null when libcurl could not
    // give one. The returned pointer is a CURL *.
    void *freshHandle();

    // Makes the transfer on handle trust the system's CA certificates plus
    // those in extraFile (PEM; may be empty). The certificates are read and
    // parsed once per process; every new TLS connection shares that store.
    void trustCertificates(void *handle, const QString &extraFile);

private:
    void *m_handle = nullptr;
    // The extra file as libcurl is given it, looked at once per engine and
    // file rather than once per transfer (none at first, which is no file).
    QString m_extraFile;
    QByteArray m_extraFileName; // empty: none, or not readable

    CurlEngine(const CurlEngine &) = delete;
    CurlEngine &operator=(const CurlEngine &) = delete;
};
