// Counting a job's entries and choosing its end text.

#include "acquire/JobOutcome.h"

#include <QtTest>

using Reason = JobOutcome::Reason;

class TestJobOutcome : public QObject
{
    Q_OBJECT

private slots:
    void endText_data();
    void endText();
    void unchangedAndCopyCounts();
    void mostFrequentFailure();
    void copyEndText();
};

namespace {
const QString Dest = QStringLiteral("/tiles/");
const QString Finished = QStringLiteral("Download finished!");
const QString NothingWritten = QStringLiteral("Download failed: no tile could be written to /tiles/");
} // namespace

void TestJobOutcome::endText_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("unwritable");
    QTest::addColumn<int>("httpFailures");
    QTest::addColumn<int>("noAddress");
    QTest::addColumn<int>("refusedScheme");
    QTest::addColumn<bool>("formatNote");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty job") << 0 << 0 << 0 << 0 << 0 << false << Finished;
    QTest::newRow("all stored") << 5 << 0 << 0 << 0 << 0 << false << Finished;
    QTest::newRow("all unwritable") << 0 << 4 << 0 << 0 << 0 << false << NothingWritten;
    QTest::newRow("one stored among unwritable")
        << 1 << 4 << 0 << 0 << 0 << false << QStringLiteral("Download finished: 1 of 5 tiles stored, 4 failed (not writable)");
    // Server failures are no reason to blame the destination; the most frequent reason is named.
    QTest::newRow("unwritable and HTTP failures")
        << 0 << 2 << 3 << 0 << 0 << false << QStringLiteral("Download finished: 0 of 5 tiles stored, 5 failed (HTTP 404)");
    QTest::newRow("the example") << 1204 << 0 << 96 << 0 << 0 << false
                                 << QStringLiteral("Download finished: 1,204 of 1,300 tiles stored, 96 failed (HTTP 404)");
    // Entries without an address were never meant for the destination.
    QTest::newRow("unwritable beside entries without address") << 0 << 3 << 0 << 2 << 0 << false << NothingWritten;
    QTest::newRow("only entries without address")
        << 0 << 0 << 0 << 3 << 0 << false << QStringLiteral("Download finished: 0 of 3 tiles stored, 3 skipped (no address)");
    QTest::newRow("refused scheme counts as an entry")
        << 0 << 3 << 0 << 0 << 1 << false
        << QStringLiteral("Download finished: 0 of 4 tiles stored, 3 failed (not writable), 1 skipped (not a tile server)");
    QTest::newRow("format note with a failure")
        << 4 << 0 << 1 << 0 << 0 << true << QStringLiteral("Download finished: 4 of 5 tiles stored, 1 failed (HTTP 404)");
    QTest::newRow("format note") << 5 << 0 << 0 << 0 << 0 << true
                                 << QStringLiteral("Download finished! The tile format \"image/png\" is no file "
                                                   "extension; tiles were saved as .png");
    QTest::newRow("nothing written wins over the note") << 0 << 2 << 0 << 0 << 0 << true << NothingWritten;
}

void TestJobOutcome::endText()
{
    QFETCH(int, stored);
    QFETCH(int, unwritable);
    QFETCH(int, httpFailures);
    QFETCH(int, noAddress);
    QFETCH(int, refusedScheme);
    QFETCH(bool, formatNote);
    QFETCH(QString, text);

    JobOutcome outcome;
    outcome.addStored(stored);
    for (int i = 0; i < unwritable; ++i)
        outcome.addFailed(Reason::Unwritable);
    for (int i = 0; i < httpFailures; ++i)
        outcome.addFailed(Reason::HttpStatus, 404);
    for (int i = 0; i < noAddress; ++i)
        outcome.addSkipped(Reason::NoAddress);
    for (int i = 0; i < refusedScheme; ++i)
        outcome.addSkipped(Reason::RefusedScheme);
    if (formatNote) {
        outcome.noteFormat(QStringLiteral("image/png"), QStringLiteral("png"));
        outcome.noteFormat(QStringLiteral("second"), QStringLiteral("second")); // the first one stays
    }
    QCOMPARE(outcome.entries(), stored + unwritable + httpFailures + noAddress + refusedScheme);
    QCOMPARE(outcome.downloadEndText(Dest), text);
}

// Tiles the server did not change are no failure, but not stored either;
// the copy job counts the same way.
void TestJobOutcome::unchangedAndCopyCounts()
{
    JobOutcome outcome;
    outcome.addStored(2);
    outcome.addUnchanged(3);
    QCOMPARE(outcome.downloadEndText(Dest), QStringLiteral("Download finished: 2 of 5 tiles stored, 3 unchanged"));
    outcome.addFailed(Reason::DiskFull, 0, 2);
    outcome.addFailed(Reason::TimedOut);
    QCOMPARE(outcome.failed(), 3);
    QCOMPARE(outcome.downloadEndText(Dest),
             QStringLiteral("Download finished: 2 of 8 tiles stored, 3 unchanged, 3 failed (disk full)"));
    QCOMPARE(outcome.copyEndText(), QStringLiteral("Copy finished: 2 of 8 tiles copied, 3 unchanged, 3 failed (disk full)"));
}

void TestJobOutcome::mostFrequentFailure()
{
    JobOutcome outcome;
    QCOMPARE(outcome.mostFrequentFailure().first, Reason::None);
    outcome.addStored(10);
    outcome.addFailed(Reason::HttpStatus, 404);
    outcome.addFailed(Reason::HttpStatus, 503);
    outcome.addFailed(Reason::HttpStatus, 503);
    outcome.addFailed(Reason::Network);
    outcome.addSkipped(Reason::RefusedScheme);
    QCOMPARE(outcome.failed(), 4);
    QCOMPARE(outcome.failed(Reason::HttpStatus), 3);
    QCOMPARE(outcome.skipped(), 1);
    QCOMPARE(outcome.entries(), 15);
    const auto most = outcome.mostFrequentFailure();
    QCOMPARE(most.first, Reason::HttpStatus);
    QCOMPARE(most.second, 503);
    QCOMPARE(JobOutcome::reasonText(most.first, most.second), QStringLiteral("HTTP 503"));
}

void TestJobOutcome::copyEndText()
{
    JobOutcome outcome;
    QCOMPARE(outcome.copyEndText(), QStringLiteral("Copy finished!"));
    outcome.addStored(3);
    QCOMPARE(outcome.copyEndText(), QStringLiteral("Copy finished!"));
    outcome.addFailed(Reason::Missing);
    QCOMPARE(outcome.copyEndText(), QStringLiteral("Copy finished: 3 of 4 tiles copied, 1 failed (no source tile)"));
}

int main(int argc, char **argv)
{
    // Numbers as the English texts write them.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TestJobOutcome test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_joboutcome.moc"
