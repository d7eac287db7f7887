#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

class QImage;

// Tile bodies made at test time: real ones encoded by Qt, hand-made PNGs with
// every CRC right, and bodies framed like images that are no sound tile.
namespace TileBodies {

// A painted square image of this side in the format ("PNG", "JPEG", ...).
QByteArray encoded(const char *format, int side = 256, int quality = -1);
QByteArray saved(const QImage &image, const char *format);

// A PNG made by hand: the header as given, a palette for colour type 3, and
// raw image data (filter bytes included) deflated, cutBytes taken off the end
// of the zlib stream.
QByteArray pngOf(quint32 width, quint32 height, int depth, int colourType, int interlace, const QByteArray &raw,
                 int cutBytes = 0);
// The raw data of a grey 8-bit image, pass by pass when interlaced.
QByteArray rawGrey(int width, int height, bool interlaced);
// Where the data of the first chunk of this type starts in a PNG.
int chunkData(const QByteArray &png, const char *type);

// A palette PNG with roads, areas and labels: about the size and entropy of
// a rendered street map tile. Sparse tiles (countryside, sea) have few
// features and are a few KiB.
QByteArray mapLike(int seed, bool sparse = false);

// The broken bodies every reader of tiles must refuse: a flipped byte in the
// image data, a wrong header CRC, 100,000 px a side with tiny data, a zlib
// stream cut inside complete chunks, a 10,000 px one-colour PNG and a JPEG
// without its end marker.
QVector<QPair<QString, QByteArray>> unsound();

} // namespace TileBodies
