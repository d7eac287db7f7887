// The icon library as a consumer sees it: loaded with the platform loader,
// never linked. Checks the one export, every group and image against the
// published table, the bytes of each image and that each one decodes.

#include "icons/glyphpack.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QSet>
#include <QtEndian>
#include <QtTest>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

#include <climits>

namespace {

const char kLibraryFile[] = GLYPHPACK_LIBRARY_FILE;

struct Image
{
    int size = 0;
    int depth = 0;
    int number = 0;
    QByteArray dib;
};

struct Group
{
    bool found = false;
    QVector<Image> images;
    QByteArray ico;
};

quint16 u16(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

quint32 u32(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

int maskRowBytes(int width)
{
    return ((width + 31) / 32) * 4;
}

bool maskBit(const QByteArray &dib, int maskStart, int size, int x, int y)
{
    // rows are stored bottom-up
    const int row = size - 1 - y;
    const unsigned char byte = static_cast<unsigned char>(dib[maskStart + row * maskRowBytes(size) + x / 8]);
    return byte & (0x80 >> (x % 8));
}

// The published table: 69 groups with five 32-bit images, IDI_ICON165 without
// the 48 pixel image, IDI_ICON170 with six palette images from 256 pixels.
QStringList groupNames()
{
    QStringList names{QStringLiteral("IDI_ICON1")};
    for (int n = 101; n <= 170; ++n)
        names << QStringLiteral("IDI_ICON%1").arg(n);
    return names;
}

QVector<int> expectedSizes(const QString &name)
{
    if (name == QLatin1String("IDI_ICON165"))
        return {128, 64, 32, 16};
    if (name == QLatin1String("IDI_ICON170"))
        return {256, 128, 64, 48, 32, 16};
    return {128, 64, 48, 32, 16};
}

int expectedDepth(const QString &name)
{
    return name == QLatin1String("IDI_ICON170") ? 8 : 32;
}

} // namespace

class TestGlyphpack : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void exportIsDecoratedAndCallable();
    void exportsNothingElse();
    void needsNoOtherLibrary();
    void groups_data();
    void groups();
    void picturesDiffer();
    void unknownGroupsAreNotFound_data();
    void unknownGroupsAreNotFound();
    void badIndexesAreRejected();
    void versionData();

private:
    Group loadGroup(const QString &name) const;
    void *symbol(const char *name) const;

#if defined(_WIN32)
    HMODULE m_library = nullptr;
#else
    void *m_library = nullptr;
    decltype(&glyphpack_group_count) m_groupCount = nullptr;
    decltype(&glyphpack_find_group) m_findGroup = nullptr;
    decltype(&glyphpack_group_name) m_groupName = nullptr;
    decltype(&glyphpack_image_count) m_imageCount = nullptr;
    decltype(&glyphpack_image_info) m_imageInfo = nullptr;
    decltype(&glyphpack_image_dib) m_imageDib = nullptr;
    decltype(&glyphpack_group_ico) m_groupIco = nullptr;
    decltype(&glyphpack_error_text) m_errorText = nullptr;
#endif
    QHash<QString, QByteArray> m_pictureHashes;
};

void *TestGlyphpack::symbol(const char *name) const
{
#if defined(_WIN32)
    return reinterpret_cast<void *>(GetProcAddress(m_library, name));
#else
    return dlsym(m_library, name);
#endif
}

void TestGlyphpack::initTestCase()
{
#if defined(_WIN32)
    m_library = LoadLibraryA(kLibraryFile);
    QVERIFY2(m_library, kLibraryFile);
#else
    m_library = dlopen(kLibraryFile, RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(m_library, dlerror());
    m_groupCount = reinterpret_cast<decltype(m_groupCount)>(symbol("glyphpack_group_count"));
    m_findGroup = reinterpret_cast<decltype(m_findGroup)>(symbol("glyphpack_find_group"));
    m_groupName = reinterpret_cast<decltype(m_groupName)>(symbol("glyphpack_group_name"));
    m_imageCount = reinterpret_cast<decltype(m_imageCount)>(symbol("glyphpack_image_count"));
    m_imageInfo = reinterpret_cast<decltype(m_imageInfo)>(symbol("glyphpack_image_info"));
    m_imageDib = reinterpret_cast<decltype(m_imageDib)>(symbol("glyphpack_image_dib"));
    m_groupIco = reinterpret_cast<decltype(m_groupIco)>(symbol("glyphpack_group_ico"));
    m_errorText = reinterpret_cast<decltype(m_errorText)>(symbol("glyphpack_error_text"));
    QVERIFY(m_groupCount && m_findGroup && m_groupName && m_imageCount && m_imageInfo && m_imageDib
            && m_groupIco && m_errorText);
#endif
}

void TestGlyphpack::cleanupTestCase()
{
#if defined(_WIN32)
    QVERIFY(FreeLibrary(m_library));
#else
    QCOMPARE(dlclose(m_library), 0);
#endif
}

void TestGlyphpack::exportIsDecoratedAndCallable()
{
#if defined(_WIN32)
    using Fn = void (*)(int);
    auto byOrdinal = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(m_library, MAKEINTRESOURCEA(1))));
    QVERIFY2(byOrdinal, "no export at ordinal 1");
#  if defined(_MSC_VER)
    auto byName = reinterpret_cast<Fn>(symbol("?generateLibFile@@YAXH@Z"));
#  else
    auto byName = reinterpret_cast<Fn>(symbol("_Z15generateLibFilei"));
#  endif
    QVERIFY(byName);
    QVERIFY(byName == byOrdinal);
#else
    auto byName = reinterpret_cast<void (*)(int)>(symbol("_Z15generateLibFilei"));
    QVERIFY2(byName, "generateLibFile(int) is not exported under its C++ name");
#endif
    // Undecorated, it must not exist: callers bind to the C++ signature.
    QVERIFY(!symbol("generateLibFile"));
    for (int argument : {0, 1, -1, INT_MAX, INT_MIN})
        byName(argument);
}

void TestGlyphpack::exportsNothingElse()
{
#if defined(_WIN32)
    QSKIP("the export table is fixed by the module definition file");
#else
    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                                    QString::fromLocal8Bit(kLibraryFile)});
    if (!nm.waitForFinished(30000) || nm.exitCode() != 0)
        QSKIP("nm is not available");
    QSet<QString> exported;
    const QList<QByteArray> lines = nm.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 3)
            exported.insert(QString::fromLatin1(fields.at(2)));
    }
    const QSet<QString> expected{
        QStringLiteral("_Z15generateLibFilei"), QStringLiteral("glyphpack_group_count"),
        QStringLiteral("glyphpack_find_group"), QStringLiteral("glyphpack_group_name"),
        QStringLiteral("glyphpack_image_count"), QStringLiteral("glyphpack_image_info"),
        QStringLiteral("glyphpack_image_dib"), QStringLiteral("glyphpack_group_ico"),
        QStringLiteral("glyphpack_language"), QStringLiteral("glyphpack_file_version"),
        QStringLiteral("glyphpack_version_string"), QStringLiteral("glyphpack_translation"),
        QStringLiteral("glyphpack_error_text")};
    QCOMPARE(exported, expected);
#endif
}

void TestGlyphpack::needsNoOtherLibrary()
{
#if defined(_WIN32)
    QSKIP("checked on ELF platforms");
#else
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"), {QStringLiteral("-d"), QString::fromLocal8Bit(kLibraryFile)});
    if (!readelf.waitForFinished(30000) || readelf.exitCode() != 0)
        QSKIP("readelf is not available");
    const QString dynamic = QString::fromLocal8Bit(readelf.readAllStandardOutput());
    QVERIFY(dynamic.contains(QLatin1String("(NEEDED)")));
    // Neither Qt nor any of the program's own code: consumers load it alone.
    QVERIFY2(!dynamic.contains(QLatin1String("Qt5"), Qt::CaseInsensitive), qPrintable(dynamic));
    QVERIFY2(!dynamic.contains(QLatin1String("tilewright"), Qt::CaseInsensitive), qPrintable(dynamic));
#endif
}

Group TestGlyphpack::loadGroup(const QString &name) const
{
    Group group;
#if defined(_WIN32)
    // Real resources: the group directory points at the images by number.
    const std::wstring wname = name.toStdWString();
    const WORD german = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
    HRSRC dirRes = FindResourceExW(m_library, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, wname.c_str(), german);
    if (!dirRes)
        return group;
    group.found = true;
    const QByteArray dir(static_cast<const char *>(LockResource(LoadResource(m_library, dirRes))),
                         int(SizeofResource(m_library, dirRes)));
    const int count = u16(dir, 4);
    QByteArray header = dir.left(6);
    QByteArray entries;
    QByteArray images;
    int offset = 6 + 16 * count;
    for (int i = 0; i < count; ++i) {
        const int at = 6 + 14 * i;
        Image image;
        image.size = static_cast<unsigned char>(dir[at]) ? static_cast<unsigned char>(dir[at]) : 256;
        image.depth = u16(dir, at + 6);
        image.number = u16(dir, at + 12);
        HRSRC res = FindResourceExW(m_library, MAKEINTRESOURCEW(3) /* RT_ICON */, MAKEINTRESOURCEW(image.number), german);
        if (res)
            image.dib = QByteArray(static_cast<const char *>(LockResource(LoadResource(m_library, res))),
                                   int(SizeofResource(m_library, res)));
        entries += dir.mid(at, 12);
        char le[4];
        qToLittleEndian<quint32>(quint32(offset), le);
        entries += QByteArray(le, 4);
        offset += image.dib.size();
        images += image.dib;
        group.images.append(image);
    }
    group.ico = header + entries + images;
#else
    const int index = m_findGroup(name.toLatin1().constData());
    if (index < 0)
        return group;
    group.found = true;
    const int count = m_imageCount(index);
    for (int i = 0; i < count; ++i) {
        Image image;
        if (m_imageInfo(index, i, &image.size, &image.depth, &image.number) != GLYPHPACK_OK)
            return group;
        const unsigned char *bytes = nullptr;
        size_t length = 0;
        if (m_imageDib(index, i, &bytes, &length) == GLYPHPACK_OK)
            image.dib = QByteArray(reinterpret_cast<const char *>(bytes), int(length));
        group.images.append(image);
    }
    const unsigned char *bytes = nullptr;
    size_t length = 0;
    if (m_groupIco(index, &bytes, &length) == GLYPHPACK_OK)
        group.ico = QByteArray(reinterpret_cast<const char *>(bytes), int(length));
#endif
    return group;
}

void TestGlyphpack::groups_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("firstNumber");
    int number = 1;
    int index = 0;
    const QStringList names = groupNames();
    for (const QString &name : names) {
        QTest::newRow(qPrintable(name)) << name << index << number;
        number += expectedSizes(name).size();
        ++index;
    }
    // the last group ends with image 355
    QCOMPARE(number - 1, 355);
}

void TestGlyphpack::groups()
{
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(int, firstNumber);
    const QVector<int> sizes = expectedSizes(name);
    const int depth = expectedDepth(name);

#if !defined(_WIN32)
    QCOMPARE(m_groupCount(), 71);
    QCOMPARE(m_findGroup(name.toLatin1().constData()), index);
    QCOMPARE(QString::fromLatin1(m_groupName(index)), name);
#else
    Q_UNUSED(index)
#endif
    const Group group = loadGroup(name);
    QVERIFY(group.found);
    QCOMPARE(group.images.size(), sizes.size());

    // The .ico file: directory entries in group order, pointing at the same DIBs.
    const QByteArray &ico = group.ico;
    QVERIFY(ico.size() >= 6 + 16 * sizes.size());
    QCOMPARE(u16(ico, 0), quint16(0));
    QCOMPARE(u16(ico, 2), quint16(1));
    QCOMPARE(int(u16(ico, 4)), sizes.size());

    for (int i = 0; i < sizes.size(); ++i) {
        const Image &image = group.images.at(i);
        const int size = sizes.at(i);
        QCOMPARE(image.size, size);
        QCOMPARE(image.depth, depth);
        QCOMPARE(image.number, firstNumber + i);

        const int entry = 6 + 16 * i;
        QCOMPARE(int(static_cast<unsigned char>(ico[entry])), size == 256 ? 0 : size);
        QCOMPARE(int(static_cast<unsigned char>(ico[entry + 1])), size == 256 ? 0 : size);
        QCOMPARE(int(u16(ico, entry + 6)), depth);
        QCOMPARE(int(u32(ico, entry + 8)), image.dib.size());
        QCOMPARE(ico.mid(int(u32(ico, entry + 12)), image.dib.size()), image.dib);

        // An uncompressed DIB with colour bitmap and mask, not a PNG.
        const QByteArray &dib = image.dib;
        QVERIFY(!dib.startsWith("\x89PNG"));
        QVERIFY(dib.size() >= 40);
        QCOMPARE(u32(dib, 0), quint32(40));
        QCOMPARE(int(u32(dib, 4)), size);
        QCOMPARE(int(u32(dib, 8)), 2 * size);
        QCOMPARE(u16(dib, 12), quint16(1));
        QCOMPARE(int(u16(dib, 14)), depth);
        QCOMPARE(u32(dib, 16), quint32(0));  // BI_RGB
        const int paletteBytes = depth == 8 ? 256 * 4 : 0;
        const int colourRow = ((size * depth + 31) / 32) * 4;
        const int maskStart = 40 + paletteBytes + colourRow * size;
        QCOMPARE(dib.size(), maskStart + maskRowBytes(size) * size);

        // The mask must agree with the colour bitmap, or old renderers punch
        // holes into the picture (or show black corners).
        int transparent = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const bool masked = maskBit(dib, maskStart, size, x, y);
                const int row = size - 1 - y;
                if (depth == 32) {
                    const int alpha = static_cast<unsigned char>(dib[40 + row * colourRow + x * 4 + 3]);
                    QVERIFY2(masked == (alpha == 0), qPrintable(QStringLiteral("mask at %1,%2").arg(x).arg(y)));
                } else if (masked) {
                    // transparent pixels use black, so AND and XOR leave the screen alone
                    const int colour = static_cast<unsigned char>(dib[40 + paletteBytes + row * colourRow + x]);
                    QCOMPARE(dib.mid(40 + colour * 4, 3), QByteArray(3, '\0'));
                }
                transparent += masked;
            }
        }
        QVERIFY2(transparent < size * size / 2, "an icon should be mostly picture");
    }

    // Every image decodes, in order, to a real picture.
    QBuffer buffer;
    buffer.setData(ico);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QImageReader reader(&buffer, "ico");
    QCOMPARE(reader.imageCount(), sizes.size());
    for (int i = 0; i < sizes.size(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage decoded = reader.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!decoded.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(decoded.size(), QSize(sizes.at(i), sizes.at(i)));
        QSet<QRgb> colours;
        int opaque = 0;
        for (int y = 0; y < decoded.height(); ++y) {
            for (int x = 0; x < decoded.width(); ++x) {
                const QRgb px = decoded.pixel(x, y);
                if (qAlpha(px) == 255) {
                    ++opaque;
                    colours.insert(px);
                }
            }
        }
        QVERIFY2(opaque > decoded.width() * decoded.height() / 3, "mostly transparent picture");
        QVERIFY2(colours.size() >= 4, "flat picture");
        if (sizes.at(i) == 64) {
            QByteArray pixels(reinterpret_cast<const char *>(decoded.constBits()), int(decoded.sizeInBytes()));
            m_pictureHashes.insert(name, QCryptographicHash::hash(pixels, QCryptographicHash::Sha1));
        }
    }
}

void TestGlyphpack::picturesDiffer()
{
    // groups() ran first and kept a fingerprint of every 64 pixel picture
    QCOMPARE(m_pictureHashes.size(), 71);
    QSet<QByteArray> distinct;
    for (auto it = m_pictureHashes.cbegin(); it != m_pictureHashes.cend(); ++it)
        distinct.insert(it.value());
    QCOMPARE(distinct.size(), 71);
}

void TestGlyphpack::unknownGroupsAreNotFound_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << QString();
    QTest::newRow("gap before 101") << QStringLiteral("IDI_ICON100");
    QTest::newRow("past the last") << QStringLiteral("IDI_ICON171");
    QTest::newRow("lower case") << QStringLiteral("idi_icon1");
    QTest::newRow("trailing space") << QStringLiteral("IDI_ICON1 ");
    QTest::newRow("leading zero") << QStringLiteral("IDI_ICON0101");
    QTest::newRow("number only") << QStringLiteral("101");
    QTest::newRow("prefix of a name") << QStringLiteral("IDI_ICON");
}

void TestGlyphpack::unknownGroupsAreNotFound()
{
    QFETCH(QString, name);
    QVERIFY(!loadGroup(name).found);
#if !defined(_WIN32)
    QCOMPARE(m_findGroup(name.toLatin1().constData()), int(GLYPHPACK_NOT_FOUND));
    QCOMPARE(QString::fromLatin1(m_errorText(GLYPHPACK_NOT_FOUND)), QStringLiteral("icon group not found"));
#endif
}

void TestGlyphpack::badIndexesAreRejected()
{
#if defined(_WIN32)
    QSKIP("the lookup functions exist where there are no icon resources");
#else
    QCOMPARE(m_findGroup(nullptr), int(GLYPHPACK_NOT_FOUND));
    QCOMPARE(m_groupName(-1), nullptr);
    QCOMPARE(m_groupName(71), nullptr);
    QCOMPARE(m_imageCount(-1), int(GLYPHPACK_BAD_GROUP));
    QCOMPARE(m_imageCount(71), int(GLYPHPACK_BAD_GROUP));

    int size = -7;
    QCOMPARE(m_imageInfo(0, 5, &size, nullptr, nullptr), int(GLYPHPACK_BAD_IMAGE));
    QCOMPARE(m_imageInfo(0, -1, &size, nullptr, nullptr), int(GLYPHPACK_BAD_IMAGE));
    QCOMPARE(m_imageInfo(71, 0, &size, nullptr, nullptr), int(GLYPHPACK_BAD_GROUP));
    QCOMPARE(size, -7);  // untouched on failure
    QCOMPARE(m_imageInfo(70, 5, &size, nullptr, nullptr), int(GLYPHPACK_OK));
    QCOMPARE(size, 16);

    const unsigned char *bytes = nullptr;
    size_t length = 0;
    QCOMPARE(m_imageDib(0, 0, nullptr, &length), int(GLYPHPACK_BAD_ARGUMENT));
    QCOMPARE(m_imageDib(0, 0, &bytes, nullptr), int(GLYPHPACK_BAD_ARGUMENT));
    QCOMPARE(m_imageDib(-1, 0, &bytes, &length), int(GLYPHPACK_BAD_GROUP));
    QCOMPARE(m_groupIco(0, nullptr, nullptr), int(GLYPHPACK_BAD_ARGUMENT));
    QCOMPARE(m_groupIco(71, &bytes, &length), int(GLYPHPACK_BAD_GROUP));
    QVERIFY(!bytes);

    for (int code : {int(GLYPHPACK_BAD_GROUP), int(GLYPHPACK_BAD_IMAGE), int(GLYPHPACK_BAD_ARGUMENT), 12345})
        QVERIFY(qstrlen(m_errorText(code)) > 0);
#endif
}

void TestGlyphpack::versionData()
{
#if defined(_WIN32)
    QSKIP("on Windows the version information is a version resource");
#else
    auto language = reinterpret_cast<decltype(&glyphpack_language)>(symbol("glyphpack_language"));
    auto fileVersion = reinterpret_cast<decltype(&glyphpack_file_version)>(symbol("glyphpack_file_version"));
    auto versionString = reinterpret_cast<decltype(&glyphpack_version_string)>(symbol("glyphpack_version_string"));
    auto translation = reinterpret_cast<decltype(&glyphpack_translation)>(symbol("glyphpack_translation"));
    QVERIFY(language && fileVersion && versionString && translation);

    QCOMPARE(language(), 1031);
    int v[4] = {0, 0, 0, 0};
    fileVersion(&v[0], &v[1], &v[2], &v[3]);
    QCOMPARE(QVector<int>({v[0], v[1], v[2], v[3]}), QVector<int>({5, 16, 1, 36954}));
    fileVersion(nullptr, nullptr, nullptr, nullptr);

    QCOMPARE(QString::fromLatin1(versionString("CompanyName")), QStringLiteral("Corvane"));
    QCOMPARE(QString::fromLatin1(versionString("FileVersion")), QStringLiteral("5.16.1.36954"));
    const QString product = QString::fromLatin1(versionString("ProductVersion"));
    QVERIFY2(product.startsWith(QLatin1String("5.16.1.36954 (")) && product.endsWith(QLatin1Char(')')),
             qPrintable(product));
    QCOMPARE(versionString("NoSuchKey"), nullptr);
    QCOMPARE(versionString(nullptr), nullptr);

    int lang = -1;
    int codepage = -1;
    translation(&lang, &codepage);
    QCOMPARE(lang, 0);
    QCOMPARE(codepage, 1200);
#endif
}

QTEST_GUILESS_MAIN(TestGlyphpack)
#include "tst_glyphpack.moc"
