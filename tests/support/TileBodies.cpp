#include "TileBodies.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPolygonF>
#include <QRandomGenerator>

#include <zlib.h>

namespace TileBodies {

namespace {

void be32(QByteArray &b, quint32 v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        b.append(char((v >> shift) & 0xFF));
}

QByteArray pngChunk(const char *type, const QByteArray &data)
{
    QByteArray chunk;
    be32(chunk, quint32(data.size()));
    const QByteArray typed = QByteArray(type) + data;
    chunk += typed;
    be32(chunk, quint32(crc32(0, reinterpret_cast<const Bytef *>(typed.constData()), uInt(typed.size()))));
    return chunk;
}

} // namespace

QByteArray saved(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray encoded(const char *format, int side, int quality)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    QPainter painter(&image);
    painter.setPen(Qt::yellow);
    for (int i = 0; i < side; i += 7)
        painter.drawLine(0, i, side - 1, side - 1 - i); // some entropy, so the body has size
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

QByteArray pngOf(quint32 width, quint32 height, int depth, int colourType, int interlace, const QByteArray &raw,
                 int cutBytes)
{
    QByteArray header;
    be32(header, width);
    be32(header, height);
    header.append(char(depth)).append(char(colourType)).append('\0').append('\0').append(char(interlace));
    const QByteArray stream = qCompress(raw).mid(4); // without Qt's length prefix
    QByteArray png("\x89PNG\r\n\x1a\n");
    png += pngChunk("IHDR", header);
    if (colourType == 3)
        png += pngChunk("PLTE", QByteArray(3 * 4, '\x40'));
    return png + pngChunk("IDAT", stream.left(stream.size() - cutBytes)) + pngChunk("IEND", QByteArray());
}

// Counted as a decoder walks the data: every pixel of a pass in a row, behind
// the row's filter byte; a pass with no pixel in a row has no row there.
QByteArray rawGrey(int width, int height, bool interlaced)
{
    static const int Passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}; // x0, y0, dx, dy
    static const int Whole[4] = {0, 0, 1, 1};
    QByteArray raw;
    for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
        const int *p = interlaced ? Passes[pass] : Whole;
        for (int y = p[1]; y < height; y += p[3]) {
            QByteArray row(1, '\0');
            for (int x = p[0]; x < width; x += p[2])
                row.append(char(x ^ y));
            if (row.size() > 1)
                raw += row;
        }
    }
    return raw;
}

int chunkData(const QByteArray &png, const char *type)
{
    return png.indexOf(type) + 4;
}

QVector<QPair<QString, QByteArray>> unsound()
{
    const QByteArray png = encoded("PNG");
    QByteArray flipped = png;
    const int inData = chunkData(png, "IDAT") + 40;
    flipped[inData] = char(flipped.at(inData) ^ 0x10);
    QByteArray badCrc = png;
    const int crc = chunkData(png, "IHDR") + 13;
    badCrc[crc] = char(badCrc.at(crc) ^ 0x01);
    QImage huge(10000, 10000, QImage::Format_Mono);
    huge.fill(0);
    huge.setPixel(5000, 5000, 1);
    const QByteArray jpeg = encoded("JPEG", 256, 80);
    return {
        {QStringLiteral("png, a byte flipped in IDAT"), flipped},
        {QStringLiteral("png, IHDR's CRC wrong"), badCrc},
        {QStringLiteral("png, 100000 x 100000, tiny data"), pngOf(100000, 100000, 8, 2, 0, QByteArray(64, '\0'))},
        {QStringLiteral("png, zlib stream cut, chunks whole"), pngOf(256, 256, 8, 0, 0, rawGrey(256, 256, false), 6)},
        {QStringLiteral("png, 10000 x 10000, one colour"), saved(huge, "PNG")},
        {QStringLiteral("jpeg, no end marker"), jpeg.left(jpeg.size() - 2)},
    };
}

} // namespace TileBodies

// A tile with roads, areas and labels: about the size and entropy of a
// rendered street map tile, so decoding costs what it costs in use. Sparse
// tiles (countryside, sea) have few features and are a few KiB.
QByteArray TileBodies::mapLike(int seed, bool sparse)
{
    QRandomGenerator random(quint32(seed) * 2654435761u + 1);
    QImage image(256, 256, QImage::Format_RGB32);
    image.fill(QColor(242, 239, 233));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int areas = sparse ? 1 : 12, lines = sparse ? 3 : 40, labels = sparse ? 1 : 6;
    for (int i = 0; i < areas; ++i) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromHsv(int(random.bounded(360)), 40 + int(random.bounded(60)), 200 + int(random.bounded(50))));
        painter.drawRect(int(random.bounded(256)), int(random.bounded(256)), 10 + int(random.bounded(90)),
                         10 + int(random.bounded(90)));
    }
    for (int i = 0; i < lines; ++i) {
        painter.setPen(QPen(QColor::fromHsv(int(random.bounded(60)), 120, 230), 1 + random.bounded(6)));
        QPolygonF line;
        for (int k = 0; k < 5; ++k)
            line << QPointF(random.bounded(300.0) - 20, random.bounded(300.0) - 20);
        painter.drawPolyline(line);
    }
    painter.setPen(Qt::black);
    for (int i = 0; i < labels; ++i)
        painter.drawText(int(random.bounded(200)), int(random.bounded(250)), QStringLiteral("Strasse %1").arg(seed + i));
    painter.end();
    // Street map tiles are served as palette PNGs.
    image = image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}
