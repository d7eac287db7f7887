// The window's MBTiles export as a user drives it: Ctrl+E, the save dialog,
// the end text in the status line and the file it names.

#include "TileBodies.h"
#include "TestFiles.h"
#include "WindowSteps.h"
#include "app/window/CvTilewright.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace WindowSteps;

class TestExportWindow : public QObject
{
    Q_OBJECT

private slots:
    void exportByShortcut_data();
    void exportByShortcut();
};

void TestExportWindow::exportByShortcut_data()
{
    QTest::addColumn<bool>("chosen");
    QTest::addColumn<QString>("endText");
    QTest::newRow("packed") << true << QStringLiteral("Export finished: 2 of 3 tiles packed into %1, 1 skipped (1 corrupt)");
    QTest::newRow("cancelled") << false << QString();
}

void TestExportWindow::exportByShortcut()
{
    QFETCH(bool, chosen);
    QFETCH(QString, endText);
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("tiles"));
    const QByteArray sound = TileBodies::encoded("PNG");
    const QList<QPair<QString, QByteArray>> files{
        {QStringLiteral("/3/1/2.png"), sound}, {QStringLiteral("/3/2/2.png"), sound},
        {QStringLiteral("/3/2/3.png"), TileBodies::unsound().first().second}};
    for (const auto &file : files)
        QVERIFY(TestFiles::writeFile(root + file.first, file.second));
    const QString target = dir.filePath(QStringLiteral("packed.mbtiles"));

    CvTilewright window;
    window.show();
    chooseDestination(&window, root);
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QString before = form(&window).progLab->text();
    QString caption;
    answerNextModal<QFileDialog>([&](QFileDialog *dialog) {
        caption = dialog->windowTitle();
        if (!chosen)
            return dialog->reject();
        dialog->selectFile(target);
        static_cast<QDialog *>(dialog)->accept();
    });
    QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier);
    QTRY_COMPARE(caption, QStringLiteral("Export MBTiles"));
    if (!chosen) {
        QCOMPARE(form(&window).progLab->text(), before);
        QVERIFY(!QFile::exists(target));
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(form(&window).progLab->text(), endText.arg(target), 30000);
    QVERIFY(form(&window).downloadButton->isEnabled());
    QVERIFY(QFileInfo(target).size() > 2 * sound.size());
}

QTEST_MAIN(TestExportWindow)
#include "tst_exportwindow.moc"
