// glyphpack-contact-sheet: every icon group of the library at 64 pixels on one
// PNG, with its name, so the whole set can be judged at a glance.
//
//   glyphpack-contact-sheet [--all-sizes] <output.png>

#include "icons/glyphpack.h"

#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <cstdio>

namespace {

struct Decoded
{
    int size = 0;
    int depth = 0;
    QImage image;
};

QVector<Decoded> decodeGroup(int group)
{
    QVector<Decoded> result;
    const unsigned char *bytes = nullptr;
    size_t length = 0;
    if (glyphpack_group_ico(group, &bytes, &length) != GLYPHPACK_OK)
        return result;
    QBuffer buffer;
    buffer.setData(reinterpret_cast<const char *>(bytes), int(length));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    for (int i = 0; i < glyphpack_image_count(group); ++i) {
        Decoded d;
        glyphpack_image_info(group, i, &d.size, &d.depth, nullptr);
        if (reader.jumpToImage(i))
            d.image = reader.read();
        result.append(d);
    }
    return result;
}

QFont labelFont(int pixels, bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

void drawChecker(QPainter &p, const QRect &area)
{
    // Shows where an icon is transparent.
    const int cell = 8;
    for (int y = area.top(); y <= area.bottom(); y += cell)
        for (int x = area.left(); x <= area.right(); x += cell)
            if (((x - area.left()) / cell + (y - area.top()) / cell) % 2)
                p.fillRect(QRect(x, y, cell, cell).intersected(area), QColor(0xE4, 0xE4, 0xE4));
}

QString title()
{
    int v[4];
    glyphpack_file_version(&v[0], &v[1], &v[2], &v[3]);
    return QStringLiteral("%1 %2.%3.%4.%5  -  %6 icon groups")
        .arg(QString::fromUtf8(glyphpack_version_string("ProductName")))
        .arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3])
        .arg(glyphpack_group_count());
}

QImage contactSheet()
{
    const int columns = 10;
    const int cellW = 104;
    const int cellH = 100;
    const int margin = 16;
    const int header = 40;
    const int groups = glyphpack_group_count();
    const int rows = (groups + columns - 1) / columns;
    QImage sheet(margin * 2 + columns * cellW, header + margin + rows * cellH, QImage::Format_ARGB32);
    sheet.fill(QColor(0xF7, 0xF7, 0xF7));
    QPainter p(&sheet);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(labelFont(16, true));
    p.setPen(QColor(0x22, 0x22, 0x22));
    p.drawText(QRect(margin, 8, sheet.width() - 2 * margin, header - 8), Qt::AlignLeft | Qt::AlignVCenter,
               title() + QStringLiteral(" at 64 px"));
    for (int g = 0; g < groups; ++g) {
        const QRect cell(margin + (g % columns) * cellW, header + (g / columns) * cellH, cellW, cellH);
        const QRect iconRect(cell.center().x() - 32, cell.top() + 6, 64, 64);
        drawChecker(p, iconRect);
        const QVector<Decoded> images = decodeGroup(g);
        QString note;
        for (const Decoded &d : images) {
            if (d.size == 64) {
                p.drawImage(iconRect.topLeft(), d.image);
                if (d.depth != 32)
                    note = QStringLiteral(" (%1 bit)").arg(d.depth);
            }
        }
        p.setFont(labelFont(11));
        p.setPen(QColor(0x44, 0x44, 0x44));
        p.drawText(QRect(cell.left(), iconRect.bottom() + 4, cell.width(), 16), Qt::AlignHCenter | Qt::AlignTop,
                   QString::fromLatin1(glyphpack_group_name(g)) + note);
    }
    return sheet;
}

QImage allSizesSheet()
{
    const int margin = 12;
    const int nameW = 150;
    int width = 0;
    int height = margin;
    QVector<QVector<Decoded>> groups;
    for (int g = 0; g < glyphpack_group_count(); ++g) {
        groups.append(decodeGroup(g));
        int rowW = nameW;
        int rowH = 0;
        for (const Decoded &d : groups.last()) {
            rowW += d.size + 10;
            rowH = std::max(rowH, d.size);
        }
        width = std::max(width, rowW);
        height += rowH + 10;
    }
    QImage sheet(width + 2 * margin, height + margin, QImage::Format_ARGB32);
    sheet.fill(QColor(0xF7, 0xF7, 0xF7));
    QPainter p(&sheet);
    p.setFont(labelFont(12));
    int y = margin;
    for (int g = 0; g < groups.size(); ++g) {
        int rowH = 0;
        for (const Decoded &d : groups[g])
            rowH = std::max(rowH, d.size);
        p.setPen(QColor(0x44, 0x44, 0x44));
        p.drawText(QRect(margin, y, nameW, rowH), Qt::AlignVCenter, QString::fromLatin1(glyphpack_group_name(g)));
        int x = margin + nameW;
        for (const Decoded &d : groups[g]) {
            const QRect r(x, y + (rowH - d.size) / 2, d.size, d.size);
            drawChecker(p, r);
            p.drawImage(r.topLeft(), d.image);
            x += d.size + 10;
        }
        y += rowH + 10;
    }
    return sheet;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool allSizes = args.removeAll(QStringLiteral("--all-sizes")) > 0;
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: glyphpack-contact-sheet [--all-sizes] <output.png>\n");
        return 2;
    }
    const QImage sheet = allSizes ? allSizesSheet() : contactSheet();
    if (!sheet.save(args.first(), "PNG")) {
        std::fprintf(stderr, "glyphpack-contact-sheet: cannot write %s\n", qPrintable(args.first()));
        return 1;
    }
    return 0;
}
