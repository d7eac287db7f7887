// Theme import in the window, driven only through its widgets: a file that
// fails changes nothing (destination, offered theme), and a FIFO is refused
// at once.

#include "ModalAnswer.h"
#include "OffscreenNotes.h"
#include "WindowForm.h"
#include "app/window/CvTilewright.h"
#include "settings/AppConfig.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestThemeImport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void failedImportChangesNothing();
    void fifoRefusedAtOnce();

private:
    // F3, the file typed into the open dialog; the box that follows is
    // answered and its text returned (empty when none came).
    QString importTheme(CvTilewright *w, const QString &file, bool boxExpected);
    QStringList offeredSources(CvTilewright *w);
    QString writeTheme(const QString &name, const QByteArray &text);

    QTemporaryDir m_work;
};

void TestThemeImport::initTestCase()
{
    hideOffscreenSizeHintNotes();
    qputenv("TILEWRIGHT_ROOT_D", m_work.filePath(QStringLiteral("D/")).toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", m_work.filePath(QStringLiteral("C/")).toUtf8());
    qputenv("TILEWRIGHT_OSM_TILE_URL", "http://127.0.0.1:9");
    qunsetenv("http_proxy");
    AppConfig::reload();
    SettingsKeys::openProgramStore()->clear();
    for (const char *folder : {"themeone", "themetwo"})
        QVERIFY(QDir().mkpath(m_work.filePath(QStringLiteral("D/mapdata/maps/earth/") + QLatin1String(folder))));
}

QString TestThemeImport::writeTheme(const QString &name, const QByteArray &text)
{
    const QString path = m_work.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QString();
    return path;
}

QString TestThemeImport::importTheme(CvTilewright *w, const QString &file, bool boxExpected)
{
    auto boxText = std::make_shared<QString>();
    auto answered = std::make_shared<bool>(false);
    answerNextModal<QFileDialog>([file, boxText, answered, boxExpected](QFileDialog *dialog) {
        *answered = true;
        dialog->selectFile(file);
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(file);
        if (boxExpected) {
            answerNextModal<QMessageBox>([boxText](QMessageBox *box) {
                *boxText = box->windowTitle() + QStringLiteral(": ") + box->text();
                box->accept();
            });
        }
        static_cast<QDialog *>(dialog)->accept();
    });
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w))
        return QStringLiteral("window not active");
    QTest::keyClick(w, Qt::Key_F3);
    const bool ended = boxExpected ? QTest::qWaitFor([boxText] { return !boxText->isEmpty(); }, 10000)
                                   : QTest::qWaitFor([answered] { return *answered; }, 10000);
    return ended ? *boxText : QStringLiteral("no answer");
}

QStringList TestThemeImport::offeredSources(CvTilewright *w)
{
    QStringList offered;
    answerNextModal<QDialog>([&offered](QDialog *dialog) {
        auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("comboBox"));
        for (int i = 0; combo && i < combo->count(); ++i)
            offered << combo->itemText(i);
        dialog->reject();
    });
    QTest::mouseClick(form(w).urlButton, Qt::LeftButton);
    return offered;
}

// A theme malformed after its tile folder: the destination stays where the
// good theme before it put it, and that theme stays on offer.
void TestThemeImport::failedImportChangesNothing()
{
    CvTilewright w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString good = writeTheme(QStringLiteral("good.dgml"),
                                    "<dgml><name>Good</name><sourcedir>earth/themeone</sourcedir>"
                                    "<downloadUrl host=\"good.example\" path=\"/\"/></dgml>");
    QCOMPARE(importTheme(&w, good, false), QString());
    const QString goodFolder = m_work.filePath(QStringLiteral("D/mapdata/maps/earth/themeone/"));
    QTRY_COMPARE(form(&w).tilesFolder->text(), goodFolder);

    const QString bad = writeTheme(QStringLiteral("bad.dgml"),
                                   "<dgml><name>Bad</name><sourcedir>earth/themetwo</sourcedir>\n<broken></dgml>");
    const QString box = importTheme(&w, bad, true);
    QVERIFY2(box.startsWith(QLatin1String("Parse Dgml error: ")) && box.contains(QLatin1String("line 2")),
             qPrintable(box));
    QCOMPARE(form(&w).tilesFolder->text(), goodFolder);
    QCOMPARE(offeredSources(&w).value(3), QStringLiteral("Good"));
}

// F3 on a named pipe: refused with a message at once, not opened (which
// would wait for a writer).
void TestThemeImport::fifoRefusedAtOnce()
{
    const QString fifo = m_work.filePath(QStringLiteral("pipe.dgml"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    CvTilewright w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString before = form(&w).tilesFolder->text();
    const QString box = importTheme(&w, fifo, true);
    QCOMPARE(box, QStringLiteral("Parse Dgml error: %1 is not a regular file; nothing was imported.").arg(fifo));
    QCOMPARE(form(&w).tilesFolder->text(), before);
    QCOMPARE(offeredSources(&w).size(), 3);
}

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(tilewright);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("CvTilewrightTests"));
    QCoreApplication::setApplicationName(QStringLiteral("themeimport"));
    TestThemeImport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_themeimport.moc"
