#include "acquire/TileFolderDescription.h"

#include "acquire/TileFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QXmlStreamWriter>

#include <functional>

namespace {

// The deepest level a tile server offers; deeper folder names are not zooms.
constexpr int DeepestZoom = 30;
// Half the Web Mercator world's side in metres.
const char *const WorldEdge = "20037508.342789244";

QString withoutSlash(const QString &folder)
{
    QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return path == QLatin1String("/") ? QString() : path;
}

// file:///folder/{z}/{x}/{y}.ext with the reader's own placeholders. The
// folder is percent-encoded: GDAL takes no space in a file address.
QString tileAddress(const QString &folder, const QString &extension, bool dollar)
{
    const QString mark = dollar ? QStringLiteral("$") : QString();
    const QString base = QUrl::fromLocalFile(withoutSlash(folder)).toString(QUrl::FullyEncoded);
    return QStringLiteral("%1/%2{z}/%2{x}/%2{y}.%3").arg(base, mark, extension);
}

bool isNumber(const QString &name, int maxDigits)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return !name.isEmpty() && name.size() <= maxDigits && digits.match(name).hasMatch();
}

// The extension of the first zoom/x/y.ext file below the zoom folder, or
// nothing when it holds no tile.
QString firstTileExtension(const QString &zoomFolder)
{
    static const QRegularExpression tileName(QStringLiteral("^[0-9]+\\.([A-Za-z0-9]+)$"));
    const QDir zoom(zoomFolder);
    for (const QString &x : zoom.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!isNumber(x, 10))
            continue;
        const QDir column(zoom.filePath(x));
        for (const QString &file : column.entryList(QDir::Files)) {
            const QRegularExpressionMatch match = tileName.match(file);
            if (match.hasMatch())
                return match.captured(1);
        }
    }
    return QString();
}

QByteArray document(const std::function<void(QXmlStreamWriter &)> &body)
{
    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    body(xml);
    // The writer starts an element on a line of its own, also the first one.
    return text.trimmed() + '\n';
}

TileFolderDescription::Result store(const QString &path, const QByteArray &text)
{
    const TileFile::Result stored = TileFile::store(path, text);
    TileFolderDescription::Result result;
    result.ok = stored.ok();
    result.written = result.ok;
    if (!result.ok)
        result.error = QStringLiteral("%1: %2").arg(path, stored.reason());
    return result;
}

} // namespace

TileFolderDescription::Holdings TileFolderDescription::scan(const QString &folder)
{
    Holdings holdings;
    const QDir root(folder);
    for (const QString &name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!isNumber(name, 2) || name.toInt() > DeepestZoom)
            continue;
        const int zoom = name.toInt();
        if (holdings.minZoom >= 0 && zoom >= holdings.minZoom && zoom <= holdings.maxZoom)
            continue; // the range is decided by its ends only
        const QString extension = firstTileExtension(root.filePath(name));
        if (extension.isEmpty())
            continue;
        if (holdings.minZoom < 0 || zoom < holdings.minZoom)
            holdings.minZoom = zoom;
        if (zoom > holdings.maxZoom) {
            holdings.maxZoom = zoom;
            holdings.extension = extension;
        }
    }
    return holdings;
}

QString TileFolderDescription::baseName(const QString &folder)
{
    const QString name = QFileInfo(withoutSlash(folder)).fileName();
    return name.isEmpty() ? QStringLiteral("tiles") : name;
}

QString TileFolderDescription::gdalFileName(const QString &folder)
{
    return baseName(folder) + QStringLiteral(".xml");
}

QString TileFolderDescription::qgisFileName(const QString &folder)
{
    return baseName(folder) + QStringLiteral("-qgis.xml");
}

int TileFolderDescription::bandCount(const QString &extension)
{
    const QString lower = extension.toLower();
    return lower == QLatin1String("jpg") || lower == QLatin1String("jpeg") ? 3 : 4;
}

QByteArray TileFolderDescription::gdalText(const QString &folder, const Holdings &holdings)
{
    // GDAL's WMS driver wants the document to start with its element: no
    // XML declaration in front.
    return document([&](QXmlStreamWriter &xml) {
        const QString edge = QString::fromLatin1(WorldEdge);
        xml.writeStartElement(QStringLiteral("GDAL_WMS"));
        xml.writeStartElement(QStringLiteral("Service"));
        xml.writeAttribute(QStringLiteral("name"), QStringLiteral("TMS"));
        xml.writeTextElement(QStringLiteral("ServerUrl"), tileAddress(folder, holdings.extension, true));
        xml.writeEndElement();
        xml.writeStartElement(QStringLiteral("DataWindow"));
        xml.writeTextElement(QStringLiteral("UpperLeftX"), QLatin1Char('-') + edge);
        xml.writeTextElement(QStringLiteral("UpperLeftY"), edge);
        xml.writeTextElement(QStringLiteral("LowerRightX"), edge);
        xml.writeTextElement(QStringLiteral("LowerRightY"), QLatin1Char('-') + edge);
        xml.writeTextElement(QStringLiteral("TileLevel"), QString::number(holdings.maxZoom));
        xml.writeTextElement(QStringLiteral("TileCountX"), QStringLiteral("1"));
        xml.writeTextElement(QStringLiteral("TileCountY"), QStringLiteral("1"));
        xml.writeTextElement(QStringLiteral("YOrigin"), QStringLiteral("top"));
        xml.writeEndElement();
        xml.writeTextElement(QStringLiteral("Projection"), QStringLiteral("EPSG:3857"));
        xml.writeTextElement(QStringLiteral("BlockSizeX"), QStringLiteral("256"));
        xml.writeTextElement(QStringLiteral("BlockSizeY"), QStringLiteral("256"));
        xml.writeTextElement(QStringLiteral("BandsCount"), QString::number(bandCount(holdings.extension)));
        // A tile the folder lacks reads as empty instead of failing the read.
        xml.writeTextElement(QStringLiteral("ZeroBlockHttpCodes"), QStringLiteral("204,404"));
        xml.writeTextElement(QStringLiteral("ZeroBlockOnServerException"), QStringLiteral("true"));
        xml.writeEndElement();
    });
}

QByteArray TileFolderDescription::qgisText(const QString &folder, const Holdings &holdings)
{
    return document([&](QXmlStreamWriter &xml) {
        xml.writeDTD(QStringLiteral("<!DOCTYPE connections>"));
        xml.writeStartElement(QStringLiteral("qgsXYZTilesConnections"));
        xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
        xml.writeStartElement(QStringLiteral("xyztiles"));
        xml.writeAttribute(QStringLiteral("name"), baseName(folder));
        xml.writeAttribute(QStringLiteral("url"), tileAddress(folder, holdings.extension, false));
        xml.writeAttribute(QStringLiteral("zmin"), QString::number(holdings.minZoom));
        xml.writeAttribute(QStringLiteral("zmax"), QString::number(holdings.maxZoom));
        xml.writeAttribute(QStringLiteral("tilePixelRatio"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("authcfg"), QString());
        xml.writeAttribute(QStringLiteral("username"), QString());
        xml.writeAttribute(QStringLiteral("password"), QString());
        xml.writeAttribute(QStringLiteral("referer"), QString());
        xml.writeEndElement();
        xml.writeEndElement();
    });
}

TileFolderDescription::Result TileFolderDescription::write(const QString &folder)
{
    const Holdings holdings = scan(folder);
    if (holdings.isEmpty())
        return Result{true, false, QString()};
    const QDir root(folder);
    const Result gdal = store(root.filePath(gdalFileName(folder)), gdalText(folder, holdings));
    if (!gdal.ok)
        return gdal;
    return store(root.filePath(qgisFileName(folder)), qgisText(folder, holdings));
}
