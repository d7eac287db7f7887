#pragma once

#include "settings/ProxySettings.h"
#include "acquire/JobLimits.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstddef>
#include <functional>

class CurlEngine;

// One HTTPS transfer through libcurl into a local file, run to its end on the
// calling thread. The old file at the local path is replaced only when the
// transfer succeeded and the answer is content; otherwise it stays as it was
// and nothing partial remains.
namespace CurlTransfer {

struct Options
{
    QByteArray userAgent;
    // Extra CA certificates (PEM) trusted besides the system's.
    QString caBundle;
    ProxySettings proxy;   // used when enabled; credentials only when both are set
    int connectTimeoutSeconds = JobLimits::ConnectTimeoutSeconds;
    // A transfer slower than lowSpeedBytes per second for this long is ended.
    int lowSpeedSeconds = JobLimits::LowSpeedSeconds;
    int lowSpeedBytes = JobLimits::LowSpeedBytesPerSecond;
    int maxRedirects = 5;
    // A body above this is refused while it arrives (ArchiveBodyLimit for
    // elevation archives).
    qint64 maxBodyBytes = JobLimits::TileBodyLimit;
    // Valid: the request is conditional (If-Modified-Since); a 304 keeps the
    // local file and ends as NotModified. A stored file always takes the
    // server's Last-Modified, when there is one, as its modification time.
    QDateTime ifModifiedSince;
};

enum class Status {
    Ok,
    Aborted,        // the abort test said so (Stop)
    TransportError, // name, connection, TLS, time-out, redirect loop
    HttpError,      // status 400 and above, or a redirect not followed
    NotContent,     // a 200 answer that is an HTML/XML/JSON document
    WriteError,     // the local file cannot be written
    TooLarge,       // the body is above maxBodyBytes
    Incomplete,     // the body is cut short or not what its type says
    Unchanged,      // an empty body; the non-empty old file was kept
    DiskFull,       // no space, quota or file-size limit left for the file
    NotModified     // 304 to a conditional request: the local file stays
};

// The file holds what the server has: stored, kept (empty answer) or not modified.
inline bool succeeded(Status status)
{
    return status == Status::Ok || status == Status::Unchanged || status == Status::NotModified;
}

struct Result
{
    Status status = Status::TransportError;
    long httpCode = 0;
    QString errorString;
    // The final answer's Retry-After header, as sent (429 and 503 answers).
    QByteArray retryAfter;
    bool ok() const { return succeeded(status); }
};

// Called from libcurl's progress callback (about once a second at least, and
// on every received chunk); returning true ends the transfer.
using AbortTest = std::function<bool()>;

// On the engine's kept handle: a transfer to the server of the one before
// reuses its connection. Everything in options applies to this transfer alone.
Result fetchToFile(CurlEngine &engine, const QString &url, const QString &localPath,
                   const Options &options, const AbortTest &shouldAbort = AbortTest());
// The same on a handle of its own (a new connection).
Result fetchToFile(const QString &url, const QString &localPath, const Options &options,
                   const AbortTest &shouldAbort = AbortTest());

// libcurl's write callback: writes the items to the file held by userData and
// returns the number of items written (a short count ends the transfer). The
// body of an error status is read past and not written.
size_t writeArchiveData(char *data, size_t size, size_t count, void *userData);

// curl_global_init once per process, curl_global_cleanup at its end. Call it
// on the main thread before the first transfer on any other thread.
void ensureGlobalInit();

} // namespace CurlTransfer
