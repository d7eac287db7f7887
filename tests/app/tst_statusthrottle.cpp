#include "app/StatusThrottle.h"

#include <QSignalSpy>
#include <QtTest>

class TestStatusThrottle : public QObject
{
    Q_OBJECT

private slots:
    void textsAndBarTravelTogether();
    void chunkStartShowsAtOnce();
};

// A burst of steps repaints neither the line nor the bar per step, and
// both end at the last step once the interval is over.
void TestStatusThrottle::textsAndBarTravelTogether()
{
    StatusThrottle throttle(nullptr, 1000);
    QSignalSpy texts(&throttle, &StatusThrottle::textReady);
    QSignalSpy bars(&throttle, &StatusThrottle::barReady);
    throttle.show(QStringLiteral("Download: 500 tiles"));
    QCOMPARE(texts.count(), 1);
    for (int i = 1; i <= 500; ++i)
        throttle.step(QStringLiteral("tile %1").arg(i));
    QCOMPARE(throttle.barValue(), 500);
    QVERIFY(texts.count() <= 2);
    QVERIFY(bars.count() <= 2);
    QTRY_COMPARE_WITH_TIMEOUT(texts.last().at(0).toString(), QStringLiteral("tile 500"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(bars.last().at(0).toInt(), 500, 10000);

    // Cleared at the end of a job: nothing held back comes later.
    throttle.step(QStringLiteral("first"));
    throttle.step(QStringLiteral("held"));
    throttle.clear();
    const int textsBefore = texts.count(), barsBefore = bars.count();
    throttle.show(QStringLiteral("Download finished!"));
    QCOMPARE(texts.count(), textsBefore + 1);
    QCOMPARE(texts.last().at(0).toString(), QStringLiteral("Download finished!"));
    QCOMPARE(bars.count(), barsBefore);
}

// A new chunk sets the bar at once, and its first step moves it at once
// even inside an interval; a value held back from the chunk before never
// overwrites the new start.
void TestStatusThrottle::chunkStartShowsAtOnce()
{
    StatusThrottle throttle(nullptr, 1000);
    QSignalSpy bars(&throttle, &StatusThrottle::barReady);
    throttle.startBar(1);
    throttle.step(QStringLiteral("a"));
    throttle.step(QStringLiteral("b"));
    throttle.step(QStringLiteral("c")); // held back
    throttle.startBar(1);
    QCOMPARE(bars.last().at(0).toInt(), 1);
    throttle.step(QStringLiteral("next chunk"));
    QCOMPARE(bars.last().at(0).toInt(), 2);
    throttle.step(QStringLiteral("held"));
    QCOMPARE(bars.last().at(0).toInt(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(bars.last().at(0).toInt(), 3, 10000);
    QList<int> values;
    for (const QList<QVariant> &b : bars)
        values << b.at(0).toInt();
    QCOMPARE(values.mid(values.lastIndexOf(1)), (QList<int>{1, 2, 3}));
}

QTEST_GUILESS_MAIN(TestStatusThrottle)
#include "tst_statusthrottle.moc"
