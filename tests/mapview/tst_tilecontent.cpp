#include "mapview/TileContent.h"

#include <QtTest>

class TestTileContent : public QObject
{
    Q_OBJECT

private slots:
    void content_data();
    void content();
};

void TestTileContent::content_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("document");
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const QByteArray jpeg("\xFF\xD8\xFF\xE0\0\x10JFIF", 10);
    const QByteArray xml("<?xml version=\"1.0\"?><ServiceExceptionReport/>");
    QTest::newRow("png") << QByteArray("image/png") << png << false;
    QTest::newRow("jpeg without type") << QByteArray() << jpeg << false;
    QTest::newRow("wms exception") << QByteArray("application/vnd.ogc.se_xml") << xml << true;
    QTest::newRow("xml with charset") << QByteArray("text/xml; charset=UTF-8") << xml << true;
    QTest::newRow("html error page") << QByteArray("text/html") << QByteArray("<html><body>busy") << true;
    QTest::newRow("xml without type") << QByteArray() << xml << true;
    QTest::newRow("html as octet-stream") << QByteArray("application/octet-stream")
                                          << QByteArray("\n  <!DOCTYPE html><html>") << true;
    QTest::newRow("bom and exception") << QByteArray() << QByteArray("\xEF\xBB\xBF<ServiceExceptionReport>") << true;
    QTest::newRow("json error") << QByteArray("application/json") << QByteArray("{\"error\":1}") << true;
    QTest::newRow("png labelled as text") << QByteArray("text/plain") << png << false;
    QTest::newRow("markup under an image type") << QByteArray("image/png") << xml << true;
    QTest::newRow("svg is an image") << QByteArray("image/svg+xml") << xml << false;
    QTest::newRow("unrecognised bytes under an image type") << QByteArray("image/webp") << QByteArray("abc") << false;
    QTest::newRow("zip archive") << QByteArray("application/zip") << QByteArray("PK\x03\x04") << false;
    QTest::newRow("unknown bytes are kept") << QByteArray() << QByteArray("\x01\x02\x03") << false;
    QTest::newRow("empty body is not a document") << QByteArray() << QByteArray() << false;
}

void TestTileContent::content()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, head);
    QFETCH(bool, document);
    QCOMPARE(TileContent::isNonImageDocument(type, head), document);
}

QTEST_APPLESS_MAIN(TestTileContent)
#include "tst_tilecontent.moc"
