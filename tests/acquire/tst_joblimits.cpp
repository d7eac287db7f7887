#include "acquire/JobLimits.h"

#include <QtTest>

class TestJobLimits : public QObject
{
    Q_OBJECT

private slots:
    void retryAfter_data();
    void retryAfter();
};

void TestJobLimits::retryAfter_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<qint64>("ms");

    QTest::newRow("seconds") << QByteArray("120") << qint64(120000);
    QTest::newRow("zero") << QByteArray("0") << qint64(JobLimits::MinRetryWaitMs);
    QTest::newRow("under a second") << QByteArray("00") << qint64(JobLimits::MinRetryWaitMs);
    QTest::newRow("blanks around") << QByteArray("  5 ") << qint64(5000);
    QTest::newRow("cap") << QByteArray("301") << qint64(JobLimits::MaxRetryWaitMs);
    QTest::newRow("too long to read") << QByteArray("99999999999999999999999") << qint64(JobLimits::MaxRetryWaitMs);
    QTest::newRow("negative") << QByteArray("-1") << qint64(-1);
    QTest::newRow("fraction") << QByteArray("1.5") << qint64(-1);
    QTest::newRow("empty") << QByteArray() << qint64(-1);
    QTest::newRow("words") << QByteArray("soon") << qint64(-1);
    // now is Sun, 06 Nov 1994 08:49:07 GMT
    QTest::newRow("IMF date") << QByteArray("Sun, 06 Nov 1994 08:49:37 GMT") << qint64(30000);
    QTest::newRow("RFC 850 date") << QByteArray("Sunday, 06-Nov-94 08:49:37 GMT") << qint64(30000);
    QTest::newRow("asctime date") << QByteArray("Sun Nov  6 08:49:37 1994") << qint64(30000);
    QTest::newRow("date in the past") << QByteArray("Sun, 06 Nov 1994 08:00:00 GMT") << qint64(JobLimits::MinRetryWaitMs);
    QTest::newRow("date years ago") << QByteArray("Thu, 01 Jan 1970 00:00:00 GMT") << qint64(JobLimits::MinRetryWaitMs);
    QTest::newRow("date now") << QByteArray("Sun, 06 Nov 1994 08:49:07 GMT") << qint64(JobLimits::MinRetryWaitMs);
    QTest::newRow("date far ahead") << QByteArray("Mon, 07 Nov 1994 08:49:37 GMT") << qint64(JobLimits::MaxRetryWaitMs);
    QTest::newRow("broken date") << QByteArray("Sun, 36 Nov 1994 08:49:37 GMT") << qint64(-1);
}

void TestJobLimits::retryAfter()
{
    QFETCH(QByteArray, value);
    QFETCH(qint64, ms);
    const QDateTime now(QDate(1994, 11, 6), QTime(8, 49, 7), Qt::UTC);
    QCOMPARE(JobLimits::retryAfterMs(value, now), ms);
}

QTEST_APPLESS_MAIN(TestJobLimits)
#include "tst_joblimits.moc"
