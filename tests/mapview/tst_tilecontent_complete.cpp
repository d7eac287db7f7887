#include "mapview/TileContent.h"

#include <QtTest>

#include "TileBodies.h"

#include <QImage>

using TileContent::Reason;
using namespace TileBodies;

Q_DECLARE_METATYPE(TileContent::Reason)

namespace {

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

// A lossy WebP of the given size: its frame header, then filler.
QByteArray webp(int payload, int declaredExtra = 0, int side = 256)
{
    QByteArray b("RIFF");
    le32(b, quint32(4 + 8 + payload + declaredExtra));
    b += "WEBPVP8 ";
    le32(b, quint32(payload));
    QByteArray frame = QByteArray::fromHex("5001009d012a");
    le16(frame, side);
    le16(frame, side);
    return b + frame + QByteArray(payload - frame.size(), '\x11');
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
    void soundTiles_data();
    void soundTiles();
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

    const QByteArray bitmap = saved(QImage(16, 16, QImage::Format_RGB32), "BMP");
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

// Bodies framed like images that no tile decoder could show, or only at a
// cost no tile may have, and real tiles of every kind that must pass; each
// fed whole and byte by byte.
void TestTileContentComplete::soundTiles_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Reason>("reason");

    for (const auto &named : unsound())
        QTest::newRow(qPrintable(named.first)) << named.second
                                               << (named.first.startsWith(QLatin1String("jpeg")) ? Reason::Incomplete
                                                                                                 : Reason::Unsound);
    const QByteArray png = encoded("PNG");
    QTest::newRow("png, 2^31-1 a side") << pngOf(0x7FFFFFFF, 0x7FFFFFFF, 8, 6, 0, QByteArray(8, '\0')) << Reason::Unsound;
    const int afterHeader = chunkData(png, "IHDR") + 17;
    QTest::newRow("png, a second IHDR") << png.left(afterHeader) + png.mid(8, 25) + png.mid(afterHeader) << Reason::Unsound;
    QTest::newRow("png, no width") << pngOf(0, 16, 8, 0, 0, QByteArray()) << Reason::Unsound;
    QTest::newRow("png, one row short") << pngOf(256, 256, 8, 0, 0, rawGrey(256, 255, false)) << Reason::Unsound;
    QTest::newRow("png, one row too many") << pngOf(256, 256, 8, 0, 0, rawGrey(256, 257, false)) << Reason::Unsound;
    QTest::newRow("png, 4-bit RGB") << pngOf(16, 16, 4, 2, 0, QByteArray(16 * 25, '\0')) << Reason::Unsound;
    QTest::newRow("png, colour type 5") << pngOf(16, 16, 8, 5, 0, QByteArray(16 * 17, '\0')) << Reason::Unsound;
    QTest::newRow("png, interlace method 2") << pngOf(16, 16, 8, 0, 2, rawGrey(16, 16, false)) << Reason::Unsound;
    QTest::newRow("png, data of a plain image, interlaced header")
        << pngOf(256, 256, 8, 0, 1, rawGrey(256, 256, false)) << Reason::Unsound;
    QTest::newRow("jpeg, 3000 px wide") << saved(QImage(3000, 8, QImage::Format_RGB32), "JPEG") << Reason::Unsound;
    QTest::newRow("jpeg, no frame") << QByteArray("\xFF\xD8\xFF\xFE\0\x0Anothing!\xFF\xD9", 16) << Reason::Unsound;
    const QByteArray jpeg = encoded("JPEG", 256, 80);
    QByteArray wideGif = Gif;
    wideGif[6] = '\xA0'; // 4000 px
    wideGif[7] = '\x0F';
    QTest::newRow("gif, 4000 px screen") << wideGif << Reason::Unsound;
    QByteArray tallFrame = Gif;
    tallFrame[Gif.indexOf(',') + 8] = '\x40'; // image height 16,385
    QTest::newRow("gif, 16385 px frame") << tallFrame << Reason::Unsound;
    QTest::newRow("webp, 4000 px") << webp(100, 0, 4000) << Reason::Unsound;
    QByteArray wideBitmap = saved(QImage(16, 16, QImage::Format_RGB32), "BMP");
    wideBitmap[20] = '\x01'; // 65,536 + 16 px
    QTest::newRow("bmp, 65552 px") << wideBitmap << Reason::Unsound;

    QTest::newRow("png 256") << png << Reason::Ok;
    QTest::newRow("png 512") << encoded("PNG", 512) << Reason::Ok;
    QTest::newRow("png 2048") << pngOf(2048, 1, 8, 0, 0, rawGrey(2048, 1, false)) << Reason::Ok;
    // Past 4 MiB of image data the inflating streams instead of going in one go.
    const QByteArray big = rawGrey(2048, 2048, false);
    QTest::newRow("png 2048 x 2048, streamed inflate") << pngOf(2048, 2048, 8, 0, 0, big) << Reason::Ok;
    QTest::newRow("png 2048 x 2048, cut stream") << pngOf(2048, 2048, 8, 0, 0, big, 40) << Reason::Unsound;
    QTest::newRow("jpeg 256") << jpeg << Reason::Ok;
    QTest::newRow("jpeg 512") << encoded("JPEG", 512, 75) << Reason::Ok;
    QTest::newRow("png interlaced 256") << pngOf(256, 256, 8, 0, 1, rawGrey(256, 256, true)) << Reason::Ok;
    QTest::newRow("png interlaced 3 x 5") << pngOf(3, 5, 8, 0, 1, rawGrey(3, 5, true)) << Reason::Ok;
    QImage indexed(256, 256, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 0), qRgb(200, 10, 10), qRgb(10, 200, 10)});
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            indexed.setPixel(x, y, uint((x / 16 + y / 16) % 3));
    QTest::newRow("png palette") << saved(indexed, "PNG") << Reason::Ok;
    const QByteArray deep = saved(QImage::fromData(png).convertToFormat(QImage::Format_RGBA64), "PNG");
    const QByteArray deepGrey = saved(QImage::fromData(png).convertToFormat(QImage::Format_Grayscale16), "PNG");
    QCOMPARE(int(deep.at(24)), 16); // bit depth
    QCOMPARE(int(deepGrey.at(24)), 16);
    QCOMPARE(int(saved(indexed, "PNG").at(25)), 3); // colour type: palette
    QTest::newRow("png 16-bit RGBA") << deep << Reason::Ok;
    QTest::newRow("png 16-bit grey") << deepGrey << Reason::Ok;
    QTest::newRow("webp 256") << webp(100) << Reason::Ok;
}

void TestTileContentComplete::soundTiles()
{
    QFETCH(QByteArray, body);
    QFETCH(Reason, reason);
    // The sound ones are what a decoder takes, too; the hand-made ones prove
    // the hand right.
    if (reason == Reason::Ok && !body.startsWith("RIFF"))
        QVERIFY(!QImage::fromData(body).isNull());
    const TileContent::Verdict whole = TileContent::check(QByteArray(), body);
    QVERIFY2(whole.reason == reason, qPrintable(whole.text));
    TileContent::Checker bytewise;
    for (const char c : body)
        bytewise.add(&c, 1);
    QCOMPARE(bytewise.verdict().reason, reason);
    QCOMPARE(bytewise.failed(), reason == Reason::Unsound);
}

QTEST_APPLESS_MAIN(TestTileContentComplete)
#include "tst_tilecontent_complete.moc"
