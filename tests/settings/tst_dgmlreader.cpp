// The DGML theme reader on files of the shapes themes come in, and on
// damaged and hostile ones.

#include "settings/DgmlReader.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

// A theme as desktop globes ship them: default namespace, comments, a CDATA
// description, blanks around the tile folder, two servers.
const QByteArray GlobeTheme = QByteArray(
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<dgml xmlns=\"http://example.org/dgml/2.0\">\n"
    "  <!-- map theme of the standard tiles -->\n"
    "  <document>\n"
    "    <head>\n"
    "      <name>OpenStreetMap</name>\n"
    "      <target>earth</target>\n"
    "      <description><![CDATA[<p>A <i>free</i> map of the world &amp; more.</p>]]></description>\n"
    "    </head>\n"
    "    <map bgcolor=\"#000000\">\n"
    "      <layer name=\"openstreetmap\" backend=\"texture\">\n"
    "        <texture name=\"mapnik_data\" expire=\"604800\">\n"
    "          <sourcedir format=\"PNG\"> earth/open street map </sourcedir>\n"
    "          <tileSize width=\"256\" height=\"256\"/>\n"
    "          <storageLayout levelZeroColumns=\"1\" levelZeroRows=\"1\" maximumTileLevel=\"19\" mode=\"OpenStreetMap\"/>\n"
    "          <projection name=\"Mercator\"/>\n"
    "          <downloadUrl protocol=\"http\" host=\"a.tiles.example.org\" path=\"/\"/>\n"
    "          <downloadUrl protocol=\"https\" host=\"b.tiles.example.org\" port=\"8443\" path=\"/b/\"/>\n"
    "        </texture>\n"
    "      </layer>\n"
    "    </map>\n"
    "  </document>\n"
    "</dgml>\n");

// Older themes: another root element and no server at all.
const QByteArray OldTheme = QByteArray(
    "<?xml version=\"1.0\"?>\n"
    "<MapTheme>\n"
    "  <name>Satellite View</name>\n"
    "  <layer><texture name=\"satellite\">\n"
    "    <sourcedir format=\"jpg\">earth/satellite</sourcedir>\n"
    "    <storageLayout mode=\"Legacy\"/>\n"
    "  </texture></layer>\n"
    "</MapTheme>\n");

QByteArray withDownloadUrl(const QByteArray &attributes, const QByteArray &before = QByteArray())
{
    return "<dgml><name>t</name>" + before + "<downloadUrl " + attributes + "/></dgml>";
}

DgmlReader::Result readBytes(DgmlReader &reader, const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly | QIODevice::Text);
    return reader.read(&buffer);
}

// Instrumented builds hold freed memory back in quarantine, so their peak
// says nothing about what the reader keeps; the bounds hold in plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool MemoryBoundsApply = false;
#else
constexpr bool MemoryBoundsApply = true;
#endif

// The process's peak resident size so far (VmHWM), in KiB.
long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// count references to one entity of width characters, placed by shape.
QByteArray manyReferences(const QByteArray &shape, int count, int width)
{
    QByteArray references;
    references.reserve(count * 3);
    for (int i = 0; i < count; ++i)
        references += "&e;";
    QByteArray file = "<?xml version=\"1.0\"?>\n<!DOCTYPE dgml [<!ENTITY e \"" + QByteArray(width, 'e') + "\">]>\n";
    file += QByteArray(shape).replace("REFS", references);
    return file;
}

} // namespace

Q_DECLARE_METATYPE(DgmlReader::Result)

class TestDgmlReader : public QObject
{
    Q_OBJECT

private slots:
    void shapes_data();
    void shapes();
    void ports_data();
    void ports();
    void license_data();
    void license();
    void damaged_data();
    void damaged();
    void entityBombStaysSmall();
    void largeFilesAreStreamed();
    void fileThatCannotBeOpened();
    void hostileFilesRefused_data();
    void hostileFilesRefused();
};

void TestDgmlReader::shapes_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<DgmlReader::Result>("result");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("storageMode");
    QTest::addColumn<QStringList>("sourceDirs");
    QTest::addColumn<QString>("format"); // "-": none read
    QTest::addColumn<QStringList>("server"); // host, protocol, port, path, query

    const auto Read = DgmlReader::Result::Read;
    QTest::newRow("globe theme: first downloadUrl wins")
        << GlobeTheme << Read << "OpenStreetMap" << "OpenStreetMap" << QStringList{"earth/openstreetmap"} << "PNG"
        << QStringList{"a.tiles.example.org", "http", "80", "/", ""};
    QTest::newRow("older root, no server")
        << OldTheme << DgmlReader::Result::NoDownloadUrl << "Satellite View" << "Legacy"
        << QStringList{"earth/satellite"} << "jpg" << QStringList{"", "", "", "", ""};
    QTest::newRow("host and path only")
        << withDownloadUrl("host=\"h\" path=\"/p\"") << Read << "t" << "" << QStringList() << "-"
        << QStringList{"h", "", "80", "/p", ""};
    QTest::newRow("all attributes")
        << withDownloadUrl("host=\"h\" protocol=\"http\" port=\"8080\" path=\"/map\" query=\"x={x}&amp;y={y}\"")
        << Read << "t" << "" << QStringList() << "-" << QStringList{"h", "http", "8080", "/map", "x={x}&y={y}"};
    QTest::newRow("name attribute wins, later name overwrites")
        << QByteArray("<a><name>first</name><name name=\"attr\">text</name><name>last<b>skipped</b>!</name>"
                      "<name name=\"final\"/><downloadUrl host=\"h\"/></a>")
        << Read << "final" << "" << QStringList() << "-" << QStringList{"h", "", "80", "", ""};
    QTest::newRow("child text skipped")
        << QByteArray("<a><name>Open<b>ignored</b>Map</name><downloadUrl host=\"h\"/></a>") << Read << "OpenMap"
        << "" << QStringList() << "-" << QStringList{"h", "", "80", "", ""};
    QTest::newRow("nothing after the first downloadUrl")
        << QByteArray("<a><sourcedir>one</sourcedir><downloadUrl host=\"h\"/><sourcedir format=\"x\">two</sourcedir>"
                      "<name>late</name><storageLayout mode=\"Custom\"/></a>")
        << Read << "" << "" << QStringList{"one"} << "-" << QStringList{"h", "", "80", "", ""};
    QTest::newRow("any namespace, exact letter case")
        << QByteArray("<g:dgml xmlns:g=\"urn:x\" xmlns:k=\"urn:k\"><Name>no</Name><k:name>yes</k:name>"
                      "<STORAGELAYOUT mode=\"no\"/><g:storageLayout mode=\"Custom\"/>"
                      "<downloadurl host=\"no\"/><k:downloadUrl host=\"yes\"/></g:dgml>")
        << Read << "yes" << "Custom" << QStringList() << "-" << QStringList{"yes", "", "80", "", ""};
    QTest::newRow("empty folder text, format still read")
        << QByteArray("<a><sourcedir format=\"png\">   </sourcedir><downloadUrl host=\"h\"/></a>") << Read << "" << ""
        << QStringList() << "png" << QStringList{"h", "", "80", "", ""};
}

void TestDgmlReader::shapes()
{
    QFETCH(QByteArray, file);
    QFETCH(DgmlReader::Result, result);
    QFETCH(QString, name);
    QFETCH(QString, storageMode);
    QFETCH(QStringList, sourceDirs);
    QFETCH(QString, format);
    QFETCH(QStringList, server);

    // From a real file, as the import reads it.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("theme.dgml"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();

    DgmlReader reader;
    QCOMPARE(reader.readFile(path), result);
    QVERIFY2(reader.errorString().isEmpty(), qPrintable(reader.errorString()));
    const DgmlTheme &t = reader.theme();
    QCOMPARE(t.name, name);
    QCOMPARE(t.storageMode, storageMode);
    QCOMPARE(t.sourceDirs, sourceDirs);
    QCOMPARE(t.hasFormat, format != QLatin1String("-"));
    if (t.hasFormat)
        QCOMPARE(t.format, format);
    QCOMPARE(t.hasDownloadUrl, result == DgmlReader::Result::Read);
    QCOMPARE((QStringList{t.host, t.protocol, t.port, t.path, t.query}), server);
}

void TestDgmlReader::ports_data()
{
    QTest::addColumn<QByteArray>("attribute");
    QTest::addColumn<QString>("port");
    QTest::newRow("missing") << QByteArray() << "80";
    QTest::newRow("empty") << QByteArray("port=\"\"") << "80";
    QTest::newRow("zero") << QByteArray("port=\"0\"") << "80";
    QTest::newRow("negative") << QByteArray("port=\"-5\"") << "80";
    QTest::newRow("word") << QByteArray("port=\"http\"") << "80";
    QTest::newRow("beyond 65535") << QByteArray("port=\"70000\"") << "80";
    QTest::newRow("8080") << QByteArray("port=\"8080\"") << "8080";
    QTest::newRow("65535") << QByteArray("port=\"65535\"") << "65535";
}

void TestDgmlReader::ports()
{
    QFETCH(QByteArray, attribute);
    QFETCH(QString, port);
    DgmlReader reader;
    QCOMPARE(readBytes(reader, withDownloadUrl("host=\"h\" " + attribute)), DgmlReader::Result::Read);
    QCOMPARE(reader.theme().port, port);
}

void TestDgmlReader::license_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<DgmlReader::Result>("result");
    QTest::addColumn<QString>("license");
    const auto Read = DgmlReader::Result::Read;

    QTest::newRow("short attribute and long text")
        << QByteArray("<license short=\"&#169; OpenStreetMap contributors\">Source: &#169; OpenStreetMap "
                      "contributors, License: Creative Commons Attribution-ShareAlike 2.0 (CC BY-SA)</license>")
        << Read << "\u00a9 OpenStreetMap contributors";
    QTest::newRow("text only, blanks collapsed")
        << QByteArray("<license>\n   &#169; Example Maps\n   and friends  </license>") << Read
        << "\u00a9 Example Maps and friends";
    QTest::newRow("blank short attribute")
        << QByteArray("<license short=\"  \">&#169; Example Maps</license>") << Read << "\u00a9 Example Maps";
    QTest::newRow("escaped text in the attribute")
        << QByteArray("<license short=\"&#169; A &amp; B &lt;maps&gt;\"/>") << Read << "\u00a9 A & B <maps>";
    QTest::newRow("first of two")
        << QByteArray("<license short=\"first\"/><license short=\"second\"/>") << Read << "first";
    QTest::newRow("none") << QByteArray("<description>no licence</description>") << Read << "";
    QTest::newRow("kept when the file breaks later")
        << QByteArray("<license short=\"kept\"/><broken></head>") << DgmlReader::Result::Error << "kept";
}

// The credit a theme asks for, from its head, in the shapes it comes in.
void TestDgmlReader::license()
{
    QFETCH(QByteArray, head);
    QFETCH(DgmlReader::Result, result);
    QFETCH(QString, license);
    DgmlReader reader;
    const QByteArray file = "<dgml xmlns=\"http://example.org/dgml/2.0\"><document><head><name>t</name>" + head
                            + "</head><map><layer><texture><downloadUrl host=\"h\"/></texture></layer></map>"
                              "</document></dgml>";
    QCOMPARE(readBytes(reader, file), result);
    QCOMPARE(reader.theme().license, license);
    if (result == DgmlReader::Result::Read)
        QCOMPARE(reader.theme().host, QStringLiteral("h"));
}

void TestDgmlReader::damaged_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("nameSoFar");
    QTest::addColumn<QStringList>("dirsSoFar");

    QTest::newRow("mismatched tag") << QByteArray("<a><name>n</name>\n<sourcedir>d</sourcedir>\n<b></c></a>")
                                    << "n" << QStringList{"d"};
    QTest::newRow("truncated") << GlobeTheme.left(GlobeTheme.indexOf("<downloadUrl") - 20) << "OpenStreetMap"
                               << QStringList{"earth/openstreetmap"};
    QTest::newRow("truncated inside the server") << GlobeTheme.left(GlobeTheme.indexOf("<downloadUrl") + 30)
                                                 << "OpenStreetMap" << QStringList{"earth/openstreetmap"};
    QTest::newRow("not XML") << QByteArray("PK\x03\x04 this is a zip archive") << "" << QStringList();
    QTest::newRow("empty file") << QByteArray() << "" << QStringList();
    QTest::newRow("undeclared entity") << QByteArray("<a><name>&nothing;</name><downloadUrl host=\"h\"/></a>") << ""
                                       << QStringList();
    QTest::newRow("text beyond the limit")
        << "<a><name>n</name><sourcedir>" + QByteArray(DgmlReader::MaxTextLength + 1, 'x')
               + "</sourcedir><downloadUrl host=\"h\"/></a>"
        << "n" << QStringList();
}

// Every damaged file ends in an error with its place in the file; what was
// read before it is kept, and no server is taken from it.
void TestDgmlReader::damaged()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, nameSoFar);
    QFETCH(QStringList, dirsSoFar);
    DgmlReader reader;
    QCOMPARE(readBytes(reader, file), DgmlReader::Result::Error);
    QVERIFY(!reader.theme().hasDownloadUrl);
    QVERIFY(reader.theme().host.isEmpty());
    QCOMPARE(reader.theme().name, nameSoFar);
    QCOMPARE(reader.theme().sourceDirs, dirsSoFar);
    QVERIFY2(QRegularExpression(QStringLiteral(".+ \\(line \\d+, column \\d+\\)$")).match(reader.errorString()).hasMatch(),
             qPrintable(reader.errorString()));
}

// "Billion laughs": ten levels of ten references would expand to 10^9
// characters. The reader stops at its expansion limit.
void TestDgmlReader::entityBombStaysSmall()
{
    QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol0 \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        bomb += "<!ENTITY lol" + QByteArray::number(i) + " \"";
        for (int j = 0; j < 10; ++j)
            bomb += "&lol" + QByteArray::number(i - 1) + ';';
        bomb += "\">\n";
    }
    bomb += "]>\n<dgml><name>&lol9;</name><downloadUrl host=\"h\"/></dgml>\n";
    const long before = peakKiB();
    DgmlReader reader;
    QCOMPARE(readBytes(reader, bomb), DgmlReader::Result::Error);
    QVERIFY(reader.errorString().contains(QLatin1String("line 14")));
    const long grown = peakKiB() - before;
    QVERIFY2(!MemoryBoundsApply || grown < 64 * 1024, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(grown)));
}

// 3 MB of layers before the server, and 100000 levels of nesting around it:
// read through, in memory far below the file's size.
void TestDgmlReader::largeFilesAreStreamed()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.dgml"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("<dgml><name>large</name>\n");
    const QByteArray layer = "<layer name=\"l\"><texture><projection name=\"Mercator\"/></texture></layer>\n";
    for (qint64 written = 0; written < 3LL * 1024 * 1024; written += layer.size())
        out.write(layer);
    const int depth = 100000;
    for (int i = 0; i < depth; ++i)
        out.write("<g>");
    out.write("<downloadUrl host=\"deep\" port=\"81\"/>");
    for (int i = 0; i < depth; ++i)
        out.write("</g>");
    out.write("</dgml>\n");
    out.close();

    const long before = peakKiB();
    DgmlReader reader;
    QCOMPARE(reader.readFile(path), DgmlReader::Result::Read);
    QCOMPARE(reader.theme().name, QStringLiteral("large"));
    QCOMPARE(reader.theme().host, QStringLiteral("deep"));
    QCOMPARE(reader.theme().port, QStringLiteral("81"));
    const long grown = peakKiB() - before;
    QVERIFY2(!MemoryBoundsApply || grown < 24 * 1024, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(grown)));
}

// What is no theme file is refused before anything is read from it.
void TestDgmlReader::fileThatCannotBeOpened()
{
    QTemporaryDir dir;
    DgmlReader reader;
    QCOMPARE(reader.readFile(dir.filePath(QStringLiteral("missing.dgml"))), DgmlReader::Result::CannotOpen);
    QCOMPARE(reader.readFile(dir.path()), DgmlReader::Result::NotAFile);
    const QString fifo = dir.filePath(QStringLiteral("fifo.dgml"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QCOMPARE(reader.readFile(fifo), DgmlReader::Result::NotAFile); // would wait for a writer if opened
    QCOMPARE(reader.readFile(QStringLiteral("/dev/zero")), DgmlReader::Result::NotAFile);
    const QString large = dir.filePath(QStringLiteral("large.dgml"));
    QFile out(large);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QVERIFY(out.resize(DgmlReader::MaxFileBytes + 1));
    out.close();
    QCOMPARE(reader.readFile(large), DgmlReader::Result::TooLarge);
    QVERIFY(!reader.theme().hasDownloadUrl);
}

void TestDgmlReader::hostileFilesRefused_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("place");
    const QByteArray server = "<downloadUrl host=\"h\"/>";
    QTest::newRow("in a skipped element")
        << manyReferences("<dgml><description>REFS</description>" + server + "</dgml>", 200000, 4000) << "line 3";
    QTest::newRow("in the name") << manyReferences("<dgml><name>REFS</name>" + server + "</dgml>", 200000, 4000)
                                 << "line 3";
    QTest::newRow("in an attribute")
        << manyReferences("<dgml><layer name=\"REFS\"/>" + server + "</dgml>", 200000, 4000) << "line 3";
    QTest::newRow("3 MB of references") << manyReferences("<dgml><name>REFS</name>" + server + "</dgml>", 1000000, 4000)
                                        << "line 3";
    QTest::newRow("external entity")
        << QByteArray("<!DOCTYPE a [<!ENTITY secret SYSTEM \"file:///etc/passwd\">]>"
                      "<a><name>x&secret;y</name><downloadUrl host=\"h\"/></a>")
        << "line 1";
    QTest::newRow("default attribute with a reference")
        << QByteArray("<!DOCTYPE a [<!ENTITY e \"eee\"><!ATTLIST layer name CDATA \"&e;\">]>\n<a>" + server + "</a>")
        << "line 1";
    QTest::newRow("parameter entity")
        << QByteArray("<!DOCTYPE a [\n<!ENTITY % p \"<!ENTITY e 'eee'>\"> %p;]>\n<a>" + server + "</a>") << "line 2";
    QTest::newRow("long text in a skipped element")
        << "<dgml>\n<legend>" + QByteArray(DgmlReader::MaxTextLength + 1, 'x') + "</legend>" + server + "</dgml>"
        << "line 2";
    QTest::newRow("long attribute in a skipped element")
        << "<dgml>\n<layer name=\"" + QByteArray(DgmlReader::MaxTextLength + 1, 'x') + "\"/>" + server + "</dgml>"
        << "line 2";
}

// Each is refused with its place, within a fixed memory bound above the
// peak before it, and no server is taken from it.
void TestDgmlReader::hostileFilesRefused()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, place);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hostile.dgml"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(out.write(file), qint64(file.size()));
    out.close();
    file = QByteArray(); // only the reader's memory counts

    const long before = peakKiB();
    QElapsedTimer clock;
    clock.start();
    DgmlReader reader;
    QCOMPARE(reader.readFile(path), DgmlReader::Result::Error);
    const qint64 elapsed = clock.elapsed();
    const long grown = peakKiB() - before;
    qInfo("refused in %lld ms, peak +%ld KiB: %s", elapsed, grown, qPrintable(reader.errorString()));
    QVERIFY2(reader.errorString().contains(place), qPrintable(reader.errorString()));
    QVERIFY(!reader.theme().hasDownloadUrl);
    QVERIFY2(!MemoryBoundsApply || grown < 16 * 1024, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(grown)));
}

QTEST_APPLESS_MAIN(TestDgmlReader)
#include "tst_dgmlreader.moc"
