#include "mapview/TileContent.h"

#include <algorithm>
#include <cstring>

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
// Completeness

namespace TileContent {

namespace {

// What each collected field of a format is.
enum Step {
    Finish,          // nothing more to read: the format's end was reached
    PngChunkHeader,  // length and type of the next chunk
    JpegMarkerFF,    // the 0xFF that starts a marker
    JpegMarkerCode,
    JpegLength,      // length of the segment of marker m_declared
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

quint32 be32(const QByteArray &b, int at)
{
    return quint32(uchar(b.at(at))) << 24 | quint32(uchar(b.at(at + 1))) << 16 | quint32(uchar(b.at(at + 2))) << 8
           | quint32(uchar(b.at(at + 3)));
}

quint32 le32(const QByteArray &b, int at)
{
    return quint32(uchar(b.at(at))) | quint32(uchar(b.at(at + 1))) << 8 | quint32(uchar(b.at(at + 2))) << 16
           | quint32(uchar(b.at(at + 3))) << 24;
}

quint16 le16(const QByteArray &b, int at)
{
    return quint16(uchar(b.at(at)) | uchar(b.at(at + 1)) << 8);
}

bool isChunkLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
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

} // namespace

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
    }
    return QString();
}

Checker::Checker(const QByteArray &contentType, qint64 contentLength)
    : m_contentType(mediaType(contentType))
    , m_contentLength(contentLength)
{
}

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

void Checker::fail(const QString &why)
{
    m_state = State::Failed;
    m_failure = why;
}

void Checker::feed(const char *data, qint64 size)
{
    if (m_format == Format::Zip) {
        m_tail.append(data, int(size));
        if (m_tail.size() > 2 * ZipTailKeep)
            m_tail.remove(0, m_tail.size() - ZipTailKeep);
        return;
    }
    if (m_format != Format::Png && m_format != Format::Jpeg && m_format != Format::Gif)
        return; // judged by length at the end, or not at all
    qint64 i = 0;
    while (i < size && (m_state == State::Fields || m_state == State::Entropy)) {
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

void Checker::jpegMarker(unsigned char code)
{
    if (code == 0xD9) {
        m_state = State::Done;
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
    case PngChunkHeader: {
        const quint32 length = be32(f, 0);
        const QByteArray type = f.mid(4, 4);
        if (length > 0x7FFFFFFFu || !std::all_of(type.begin(), type.end(), isChunkLetter)) {
            fail(QStringLiteral("the PNG image holds a broken chunk"));
            return;
        }
        if (m_declared == 0 && type != "IHDR") {
            fail(QStringLiteral("the PNG image does not start with its header chunk"));
            return;
        }
        ++m_declared; // chunks seen
        if (type == "IEND") {
            m_skip = qint64(length) + 4;
            need(0, Finish);
            if (m_skip == 0)
                m_state = State::Done;
            return;
        }
        m_skip = qint64(length) + 4; // data and CRC
        need(8, PngChunkHeader);
        return;
    }
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
        const int length = uchar(f.at(0)) << 8 | uchar(f.at(1));
        if (length < 2) {
            fail(QStringLiteral("the JPEG image holds a broken segment"));
            return;
        }
        m_skip = length - 2;
        if (m_declared == 0xDA) {
            need(0, JpegEntropy); // after the scan header
            m_state = State::Entropy;
        } else {
            need(1, JpegMarkerFF);
        }
        return;
    }
    case GifHeader: {
        const uchar packed = uchar(f.at(10));
        m_skip = (packed & 0x80) ? 3 << ((packed & 7) + 1) : 0;
        need(1, GifBlock);
        return;
    }
    case GifImage: {
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
        // Fewer bytes than a signature: judge what there is.
        Checker whole(*this);
        whole.m_received = 0;
        whole.m_format = Format::Undecided;
        whole.detect();
        whole.feed(m_head.constData(), m_head.size());
        whole.m_received = m_received;
        return whole.verdict();
    }
    if (m_state == State::Failed)
        return verdictOf(Reason::Corrupt, m_failure);

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
    case Format::WebP:
        if (m_declared < 12 || (m_declared & 1))
            return verdictOf(Reason::Corrupt, QStringLiteral("the WebP image gives an impossible RIFF size"));
        if (m_received < m_declared)
            return verdictOf(Reason::Incomplete, QStringLiteral("the WebP image has %1 of the %2 bytes its RIFF "
                                                                "header gives")
                                                     .arg(m_received)
                                                     .arg(m_declared));
        return Verdict();
    case Format::Bmp:
        if (m_declared != 0 && m_received < m_declared)
            return verdictOf(Reason::Incomplete, QStringLiteral("the bitmap has %1 of the %2 bytes its header gives")
                                                     .arg(m_received)
                                                     .arg(m_declared));
        return Verdict();
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

Verdict check(const QByteArray &contentType, const QByteArray &body, qint64 contentLength)
{
    Checker checker(contentType, contentLength);
    checker.add(body);
    return checker.verdict();
}

} // namespace TileContent
