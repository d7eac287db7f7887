#include "mapview/AnswerHeaders.h"

#include <QNetworkReply>
#include <QtTest>

namespace {

// A reply whose headers are set as Qt leaves them while it follows
// redirects: each answer's values appended to those before.
class HeaderReply : public QNetworkReply
{
public:
    void answer(const QList<QPair<QByteArray, QByteArray>> &headers, bool joinWithEarlier)
    {
        for (const auto &header : headers) {
            const QByteArray before = rawHeader(header.first);
            setRawHeader(header.first, joinWithEarlier && !before.isEmpty() ? before + ", " + header.second : header.second);
        }
    }
    void abort() override {}

protected:
    qint64 readData(char *, qint64) override { return -1; }
};

const QList<QPair<QByteArray, QByteArray>> kRedirect{
    {"Content-Type", "text/html"}, {"Content-Length", "169"}, {"Date", "Wed, 09 Dec 2026 02:08:43 GMT"}};
const QList<QPair<QByteArray, QByteArray>> kSecondRedirect{
    {"Content-Type", "text/html"}, {"Content-Length", "145"}, {"Date", "Wed, 09 Dec 2026 02:08:44 GMT"}};
const QList<QPair<QByteArray, QByteArray>> kTile{{"Content-Type", "image/png"},
                                                   {"Content-Length", "1963"},
                                                   {"Last-Modified", "Tue, 08 Dec 2026 10:00:00 GMT"},
                                                   {"Date", "Wed, 09 Dec 2026 02:08:45 GMT"}};

} // namespace

class TestAnswerHeaders : public QObject
{
    Q_OBJECT

private slots:
    void finalAnswerIsRead_data();
    void finalAnswerIsRead();
    void headersTheAnswerLacks();
    void httpDates_data();
    void httpDates();
    void dateEndingInItsComma();
};

void TestAnswerHeaders::finalAnswerIsRead_data()
{
    QTest::addColumn<int>("redirects");
    QTest::addColumn<bool>("joined"); // whether Qt kept the earlier values
    QTest::newRow("no redirect") << 0 << false;
    QTest::newRow("one redirect, joined") << 1 << true;
    QTest::newRow("two redirects, joined") << 2 << true;
    QTest::newRow("one redirect, headers replaced") << 1 << false;
    QTest::newRow("two redirects, headers replaced") << 2 << false;
}

void TestAnswerHeaders::finalAnswerIsRead()
{
    QFETCH(int, redirects);
    QFETCH(bool, joined);
    HeaderReply reply;
    AnswerHeaders headers;
    for (int i = 0; i < redirects; ++i) {
        reply.answer(i == 0 ? kRedirect : kSecondRedirect, joined);
        headers.noteRedirect(reply);
    }
    reply.answer(kTile, joined);
    QCOMPARE(headers.value(reply, "Content-Type"), QByteArray("image/png"));
    QCOMPARE(headers.value(reply, "content-type"), QByteArray("image/png"));
    QCOMPARE(headers.contentLength(reply), qint64(1963));
    QCOMPARE(headers.lastModified(reply), QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC));
    // A date holds a comma of its own.
    QCOMPARE(headers.value(reply, "Date"), QByteArray("Wed, 09 Dec 2026 02:08:45 GMT"));

    headers.clear(); // the next request of the same reply object
    if (redirects == 0 || !joined)
        QCOMPARE(headers.value(reply, "Content-Type"), QByteArray("image/png"));
}

// A value the final answer did not send is not taken from a redirect.
void TestAnswerHeaders::headersTheAnswerLacks()
{
    HeaderReply reply;
    AnswerHeaders headers;
    reply.answer(kRedirect, true);
    headers.noteRedirect(reply);
    reply.answer({{"Content-Type", "image/png"}, {"Content-Length", "not a number"}}, true);
    QCOMPARE(headers.value(reply, "Content-Type"), QByteArray("image/png"));
    QCOMPARE(headers.contentLength(reply), qint64(-1));

    HeaderReply chunked;
    AnswerHeaders chunkedHeaders;
    chunked.answer(kRedirect, true);
    chunkedHeaders.noteRedirect(chunked);
    chunked.answer({{"Content-Type", "image/png"}, {"Transfer-Encoding", "chunked"}}, true);
    QCOMPARE(chunkedHeaders.contentLength(chunked), qint64(-1)); // not the redirect page's 169
    QCOMPARE(chunkedHeaders.bodyLength(chunked), qint64(-1));

    // A body Qt decodes is longer than announced: no length to hold it to,
    // unless the encoding is none at all.
    HeaderReply encoded;
    AnswerHeaders encodedHeaders;
    encoded.answer({{"Content-Length", "1963"}, {"Content-Encoding", " GZIP "}}, false);
    QCOMPARE(encodedHeaders.contentLength(encoded), qint64(1963));
    QCOMPARE(encodedHeaders.bodyLength(encoded), qint64(-1));
    encoded.answer({{"Content-Length", "1963"}, {"Content-Encoding", "identity"}}, false);
    QCOMPARE(encodedHeaders.bodyLength(encoded), qint64(1963));
    QVERIFY(!chunkedHeaders.lastModified(chunked).isValid());
}

void TestAnswerHeaders::httpDates_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QDateTime>("expected");
    const QDateTime nov94(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    QTest::newRow("fixed") << QByteArray("Sun, 06 Nov 1994 08:49:37 GMT") << nov94;
    QTest::newRow("leap day") << QByteArray("Thu, 29 Feb 2024 23:59:59 GMT")
                              << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC);
    QTest::newRow("rfc 850") << QByteArray("Sunday, 06-Nov-94 08:49:37 GMT") << nov94;
    QTest::newRow("asctime") << QByteArray("Sun Nov  6 08:49:37 1994") << nov94;
    QTest::newRow("no such day") << QByteArray("Fri, 30 Feb 2024 10:00:00 GMT") << QDateTime();
    QTest::newRow("wrong weekday") << QByteArray("Mon, 06 Nov 1994 08:49:37 GMT") << QDateTime();
    QTest::newRow("no such hour") << QByteArray("Sun, 06 Nov 1994 25:49:37 GMT") << QDateTime();
    QTest::newRow("not a month") << QByteArray("Sun, 06 Nob 1994 08:49:37 GMT") << QDateTime();
    QTest::newRow("letters for digits") << QByteArray("Sun, 0x Nov 1994 08:49:37 GMT") << QDateTime();
    QTest::newRow("empty") << QByteArray() << QDateTime();
    QTest::newRow("words") << QByteArray("yesterday") << QDateTime();
}

// Dates read the same whichever way they are read: the fixed form directly,
// the older forms and anything odd through Qt (which is lenient with an odd
// hour or month; an invalid expectation here means "as Qt reads it"). What is
// written reads back.
void TestAnswerHeaders::httpDates()
{
    QFETCH(QByteArray, text);
    QFETCH(QDateTime, expected);
    const QDateTime read = AnswerHeaders::fromHttpDate(text);
    QNetworkRequest cooked;
    cooked.setRawHeader("Last-Modified", text);
    QCOMPARE(read, cooked.header(QNetworkRequest::LastModifiedHeader).toDateTime().toUTC());
    if (expected.isValid()) {
        QCOMPARE(read, expected);
        QCOMPARE(read.timeSpec(), Qt::UTC);
    }
    if (!read.isValid())
        return;
    QCOMPARE(AnswerHeaders::fromHttpDate(AnswerHeaders::httpDate(read)), read);
    QCOMPARE(AnswerHeaders::httpDate(read.toOffsetFromUtc(3600)), AnswerHeaders::httpDate(read));
}

// Qt's reader would read such a text past its end (found by fuzzing, seen
// under ASan); it is no date.
void TestAnswerHeaders::dateEndingInItsComma()
{
    for (const QByteArray &text : {QByteArray("Sunday,"), QByteArray("06 Nov,"), QByteArray(",")})
        QVERIFY(!AnswerHeaders::fromHttpDate(text).isValid());
}

QTEST_GUILESS_MAIN(TestAnswerHeaders)
#include "tst_answerheaders.moc"
