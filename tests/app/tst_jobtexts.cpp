// Counting a job's entries and wording its end.

#include "app/JobTexts.h"

#include <QtTest>

using Reason = JobOutcome::Reason;

class TestJobTexts : public QObject
{
    Q_OBJECT

private slots:
    void endText_data();
    void endText();
    void unchangedAndCopyCounts();
    void mostFrequentFailure();
    void copyEndText();
    void stopTexts_data();
    void stopTexts();
    void everyReasonAndNoData_data();
    void everyReasonAndNoData();
};

namespace {
const QString Dest = QStringLiteral("/tiles/");
const QString Finished = QStringLiteral("Download finished!");
const QString NothingWritten = QStringLiteral("Download failed: no tile could be written to /tiles/");
} // namespace

void TestJobTexts::endText_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("unwritable");
    QTest::addColumn<int>("httpFailures");
    QTest::addColumn<int>("noAddress");
    QTest::addColumn<int>("refusedScheme");
    QTest::addColumn<bool>("formatNote");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty job") << 0 << 0 << 0 << 0 << 0 << false
                               << QStringLiteral("Nothing to download: the area holds no tile at these zoom levels");
    QTest::newRow("all stored") << 5 << 0 << 0 << 0 << 0 << false << Finished;
    QTest::newRow("all unwritable") << 0 << 4 << 0 << 0 << 0 << false << NothingWritten;
    QTest::newRow("one stored among unwritable")
        << 1 << 4 << 0 << 0 << 0 << false << QStringLiteral("Download finished: 1 of 5 tiles stored, 4 failed (not writable)");
    // Server failures are no reason to blame the destination; nothing stored
    // is said first, then every reason with its count.
    QTest::newRow("unwritable and HTTP failures")
        << 0 << 2 << 3 << 0 << 0 << false
        << QStringLiteral("Download failed: none of 5 tiles stored \u2014 3 HTTP 404, 2 not writable");
    QTest::newRow("the example") << 1204 << 0 << 96 << 0 << 0 << false
                                 << QStringLiteral("Download finished: 1,204 of 1,300 tiles stored, 96 failed (HTTP 404)");
    // Entries without an address were never meant for the destination.
    QTest::newRow("unwritable beside entries without address") << 0 << 3 << 0 << 2 << 0 << false << NothingWritten;
    QTest::newRow("only entries without address")
        << 0 << 0 << 0 << 3 << 0 << false
        << QStringLiteral("Download failed: none of 3 tiles stored \u2014 no address for this source");
    QTest::newRow("refused scheme counts as an entry")
        << 0 << 3 << 0 << 0 << 1 << false
        << QStringLiteral("Download failed: none of 4 tiles stored \u2014 3 not writable, 1 not a tile server");
    QTest::newRow("format note with a failure")
        << 4 << 0 << 1 << 0 << 0 << true << QStringLiteral("Download finished: 4 of 5 tiles stored, 1 failed (HTTP 404)");
    QTest::newRow("format note") << 5 << 0 << 0 << 0 << 0 << true
                                 << QStringLiteral("Download finished! The tile format \"image/png\" is no file "
                                                   "extension; tiles were saved as .png");
    QTest::newRow("nothing written wins over the note") << 0 << 2 << 0 << 0 << 0 << true << NothingWritten;
}

void TestJobTexts::endText()
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
    QCOMPARE(JobTexts::downloadEnd(outcome, DownloadJob::StopReason(), Dest), text);
}

// Tiles the server did not change are no failure, but not stored either;
// the copy job counts the same way.
void TestJobTexts::unchangedAndCopyCounts()
{
    JobOutcome outcome;
    outcome.addStored(2);
    outcome.addUnchanged(3);
    QCOMPARE(JobTexts::downloadEnd(outcome, DownloadJob::StopReason(), Dest), QStringLiteral("Download finished: 2 of 5 tiles stored, 3 unchanged"));
    outcome.addFailed(Reason::DiskFull, 0, 2);
    outcome.addFailed(Reason::TimedOut);
    QCOMPARE(outcome.failed(), 3);
    QCOMPARE(JobTexts::downloadEnd(outcome, DownloadJob::StopReason(), Dest),
             QStringLiteral("Download finished: 2 of 8 tiles stored, 3 unchanged, 3 failed (2 disk full, 1 timed out)"));
    QCOMPARE(JobTexts::copyEnd(outcome),
             QStringLiteral("Copy finished: 2 of 8 tiles copied, 3 unchanged, 3 failed (2 disk full, 1 timed out)"));
}

void TestJobTexts::mostFrequentFailure()
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
    QCOMPARE(JobTexts::reason(most.first, most.second), QStringLiteral("HTTP 503"));
}

void TestJobTexts::copyEndText()
{
    JobOutcome outcome;
    QCOMPARE(JobTexts::copyEnd(outcome), QStringLiteral("Copy finished!"));
    outcome.addStored(3);
    QCOMPARE(JobTexts::copyEnd(outcome), QStringLiteral("Copy finished!"));
    outcome.addFailed(Reason::Missing);
    QCOMPARE(JobTexts::copyEnd(outcome), QStringLiteral("Copy finished: 3 of 4 tiles copied, 1 failed (no source tile)"));
}

// Why a job had to stop wins over its counts.
void TestJobTexts::stopTexts_data()
{
    using Kind = DownloadJob::StopReason::Kind;
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("serverText");
    QTest::addColumn<QString>("text");
    QTest::newRow("unwritable") << int(Kind::Unwritable) << QString() << NothingWritten;
    QTest::newRow("disk full") << int(Kind::DiskFull) << QString()
                               << QStringLiteral("Download stopped: cannot write to /tiles/ (disk full: No space left on device)");
    QTest::newRow("refused") << int(Kind::Refused) << QString()
                             << QStringLiteral("Download stopped: the server refused 3 requests in a row (HTTP 403)");
    QTest::newRow("refused, with the server's words")
        << int(Kind::Refused) << QStringLiteral("Access blocked.")
        << QStringLiteral("Download stopped: the server refused 3 requests in a row (HTTP 403): Access blocked.");
}

void TestJobTexts::stopTexts()
{
    QFETCH(int, kind);
    QFETCH(QString, serverText);
    QFETCH(QString, text);
    DownloadJob::StopReason stop;
    stop.kind = DownloadJob::StopReason::Kind(kind);
    stop.folder = Dest;
    stop.detail = QStringLiteral("disk full: No space left on device");
    stop.httpStatus = 403;
    stop.refusals = 3;
    stop.serverText = serverText;
    JobOutcome outcome;
    outcome.addStored(2);
    QCOMPARE(JobTexts::downloadEnd(outcome, stop, Dest), text);
}

// 404s of seamarks and elevation cells say "nothing here", apart from the
// failures; every other reason keeps its count.
void TestJobTexts::everyReasonAndNoData_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("missing404");
    QTest::addColumn<int>("failed500");
    QTest::addColumn<QString>("text");
    QTest::newRow("tiles: 404 and 500 both named") << 0 << 6 << 70 << 3 << QStringLiteral(
        "Download finished: 6 of 79 tiles stored, 73 failed (70 HTTP 404, 3 HTTP 500)");
    QTest::newRow("seamarks over land") << 1 << 6 << 73 << 0 << QStringLiteral(
        "Download finished: 6 tiles stored; 73 places have no seamarks");
    QTest::newRow("seamarks, a 500 is still a failure") << 1 << 6 << 70 << 3 << QStringLiteral(
        "Download finished: 6 of 79 tiles stored, 3 failed (HTTP 500); 70 places have no seamarks");
    QTest::newRow("elevation over the sea") << 2 << 0 << 1 << 0 << QStringLiteral(
        "Download finished: 0 tiles stored; 1 place has no elevation data");
    QTest::newRow("seamarks, nothing but failures") << 1 << 0 << 2 << 4 << QStringLiteral(
        "Download failed: none of 6 tiles stored — HTTP 500; 2 places have no seamarks");
}

void TestJobTexts::everyReasonAndNoData()
{
    QFETCH(int, kind);
    QFETCH(int, stored);
    QFETCH(int, missing404);
    QFETCH(int, failed500);
    QFETCH(QString, text);
    JobOutcome outcome;
    outcome.addStored(stored);
    outcome.addFailed(Reason::HttpStatus, 404, missing404);
    outcome.addFailed(Reason::HttpStatus, 500, failed500);
    QCOMPARE(JobTexts::downloadEnd(outcome, DownloadJob::StopReason(), Dest, kind), text);
}

int main(int argc, char **argv)
{
    // Numbers as the English texts write them.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TestJobTexts test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_jobtexts.moc"
