#include "mapview/TileContent.h"

#include <algorithm>
#include <cstring>

#include <libdeflate.h>
#include <zlib.h>

#include <vector>

namespace TileContent {

namespace {

QByteArray mediaType(const QByteArray &contentType)
{
    const int semicolon = contentType.indexOf(';');
    return (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
}

bool isGeneric(const QByteArray &type)
{
    return type.isEmpty() || type == "application/octet-stream" || type == "binary/octet-stream"
           || type == "application/unknown" || type == "application/x-unknown"
           || type == "application/download" || type == "application/force-download";
}

bool isDocumentType(const QByteArray &type)
{
    if (type.startsWith("text/"))
        return true;
    if (type.endsWith("+xml") && !type.startsWith("image/"))
        return true; // e.g. application/xhtml+xml
    if (type.endsWith("xml") && type.startsWith("application/"))
        return true; // application/xml, application/vnd.ogc.se_xml
    return type == "application/json" || type.endsWith("+json");
}

bool startsWithMarkup(const QByteArray &head)
{
    int i = 0;
    if (head.startsWith("\xEF\xBB\xBF"))
        i = 3;
    while (i < head.size() && (head.at(i) == ' ' || head.at(i) == '\t' || head.at(i) == '\r' || head.at(i) == '\n'))
        ++i;
    if (i >= head.size())
        return false;
    const char first = head.at(i);
    if (first == '{' || first == '[')
        return true; // JSON error bodies
    if (first != '<')
        return false;
    const QByteArray rest = head.mid(i + 1, 32).toLower();
    return rest.startsWith("?xml") || rest.startsWith("!doctype") || rest.startsWith("html")
           || rest.startsWith("head") || rest.startsWith("body") || rest.startsWith("serviceexception")
           || rest.startsWith("ows:exception") || rest.startsWith("exception") || rest.startsWith("error")
           || rest.startsWith("!--");
}

} // namespace

bool hasImageSignature(const QByteArray &head)
{
    return head.startsWith("\x89PNG\r\n\x1a\n") || head.startsWith("\xFF\xD8\xFF") || head.startsWith("GIF87a")
           || head.startsWith("GIF89a") || head.startsWith("BM")
           || (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP") || head.startsWith("II*\0")
           || head.startsWith(QByteArray("MM\0*", 4));
}

bool isNonImageDocument(const QByteArray &contentType, const QByteArray &body)
{
    const QByteArray head = body.left(HeadBytes);
    if (hasImageSignature(head))
        return false; // a mislabelled image is still an image
    const QByteArray type = mediaType(contentType);
    if (type.startsWith("image/svg"))
        return false;
    if (!isGeneric(type) && !type.startsWith("image/") && isDocumentType(type))
        return true;
    // No type, a generic one, an image type (servers that label everything by
    // the requested extension) or another specific type (archives, ...): only
    // a body that is plainly markup or JSON counts as a document.
    return startsWithMarkup(head);
}

} // namespace TileContent

// ---------------------------------------------------------------------------
// Completeness and soundness

namespace TileContent {

namespace {

// What each collected field of a format is.
enum Step {
    Finish,          // nothing more to read: the format's end was reached
    PngChunkHeader,  // length and type of the next chunk
    PngChunkData,    // the chunk's data streams through pngData()
    PngChunkCrc,
    JpegMarkerFF,    // the 0xFF that starts a marker
    JpegMarkerCode,
    JpegLength,      // length of the segment of marker m_declared
    JpegFrame,       // precision, height, width of a frame header
    JpegEntropy,     // scan data follows
    JpegAfterFF,     // byte after an 0xFF inside scan data
    GifHeader,       // signature and logical screen descriptor
    GifBlock,        // introducer of the next block
    GifImage,        // image descriptor
    GifLzwSize,
    GifSubBlock      // size of the next data sub-block
};

const char PngSignature[] = "\x89PNG\r\n\x1a\n";
constexpr int DetectBytes = 12;
constexpr int ZipEndRecord = 22;
constexpr int ZipTailKeep = ZipEndRecord + 0xFFFF;
// What inflated image data passes through; it is counted, never kept.
constexpr int InflateBufferBytes = 16 * 1024;
// Image data that inflates to at most this is held and inflated in one go
// (every tile of 1,024 px a side in 8-bit RGBA and below); larger images
// stream through InflateBufferBytes.
constexpr qint64 WholeInflateBytes = 4 * 1024 * 1024 + 1024;
// Bytes of a WebP or BMP body that hold its dimensions (all within HeadBytes).
constexpr int WebPHeaderBytes = 30;
constexpr int BmpHeaderBytes = 26;

constexpr quint32 fourCc(const char (&name)[5])
{
    return quint32(uchar(name[0])) << 24 | quint32(uchar(name[1])) << 16 | quint32(uchar(name[2])) << 8
           | quint32(uchar(name[3]));
}

constexpr quint32 Ihdr = fourCc("IHDR");
constexpr quint32 Plte = fourCc("PLTE");
constexpr quint32 Idat = fourCc("IDAT");
constexpr quint32 Iend = fourCc("IEND");

quint32 be32(const QByteArray &b, int at)
{
    return quint32(uchar(b.at(at))) << 24 | quint32(uchar(b.at(at + 1))) << 16 | quint32(uchar(b.at(at + 2))) << 8
           | quint32(uchar(b.at(at + 3)));
}

quint16 be16(const QByteArray &b, int at)
{
    return quint16(uchar(b.at(at)) << 8 | uchar(b.at(at + 1)));
}

quint32 le32(const QByteArray &b, int at)
{
    return quint32(uchar(b.at(at))) | quint32(uchar(b.at(at + 1))) << 8 | quint32(uchar(b.at(at + 2))) << 16
           | quint32(uchar(b.at(at + 3))) << 24;
}

quint32 le24(const QByteArray &b, int at)
{
    return quint32(uchar(b.at(at))) | quint32(uchar(b.at(at + 1))) << 8 | quint32(uchar(b.at(at + 2))) << 16;
}

quint16 le16(const QByteArray &b, int at)
{
    return quint16(uchar(b.at(at)) | uchar(b.at(at + 1)) << 8);
}

bool isChunkLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Samples per pixel of a PNG colour type and whether the bit depth is one
// the format allows with it; 0 for a colour type that does not exist.
int pngChannels(int colourType, int depth)
{
    switch (colourType) {
    case 0:
        return (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16) ? 1 : 0;
    case 3:
        return (depth == 1 || depth == 2 || depth == 4 || depth == 8) ? 1 : 0;
    case 2:
    case 4:
    case 6:
        return (depth == 8 || depth == 16) ? (colourType == 2 ? 3 : colourType == 4 ? 2 : 4) : 0;
    default:
        return 0;
    }
}

// The bytes a PNG's image data inflates to: every row of every pass, each
// with its filter byte. Interlaced images come in seven passes over an 8 x 8
// grid; a pass that falls outside a small image has no rows.
qint64 pngImageBytes(qint64 width, qint64 height, int bitsPerPixel, bool interlaced)
{
    const auto rowsOf = [bitsPerPixel](qint64 w, qint64 h) {
        return (w == 0 || h == 0) ? 0 : h * (1 + (w * bitsPerPixel + 7) / 8);
    };
    if (!interlaced)
        return rowsOf(width, height);
    static const int Pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                   {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}; // x0, y0, dx, dy
    qint64 total = 0;
    for (const auto &p : Pass) {
        const qint64 w = width > p[0] ? (width - p[0] + p[2] - 1) / p[2] : 0;
        const qint64 h = height > p[1] ? (height - p[1] + p[3] - 1) / p[3] : 0;
        total += rowsOf(w, h);
    }
    return total;
}

bool isJpegFrame(qint64 code)
{
    // SOF0..SOF15 without DHT (C4), JPG (C8) and DAC (CC).
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// Types that promise one of the checked formats; a body in none of them is
// then plainly not what it says.
bool namesCheckedFormat(const QByteArray &type)
{
    return type == "image/png" || type == "image/x-png" || type == "image/jpeg" || type == "image/jpg"
           || type == "image/pjpeg" || type == "image/gif" || type == "image/webp" || type == "image/bmp"
           || type == "application/zip" || type == "application/x-zip-compressed";
}

Verdict verdictOf(Reason reason, const QString &text)
{
    Verdict v;
    v.reason = reason;
    v.text = text;
    return v;
}

QString sizeText(const char *format, qint64 width, qint64 height)
{
    return QStringLiteral("the %1 image is %2 x %3 pixels; a tile is at most %4 pixels a side")
        .arg(QLatin1String(format))
        .arg(width)
        .arg(height)
        .arg(MaxTileSide);
}

bool plausibleSides(qint64 width, qint64 height)
{
    return width >= 1 && height >= 1 && width <= MaxTileSide && height <= MaxTileSide;
}

// The dimensions of a WebP image from its first chunk (lossy, lossless or
// extended); an empty text when they are a tile's.
QString webpProblem(const QByteArray &head)
{
    if (head.size() < WebPHeaderBytes - 5)
        return QStringLiteral("the WebP image ends inside its header");
    const QByteArray chunk = head.mid(12, 4);
    qint64 width = 0, height = 0;
    if (chunk == "VP8L") {
        if (uchar(head.at(20)) != 0x2F)
            return QStringLiteral("the WebP image has a broken lossless header");
        const quint32 bits = le32(head, 21);
        width = (bits & 0x3FFF) + 1;
        height = ((bits >> 14) & 0x3FFF) + 1;
    } else if (head.size() < WebPHeaderBytes) {
        return QStringLiteral("the WebP image ends inside its header");
    } else if (chunk == "VP8 ") {
        if (head.mid(23, 3) != QByteArray("\x9D\x01\x2A", 3))
            return QStringLiteral("the WebP image has a broken frame header");
        width = le16(head, 26) & 0x3FFF;
        height = le16(head, 28) & 0x3FFF;
    } else if (chunk == "VP8X") {
        width = qint64(le24(head, 24)) + 1;
        height = qint64(le24(head, 27)) + 1;
    } else {
        return QStringLiteral("the WebP image starts with an unknown chunk");
    }
    return plausibleSides(width, height) ? QString() : sizeText("WebP", width, height);
}

QString bmpProblem(const QByteArray &head)
{
    if (head.size() < BmpHeaderBytes)
        return QStringLiteral("the bitmap ends inside its header");
    qint64 width = 0, height = 0;
    if (le32(head, 14) == 12) { // the old core header: unsigned 16-bit sides
        width = le16(head, 18);
        height = le16(head, 20);
    } else {
        width = qint32(le32(head, 18));
        height = qAbs(qint64(qint32(le32(head, 22)))); // negative: rows top down
    }
    return plausibleSides(width, height) ? QString() : sizeText("bitmap", width, height);
}

// Inflates a whole zlib stream into a buffer of exactly the size expected,
// kept per thread so no tile pays for an allocation. libdeflate does this
// several times faster than zlib's streaming inflate (checksum included),
// which counts: every tile a job stores is judged so.
class WholeInflater
{
public:
    WholeInflater() : m_decompressor(libdeflate_alloc_decompressor()) {}
    ~WholeInflater()
    {
        if (m_decompressor)
            libdeflate_free_decompressor(m_decompressor);
    }
    Q_DISABLE_COPY(WholeInflater)

    // True when the stream inflates to exactly `expected` bytes.
    bool inflatesTo(const QByteArray &stream, qint64 expected)
    {
        if (!m_decompressor)
            return false;
        if (m_out.size() < size_t(expected))
            m_out.resize(size_t(expected));
        size_t in = 0;
        size_t out = 0;
        return libdeflate_zlib_decompress_ex(m_decompressor, stream.constData(), size_t(stream.size()), m_out.data(),
                                             size_t(expected), &in, &out)
                   == LIBDEFLATE_SUCCESS
               && out == size_t(expected);
    }

private:
    libdeflate_decompressor *m_decompressor;
    std::vector<char> m_out;
};

} // namespace

// The zlib stream of a PNG's image data, alive from its first IDAT chunk.
struct Checker::Inflater
{
    z_stream stream{};
    bool ready = false;

    Inflater() { ready = inflateInit(&stream) == Z_OK; }
    ~Inflater()
    {
        if (ready)
            inflateEnd(&stream);
    }
    Q_DISABLE_COPY(Inflater)
};

QString reasonName(Reason reason)
{
    switch (reason) {
    case Reason::Ok:
        return QStringLiteral("ok");
    case Reason::LengthMismatch:
        return QStringLiteral("body shorter than announced");
    case Reason::Document:
        return QStringLiteral("error document instead of content");
    case Reason::Incomplete:
        return QStringLiteral("incomplete body");
    case Reason::Corrupt:
        return QStringLiteral("corrupt body");
    case Reason::NotItsType:
        return QStringLiteral("body is not of its type");
    case Reason::Unsound:
        return QStringLiteral("not a sound tile");
    }
    return QString();
}

Checker::Checker(const QByteArray &contentType, qint64 contentLength, Depth depth)
    : m_contentType(mediaType(contentType))
    , m_contentLength(contentLength)
    , m_depth(depth)
{
}

Checker::~Checker() = default;

void Checker::setContentType(const QByteArray &contentType)
{
    m_contentType = mediaType(contentType);
}

void Checker::add(const char *data, qint64 size)
{
    if (size <= 0)
        return;
    const qint64 before = m_received;
    if (m_head.size() < HeadBytes)
        m_head.append(data, int(qMin<qint64>(size, HeadBytes - m_head.size())));
    m_received += size;
    if (m_format == Format::Undecided) {
        if (m_received < DetectBytes)
            return;
        detect();
        // What came before this piece is all in the head (it is shorter
        // than DetectBytes).
        if (before > 0)
            feed(m_head.constData(), before);
    }
    feed(data, size);
}

void Checker::detect()
{
    const QByteArray &h = m_head;
    if (h.startsWith(QByteArray::fromRawData(PngSignature, 8))) {
        m_format = Format::Png;
        need(8, PngChunkHeader);
        m_skip = 8; // the signature itself
    } else if (h.startsWith("\xFF\xD8\xFF")) {
        m_format = Format::Jpeg;
        m_skip = 2; // SOI
        need(1, JpegMarkerFF);
    } else if (h.startsWith("GIF87a") || h.startsWith("GIF89a")) {
        m_format = Format::Gif;
        need(13, GifHeader);
    } else if (h.size() >= DetectBytes && h.startsWith("RIFF") && h.mid(8, 4) == "WEBP") {
        m_format = Format::WebP;
        m_declared = qint64(le32(h, 4)) + 8;
    } else if (h.size() >= 10 && h.startsWith("BM") && le32(h, 6) == 0) {
        m_format = Format::Bmp; // reserved words are zero in every real bitmap
        m_declared = le32(h, 2);
    } else if (h.startsWith(QByteArray("PK\x03\x04", 4)) || h.startsWith(QByteArray("PK\x05\x06", 4))) {
        m_format = Format::Zip;
    } else {
        m_format = hasImageSignature(h) ? Format::Other : Format::Unknown;
    }
}

void Checker::need(int bytes, int step)
{
    m_field.clear();
    m_need = bytes;
    m_step = step;
}

void Checker::skip(qint64 bytes, int next)
{
    m_skip = bytes;
    need(1, next);
}

void Checker::fail(const QString &why, Reason reason)
{
    m_state = State::Failed;
    m_failReason = reason;
    m_failure = why;
}

bool Checker::sideOutOfBounds(const char *format, qint64 width, qint64 height)
{
    if (plausibleSides(width, height))
        return false;
    fail(sizeText(format, width, height), Reason::Unsound);
    return true;
}

void Checker::feed(const char *data, qint64 size)
{
    if (m_format == Format::Zip) {
        m_tail.append(data, int(size));
        if (m_tail.size() > 2 * ZipTailKeep)
            m_tail.remove(0, m_tail.size() - ZipTailKeep);
        return;
    }
    if (m_format == Format::WebP || m_format == Format::Bmp) {
        // Judged by their header as soon as it is in, and by length at the end.
        const bool webp = m_format == Format::WebP;
        if (m_state == State::Fields && m_head.size() >= (webp ? WebPHeaderBytes : BmpHeaderBytes)) {
            const QString problem = webp ? webpProblem(m_head) : bmpProblem(m_head);
            if (problem.isEmpty())
                m_state = State::Done;
            else
                fail(problem, Reason::Unsound);
        }
        return;
    }
    if (m_format != Format::Png && m_format != Format::Jpeg && m_format != Format::Gif)
        return; // judged at the end, or not at all
    qint64 i = 0;
    while (i < size && (m_state == State::Fields || m_state == State::Entropy)) {
        if (m_png.chunkLeft > 0) {
            const qint64 n = qMin(m_png.chunkLeft, size - i);
            pngData(data + i, n);
            m_png.chunkLeft -= n;
            i += n;
            if (m_png.chunkLeft == 0 && m_state == State::Fields) {
                if (m_png.chunkType == Ihdr)
                    pngHeader();
                need(4, PngChunkCrc);
            }
            continue;
        }
        if (m_skip > 0) {
            const qint64 n = qMin(m_skip, size - i);
            m_skip -= n;
            i += n;
            continue;
        }
        if (m_state == State::Entropy) {
            const void *ff = memchr(data + i, 0xFF, size_t(size - i));
            if (!ff) {
                i = size;
                break;
            }
            i = static_cast<const char *>(ff) - data + 1;
            m_state = State::Fields;
            need(1, JpegAfterFF);
            continue;
        }
        const int take = int(qMin<qint64>(m_need - m_field.size(), size - i));
        m_field.append(data + i, take);
        i += take;
        if (m_field.size() == m_need)
            field();
    }
}

void Checker::pngChunkHeader()
{
    const QByteArray &f = m_field;
    const quint32 length = be32(f, 0);
    const QByteArray type = f.mid(4, 4);
    if (length > 0x7FFFFFFFu || !std::all_of(type.begin(), type.end(), isChunkLetter)) {
        fail(QStringLiteral("the PNG image holds a broken chunk"));
        return;
    }
    PngState &png = m_png;
    png.chunkType = be32(f, 4);
    png.crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(f.constData() + 4), 4));
    if (m_declared == 0 && (png.chunkType != Ihdr || length != 13)) {
        fail(QStringLiteral("the PNG image does not start with its header chunk"));
        return;
    }
    if (m_declared > 0 && png.chunkType == Ihdr) {
        fail(QStringLiteral("the PNG image has a second header chunk"), Reason::Unsound);
        return;
    }
    ++m_declared; // chunks seen
    if (png.chunkType == Idat && png.colourType == 3 && !png.palette) {
        fail(QStringLiteral("the PNG image has no palette before its image data"), Reason::Unsound);
        return;
    }
    if (png.chunkType == Plte)
        png.palette = true;
    if (png.chunkType == Iend && png.whole) {
        inflateWhole();
        if (m_state == State::Failed)
            return;
    }
    if (png.chunkType == Iend && m_depth == Depth::Framing) {
        if (!png.sawData) {
            fail(QStringLiteral("the PNG image holds no image data"), Reason::Unsound);
            return;
        }
    } else if (png.chunkType == Iend && !png.dataEnded) {
        fail(png.inflated == 0 && !m_inflater ? QStringLiteral("the PNG image holds no image data")
                                              : QStringLiteral("the PNG image's data inflates to %1 of the %2 bytes "
                                                               "its header gives")
                                                    .arg(png.inflated)
                                                    .arg(png.expected),
             Reason::Unsound);
        return;
    }
    png.chunkLeft = length;
    if (length > 0)
        need(0, PngChunkData); // pngData() collects the header chunk's 13 bytes
    else
        need(4, PngChunkCrc);
}

void Checker::pngData(const char *data, qint64 size)
{
    PngState &png = m_png;
    png.crc = quint32(crc32(png.crc, reinterpret_cast<const Bytef *>(data), uInt(size)));
    if (png.chunkType == Ihdr)
        m_field.append(data, int(size));
    else if (png.chunkType == Idat && m_depth == Depth::Framing)
        png.sawData = true;
    else if (png.chunkType == Idat && png.whole)
        png.deflated.append(data, int(size));
    else if (png.chunkType == Idat && !png.dataEnded)
        inflate(data, size);
    // Bytes after the end of the zlib stream are tolerated, as decoders do.
}

void Checker::pngHeader()
{
    const QByteArray &f = m_field;
    const qint64 width = be32(f, 0);
    const qint64 height = be32(f, 4);
    const int depth = uchar(f.at(8));
    const int colourType = uchar(f.at(9));
    if (sideOutOfBounds("PNG", width, height))
        return;
    const int channels = pngChannels(colourType, depth);
    if (channels == 0) {
        fail(QStringLiteral("the PNG image gives bit depth %1 with colour type %2").arg(depth).arg(colourType),
             Reason::Unsound);
        return;
    }
    if (f.at(10) != 0 || f.at(11) != 0 || uchar(f.at(12)) > 1) {
        fail(QStringLiteral("the PNG image names an unknown compression, filter or interlace method"), Reason::Unsound);
        return;
    }
    m_png.colourType = colourType;
    m_png.expected = pngImageBytes(width, height, channels * depth, f.at(12) == 1);
    m_png.whole = m_depth == Depth::Sound && m_png.expected <= WholeInflateBytes;
}

void Checker::inflate(const char *data, qint64 size)
{
    if (!m_inflater)
        m_inflater = std::make_unique<Inflater>();
    if (!m_inflater->ready) {
        fail(QStringLiteral("the PNG image's data cannot be inflated here"), Reason::Unsound);
        return;
    }
    z_stream &z = m_inflater->stream;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    z.avail_in = uInt(size);
    Bytef out[InflateBufferBytes];
    for (;;) {
        z.next_out = out;
        z.avail_out = sizeof out;
        const int result = ::inflate(&z, Z_NO_FLUSH);
        m_png.inflated += qint64(sizeof out - z.avail_out);
        if (m_png.inflated > m_png.expected) {
            fail(QStringLiteral("the PNG image's data inflates to more than the %1 bytes its header gives")
                     .arg(m_png.expected),
                 Reason::Unsound);
            return;
        }
        if (result == Z_STREAM_END) {
            m_png.dataEnded = true;
            if (m_png.inflated != m_png.expected)
                fail(QStringLiteral("the PNG image's data inflates to %1 of the %2 bytes its header gives")
                         .arg(m_png.inflated)
                         .arg(m_png.expected),
                     Reason::Unsound);
            return;
        }
        if (result != Z_OK && result != Z_BUF_ERROR) {
            fail(QStringLiteral("the PNG image's data does not inflate"), Reason::Unsound);
            return;
        }
        // Done with this piece once all of it is taken and nothing is pending
        // (a full output buffer may hide more), or when no progress is possible.
        if ((z.avail_in == 0 && z.avail_out != 0) || result == Z_BUF_ERROR)
            return;
    }
}

// Only a clean result is taken from the one-go inflate; anything else goes
// the streaming way over the same bytes, which says what is wrong.
void Checker::inflateWhole()
{
    PngState &png = m_png;
    png.whole = false;
    const QByteArray stream = std::move(png.deflated);
    png.deflated = QByteArray();
    if (stream.isEmpty())
        return;
    thread_local WholeInflater inflater;
    if (inflater.inflatesTo(stream, png.expected)) {
        png.inflated = png.expected;
        png.dataEnded = true;
        return;
    }
    inflate(stream.constData(), stream.size());
}

void Checker::jpegMarker(unsigned char code)
{
    if (code == 0xD9) {
        if (m_sawFrame)
            m_state = State::Done;
        else
            fail(QStringLiteral("the JPEG image has no frame header"), Reason::Unsound);
    } else if (code == 0xFF) {
        need(1, JpegMarkerCode); // fill bytes
    } else if (code == 0x01 || code == 0xD8 || (code >= 0xD0 && code <= 0xD7)) {
        need(1, JpegMarkerFF); // markers without a segment
    } else if (code == 0x00) {
        fail(QStringLiteral("the JPEG image holds an invalid marker"));
    } else {
        m_declared = code;
        need(2, JpegLength);
    }
}

void Checker::gifBlock(int step)
{
    const uchar b = uchar(m_field.at(0));
    switch (step) {
    case GifBlock:
        if (b == 0x2C)
            need(9, GifImage);
        else if (b == 0x21)
            need(1, GifLzwSize); // the extension label, then sub-blocks
        else if (b == 0x3B)
            m_state = State::Done;
        else
            fail(QStringLiteral("the GIF image holds an unknown block"));
        break;
    case GifLzwSize:
        need(1, GifSubBlock);
        break;
    case GifSubBlock:
        if (b == 0)
            need(1, GifBlock);
        else
            skip(b, GifSubBlock);
        break;
    default:
        break;
    }
}

void Checker::field()
{
    const QByteArray &f = m_field;
    switch (m_step) {
    case Finish:
        m_state = State::Done; // what follows a complete image is padding
        return;
    case PngChunkHeader:
        pngChunkHeader();
        return;
    case PngChunkCrc:
        if (be32(f, 0) != m_png.crc) {
            const char name[] = {char(m_png.chunkType >> 24), char(m_png.chunkType >> 16), char(m_png.chunkType >> 8),
                                 char(m_png.chunkType)};
            fail(QStringLiteral("the PNG image's %1 chunk fails its checksum").arg(QLatin1String(name, 4)),
                 Reason::Unsound);
        } else if (m_png.chunkType == Iend) {
            m_state = State::Done;
        } else {
            need(8, PngChunkHeader);
        }
        return;
    case JpegMarkerFF:
        if (uchar(f.at(0)) == 0xFF)
            need(1, JpegMarkerCode);
        else
            need(1, JpegMarkerFF); // stray bytes between segments, as decoders allow
        return;
    case JpegMarkerCode:
    case JpegAfterFF: {
        const uchar code = uchar(f.at(0));
        if (m_step == JpegAfterFF && (code == 0x00 || (code >= 0xD0 && code <= 0xD7))) {
            m_state = State::Entropy; // stuffed byte or restart marker: scan data goes on
            return;
        }
        if (m_step == JpegAfterFF && code == 0xFF) {
            need(1, JpegAfterFF);
            return;
        }
        jpegMarker(code);
        return;
    }
    case JpegLength: {
        const int length = be16(f, 0);
        if (length < 2 || (isJpegFrame(m_declared) && length < 8)) {
            fail(QStringLiteral("the JPEG image holds a broken segment"));
            return;
        }
        if (isJpegFrame(m_declared)) {
            m_segmentRest = length - 8;
            need(6, JpegFrame);
        } else if (m_declared == 0xDA) {
            if (!m_sawFrame) {
                fail(QStringLiteral("the JPEG image has a scan before its frame header"), Reason::Unsound);
                return;
            }
            m_skip = length - 2;
            need(0, JpegEntropy); // after the scan header
            m_state = State::Entropy;
        } else {
            m_skip = length - 2;
            need(1, JpegMarkerFF);
        }
        return;
    }
    case JpegFrame:
        if (sideOutOfBounds("JPEG", be16(f, 3), be16(f, 1)))
            return;
        m_sawFrame = true;
        skip(m_segmentRest, JpegMarkerFF);
        return;
    case GifHeader: {
        if (le16(f, 6) > MaxTileSide || le16(f, 8) > MaxTileSide) {
            sideOutOfBounds("GIF", le16(f, 6), le16(f, 8));
            return;
        }
        const uchar packed = uchar(f.at(10));
        m_skip = (packed & 0x80) ? 3 << ((packed & 7) + 1) : 0;
        need(1, GifBlock);
        return;
    }
    case GifImage: {
        // A frame may be empty; its size still bounds what a decoder allocates.
        if (le16(f, 4) > MaxTileSide || le16(f, 6) > MaxTileSide) {
            sideOutOfBounds("GIF", le16(f, 4), le16(f, 6));
            return;
        }
        const uchar packed = uchar(f.at(8));
        m_skip = (packed & 0x80) ? 3 << ((packed & 7) + 1) : 0;
        need(1, GifLzwSize);
        return;
    }
    default:
        gifBlock(m_step);
        return;
    }
}

Verdict Checker::verdict() const
{
    if (m_contentLength >= 0 && m_received != m_contentLength)
        return verdictOf(Reason::LengthMismatch, QStringLiteral("%1 of %2 announced bytes arrived")
                                                     .arg(m_received)
                                                     .arg(m_contentLength));
    if (m_received == 0)
        return Verdict();
    if (isNonImageDocument(m_contentType, m_head))
        return verdictOf(Reason::Document, QStringLiteral("the answer is a document, not content"));
    if (m_format == Format::Undecided) {
        // Fewer bytes than a signature: judge what there is, as a whole.
        Checker whole(m_contentType, -1, m_depth);
        whole.m_head = m_head;
        whole.m_received = m_received;
        whole.detect();
        whole.feed(m_head.constData(), m_head.size());
        return whole.verdict();
    }
    if (m_state == State::Failed)
        return verdictOf(m_failReason, m_failure);

    // A scan that ran to the end of the body without its EOI, or a chunk cut
    // in the middle, is incomplete.
    const bool finished = m_state == State::Done || (m_skip == 0 && m_step == Finish && m_state == State::Fields);
    switch (m_format) {
    case Format::Png:
        if (!finished)
            return verdictOf(Reason::Incomplete, QStringLiteral("the PNG image ends before its IEND chunk"));
        return Verdict();
    case Format::Jpeg:
        if (!finished)
            return verdictOf(Reason::Incomplete, QStringLiteral("the JPEG image ends before its EOI marker"));
        return Verdict();
    case Format::Gif:
        if (!finished)
            return verdictOf(Reason::Incomplete, QStringLiteral("the GIF image ends before its trailer"));
        return Verdict();
    case Format::WebP: {
        if (m_declared < 12 || (m_declared & 1))
            return verdictOf(Reason::Corrupt, QStringLiteral("the WebP image gives an impossible RIFF size"));
        if (m_received < m_declared)
            return verdictOf(Reason::Incomplete, QStringLiteral("the WebP image has %1 of the %2 bytes its RIFF "
                                                                "header gives")
                                                     .arg(m_received)
                                                     .arg(m_declared));
        const QString problem = m_state == State::Done ? QString() : webpProblem(m_head);
        return problem.isEmpty() ? Verdict() : verdictOf(Reason::Unsound, problem);
    }
    case Format::Bmp: {
        if (m_declared != 0 && m_received < m_declared)
            return verdictOf(Reason::Incomplete, QStringLiteral("the bitmap has %1 of the %2 bytes its header gives")
                                                     .arg(m_received)
                                                     .arg(m_declared));
        const QString problem = m_state == State::Done ? QString() : bmpProblem(m_head);
        return problem.isEmpty() ? Verdict() : verdictOf(Reason::Unsound, problem);
    }
    case Format::Zip: {
        // The end record is the last thing in the archive, followed only by its
        // comment; search from the end for one whose comment length fits.
        const QByteArray &t = m_tail;
        for (int p = t.size() - ZipEndRecord; p >= 0 && p >= t.size() - ZipTailKeep; --p) {
            if (t.at(p) != 'P' || t.at(p + 1) != 'K' || t.at(p + 2) != 5 || t.at(p + 3) != 6)
                continue;
            if (p + ZipEndRecord + le16(t, p + 20) != t.size())
                continue;
            const quint32 directorySize = le32(t, p + 12);
            const quint32 directoryOffset = le32(t, p + 16);
            const qint64 recordAt = m_received - t.size() + p;
            if (directorySize != 0xFFFFFFFFu && directoryOffset != 0xFFFFFFFFu
                && qint64(directoryOffset) + directorySize > recordAt)
                return verdictOf(Reason::Corrupt, QStringLiteral("the zip archive's directory lies past its end"));
            return Verdict();
        }
        return verdictOf(Reason::Incomplete, QStringLiteral("the zip archive ends without its central directory"));
    }
    case Format::Other:
        return Verdict();
    case Format::Unknown:
    case Format::Undecided:
        break;
    }
    if (namesCheckedFormat(m_contentType))
        return verdictOf(Reason::NotItsType, QStringLiteral("the body is not the %1 its type says")
                                                 .arg(QString::fromLatin1(m_contentType)));
    return Verdict();
}

Verdict check(const QByteArray &contentType, const QByteArray &body, qint64 contentLength, Depth depth)
{
    Checker checker(contentType, contentLength, depth);
    checker.add(body);
    return checker.verdict();
}

} // namespace TileContent
