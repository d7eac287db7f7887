// The icon encoder of the build-time generator: what it writes must read back
// as the picture it was given, through a standard .ico reader.

#include "IcoWriter.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QtTest>

#include <cmath>

namespace {

QImage decodeFirst(const QByteArray &ico)
{
    QBuffer buffer;
    buffer.setData(ico);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    return reader.read().convertToFormat(QImage::Format_ARGB32);
}

// A picture with a soft edge, a smooth gradient (far more than 256 colours)
// and a fully transparent border.
QImage testPicture(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, size, size);
    g.setColorAt(0, QColor(250, 40, 30));
    g.setColorAt(0.5, QColor(40, 200, 90));
    g.setColorAt(1, QColor(20, 60, 240));
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(size * 0.1, size * 0.1, size * 0.8, size * 0.8));
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

double meanColourError(const QImage &a, const QImage &b)
{
    double sum = 0;
    int n = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb pa = a.pixel(x, y);
            const QRgb pb = b.pixel(x, y);
            if (qAlpha(pa) < 255 || qAlpha(pb) < 255)
                continue;
            sum += std::abs(qRed(pa) - qRed(pb)) + std::abs(qGreen(pa) - qGreen(pb)) + std::abs(qBlue(pa) - qBlue(pb));
            ++n;
        }
    }
    return n ? sum / (3.0 * n) : 1e9;
}

} // namespace

class TestIcoWriter : public QObject
{
    Q_OBJECT

private slots:
    void trueColourRoundTrips_data();
    void trueColourRoundTrips();
    void paletteImagesKeepThePicture_data();
    void paletteImagesKeepThePicture();
    void fewColoursAreKeptExactly();
    void directoryDescribesEveryImage();
};

void TestIcoWriter::trueColourRoundTrips_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("16") << 16;
    QTest::newRow("48, mask rows padded") << 48;
    QTest::newRow("128") << 128;
}

void TestIcoWriter::trueColourRoundTrips()
{
    QFETCH(int, size);
    const QImage picture = testPicture(size);
    const IcoImage dib = encodeDib32(picture);
    QCOMPARE(dib.size, size);
    QCOMPARE(dib.depth, 32);
    const QImage decoded = decodeFirst(buildIco({dib}).bytes);
    QCOMPARE(decoded.size(), picture.size());
    // straight alpha both ways: every pixel comes back as it went in
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            QCOMPARE(decoded.pixel(x, y), picture.pixel(x, y));
}

void TestIcoWriter::paletteImagesKeepThePicture_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("16") << 16;
    QTest::newRow("32") << 32;
    QTest::newRow("256") << 256;
}

void TestIcoWriter::paletteImagesKeepThePicture()
{
    QFETCH(int, size);
    const QImage picture = testPicture(size);
    const IcoImage dib = encodeDib8(picture);
    QCOMPARE(dib.depth, 8);
    const QImage decoded = decodeFirst(buildIco({dib}).bytes);
    QCOMPARE(decoded.size(), picture.size());
    // Pixels at half opacity or more stay, the rest is cut out by the mask.
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const bool wasOpaque = qAlpha(picture.pixel(x, y)) >= 128;
            QVERIFY2((qAlpha(decoded.pixel(x, y)) == 255) == wasOpaque,
                     qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
    }
    // 255 colours fitted to a smooth gradient: close to the original
    QVERIFY2(meanColourError(picture, decoded) < 4.0, qPrintable(QString::number(meanColourError(picture, decoded))));
}

void TestIcoWriter::fewColoursAreKeptExactly()
{
    QImage picture(32, 32, QImage::Format_ARGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            picture.setPixel(x, y, qRgb(x * 8, y * 8, 77));  // 1024 colours
    QCOMPARE(fitPalette(picture, 255).size(), 255);
    QImage few = picture.copy(0, 0, 15, 15);  // 225 colours
    QCOMPARE(fitPalette(few, 255).size(), 225);
    few = few.scaled(32, 32);
    const QImage decoded = decodeFirst(buildIco({encodeDib8(few)}).bytes);
    QCOMPARE(meanColourError(few, decoded), 0.0);
}

void TestIcoWriter::directoryDescribesEveryImage()
{
    const QVector<IcoImage> images{encodeDib8(testPicture(256)), encodeDib32(testPicture(64)),
                                   encodeDib32(testPicture(16))};
    const IcoFile ico = buildIco(images);
    QBuffer buffer;
    buffer.setData(ico.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QCOMPARE(reader.imageCount(), 3);
    const int sizes[3] = {256, 64, 16};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(reader.jumpToImage(i));
        QCOMPARE(reader.read().size(), QSize(sizes[i], sizes[i]));
        QCOMPARE(ico.bytes.mid(ico.offsets[i], images[i].dib.size()), images[i].dib);
    }
    QCOMPARE(ico.offsets.last() + images.last().dib.size(), ico.bytes.size());
}

QTEST_GUILESS_MAIN(TestIcoWriter)
#include "tst_icowriter.moc"
