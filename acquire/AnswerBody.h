#pragma once

#include "acquire/FetchResult.h"
#include "mapview/TileContent.h"

#include <QByteArray>
#include <QString>

#include <optional>

class TileFile;

// The body of one answer as it arrives, on either transport: bounded in
// size, judged by the content check while it streams, and kept in memory
// (a tile: the tile writer judges it sound and stores it) or streamed into
// its file (an elevation archive: TileFile commits it on the transfer worker,
// judged whole here). Of an error answer only the
// start is kept, for the first line of its text. finish() turns it, with how
// the transfer ended, into the one FetchResult both transports give.
class AnswerBody
{
public:
    // How the transfer itself ended, as its transport saw it.
    enum class Ending {
        Complete,  // the whole answer came
        Aborted,   // Stop
        TimedOut,  // TransferWatch ended it
        Network,   // name, connection, TLS, redirect loop or refused redirect
        CutShort   // the connection broke after the headers
    };

    // file: where a 2xx body goes as it streams; null keeps it in memory.
    explicit AnswerBody(qint64 limit, TileFile *file = nullptr);

    // The headers of an answer (after a redirect, of the next one).
    // announcedLength: -1 when none was sent or the body is decoded.
    void begin(int status, const QByteArray &contentType, qint64 announcedLength);
    // The type may become known only after the first bytes (libcurl).
    void setContentType(const QByteArray &contentType) { m_contentType = contentType; }
    // False when the transfer is to end now: the body passed the bound, is
    // already broken, is an overlong error page, or its file takes no more.
    bool add(const char *data, qint64 size);
    bool begun() const { return m_begun; }
    // The transfer is to end: add() would take nothing more.
    bool refused() const { return m_cut != Cut::None; }
    int status() const { return m_status; }

    // The verdict: what the job counts and whether a file is stored. A body
    // that may replace the tile is committed to the file now, or moved into
    // the result's body. conditional: the request asked If-Modified-Since.
    FetchResult finish(Ending ending, const QString &transportError, bool conditional,
                       const QDateTime &lastModified);

private:
    enum class Cut { None, TooLarge, Broken, LongErrorPage, WriteFailed };
    bool success() const { return m_status >= 200 && m_status <= 299; }
    // A body kept in memory is judged sound by the writer; here only its framing.
    TileContent::Depth depth() const { return m_file ? TileContent::Depth::Sound : TileContent::Depth::Framing; }
    QString firstLine() const;

    qint64 m_limit;
    TileFile *m_file;
    int m_status = 0;
    bool m_begun = false;
    QByteArray m_contentType;
    std::optional<TileContent::Checker> m_checker; // made at begin()
    TileContent::Checker &checker();
    QByteArray m_body;
    QByteArray m_errorHead;
    qint64 m_errorBytes = 0;
    Cut m_cut = Cut::None;
};
