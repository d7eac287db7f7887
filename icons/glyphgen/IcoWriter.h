#pragma once

#include <QByteArray>
#include <QImage>
#include <QVector>

// Encodes images as the device-independent bitmaps of icon resources and whole
// .ico files: BITMAPINFOHEADER with doubled height, colour bitmap bottom-up, then
// the 1-bit AND mask; never PNG-compressed.

struct IcoImage
{
    int size = 0;
    int depth = 0;
    QByteArray dib;
};

// 32 bits per pixel: straight-alpha BGRA plus a mask set where alpha is zero.
IcoImage encodeDib32(const QImage &image);

// 8 bits per pixel with a 256-entry palette fitted to the image; pixels under
// half opacity become transparent through the mask.
IcoImage encodeDib8(const QImage &image);

struct IcoFile
{
    QByteArray bytes;
    QVector<int> offsets;  // where each image's DIB starts inside bytes
};

// ICONDIR, one ICONDIRENTRY per image (in the given order), then the DIBs.
IcoFile buildIco(const QVector<IcoImage> &images);

// Picks up to 256 colours for the opaque pixels by median cut; exposed for tests.
QVector<QRgb> fitPalette(const QImage &image, int maxColours);
