#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// Judges the body of a successful (200) answer to a tile or archive request
// before it may replace anything on disk or in the map cache:
//  - is it recognisably not an image (a WMS service exception, an HTML error
//    page, a JSON error)? Such bodies must not be kept as tiles.
//  - is it complete? A connection that ends early, or a server that sends
//    half a file, leaves a body that starts like an image and stops short.
//  - is it a sound tile? A body framed like an image can still be broken
//    inside, or declare a picture so large that showing it would take
//    gigabytes: neither may replace a good tile.
namespace TileContent {

// The largest width and height a tile may declare. Tiles are 256 or 512
// pixels; anything beyond this is not a tile but a way to exhaust memory.
constexpr int MaxTileSide = 2048;

// Bytes from the start of a body that the document test looks at; a streamed
// body need keep no more than this for it.
constexpr int HeadBytes = 512;

// contentType is the raw Content-Type header value (may be empty); head is the
// body or its beginning (only the first HeadBytes are looked at). A text, XML or JSON
// type marks a document unless the body carries an image signature; under a
// missing, generic or image type (servers that label answers by the requested
// extension) the first bytes decide. Anything not recognised as a document
// counts as content (conservative: unknown formats and archives pass).
bool isNonImageDocument(const QByteArray &contentType, const QByteArray &head);

// True for the signatures of PNG, JPEG, GIF, BMP, WebP and TIFF.
bool hasImageSignature(const QByteArray &head);

enum class Reason {
    Ok,
    LengthMismatch, // fewer (or more) bytes than Content-Length announced
    Document,       // an error page or service exception, not content
    Incomplete,     // the format's end (IEND, EOI, trailer, RIFF size, directory) is missing
    Corrupt,        // the format's structure is broken before its end
    NotItsType,     // labelled as an image or archive, but it is none
    Unsound,        // framed like an image, but it cannot be decoded as a tile: a failed
                    // checksum, impossible or oversized dimensions, image data that does
                    // not inflate to the size its header gives, no frame header
};

struct Verdict
{
    Reason reason = Reason::Ok;
    QString text; // what was wrong, in plain words (empty when ok)
    bool ok() const { return reason == Reason::Ok; }
};

// How deep a check goes. Framing walks a body's structure (chunks and their
// checksums, markers, blocks, lengths, dimensions) at a few microseconds a
// tile; Sound also inflates a PNG's image data to count its bytes, which costs
// about as much as decoding it. Receiving is judged by framing, so a transfer
// is never slowed by it; a body is judged sound where it is stored, off the
// road of the next request.
enum class Depth { Framing, Sound };

// A short name of the reason ("incomplete body"), for tallies and status texts.
QString reasonName(Reason reason);

// Checks a body that arrives in pieces, so a streamed answer is judged without
// holding it whole. Memory stays bounded: a zip archive keeps its last 64 KiB,
// where the end-of-central-directory record lives; a PNG's image data is
// inflated through a small fixed buffer whose output is only counted.
//
// PNG is walked chunk by chunk to IEND, every chunk's CRC checked; its header
// must give a tile's dimensions (at most MaxTileSide per side) and a valid bit
// depth and colour type, and its image data must inflate to exactly the bytes
// those imply (filter bytes and interlace passes included). JPEG is walked
// marker by marker to EOI and needs a frame header with a tile's dimensions
// before its first scan. GIF is walked block by block to its trailer, its
// screen and every image within the bound. WebP and BMP must be as long as
// their headers say, and their dimensions within the bound. A zip archive must
// end in a consistent end-of-central-directory record. Bytes after a complete
// image are tolerated (some servers pad). A body in no known format passes
// unless its type names one of these formats.
class Checker
{
public:
    // contentLength: the announced length of the body as received, or -1 when
    // none was sent or the body was decoded from a content encoding.
    explicit Checker(const QByteArray &contentType = QByteArray(), qint64 contentLength = -1,
                     Depth depth = Depth::Sound);
    ~Checker();
    Checker(const Checker &) = delete;
    Checker &operator=(const Checker &) = delete;

    // The type may become known after the first bytes (it only matters to verdict()).
    void setContentType(const QByteArray &contentType);
    void add(const char *data, qint64 size);
    void add(const QByteArray &data) { add(data.constData(), data.size()); }

    qint64 size() const { return m_received; }
    // True once the body is known to be broken, whatever follows.
    bool failed() const { return m_state == State::Failed; }
    // The judgement of everything added so far, taken as the whole body.
    // An empty body is complete.
    Verdict verdict() const;

private:
    enum class Format { Unknown, Undecided, Png, Jpeg, Gif, WebP, Bmp, Zip, Other };
    enum class State { Fields, Entropy, Done, Failed };
    struct Inflater;

    // What a PNG's chunks have shown so far.
    struct PngState
    {
        quint32 chunkType = 0;
        qint64 chunkLeft = 0;   // data bytes of the current chunk still to come
        quint32 crc = 0;        // of the current chunk's type and data so far
        int colourType = -1;
        bool palette = false;
        bool dataEnded = false; // the image data's zlib stream is complete
        bool sawData = false;   // an image data chunk with bytes came
        qint64 expected = 0;    // inflated bytes the header implies
        qint64 inflated = 0;
        bool whole = false;     // the image data is held and inflated in one go at IEND
        QByteArray deflated;    // the image data held so
    };

    void detect();
    void feed(const char *data, qint64 size);
    void field(); // m_field holds m_need bytes
    void need(int bytes, int step);
    void skip(qint64 bytes, int next);
    void fail(const QString &why, Reason reason = Reason::Corrupt);
    void gifBlock(int step);
    void jpegMarker(unsigned char code);
    void pngChunkHeader();
    void pngHeader();
    void pngData(const char *data, qint64 size);
    void inflate(const char *data, qint64 size);
    void inflateWhole();
    bool sideOutOfBounds(const char *format, qint64 width, qint64 height);

    QByteArray m_contentType;
    qint64 m_contentLength = -1;
    Depth m_depth = Depth::Sound;
    qint64 m_received = 0;
    QByteArray m_head;   // the first HeadBytes
    QByteArray m_tail;   // the last bytes of a zip archive
    Format m_format = Format::Undecided;
    State m_state = State::Fields;
    QByteArray m_field;  // bytes of the field being collected
    int m_need = 0;
    int m_step = 0;      // what the field being collected is
    qint64 m_skip = 0;   // bytes to pass over before the next field
    qint64 m_declared = 0; // WebP / BMP length from the header; JPEG marker; PNG chunks seen
    qint64 m_segmentRest = 0; // JPEG: bytes of a frame header's segment after its dimensions
    bool m_sawFrame = false;  // JPEG: a frame header came
    PngState m_png;
    std::unique_ptr<Inflater> m_inflater;
    Reason m_failReason = Reason::Corrupt;
    QString m_failure;
};

// The whole body at once (the map cache, the tile writer, the copy worker).
Verdict check(const QByteArray &contentType, const QByteArray &body, qint64 contentLength = -1,
              Depth depth = Depth::Sound);

} // namespace TileContent
