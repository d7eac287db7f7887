#include "SmallTmpfs.h"
#include "TestFiles.h"

#include "acquire/TileFile.h"
#include "acquire/TileWriter.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

// Tiles written to a disk that fills up or a process whose file size is
// limited: every old tile stays as it was or is replaced by the complete new
// body; nothing partial or temporary is left, and the failure says "disk full".

using TestFiles::filesBelow;
using TestFiles::readFile;
using TestFiles::writeFile;

namespace {

constexpr int FileSizeLimit = 6000;
const char ChildSwitch[] = "--write-under-limit";

QByteArray body(int size, char fill)
{
    return QByteArray(size, fill);
}

// The child: writes small and large tiles over old ones and new, directly and
// through the writer's thread, and prints one line per direct write.
int runChild(const QString &root)
{
    QTextStream out(stdout);
    for (int i = 0; i < 6; ++i) {
        const bool large = i % 2 == 1;
        const QString path = QStringLiteral("%1/12/%2/%3.png").arg(root).arg(i < 3 ? 100 : 200).arg(i);
        const TileFile::Result r = TileFile::store(path, body(large ? 9000 : 1000, char('n' + i)));
        out << path << ' ' << int(r.outcome) << ' ' << int(r.failure) << '\n';
    }
    TileWriter writer;
    writer.write(root + QStringLiteral("/12/100/10.png"), body(9000, 'q'));
    writer.write(root + QStringLiteral("/12/100/11.png"), body(1000, 'r'));
    writer.waitForIdle();
    const bool full = writer.diskFull();
    const TileWriter::Tally tally = writer.takeTally();
    out << "tally " << tally.stored << ' ' << tally.failed << ' ' << (full ? 1 : 0) << ' ' << tally.diskFull.reason()
        << '\n';
    return 0;
}

// The child limits itself before it writes anything; SIGXFSZ ignored turns
// the kill into an EFBIG write error, as on a disk with a quota.
void limitFileSize()
{
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = FileSizeLimit;
    setrlimit(RLIMIT_FSIZE, &limit);
}

} // namespace

class TestHostileDisk : public QObject
{
    Q_OBJECT

private slots:
    void fileSizeLimit();
    void fullTmpfs();
};

void TestHostileDisk::fileSizeLimit()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    // Old tiles at 0..5 (the odd ones get bodies above the limit), 10 and 11.
    QMap<QString, QByteArray> old;
    for (int i = 0; i < 6; ++i)
        old.insert(QStringLiteral("12/%1/%2.png").arg(i < 3 ? 100 : 200).arg(i), body(1500, char('a' + i)));
    old.insert(QStringLiteral("12/100/10.png"), body(1500, 'x'));
    old.remove(QStringLiteral("12/200/5.png")); // a new tile, too large
    for (auto it = old.cbegin(); it != old.cend(); ++it)
        QVERIFY(writeFile(root + QLatin1Char('/') + it.key(), it.value()));

    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QString::fromLatin1(ChildSwitch), root});
    child.start();
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 7);

    using Outcome = TileFile::Result::Outcome;
    using Failure = TileFile::Result::Failure;
    for (int i = 0; i < 6; ++i) {
        const QStringList f = lines.at(i).split(QLatin1Char(' '));
        const QString rel = QDir(root).relativeFilePath(f.at(0));
        const bool large = i % 2 == 1;
        if (large) {
            QCOMPARE(f.at(1).toInt(), int(Outcome::Failed));
            QCOMPARE(f.at(2).toInt(), int(Failure::DiskFull));
            QCOMPARE(readFile(f.at(0)), old.value(rel)); // old tile, or none at all
            QCOMPARE(QFileInfo::exists(f.at(0)), old.contains(rel));
        } else {
            QCOMPARE(f.at(1).toInt(), int(Outcome::Stored));
            QCOMPARE(readFile(f.at(0)), body(1000, char('n' + i)));
        }
    }
    QVERIFY2(lines.at(6).startsWith(QStringLiteral("tally 1 1 1 disk full")), qPrintable(lines.at(6)));
    QCOMPARE(readFile(root + QStringLiteral("/12/100/10.png")), body(1500, 'x'));
    QCOMPARE(readFile(root + QStringLiteral("/12/100/11.png")), body(1000, 'r'));
    QStringList expected{QStringLiteral("12/100/0.png"), QStringLiteral("12/100/1.png"), QStringLiteral("12/100/10.png"),
                         QStringLiteral("12/100/11.png"), QStringLiteral("12/100/2.png"), QStringLiteral("12/200/3.png"),
                         QStringLiteral("12/200/4.png")};
    QCOMPARE(filesBelow(root), expected); // no temporary, no partial new tile
}

// As root: a small tmpfs filled by the writer's thread.
void TestHostileDisk::fullTmpfs()
{
    SmallTmpfs disk(QStringLiteral("512k"));
    if (!disk.mounted())
        QSKIP(qPrintable(disk.whyNot()));

    const QString root = disk.path();
    for (int i = 0; i < 20; ++i)
        QVERIFY(writeFile(QStringLiteral("%1/10/1/%2.png").arg(root).arg(i), body(8000, 'o')));
    TileWriter writer;
    // Replacements first, then new tiles until the disk is full and past it.
    for (int i = 0; i < 20; ++i)
        writer.write(QStringLiteral("%1/10/1/%2.png").arg(root).arg(i), body(12000, 'n'));
    for (int i = 0; i < 80; ++i)
        writer.write(QStringLiteral("%1/10/2/%2.png").arg(root).arg(i), body(12000, 'm'));
    writer.waitForIdle();
    QVERIFY(writer.diskFull());
    const TileWriter::Tally tally = writer.takeTally();
    QVERIFY(tally.failed > 0);
    QVERIFY2(tally.diskFull.reason().startsWith(QStringLiteral("disk full")), qPrintable(tally.diskFull.reason()));
    for (int i = 0; i < 20; ++i) {
        const QByteArray b = readFile(QStringLiteral("%1/10/1/%2.png").arg(root).arg(i));
        QVERIFY(b == body(8000, 'o') || b == body(12000, 'n'));
    }
    int complete = 0;
    for (const QString &rel : filesBelow(root)) {
        QVERIFY2(rel.endsWith(QStringLiteral(".png")), qPrintable(rel));
        const QByteArray b = readFile(root + QLatin1Char('/') + rel);
        if (rel.startsWith(QStringLiteral("10/2/"))) {
            QCOMPARE(b, body(12000, 'm'));
            ++complete;
        }
    }
    QVERIFY(complete < 80); // the disk did fill
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], ChildSwitch) == 0)
    {
        limitFileSize();
        return runChild(QString::fromLocal8Bit(argv[2]));
    }
    TestHostileDisk test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostile_disk.moc"
