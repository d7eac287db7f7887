#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

// What one request for a tile or an archive came to, on either transport
// (plain HTTP through Qt, HTTPS through libcurl): the one value the download
// job decides on. It passes whole from the transfer worker to the job.
struct FetchResult
{
    enum class Status {
        Ok,             // a complete body: stored (an archive) or in body (a tile, framing checked)
        Aborted,        // Stop
        TransportError, // name, connection, TLS, redirect loop
        HttpError,      // status 400 and above, 1xx, or a redirect not followed
        NotContent,     // a 2xx body that is no tile: a document, or not what its type says
        NotSound,       // framed like an image, but no sound tile (checksum, size, data)
        WriteError,     // the local file cannot be written
        TooLarge,       // the body passed the size bound
        Incomplete,     // the body was cut short
        Unchanged,      // an empty body; the non-empty old file was kept
        DiskFull,       // no space, quota or file-size limit left for the file
        NotModified,    // 304 to a conditional request: the local file stays
        TimedOut        // no answer in time, or the answer came too slowly
    };

    Status status = Status::TransportError;
    long httpCode = 0;       // of the final answer; 0 when none came
    qint64 bodyLength = 0;   // bytes of the body as received (decoded)
    QString errorString;     // what went wrong, in plain words
    QByteArray retryAfter;   // the final answer's Retry-After (429 and 503)
    QString refusalText;     // the first line of an error answer's text
    QDateTime lastModified;  // the server's Last-Modified, when it sent one
    QByteArray body;         // an Ok tile body the job hands to the writer
    QByteArray contentType;  // of that body, for the writer's sound-tile check

    // The file holds what the server has: stored, kept (empty answer) or not modified.
    bool ok() const { return status == Status::Ok || status == Status::Unchanged || status == Status::NotModified; }
};

Q_DECLARE_METATYPE(FetchResult)
