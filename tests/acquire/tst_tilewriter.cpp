#include "TestFiles.h"

#include "acquire/TileFile.h"
#include "acquire/TileWriter.h"

#include <QtTest>

#include <cerrno>

#include <unistd.h>

using TestFiles::readFile;

namespace {

void putFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot);
}

// Makes a folder refuse new files, also for root (immutable flag); false when
// the file system cannot do that here.
bool lockFolder(const QString &folder, bool locked)
{
    if (geteuid() != 0) {
        return QFile::setPermissions(folder, locked ? QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                    : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                          | QFileDevice::ExeOwner);
    }
    QProcess chattr;
    chattr.start(QStringLiteral("chattr"), {locked ? QStringLiteral("+i") : QStringLiteral("-i"), folder});
    return chattr.waitForFinished(5000) && chattr.exitStatus() == QProcess::NormalExit && chattr.exitCode() == 0;
}

} // namespace

class TestTileWriter : public QObject
{
    Q_OBJECT

private slots:
    void writeTile_data();
    void writeTile();
    void diskFullErrors_data();
    void diskFullErrors();
    void failedReplaceKeepsTheOldTile();
    void queueKeepsOrderAndCountsFailures();
    void destructionWritesWhatIsQueued();
    void foldersAreMadeOnlyForWrittenTiles();
    void probeFolder();
    void tallyCountsOutcomes();
    void storedTileTakesTheServersTime();
    void bodiesQueuedLaterAreWritten();

private:
    QTemporaryDir m_dir;
};

namespace {
// A whole body (the tile writer, the copy worker), or one streamed in
// pieces as the HTTPS transfer writes it: both go the same way into a file.
bool putTile(const QString &path, const QByteArray &body, bool streamed, QString *error = nullptr)
{
    TileFile::Result r;
    if (streamed) {
        TileFile file(path);
        for (int at = 0; at < body.size() && file.result().ok(); at += 1000)
            file.append(body.constData() + at, qMin(1000, body.size() - at));
        r = file.commit();
    } else {
        r = TileFile::store(path, body);
    }
    if (error)
        *error = r.reason();
    return r.ok();
}
} // namespace

void TestTileWriter::writeTile_data()
{
    QTest::addColumn<QByteArray>("old"); // empty: no file before
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("stored");

    const QByteArray png("\x89PNG new", 8);
    QTest::newRow("new tile") << QByteArray() << png << png;
    QTest::newRow("replaced tile") << QByteArray("old bytes") << png << png;
    // An empty answer gives an empty file where there was none, but never
    // costs a tile that has content.
    QTest::newRow("empty body over a tile") << QByteArray("old bytes") << QByteArray() << QByteArray("old bytes");
    QTest::newRow("empty body, no tile") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("large body") << QByteArray("old") << QByteArray(3 * 1024 * 1024, 'x') << QByteArray(3 * 1024 * 1024, 'x');
}

void TestTileWriter::writeTile()
{
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, stored);

    const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/7.png");
    if (!old.isEmpty())
        putFile(path, old);
    for (const bool streamed : {false, true}) {
        if (old.isEmpty())
            QFile::remove(path);
        else
            putFile(path, old);
        QString error;
        QVERIFY2(putTile(path, body, streamed, &error), qPrintable(error));
        QCOMPARE(readFile(path), stored);
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(entries(folder), QStringList{QStringLiteral("7.png")}); // no temporary left
    }
}

// One judgement of "disk full" for every writer: a quota that is used up
// stops a job as a full disk does, on either transport.
void TestTileWriter::diskFullErrors_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("full");
    QTest::newRow("no space") << int(ENOSPC) << true;
    QTest::newRow("quota used up") << int(EDQUOT) << true;
    QTest::newRow("file-size limit") << int(EFBIG) << true;
    QTest::newRow("no permission") << int(EACCES) << false;
    QTest::newRow("input/output error") << int(EIO) << false;
}

void TestTileWriter::diskFullErrors()
{
    QFETCH(int, error);
    QFETCH(bool, full);
    QCOMPARE(TileFile::isDiskFullError(error), full);
}

void TestTileWriter::failedReplaceKeepsTheOldTile()
{
    const QString folder = m_dir.filePath(QStringLiteral("locked"));
    putFile(folder + QStringLiteral("/3.png"), "old tile");
    if (!lockFolder(folder, true))
        QSKIP("this file system cannot lock a folder against root");
    for (const bool streamed : {false, true}) {
        QVERIFY(!putTile(folder + QStringLiteral("/3.png"), "new tile", streamed));
        QVERIFY(!putTile(folder + QStringLiteral("/4.png"), "new tile", streamed));
    }
    QVERIFY(lockFolder(folder, false));
    QCOMPARE(readFile(folder + QStringLiteral("/3.png")), QByteArray("old tile"));
    QCOMPARE(entries(folder), QStringList{QStringLiteral("3.png")});

    // A folder that is a file: nothing is created, nothing is left.
    putFile(m_dir.filePath(QStringLiteral("plain")), "a file");
    QVERIFY(!putTile(m_dir.filePath(QStringLiteral("plain/1.png")), "x", false));
    QVERIFY(!putTile(m_dir.filePath(QStringLiteral("plain/2.png")), "x", true));
    QCOMPARE(readFile(m_dir.filePath(QStringLiteral("plain"))), QByteArray("a file"));
}

void TestTileWriter::queueKeepsOrderAndCountsFailures()
{
    const QString folder = m_dir.filePath(QStringLiteral("queue"));
    QVERIFY(QDir().mkpath(folder));
    putFile(m_dir.filePath(QStringLiteral("blocker")), "a file");
    TileWriter writer;
    // The same path twice: the later body wins, as the later request would.
    for (int i = 0; i < 200; ++i)
        writer.write(QStringLiteral("%1/%2.png").arg(folder).arg(i % 100), QByteArray::number(i));
    writer.write(m_dir.filePath(QStringLiteral("blocker/1.png")), "cannot be written");
    writer.write(m_dir.filePath(QStringLiteral("blocker/2.png")), "cannot be written");
    writer.waitForIdle();
    QCOMPARE(writer.pending(), 0);
    QCOMPARE(writer.takeFailures(), 2);
    QCOMPARE(writer.takeFailures(), 0);
    QCOMPARE(entries(folder).size(), 100);
    for (int i = 0; i < 100; ++i)
        QCOMPARE(readFile(QStringLiteral("%1/%2.png").arg(folder).arg(i)), QByteArray::number(i + 100));
}

void TestTileWriter::destructionWritesWhatIsQueued()
{
    const QString folder = m_dir.filePath(QStringLiteral("drain"));
    QVERIFY(QDir().mkpath(folder));
    {
        TileWriter writer;
        for (int i = 0; i < 50; ++i)
            writer.write(QStringLiteral("%1/%2.png").arg(folder).arg(i), QByteArray(10000, char('a' + i % 26)));
    }
    QCOMPARE(entries(folder).size(), 50);
    QCOMPARE(readFile(folder + QStringLiteral("/49.png")), QByteArray(10000, char('a' + 49 % 26)));
}

// Zoom/x folders appear with their first tile; a failed first tile takes the
// folders it made with it.
void TestTileWriter::foldersAreMadeOnlyForWrittenTiles()
{
    const QString root = m_dir.filePath(QStringLiteral("folders"));
    QVERIFY(QDir().mkpath(root));
    const TileFile::Result made = TileFile::store(root + QStringLiteral("/12/2161/1432.png"), "tile");
    QVERIFY2(made.ok(), qPrintable(made.reason()));
    QCOMPARE(readFile(root + QStringLiteral("/12/2161/1432.png")), QByteArray("tile"));

    // A file where the zoom folder's child should be: the write fails and
    // the zoom folder it had to make is gone again.
    putFile(root + QStringLiteral("/13/blocker"), "x");
    const TileFile::Result blocked = TileFile::store(root + QStringLiteral("/13/blocker/5/1.png"), "tile");
    QCOMPARE(blocked.outcome, TileFile::Result::Outcome::Failed);
    QCOMPARE(blocked.failure, TileFile::Result::Failure::Folder);
    QVERIFY(!blocked.reason().isEmpty());
    QCOMPARE(entries(root + QStringLiteral("/13")), QStringList{QStringLiteral("blocker")});

    if (lockFolder(root + QStringLiteral("/12"), true)) {
        const TileFile::Result refused = TileFile::store(root + QStringLiteral("/12/9/9/1.png"), "tile");
        QVERIFY(lockFolder(root + QStringLiteral("/12"), false));
        QCOMPARE(refused.failure, TileFile::Result::Failure::Folder);
        QCOMPARE(entries(root + QStringLiteral("/12")), QStringList{QStringLiteral("2161")});
    }
}

void TestTileWriter::probeFolder()
{
    const QString fresh = m_dir.filePath(QStringLiteral("probe/a/b/"));
    const TileFile::Result ok = TileFile::probeFolder(fresh);
    QVERIFY2(ok.ok(), qPrintable(ok.reason()));
    QVERIFY(QFileInfo(fresh).isDir());
    QCOMPARE(entries(fresh), QStringList()); // the probe is gone

    putFile(m_dir.filePath(QStringLiteral("probefile")), "a file");
    const TileFile::Result onFile = TileFile::probeFolder(m_dir.filePath(QStringLiteral("probefile/x")));
    QVERIFY(!onFile.ok());
    QCOMPARE(onFile.failure, TileFile::Result::Failure::Folder);

    const QString locked = m_dir.filePath(QStringLiteral("probelocked"));
    QVERIFY(QDir().mkpath(locked));
    if (!lockFolder(locked, true))
        QSKIP("this file system cannot lock a folder against root");
    const TileFile::Result refused = TileFile::probeFolder(locked);
    QVERIFY(lockFolder(locked, false));
    QCOMPARE(refused.failure, TileFile::Result::Failure::Create);
    QVERIFY2(refused.reason().contains(QStringLiteral("cannot be created")), qPrintable(refused.reason()));
    QCOMPARE(entries(locked), QStringList());
}

void TestTileWriter::tallyCountsOutcomes()
{
    const QString folder = m_dir.filePath(QStringLiteral("tally"));
    putFile(folder + QStringLiteral("/old.png"), "old");
    putFile(m_dir.filePath(QStringLiteral("tallyblocker")), "x");
    TileWriter writer;
    writer.write(folder + QStringLiteral("/1.png"), "a");
    writer.write(folder + QStringLiteral("/old.png"), QByteArray());
    writer.write(m_dir.filePath(QStringLiteral("tallyblocker/1.png")), "b");
    writer.write(folder + QStringLiteral("/2.png"), "c");
    writer.waitForIdle();
    QVERIFY(!writer.diskFull());
    const TileWriter::Tally tally = writer.takeTally();
    QCOMPARE(tally.stored, 2);
    QCOMPARE(tally.unchanged, 1);
    QCOMPARE(tally.failed, 1);
    QCOMPARE(tally.firstFailure.path, m_dir.filePath(QStringLiteral("tallyblocker/1.png")));
    QCOMPARE(readFile(folder + QStringLiteral("/old.png")), QByteArray("old"));
    QCOMPARE(writer.takeTally().stored, 0);
}

// A new tile and a replaced one both carry the time given with the body (a
// later conditional request asks about it); without one, the time is now.
void TestTileWriter::storedTileTakesTheServersTime()
{
    const QDateTime served = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);
    const QString folder = m_dir.filePath(QStringLiteral("times"));
    putFile(folder + QStringLiteral("/old.png"), "old");
    TileWriter writer;
    writer.write(folder + QStringLiteral("/new.png"), "new", served);
    writer.write(folder + QStringLiteral("/old.png"), "replaced", served);
    writer.write(folder + QStringLiteral("/untimed.png"), "now");
    QVERIFY(writer.pendingBytes() <= 14);
    writer.waitForIdle();
    QCOMPARE(writer.pendingBytes(), qint64(0));
    QCOMPARE(writer.takeTally().stored, 3);
    QCOMPARE(QFileInfo(folder + QStringLiteral("/new.png")).lastModified().toUTC(), served);
    QCOMPARE(QFileInfo(folder + QStringLiteral("/old.png")).lastModified().toUTC(), served);
    QCOMPARE(readFile(folder + QStringLiteral("/old.png")), QByteArray("replaced"));
    QVERIFY(QFileInfo(folder + QStringLiteral("/untimed.png")).lastModified().toUTC() > served.addYears(1));
}

// Bodies queued without waking the thread are written by whatever waits for
// it, by startWriting(), and by the writer's end: none is lost or hangs.
void TestTileWriter::bodiesQueuedLaterAreWritten()
{
    const QString folder = m_dir.filePath(QStringLiteral("later"));
    {
        TileWriter writer;
        writer.writeLater(folder + QStringLiteral("/1.png"), "one");
        writer.writeLater(folder + QStringLiteral("/2.png"), "two");
        writer.waitForIdle();
        QCOMPARE(writer.takeTally().stored, 2);
        writer.writeLater(folder + QStringLiteral("/3.png"), "three");
        writer.startWriting();
        QTRY_COMPARE(writer.pending(), 0);
        writer.writeLater(folder + QStringLiteral("/4.png"), "four");
    }
    QCOMPARE(entries(folder).size(), 4);
    QCOMPARE(readFile(folder + QStringLiteral("/4.png")), QByteArray("four"));
}

QTEST_GUILESS_MAIN(TestTileWriter)
#include "tst_tilewriter.moc"
