#include "acquire/TileWriter.h"

#include <QtTest>

#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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
    void failedReplaceKeepsTheOldTile();
    void queueKeepsOrderAndCountsFailures();
    void destructionWritesWhatIsQueued();

private:
    QTemporaryDir m_dir;
};

void TestTileWriter::writeTile_data()
{
    QTest::addColumn<QByteArray>("old"); // empty: no file before
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("new tile") << QByteArray() << QByteArray("\x89PNG new", 8);
    QTest::newRow("replaced tile") << QByteArray("old bytes") << QByteArray("\x89PNG new", 8);
    QTest::newRow("empty body") << QByteArray("old bytes") << QByteArray();
    QTest::newRow("large body") << QByteArray("old") << QByteArray(3 * 1024 * 1024, 'x');
}

void TestTileWriter::writeTile()
{
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, body);

    const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/7.png");
    if (!old.isEmpty())
        putFile(path, old);
    QString error;
    QVERIFY2(TileWriter::writeTile(path, body, &error), qPrintable(error));
    QCOMPARE(readFile(path), body);
    QCOMPARE(QFileInfo(path).size(), qint64(body.size()));
    QCOMPARE(entries(folder), QStringList{QStringLiteral("7.png")}); // no temporary left
}

void TestTileWriter::failedReplaceKeepsTheOldTile()
{
    const QString folder = m_dir.filePath(QStringLiteral("locked"));
    putFile(folder + QStringLiteral("/3.png"), "old tile");
    if (!lockFolder(folder, true))
        QSKIP("this file system cannot lock a folder against root");
    const bool replaced = TileWriter::writeTile(folder + QStringLiteral("/3.png"), "new tile");
    const bool created = TileWriter::writeTile(folder + QStringLiteral("/4.png"), "new tile");
    QVERIFY(lockFolder(folder, false));
    QVERIFY(!replaced);
    QVERIFY(!created);
    QCOMPARE(readFile(folder + QStringLiteral("/3.png")), QByteArray("old tile"));
    QCOMPARE(entries(folder), QStringList{QStringLiteral("3.png")});

    // A folder that is a file: nothing is created, nothing is left.
    putFile(m_dir.filePath(QStringLiteral("plain")), "a file");
    QVERIFY(!TileWriter::writeTile(m_dir.filePath(QStringLiteral("plain/1.png")), "x"));
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

QTEST_GUILESS_MAIN(TestTileWriter)
#include "tst_tilewriter.moc"
