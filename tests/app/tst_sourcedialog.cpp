// The source dialog reopened on the source in use: OK alone changes nothing,
// whichever source that is. The dialog is run and answered by a click.

#include "app/SourceChoice.h"
#include "app/window/SourceDialogPrompt.h"
#include "settings/SettingsKeys.h"
#include "settings/SourceDestination.h"

#include "ModalAnswer.h"

#include <QDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(SourceState)

class TestSourceDialog : public QObject
{
    Q_OBJECT

private slots:
    void init() { SettingsKeys::openProgramStore()->clear(); }
    void reopenAndOk_data();
    void reopenAndOk();

private:
    QTemporaryDir m_dir;
};

void TestSourceDialog::reopenAndOk_data()
{
    QTest::addColumn<SourceState>("inUse");
    const QStringList roots{m_dir.filePath(QStringLiteral("D/mapdata/maps/")), m_dir.filePath(QStringLiteral("C/mapdata/maps/"))};
    QDir().mkpath(roots.first());
    auto standard = [&roots](int kind) {
        SourceState state;
        state.source.sourceKind = kind;
        state.destFolder = SourceDestination::standardDestination(QString(), kind, roots);
        return state;
    };
    QTest::newRow("Mapnik") << standard(0);
    QTest::newRow("Seamarks") << standard(1);
    SourceState elevation = standard(0);
    elevation.source.sourceKind = 2;
    QTest::newRow("SRTM") << elevation;
    SourceState listed = standard(0);
    listed.source.sourceKind = 3;
    listed.source.sourceFolder = QStringLiteral("http://tiles.example/osm/");
    QTest::newRow("listed server") << listed;
    SourceState theme = standard(0);
    theme.source.sourceKind = 3;
    theme.source.themeActive = true;
    theme.themeName = QStringLiteral("Theme One");
    theme.source.themeHost = QStringLiteral("theme.example");
    theme.source.sourceFolder = theme.source.themeHost;
    theme.source.themePort = QStringLiteral("8080");
    theme.source.themeStorageMode = QStringLiteral("OpenStreetMap");
    theme.destFolder = m_dir.filePath(QStringLiteral("D/mapdata/maps/earth/themeone/"));
    QTest::newRow("imported theme") << theme;
    SourceState wms = theme;
    wms.source.themeStorageMode = QStringLiteral("WebMapService");
    wms.source.tileLayout = false;
    QTest::newRow("imported Web Map Service") << wms;
}

void TestSourceDialog::reopenAndOk()
{
    QFETCH(SourceState, inUse);
    answerNextModal<QDialog>([](QDialog *dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
    });
    QWidget window;
    const std::optional<ChosenSource> chosen = SourceDialogPrompt::ask(&window, inUse);
    QVERIFY(chosen);
    const QStringList roots{m_dir.filePath(QStringLiteral("D/mapdata/maps/")), m_dir.filePath(QStringLiteral("C/mapdata/maps/"))};
    const SourceState after = SourceChoice::apply(inUse, *chosen, QStringLiteral("https://tile.example"),
                                                  QStringLiteral("https://seamarks.example"), roots)
                                  .state;
    QCOMPARE(after.source.sourceKind, inUse.source.sourceKind);
    QCOMPARE(after.source.sourceFolder, inUse.source.sourceFolder);
    QCOMPARE(after.source.themeActive, inUse.source.themeActive);
    QCOMPARE(after.source.tileLayout, inUse.source.tileLayout);
    QCOMPARE(after.destFolder, inUse.destFolder);
}

QTEST_MAIN(TestSourceDialog)
#include "tst_sourcedialog.moc"
