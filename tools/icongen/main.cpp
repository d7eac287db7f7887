// Draws the program's five built-in icons and writes them into a folder:
//
//   035_cv_tilewright.ico  window icon: 128, 64, 48, 32 and 16 px, 32 bpp DIBs with AND mask
//   info.png               14 x 14, "Info" tool button
//   query.png              16 x 16, "Help" tool button
//   map.png                16 x 16, "Import MapView Dgml" tool button
//   export.png             16 x 16, "Export MBTiles" tool button
//
//   icongen <output folder>
//
// The generated files are committed under resources/icons; run this again only to
// change the artwork.
//
//   icongen --desktop <output folder>
//
// draws the same emblem for the desktop's icon theme, at build time:
// hicolor/<n>x<n>/apps/<name>.png for 48, 64, 128 and 256 px and
// hicolor/scalable/apps/<name>.svg (name: the application id, third argument). Everything is drawn from shapes (no fonts), so the output
// does not depend on the fonts of the machine it runs on.

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSvgGenerator>
#include <QTextStream>
#include <QtEndian>

#include <cstdio>

namespace {

QImage newCanvas(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The application emblem: a blue rounded square holding a map tile with its grid,
// and an orange download badge in the lower right corner. Drawn on a 128 unit
// square and scaled; the smallest sizes drop detail that would only blur.
void paintEmblem(QPainter &p, int size)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 128.0, size / 128.0);
    const bool tiny = size <= 16;
    const bool small = size <= 32;

    // Blue rounded square.
    const QRectF body(4, 4, 120, 120);
    QLinearGradient blue(0, 4, 0, 124);
    blue.setColorAt(0, QColor(0x4a, 0x90, 0xe8));
    blue.setColorAt(1, QColor(0x18, 0x4a, 0xa0));
    p.setPen(QPen(QColor(0x0f, 0x33, 0x75), tiny ? 8 : small ? 5 : 3));
    p.setBrush(blue);
    p.drawRoundedRect(body, 24, 24);
    if (!tiny) {
        // Soft highlight on the upper half.
        QLinearGradient gloss(0, 6, 0, 64);
        gloss.setColorAt(0, QColor(255, 255, 255, 70));
        gloss.setColorAt(1, QColor(255, 255, 255, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(gloss);
        p.drawRoundedRect(QRectF(8, 7, 112, 60), 20, 20);
    }

    // The map tile: paper, water, land, a road, then the tile grid over it.
    const QRectF tile = tiny ? QRectF(18, 18, 76, 76) : QRectF(20, 18, 74, 74);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf3, 0xf1, 0xe4));
    p.drawRect(tile);
    p.save();
    p.setClipRect(tile);
    p.setBrush(QColor(0x9c, 0xcb, 0xee));   // water in the upper left
    QPainterPath water;
    water.moveTo(20, 18);
    water.lineTo(70, 18);
    water.cubicTo(60, 34, 44, 30, 38, 46);
    water.cubicTo(33, 58, 26, 60, 20, 66);
    water.closeSubpath();
    p.drawPath(water);
    p.setBrush(QColor(0x9f, 0xd0, 0x86));   // a wood in the lower right
    QPainterPath wood;
    wood.moveTo(60, 92);
    wood.cubicTo(62, 76, 78, 70, 94, 66);
    wood.lineTo(94, 92);
    wood.closeSubpath();
    p.drawPath(wood);
    if (!tiny) {
        QPen road(QColor(0xe8, 0x92, 0x3a), small ? 5 : 4, Qt::SolidLine, Qt::RoundCap);
        p.setPen(road);
        p.setBrush(Qt::NoBrush);
        QPainterPath roadPath;
        roadPath.moveTo(20, 84);
        roadPath.cubicTo(40, 70, 52, 64, 60, 48);
        roadPath.cubicTo(66, 36, 80, 30, 94, 28);
        p.drawPath(roadPath);
    }
    p.restore();

    const int cells = small ? 2 : 3;
    p.setPen(QPen(QColor(0x3a, 0x5f, 0x9a), tiny ? 5 : small ? 3.5 : 2));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i < cells; ++i) {
        const qreal x = tile.left() + tile.width() * i / cells;
        const qreal y = tile.top() + tile.height() * i / cells;
        p.drawLine(QPointF(x, tile.top()), QPointF(x, tile.bottom()));
        p.drawLine(QPointF(tile.left(), y), QPointF(tile.right(), y));
    }
    p.setPen(QPen(QColor(0x0f, 0x33, 0x75), tiny ? 5 : small ? 3.5 : 2.5));
    p.drawRect(tile);

    // Download badge: an orange disc with a white arrow into a tray.
    const QPointF centre = tiny ? QPointF(90, 90) : QPointF(91, 91);
    const qreal radius = tiny ? 34 : small ? 31 : 28;
    QRadialGradient orange(centre - QPointF(8, 8), radius * 1.4);
    orange.setColorAt(0, QColor(0xff, 0xb3, 0x47));
    orange.setColorAt(1, QColor(0xe0, 0x6a, 0x10));
    p.setPen(QPen(Qt::white, tiny ? 6 : small ? 5 : 4));
    p.setBrush(orange);
    p.drawEllipse(centre, radius, radius);

    const qreal a = radius / 28.0;
    QPainterPath arrow;
    arrow.moveTo(centre + QPointF(-5 * a, -16 * a));
    arrow.lineTo(centre + QPointF(5 * a, -16 * a));
    arrow.lineTo(centre + QPointF(5 * a, -1 * a));
    arrow.lineTo(centre + QPointF(13 * a, -1 * a));
    arrow.lineTo(centre + QPointF(0, 12 * a));
    arrow.lineTo(centre + QPointF(-13 * a, -1 * a));
    arrow.lineTo(centre + QPointF(-5 * a, -1 * a));
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(arrow);
    if (!tiny) {
        QPen tray(Qt::white, 4 * a, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(tray);
        p.setBrush(Qt::NoBrush);
        QPainterPath trayPath;
        trayPath.moveTo(centre + QPointF(-15 * a, 9 * a));
        trayPath.lineTo(centre + QPointF(-15 * a, 17 * a));
        trayPath.lineTo(centre + QPointF(15 * a, 17 * a));
        trayPath.lineTo(centre + QPointF(15 * a, 9 * a));
        p.drawPath(trayPath);
    }
}

QImage drawEmblem(int size)
{
    QImage image = newCanvas(size);
    QPainter p(&image);
    paintEmblem(p, size);
    p.end();
    return image;
}

// The emblem at its full detail as an SVG document of 128 x 128 units.
QByteArray emblemSvg()
{
    QBuffer buffer;
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(128, 128));
    svg.setViewBox(QRect(0, 0, 128, 128));
    svg.setTitle(QStringLiteral("CvTilewright"));
    QPainter p(&svg);
    paintEmblem(p, 128);
    p.end();
    // The emblem has no text; the generator still writes the painter's unset
    // font with the invalid size -1 on every group.
    QByteArray document = buffer.data();
    document.replace(QByteArrayLiteral("font-family=\"\" font-size=\"-1\" font-weight=\"400\" font-style=\"normal\" "),
                     QByteArray());
    return document;
}

// A blue disc with a light rim, the background of the info and help glyphs.
void drawBadge(QPainter &p, const QRectF &r)
{
    QLinearGradient blue(0, r.top(), 0, r.bottom());
    blue.setColorAt(0, QColor(0x5a, 0x9c, 0xf0));
    blue.setColorAt(1, QColor(0x1c, 0x55, 0xb0));
    p.setPen(QPen(QColor(0x12, 0x3d, 0x85), 1));
    p.setBrush(blue);
    p.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
}

// "i" on a blue disc, 14 x 14.
QImage drawInfo()
{
    QImage image = newCanvas(14);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawBadge(p, QRectF(0, 0, 14, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(7, 3.9), 1.35, 1.35);   // the dot
    QPainterPath stem;                              // stem with a small foot
    stem.addRect(QRectF(6.0, 6.0, 2.0, 5.0));
    stem.addRect(QRectF(4.9, 6.0, 1.6, 1.2));
    stem.addRect(QRectF(4.9, 10.0, 4.2, 1.3));
    p.drawPath(stem.simplified());
    p.end();
    return image;
}

// "?" on a blue disc, 16 x 16.
QImage drawQuery()
{
    QImage image = newCanvas(16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawBadge(p, QRectF(0, 0, 16, 16));
    QPen hook(Qt::white, 2.1, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    p.setPen(hook);
    p.setBrush(Qt::NoBrush);
    QPainterPath curve;
    curve.moveTo(5.3, 6.0);
    curve.cubicTo(5.3, 3.2, 10.7, 3.0, 10.7, 5.9);
    curve.cubicTo(10.7, 7.8, 8.0, 8.0, 8.0, 10.2);
    p.drawPath(curve);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(8.0, 12.6), 1.25, 1.25);
    p.end();
    return image;
}

// A folded paper map with three panels, a route and a red marker, 16 x 16.
QImage drawMap()
{
    QImage image = newCanvas(16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QPointF top[4] = {QPointF(0.8, 2.6), QPointF(5.6, 1.2), QPointF(10.4, 2.6), QPointF(15.2, 1.2)};
    const QPointF bottom[4] = {QPointF(0.8, 14.2), QPointF(5.6, 12.8), QPointF(10.4, 14.2), QPointF(15.2, 12.8)};
    const QColor panels[3] = {QColor(0xf4, 0xe9, 0xc4), QColor(0xe2, 0xd3, 0xa4), QColor(0xf4, 0xe9, 0xc4)};
    for (int i = 0; i < 3; ++i) {
        QPolygonF panel;
        panel << top[i] << top[i + 1] << bottom[i + 1] << bottom[i];
        p.setPen(Qt::NoPen);
        p.setBrush(panels[i]);
        p.drawPolygon(panel);
    }
    // Water in the middle panel, a dashed route across all three.
    QPolygonF lake;
    lake << QPointF(5.6, 8.2) << QPointF(7.6, 7.0) << QPointF(10.4, 7.6) << QPointF(10.4, 11.4) << QPointF(5.6, 10.6);
    p.setBrush(QColor(0x8e, 0xc3, 0xea));
    p.drawPolygon(lake);
    QPen route(QColor(0x2e, 0x7d, 0x32), 1.2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(route);
    p.setBrush(Qt::NoBrush);
    QPainterPath routePath;
    routePath.moveTo(2.2, 11.8);
    routePath.cubicTo(4.0, 8.0, 6.5, 5.4, 9.0, 5.6);
    routePath.cubicTo(11.0, 5.8, 12.0, 8.6, 13.8, 9.0);
    p.drawPath(routePath);
    // Outline and folds.
    QPolygonF outline;
    outline << top[0] << top[1] << top[2] << top[3] << bottom[3] << bottom[2] << bottom[1] << bottom[0];
    p.setPen(QPen(QColor(0x7a, 0x62, 0x2e), 1.0, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    p.drawPolygon(outline);
    p.setPen(QPen(QColor(0x7a, 0x62, 0x2e, 150), 0.8));
    p.drawLine(top[1], bottom[1]);
    p.drawLine(top[2], bottom[2]);
    // Marker at the route's end.
    p.setPen(QPen(QColor(0x8a, 0x10, 0x10), 0.8));
    p.setBrush(QColor(0xe0, 0x2a, 0x2a));
    QPainterPath pin;
    pin.moveTo(12.9, 8.6);
    pin.cubicTo(10.6, 5.6, 10.8, 3.2, 12.9, 3.2);
    pin.cubicTo(15.0, 3.2, 15.2, 5.6, 12.9, 8.6);
    p.drawPath(pin);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(12.9, 4.9), 0.8, 0.8);
    p.end();
    return image;
}

// A database drum taking a 2 x 2 map tile, with the emblem's orange arrow
// between them, 16 x 16.
QImage drawExport()
{
    QImage image = newCanvas(16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // The tile in the upper left: four squares in the map's colours.
    const QColor squares[4] = {QColor(0xf4, 0xe9, 0xc4), QColor(0x8e, 0xc3, 0xea), QColor(0x8e, 0xc3, 0xea),
                               QColor(0xf4, 0xe9, 0xc4)};
    for (int i = 0; i < 4; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(squares[i]);
        p.drawRect(QRectF(0.5 + (i % 2) * 3.5, 0.5 + (i / 2) * 3.5, 3.5, 3.5));
    }
    p.setPen(QPen(QColor(0x7a, 0x62, 0x2e), 0.9));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 7.0, 7.0));
    // The drum in the lower right, blue like the emblem.
    QLinearGradient blue(6, 0, 16, 0);
    blue.setColorAt(0, QColor(0x5a, 0x9c, 0xf0));
    blue.setColorAt(1, QColor(0x1c, 0x55, 0xb0));
    const QColor rim(0x12, 0x3d, 0x85);
    QPainterPath drum;
    drum.moveTo(6.5, 8.6);
    drum.lineTo(6.5, 14.0);
    drum.arcTo(QRectF(6.5, 12.4, 9.0, 3.2), 180, 180);
    drum.lineTo(15.5, 8.6);
    drum.closeSubpath();
    p.setPen(QPen(rim, 0.9));
    p.setBrush(blue);
    p.drawPath(drum);
    p.setBrush(QColor(0xa8, 0xcc, 0xf7));
    p.drawEllipse(QRectF(6.5, 7.0, 9.0, 3.2));
    p.setPen(QPen(QColor(255, 255, 255, 120), 0.7));
    p.drawArc(QRectF(6.5, 9.8, 9.0, 3.0), 200 * 16, 140 * 16);
    // The arrow from the tile into the drum.
    p.setPen(QPen(QColor(0xb3, 0x4d, 0x00), 0.8));
    p.setBrush(QColor(0xff, 0x8c, 0x1a));
    QPolygonF arrow;
    arrow << QPointF(1.5, 10.0) << QPointF(3.5, 10.0) << QPointF(3.5, 8.4) << QPointF(6.2, 11.2)
          << QPointF(3.5, 14.0) << QPointF(3.5, 12.4) << QPointF(1.5, 12.4);
    p.drawPolygon(arrow);
    p.end();
    return image;
}

// One icon image as stored in an .ico file: BITMAPINFOHEADER, the colour bitmap
// (32 bpp BGRA, bottom-up) and the 1 bpp AND mask (bottom-up, rows padded to
// 32 bits, a set bit marks a transparent pixel). The header states twice the
// height because the two bitmaps are stacked.
QByteArray iconDib(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width();
    const int h = image.height();
    const int maskStride = ((w + 31) / 32) * 4;
    const quint32 colourSize = quint32(w * h * 4);
    const quint32 maskSize = quint32(maskStride * h);

    QByteArray dib(40 + int(colourSize + maskSize), '\0');
    uchar *d = reinterpret_cast<uchar *>(dib.data());
    qToLittleEndian<quint32>(40, d);                 // biSize
    qToLittleEndian<qint32>(w, d + 4);               // biWidth
    qToLittleEndian<qint32>(2 * h, d + 8);           // biHeight: colour + mask
    qToLittleEndian<quint16>(1, d + 12);             // biPlanes
    qToLittleEndian<quint16>(32, d + 14);            // biBitCount
    qToLittleEndian<quint32>(0, d + 16);             // biCompression = BI_RGB
    qToLittleEndian<quint32>(colourSize + maskSize, d + 20);   // biSizeImage

    uchar *colour = d + 40;
    uchar *mask = colour + colourSize;
    for (int row = 0; row < h; ++row) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(h - 1 - row));
        uchar *out = colour + row * w * 4;
        uchar *maskRow = mask + row * maskStride;
        for (int x = 0; x < w; ++x) {
            const QRgb px = line[x];
            out[4 * x + 0] = uchar(qBlue(px));
            out[4 * x + 1] = uchar(qGreen(px));
            out[4 * x + 2] = uchar(qRed(px));
            out[4 * x + 3] = uchar(qAlpha(px));
            if (qAlpha(px) == 0)
                maskRow[x / 8] |= uchar(0x80 >> (x % 8));
        }
    }
    return dib;
}

// ICONDIR, one ICONDIRENTRY per image, then the DIBs in the same order.
QByteArray iconFile(const QList<QImage> &images)
{
    QList<QByteArray> dibs;
    for (const QImage &image : images)
        dibs.append(iconDib(image));

    const int count = images.size();
    QByteArray file(6 + 16 * count, '\0');
    uchar *d = reinterpret_cast<uchar *>(file.data());
    qToLittleEndian<quint16>(0, d);       // reserved
    qToLittleEndian<quint16>(1, d + 2);   // type: icon
    qToLittleEndian<quint16>(quint16(count), d + 4);
    quint32 offset = quint32(file.size());
    for (int i = 0; i < count; ++i) {
        uchar *e = d + 6 + 16 * i;
        e[0] = uchar(images.at(i).width() >= 256 ? 0 : images.at(i).width());
        e[1] = uchar(images.at(i).height() >= 256 ? 0 : images.at(i).height());
        e[2] = 0;   // colour count: not a palette image
        e[3] = 0;
        qToLittleEndian<quint16>(1, e + 4);    // planes
        qToLittleEndian<quint16>(32, e + 6);   // bits per pixel
        qToLittleEndian<quint32>(quint32(dibs.at(i).size()), e + 8);
        qToLittleEndian<quint32>(offset, e + 12);
        offset += quint32(dibs.at(i).size());
    }
    for (const QByteArray &dib : qAsConst(dibs))
        file.append(dib);
    return file;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size();
}

// The icon theme's files of the emblem below folder (hicolor/...).
bool writeDesktopIcons(const QDir &folder, const QString &name)
{
    bool ok = true;
    for (int size : {48, 64, 128, 256}) {
        const QString dir = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        ok = folder.mkpath(dir) && drawEmblem(size).save(folder.filePath(dir + QLatin1Char('/') + name + QStringLiteral(".png")), "PNG") && ok;
    }
    const QString dir = QStringLiteral("hicolor/scalable/apps");
    ok = folder.mkpath(dir) && writeFile(folder.filePath(dir + QLatin1Char('/') + name + QStringLiteral(".svg")), emblemSvg()) && ok;
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QTextStream err(stderr);
    const bool desktop = args.size() == 4 && args.at(1) == QLatin1String("--desktop");
    if (args.size() != 2 && !desktop) {
        err << "usage: icongen <output folder>\n"
               "       icongen --desktop <output folder> <icon name>\n";
        return 2;
    }
    const QString folder = args.at(desktop ? 2 : 1);
    QDir out(folder);
    if (!out.mkpath(QStringLiteral("."))) {
        err << "icongen: cannot create " << folder << "\n";
        return 1;
    }
    if (desktop) {
        if (writeDesktopIcons(out, args.at(3)))
            return 0;
        err << "icongen: writing the desktop icons into " << out.absolutePath() << " failed\n";
        return 1;
    }

    QList<QImage> emblem;
    for (int size : {128, 64, 48, 32, 16})
        emblem.append(drawEmblem(size));

    bool ok = writeFile(out.filePath(QStringLiteral("035_cv_tilewright.ico")), iconFile(emblem));
    ok = drawInfo().save(out.filePath(QStringLiteral("info.png")), "PNG") && ok;
    ok = drawQuery().save(out.filePath(QStringLiteral("query.png")), "PNG") && ok;
    ok = drawMap().save(out.filePath(QStringLiteral("map.png")), "PNG") && ok;
    ok = drawExport().save(out.filePath(QStringLiteral("export.png")), "PNG") && ok;
    if (!ok) {
        err << "icongen: writing into " << out.absolutePath() << " failed\n";
        return 1;
    }
    return 0;
}
