#pragma once

#include "acquire/FetchResult.h"
#include "acquire/JobLimits.h"
#include "settings/ProxySettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstddef>
#include <functional>

class CurlEngine;

// One HTTPS transfer through libcurl, into a local file or into memory, run
// to its end on the calling thread. libcurl only moves the bytes: the body is bounded and judged
// by AnswerBody, timed by TransferWatch and written by TileFile, as on the
// plain-HTTP road. The old file at the local path is replaced only by a
// complete, sound body; otherwise it stays as it was and nothing partial remains.
namespace CurlTransfer {

struct Options
{
    QByteArray userAgent;
    // Extra CA certificates (PEM) trusted besides the system's.
    QString caBundle;
    // Used when enabled (credentials only when both are set); when not, no
    // proxy at all, whatever the environment names.
    ProxySettings proxy;
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

// A transfer's end is the one result both transports give.
using Status = FetchResult::Status;
using Result = FetchResult;

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
// A tile: the body stays in memory and an Ok result carries it, judged by its
// framing; the tile writer judges it sound and stores it.
Result fetch(CurlEngine &engine, const QString &url, const Options &options,
             const AbortTest &shouldAbort = AbortTest());

// curl_global_init once per process, curl_global_cleanup at its end. Call it
// on the main thread before the first transfer on any other thread.
void ensureGlobalInit();

} // namespace CurlTransfer
