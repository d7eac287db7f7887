#include "app/JobSteps.h"
#include "settings/SourceKind.h"

#include <QtTest>

#include <climits>

class TestJobSteps : public QObject
{
    Q_OBJECT

private slots:
    void stepAfterEntry();
    void chunkRemains();
    void barMaximumStaysInRange();
};

void TestJobSteps::stepAfterEntry()
{
    using JobSteps::Next;
    // Entries left win over a pending chunk; only an empty list with nothing
    // pending ends the job.
    QCOMPARE(JobSteps::afterEntry(false, 12), Next::Entry);
    QCOMPARE(JobSteps::afterEntry(false, 0), Next::Entry);
    QCOMPARE(JobSteps::afterEntry(true, 12), Next::Chunk);
    QCOMPARE(JobSteps::afterEntry(true, 0), Next::End);
}

void TestJobSteps::chunkRemains()
{
    QVERIFY(JobSteps::chunkRemains(11, 11, SourceKind::StandardTiles));
    QVERIFY(JobSteps::chunkRemains(11, 14, SourceKind::FirstListedServer));
    // The download zoom lowered below the levels still to do.
    QVERIFY(!JobSteps::chunkRemains(12, 11, SourceKind::SeamarkTiles));
    QVERIFY(!JobSteps::chunkRemains(3, 14, SourceKind::ElevationArchives));
}

void TestJobSteps::barMaximumStaysInRange()
{
    QCOMPARE(JobSteps::barMaximum(0), 1);
    QCOMPARE(JobSteps::barMaximum(-5), 1);
    QCOMPARE(JobSteps::barMaximum(4711), 4711);
    QCOMPARE(JobSteps::barMaximum(qint64(INT_MAX) + 10), INT_MAX);
}

QTEST_APPLESS_MAIN(TestJobSteps)
#include "tst_jobsteps.moc"
