#include "IcoWriter.h"

#include <QHash>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Palette images have no alpha: a pixel is drawn when at least half opaque.
const int kPaletteOpaqueFrom = 128;

void put16(QByteArray &out, quint16 value)
{
    char b[2];
    qToLittleEndian(value, b);
    out.append(b, 2);
}

void put32(QByteArray &out, quint32 value)
{
    char b[4];
    qToLittleEndian(value, b);
    out.append(b, 4);
}

int maskRowBytes(int width)
{
    return ((width + 31) / 32) * 4;
}

void putInfoHeader(QByteArray &out, int size, int depth, quint32 imageBytes)
{
    put32(out, 40);            // biSize
    put32(out, quint32(size)); // biWidth
    put32(out, quint32(size * 2)); // biHeight: colour bitmap and mask together
    put16(out, 1);             // biPlanes
    put16(out, quint16(depth));
    put32(out, 0);             // biCompression: BI_RGB
    put32(out, imageBytes);    // biSizeImage
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);             // biClrUsed: 0 means 2^depth for palette images
    put32(out, 0);
}

// Mask rows bottom-up, bit set for a transparent pixel.
QByteArray buildMask(const QImage &image, int alphaThreshold)
{
    const int size = image.width();
    const int rowBytes = maskRowBytes(size);
    QByteArray mask(rowBytes * size, '\0');
    for (int y = 0; y < size; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(size - 1 - y));
        char *row = mask.data() + y * rowBytes;
        for (int x = 0; x < size; ++x) {
            if (qAlpha(line[x]) < alphaThreshold)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
    }
    return mask;
}

struct Box
{
    int begin;
    int end;  // range into the colour list
    int channel;
    int range;
    qint64 weight;
};

struct ColourCount
{
    QRgb rgb;
    qint64 count;
};

int channelOf(QRgb rgb, int channel)
{
    return channel == 0 ? qRed(rgb) : (channel == 1 ? qGreen(rgb) : qBlue(rgb));
}

void measure(Box &box, const QVector<ColourCount> &colours)
{
    int lo[3] = {255, 255, 255};
    int hi[3] = {0, 0, 0};
    box.weight = 0;
    for (int i = box.begin; i < box.end; ++i) {
        for (int ch = 0; ch < 3; ++ch) {
            const int v = channelOf(colours[i].rgb, ch);
            lo[ch] = std::min(lo[ch], v);
            hi[ch] = std::max(hi[ch], v);
        }
        box.weight += colours[i].count;
    }
    box.channel = 0;
    box.range = -1;
    for (int ch = 0; ch < 3; ++ch) {
        if (hi[ch] - lo[ch] > box.range) {
            box.range = hi[ch] - lo[ch];
            box.channel = ch;
        }
    }
}

int nearest(const QVector<QRgb> &palette, QRgb rgb)
{
    int best = 0;
    int bestDistance = INT_MAX;
    for (int i = 0; i < palette.size(); ++i) {
        const int dr = qRed(palette[i]) - qRed(rgb);
        const int dg = qGreen(palette[i]) - qGreen(rgb);
        const int db = qBlue(palette[i]) - qBlue(rgb);
        const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

} // namespace

IcoImage encodeDib32(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    const QByteArray mask = buildMask(image, 1);
    QByteArray dib;
    putInfoHeader(dib, size, 32, quint32(size * size * 4 + mask.size()));
    for (int y = size - 1; y >= 0; --y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < size; ++x) {
            const QRgb px = line[x];
            const char bgra[4] = {char(qBlue(px)), char(qGreen(px)), char(qRed(px)), char(qAlpha(px))};
            dib.append(bgra, 4);
        }
    }
    dib.append(mask);
    return {size, 32, dib};
}

QVector<QRgb> fitPalette(const QImage &source, int maxColours)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    QHash<QRgb, qint64> histogram;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) >= kPaletteOpaqueFrom)
                ++histogram[line[x] | 0xff000000u];
        }
    }
    QVector<ColourCount> colours;
    colours.reserve(histogram.size());
    for (auto it = histogram.cbegin(); it != histogram.cend(); ++it)
        colours.append({it.key(), it.value()});
    // A fixed order keeps the output the same from run to run.
    std::sort(colours.begin(), colours.end(), [](const ColourCount &a, const ColourCount &b) { return a.rgb < b.rgb; });

    QVector<QRgb> palette;
    if (colours.size() <= maxColours) {
        for (const ColourCount &c : colours)
            palette.append(c.rgb);
        return palette;
    }

    QVector<Box> boxes;
    Box all{0, int(colours.size()), 0, 0, 0};
    measure(all, colours);
    boxes.append(all);
    while (boxes.size() < maxColours) {
        // Split the box whose colours are spread widest, weighted by use.
        int pick = -1;
        double best = -1;
        for (int i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin < 2 || boxes[i].range <= 0)
                continue;
            const double score = double(boxes[i].range) * std::sqrt(double(boxes[i].weight));
            if (score > best) {
                best = score;
                pick = i;
            }
        }
        if (pick < 0)
            break;
        Box box = boxes[pick];
        const int ch = box.channel;
        std::sort(colours.begin() + box.begin, colours.begin() + box.end,
                  [ch](const ColourCount &a, const ColourCount &b) {
                      return channelOf(a.rgb, ch) < channelOf(b.rgb, ch);
                  });
        qint64 half = box.weight / 2;
        int split = box.begin + 1;
        qint64 running = 0;
        for (int i = box.begin; i < box.end - 1; ++i) {
            running += colours[i].count;
            split = i + 1;
            if (running >= half)
                break;
        }
        Box lower{box.begin, split, 0, 0, 0};
        Box upper{split, box.end, 0, 0, 0};
        measure(lower, colours);
        measure(upper, colours);
        boxes[pick] = lower;
        boxes.append(upper);
    }
    for (const Box &box : boxes) {
        double r = 0, g = 0, b = 0;
        for (int i = box.begin; i < box.end; ++i) {
            r += qRed(colours[i].rgb) * double(colours[i].count);
            g += qGreen(colours[i].rgb) * double(colours[i].count);
            b += qBlue(colours[i].rgb) * double(colours[i].count);
        }
        const double w = double(std::max<qint64>(box.weight, 1));
        palette.append(qRgb(int(std::lround(r / w)), int(std::lround(g / w)), int(std::lround(b / w))));
    }
    return palette;
}

IcoImage encodeDib8(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    // Entry 0 stays black: transparent pixels carry it so that AND mask and
    // colour bitmap together leave the screen untouched.
    QVector<QRgb> palette{qRgb(0, 0, 0)};
    palette += fitPalette(image, 255);

    const int rowBytes = (size + 3) & ~3;
    const QByteArray mask = buildMask(image, kPaletteOpaqueFrom);
    QByteArray dib;
    putInfoHeader(dib, size, 8, quint32(rowBytes * size + mask.size()));
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < palette.size() ? palette[i] : qRgb(0, 0, 0);
        const char bgr0[4] = {char(qBlue(c)), char(qGreen(c)), char(qRed(c)), 0};
        dib.append(bgr0, 4);
    }
    QHash<QRgb, int> lookup;
    for (int y = size - 1; y >= 0; --y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < size; ++x) {
            if (qAlpha(line[x]) < kPaletteOpaqueFrom)
                continue;
            const QRgb rgb = line[x] | 0xff000000u;
            auto it = lookup.constFind(rgb);
            if (it == lookup.constEnd())
                it = lookup.insert(rgb, nearest(palette, rgb));
            row[x] = char(it.value());
        }
        dib.append(row);
    }
    dib.append(mask);
    return {size, 8, dib};
}

IcoFile buildIco(const QVector<IcoImage> &images)
{
    IcoFile file;
    QByteArray &out = file.bytes;
    put16(out, 0);  // reserved
    put16(out, 1);  // type: icon
    put16(out, quint16(images.size()));
    quint32 offset = quint32(6 + 16 * images.size());
    for (const IcoImage &image : images) {
        out.append(char(image.size >= 256 ? 0 : image.size));  // 0 stands for 256
        out.append(char(image.size >= 256 ? 0 : image.size));
        out.append(char(0));  // colour count: 0 for 8 bits and more
        out.append(char(0));
        put16(out, 1);        // planes
        put16(out, quint16(image.depth));
        put32(out, quint32(image.dib.size()));
        put32(out, offset);
        file.offsets.append(int(offset));
        offset += quint32(image.dib.size());
    }
    for (const IcoImage &image : images)
        out.append(image.dib);
    return file;
}
