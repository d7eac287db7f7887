#include "acquire/ElevationMosaic.h"

#include "acquire/SourceAddress.h"
#include "acquire/TileFile.h"
#include "acquire/TileFolderDescription.h"

#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

constexpr int Regions = 6;

// Traditional longitude/latitude order, as the archives are laid out.
const char *const Wgs84 =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],"
    "AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],"
    "UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],AUTHORITY[\"EPSG\",\"4326\"]]";

QString number(double value)
{
    return QString::number(value, 'g', 17);
}

} // namespace

bool ElevationMosaic::parseName(const QString &fileName, int *lon, int *lat)
{
    static const QRegularExpression name(QStringLiteral("^([NS])([0-9]{2})([EW])([0-9]{3})\\.hgt\\.zip$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = name.match(fileName);
    if (!match.hasMatch())
        return false;
    const int latitude = match.captured(2).toInt();
    const int longitude = match.captured(4).toInt();
    const bool south = match.captured(1).compare(QLatin1String("S"), Qt::CaseInsensitive) == 0;
    const bool west = match.captured(3).compare(QLatin1String("W"), Qt::CaseInsensitive) == 0;
    if (latitude > 90 || longitude > 180)
        return false;
    *lat = south ? -latitude : latitude;
    *lon = west ? -longitude : longitude;
    return *lat < 90 && *lon < 180;
}

QVector<ElevationMosaic::Cell> ElevationMosaic::scan(const QString &folder)
{
    QVector<Cell> cells;
    QSet<QPair<int, int>> seen;
    const QDir root(folder);
    for (int region = 1; region <= Regions; ++region) {
        const QDir regionFolder(root.filePath(SourceAddress::srtmRegionFolder(region)));
        for (const QString &file : regionFolder.entryList(QDir::Files, QDir::Name)) {
            Cell cell;
            if (!parseName(file, &cell.lon, &cell.lat) || seen.contains({cell.lon, cell.lat}))
                continue;
            seen.insert({cell.lon, cell.lat});
            cell.archive = regionFolder.absoluteFilePath(file);
            cell.member = file.left(file.size() - 4); // without ".zip"
            cells.append(cell);
        }
    }
    return cells;
}

QString ElevationMosaic::fileName(const QString &folder)
{
    return TileFolderDescription::baseName(folder) + QStringLiteral("-elevation.vrt");
}

QByteArray ElevationMosaic::vrtText(const QVector<Cell> &cells)
{
    int west = 180, east = -180, south = 90, north = -90;
    for (const Cell &cell : cells) {
        west = std::min(west, cell.lon);
        east = std::max(east, cell.lon);
        south = std::min(south, cell.lat);
        north = std::max(north, cell.lat);
    }
    const int width = (east - west + 1) * SamplesPerDegree + 1;
    const int height = (north - south + 1) * SamplesPerDegree + 1;
    const double step = 1.0 / SamplesPerDegree;

    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartElement(QStringLiteral("VRTDataset"));
    xml.writeAttribute(QStringLiteral("rasterXSize"), QString::number(width));
    xml.writeAttribute(QStringLiteral("rasterYSize"), QString::number(height));
    xml.writeTextElement(QStringLiteral("SRS"), QString::fromLatin1(Wgs84));
    // Samples sit on the degree lines: the raster's edge is half a step out.
    xml.writeTextElement(QStringLiteral("GeoTransform"),
                         QStringLiteral("%1, %2, 0, %3, 0, -%2")
                             .arg(number(west - step / 2), number(step), number(north + 1 + step / 2)));
    xml.writeStartElement(QStringLiteral("VRTRasterBand"));
    xml.writeAttribute(QStringLiteral("dataType"), QStringLiteral("Int16"));
    xml.writeAttribute(QStringLiteral("band"), QStringLiteral("1"));
    xml.writeTextElement(QStringLiteral("NoDataValue"), QStringLiteral("-32768"));
    const QString side = QString::number(Samples);
    for (const Cell &cell : cells) {
        xml.writeStartElement(QStringLiteral("ComplexSource"));
        xml.writeStartElement(QStringLiteral("SourceFilename"));
        xml.writeAttribute(QStringLiteral("relativeToVRT"), QStringLiteral("0"));
        xml.writeCharacters(QStringLiteral("/vsizip/%1/%2").arg(cell.archive, cell.member));
        xml.writeEndElement();
        xml.writeTextElement(QStringLiteral("SourceBand"), QStringLiteral("1"));
        // Known sizes let a reader open an archive only when it reads from it.
        xml.writeEmptyElement(QStringLiteral("SourceProperties"));
        xml.writeAttribute(QStringLiteral("RasterXSize"), side);
        xml.writeAttribute(QStringLiteral("RasterYSize"), side);
        xml.writeAttribute(QStringLiteral("DataType"), QStringLiteral("Int16"));
        xml.writeAttribute(QStringLiteral("BlockXSize"), side);
        xml.writeAttribute(QStringLiteral("BlockYSize"), QStringLiteral("1"));
        xml.writeEmptyElement(QStringLiteral("SrcRect"));
        xml.writeAttribute(QStringLiteral("xOff"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("yOff"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("xSize"), side);
        xml.writeAttribute(QStringLiteral("ySize"), side);
        xml.writeEmptyElement(QStringLiteral("DstRect"));
        xml.writeAttribute(QStringLiteral("xOff"), QString::number((cell.lon - west) * SamplesPerDegree));
        xml.writeAttribute(QStringLiteral("yOff"), QString::number((north - cell.lat) * SamplesPerDegree));
        xml.writeAttribute(QStringLiteral("xSize"), side);
        xml.writeAttribute(QStringLiteral("ySize"), side);
        // A void in one archive does not hide its neighbour's shared edge.
        xml.writeTextElement(QStringLiteral("NODATA"), QStringLiteral("-32768"));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    text += '\n';
    return text;
}

ElevationMosaic::Result ElevationMosaic::write(const QString &folder)
{
    Result result;
    const QVector<Cell> cells = scan(folder);
    result.archives = cells.size();
    if (cells.isEmpty()) {
        result.ok = true;
        return result;
    }
    const QString path = QDir(folder).filePath(fileName(folder));
    const TileFile::Result stored = TileFile::store(path, vrtText(cells));
    result.ok = result.written = stored.ok();
    if (!result.ok)
        result.error = QStringLiteral("%1: %2").arg(path, stored.reason());
    return result;
}
