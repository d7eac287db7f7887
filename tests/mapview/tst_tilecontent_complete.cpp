#include "mapview/TileContent.h"

#include <QtTest>

#include <QBuffer>
#include <QImage>
#include <QPainter>

using TileContent::Reason;

Q_DECLARE_METATYPE(TileContent::Reason)

namespace {

QByteArray encoded(const char *format, int size = 256, int quality = -1)
{
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    QPainter painter(&image);
    painter.setPen(Qt::yellow);
    for (int i = 0; i < size; i += 7)
        painter.drawLine(0, i, size - 1, size - 1 - i); // some entropy, so the body has size
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// The classic one-pixel GIF: header, global colour table, graphic control
// extension, image, trailer.
const QByteArray Gif = QByteArray::fromHex(
    "474946383961010001008000"
    "00ffffff000000"
    "21f90401000000"
    "002c00000000010001000002024401003b");

void le16(QByteArray &b, int v)
{
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}

void le32(QByteArray &b, quint32 v)
{
    le16(b, int(v & 0xFFFF));
    le16(b, int(v >> 16));
}

// A stored (uncompressed) zip archive with one member.
QByteArray zipOf(const QByteArray &name, const QByteArray &data, const QByteArray &comment = QByteArray())
{
    QByteArray zip("PK\x03\x04", 4);
    le16(zip, 10); le16(zip, 0); le16(zip, 0); le16(zip, 0); le16(zip, 0);
    le32(zip, 0); le32(zip, quint32(data.size())); le32(zip, quint32(data.size()));
    le16(zip, name.size()); le16(zip, 0);
    zip += name + data;
    const int directoryAt = zip.size();
    zip += QByteArray("PK\x01\x02", 4);
    le16(zip, 10); le16(zip, 10); le16(zip, 0); le16(zip, 0); le16(zip, 0); le16(zip, 0);
    le32(zip, 0); le32(zip, quint32(data.size())); le32(zip, quint32(data.size()));
    le16(zip, name.size()); le16(zip, 0); le16(zip, 0); le16(zip, 0); le16(zip, 0);
    le32(zip, 0); le32(zip, 0);
    zip += name;
    const int directorySize = zip.size() - directoryAt;
    zip += QByteArray("PK\x05\x06", 4);
    le16(zip, 0); le16(zip, 0); le16(zip, 1); le16(zip, 1);
    le32(zip, quint32(directorySize)); le32(zip, quint32(directoryAt));
    le16(zip, comment.size());
    return zip + comment;
}

QByteArray webp(int payload, int declaredExtra = 0)
{
    QByteArray b("RIFF");
    le32(b, quint32(4 + 8 + payload + declaredExtra));
    b += "WEBPVP8 ";
    le32(b, quint32(payload));
    return b + QByteArray(payload, '\x11');
}

// A JPEG whose APP1 segment carries a whole small JPEG (as an EXIF thumbnail
// does): its EOI must not count as the end of the outer image.
QByteArray jpegWithThumbnail(const QByteArray &outer, const QByteArray &thumbnail)
{
    QByteArray app1("\xFF\xE1", 2);
    const int length = thumbnail.size() + 2;
    app1.append(char(length >> 8)).append(char(length & 0xFF));
    app1 += thumbnail;
    return outer.left(2) + app1 + outer.mid(2);
}

} // namespace

class TestTileContentComplete : public QObject
{
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
    void piecesGiveTheSameVerdict_data();
    void piecesGiveTheSameVerdict();
    void everyCutIsCaught();
    void largeArchiveKeepsLittle();
};

void TestTileContentComplete::verdict_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<Reason>("reason");

    const QByteArray png = encoded("PNG");
    const QByteArray jpeg = encoded("JPEG", 256, 80);
    const QByteArray thumb = encoded("JPEG", 16, 50);
    const QByteArray withThumb = jpegWithThumbnail(jpeg, thumb);
    const QByteArray zip = zipOf("N47E011.hgt", QByteArray(5000, 'h'));
    const QByteArray png13 = png.left(png.size() - 12); // without IEND
    QVERIFY(!QImage::fromData(png).isNull() && !QImage::fromData(jpeg).isNull() && !QImage::fromData(Gif).isNull());
    QVERIFY(!QImage::fromData(withThumb).isNull());

    const qint64 none = -1;
    QTest::newRow("png") << QByteArray("image/png") << png << qint64(png.size()) << Reason::Ok;
    QTest::newRow("png without length") << QByteArray("image/png") << png << none << Reason::Ok;
    QTest::newRow("png padded after IEND") << QByteArray("image/png") << png + QByteArray(3000, '\0') << none << Reason::Ok;
    QTest::newRow("png without IEND") << QByteArray("image/png") << png13 << none << Reason::Incomplete;
    QTest::newRow("half a png, matching length") << QByteArray("image/png") << png.left(png.size() / 2)
                                                 << qint64(png.size() / 2) << Reason::Incomplete;
    QTest::newRow("short of Content-Length") << QByteArray("image/png") << png.left(png.size() - 1)
                                             << qint64(png.size()) << Reason::LengthMismatch;
    QTest::newRow("longer than Content-Length") << QByteArray("image/png") << png << qint64(png.size() - 5)
                                                << Reason::LengthMismatch;
    QByteArray brokenChunk = png;
    brokenChunk[37] = '\x01'; // the type of the chunk after IHDR
    QTest::newRow("png with a broken chunk type") << QByteArray("image/png") << brokenChunk << none << Reason::Corrupt;
    QTest::newRow("png signature only") << QByteArray() << png.left(8) << none << Reason::Incomplete;
    QTest::newRow("png cut inside the signature") << QByteArray("image/png") << png.left(5) << none
                                                  << Reason::NotItsType;

    QTest::newRow("jpeg") << QByteArray("image/jpeg") << jpeg << none << Reason::Ok;
    QTest::newRow("jpeg labelled png") << QByteArray("image/png") << jpeg << none << Reason::Ok;
    QTest::newRow("jpeg without EOI") << QByteArray("image/jpeg") << jpeg.left(jpeg.size() - 2) << none
                                      << Reason::Incomplete;
    QTest::newRow("jpeg cut in its scan") << QByteArray("image/jpeg") << jpeg.left(jpeg.size() * 2 / 3) << none
                                          << Reason::Incomplete;
    QTest::newRow("jpeg with thumbnail") << QByteArray("image/jpeg") << withThumb << none << Reason::Ok;
    QTest::newRow("jpeg cut after its thumbnail")
        << QByteArray("image/jpeg") << withThumb.left(2 + 4 + thumb.size() + 40) << none << Reason::Incomplete;

    QTest::newRow("gif") << QByteArray("image/gif") << Gif << none << Reason::Ok;
    QTest::newRow("gif without trailer") << QByteArray("image/gif") << Gif.left(Gif.size() - 1) << none
                                         << Reason::Incomplete;
    QTest::newRow("gif cut in its image") << QByteArray("image/gif") << Gif.left(Gif.size() - 4) << none
                                          << Reason::Incomplete;
    QByteArray badGif = Gif;
    badGif[13 + 6] = 'x'; // the block after the colour table
    QTest::newRow("gif with an unknown block") << QByteArray("image/gif") << badGif << none << Reason::Corrupt;

    QTest::newRow("webp") << QByteArray("image/webp") << webp(100) << none << Reason::Ok;
    QTest::newRow("webp shorter than its RIFF size") << QByteArray("image/webp") << webp(100, 50) << none
                                                     << Reason::Incomplete;
    QTest::newRow("webp odd RIFF size") << QByteArray("image/webp") << webp(101) << none << Reason::Corrupt;

    QTest::newRow("zip") << QByteArray("application/zip") << zip << none << Reason::Ok;
    QTest::newRow("zip with comment") << QByteArray() << zipOf("a", "b", "made here") << none << Reason::Ok;
    QTest::newRow("zip without its end record") << QByteArray("application/zip") << zip.left(zip.size() - 22) << none
                                                << Reason::Incomplete;
    QTest::newRow("zip cut in its data") << QByteArray("application/zip") << zip.left(2000) << none
                                         << Reason::Incomplete;
    QByteArray zipBadOffset = zip;
    zipBadOffset[zip.size() - 3] = '\x7F'; // directory offset far past the end
    QTest::newRow("zip directory past its end") << QByteArray() << zipBadOffset << none << Reason::Corrupt;

    QByteArray bitmap("BM");
    le32(bitmap, 200);
    le32(bitmap, 0);
    bitmap += QByteArray(190, '\x22');
    QTest::newRow("bmp") << QByteArray("image/bmp") << bitmap << none << Reason::Ok;
    QTest::newRow("bmp cut") << QByteArray("image/bmp") << bitmap.left(150) << none << Reason::Incomplete;

    QTest::newRow("random bytes as png") << QByteArray("image/png") << QByteArray::fromHex("5a1f00c3e4b2a9917766554433")
                                         << none << Reason::NotItsType;
    QTest::newRow("random bytes as zip") << QByteArray("application/zip") << QByteArray(100, '\x33') << none
                                         << Reason::NotItsType;
    QTest::newRow("unknown bytes, generic type") << QByteArray("application/octet-stream") << QByteArray(100, '\x33')
                                                 << none << Reason::Ok;
    QTest::newRow("tiff passes") << QByteArray("image/tiff") << QByteArray("II*\0", 4) + QByteArray(50, 'x') << none
                                 << Reason::Ok;
    QTest::newRow("html with 200") << QByteArray("text/html") << QByteArray("<html><body>busy</body></html>") << none
                                   << Reason::Document;
    QTest::newRow("xml labelled png") << QByteArray("image/png") << QByteArray("<?xml version=\"1.0\"?><ServiceExceptionReport/>")
                                      << none << Reason::Document;
    QTest::newRow("empty body") << QByteArray("image/png") << QByteArray() << none << Reason::Ok;
    QTest::newRow("empty body, length 0") << QByteArray("image/png") << QByteArray() << qint64(0) << Reason::Ok;
    QTest::newRow("empty body, length announced") << QByteArray("image/png") << QByteArray() << qint64(10)
                                                  << Reason::LengthMismatch;
}

void TestTileContentComplete::verdict()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    QFETCH(qint64, length);
    QFETCH(Reason, reason);
    const TileContent::Verdict v = TileContent::check(type, body, length);
    QCOMPARE(v.reason, reason);
    QCOMPARE(v.ok(), reason == Reason::Ok);
    QCOMPARE(v.text.isEmpty(), reason == Reason::Ok);
}

void TestTileContentComplete::piecesGiveTheSameVerdict_data()
{
    QTest::addColumn<QByteArray>("body");
    const QByteArray jpeg = encoded("JPEG", 200, 90);
    QTest::newRow("png") << encoded("PNG");
    QTest::newRow("jpeg") << jpeg;
    QTest::newRow("cut jpeg") << jpeg.left(jpeg.size() - 100);
    QTest::newRow("gif") << Gif;
    QTest::newRow("zip") << zipOf("x.hgt", QByteArray(70000, 'q'), "c");
    QTest::newRow("webp") << webp(300);
}

// A streamed body is judged as the whole one, however the pieces fall.
void TestTileContentComplete::piecesGiveTheSameVerdict()
{
    QFETCH(QByteArray, body);
    const TileContent::Verdict whole = TileContent::check(QByteArray(), body);
    for (int piece : {1, 2, 3, 7, 11, 64, 1000}) {
        TileContent::Checker checker;
        for (int at = 0; at < body.size(); at += piece)
            checker.add(body.mid(at, piece));
        QCOMPARE(checker.size(), qint64(body.size()));
        QCOMPARE(checker.verdict().reason, whole.reason);
    }
}

// No cut of a complete image passes, wherever it falls (the cuts that end
// right behind the last chunk, marker or trailer are the image whole).
void TestTileContentComplete::everyCutIsCaught()
{
    const QList<QPair<QByteArray, QByteArray>> bodies{
        {"image/png", encoded("PNG", 32)}, {"image/jpeg", encoded("JPEG", 32, 70)}, {"image/gif", Gif},
        {"application/zip", zipOf("a.hgt", "0123456789")}};
    for (const auto &typed : bodies) {
        const QByteArray &body = typed.second;
        QVERIFY(TileContent::check(typed.first, body).ok());
        for (int cut = 1; cut < body.size(); ++cut) {
            const TileContent::Verdict v = TileContent::check(typed.first, body.left(cut));
            QVERIFY2(!v.ok(), qPrintable(QStringLiteral("%1 cut at %2 of %3 passed")
                                             .arg(QString::fromLatin1(typed.first))
                                             .arg(cut)
                                             .arg(body.size())));
        }
    }
}

// 40 MB of archive arrive in pieces; the checker keeps only its tail.
void TestTileContentComplete::largeArchiveKeepsLittle()
{
    const QByteArray piece(1 << 20, 'd');
    TileContent::Checker checker(QByteArray("application/zip"));
    checker.add(QByteArray("PK\x03\x04", 4));
    for (int i = 0; i < 40; ++i)
        checker.add(piece);
    QCOMPARE(checker.verdict().reason, Reason::Incomplete);
    QVERIFY(sizeof(checker) < 1024);
}

QTEST_APPLESS_MAIN(TestTileContentComplete)
#include "tst_tilecontent_complete.moc"
