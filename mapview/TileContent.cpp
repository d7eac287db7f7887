#include "mapview/TileContent.h"

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
