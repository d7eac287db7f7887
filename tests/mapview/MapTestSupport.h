#pragma once

#include "NginxFixture.h"

#include "mapview/widgets/CvMapCache.h"
#include "settings/AppConfig.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

namespace MapTest {

// Colour of one quarter (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right)
// of a test overview image; every image and quarter differs.
inline QColor quarterColour(const TileId &tile, int quarter)
{
    const int index = (tile.zoom * 4 + tile.x * 2 + tile.y) * 4 + quarter;
    return QColor::fromHsv((index * 37) % 360, 200, 120 + (index * 13) % 120);
}

inline QByteArray overviewPng(const TileId &tile)
{
    QImage image(256, 256, QImage::Format_RGB32);
    QPainter painter(&image);
    for (int q = 0; q < 4; ++q)
        painter.fillRect((q % 2) * 128, (q / 2) * 128, 128, 128, quarterColour(tile, q));
    painter.end();
    return NginxFixture::pngBytes(image);
}

// A working folder with Tiles/ holding the overview images named in
// `names` ("000", "100", ...), made current for the test's lifetime.
class OverviewFolder
{
public:
    explicit OverviewFolder(const QStringList &names = {QStringLiteral("000"), QStringLiteral("100"),
                                                        QStringLiteral("101"), QStringLiteral("110"),
                                                        QStringLiteral("111")})
        : m_previous(QDir::currentPath())
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("Tiles"));
        for (const QString &name : names) {
            const TileId key{name.mid(1, 1).toInt(), name.mid(2, 1).toInt(), name.left(1).toInt()};
            QFile file(m_dir.path() + QStringLiteral("/Tiles/") + name + QStringLiteral(".png"));
            if (file.open(QIODevice::WriteOnly))
                file.write(overviewPng(key));
        }
        QDir::setCurrent(m_dir.path());
    }
    ~OverviewFolder() { QDir::setCurrent(m_previous); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// Points the standard tile server at url and makes a fresh cache instance.
inline CvMapCache *freshCache(const QString &standardUrl)
{
    qputenv("TILEWRIGHT_OSM_TILE_URL", standardUrl.toUtf8());
    AppConfig::reload();
    CvMapCache::resetInstanceForTests();
    return CvMapCache::ensureInstance();
}

inline bool colourNear(QRgb pixel, const QColor &expected, int tolerance = 2)
{
    return qAbs(qRed(pixel) - expected.red()) <= tolerance && qAbs(qGreen(pixel) - expected.green()) <= tolerance
           && qAbs(qBlue(pixel) - expected.blue()) <= tolerance;
}

} // namespace MapTest
