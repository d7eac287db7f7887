#pragma once

// What a person does in the main window, for tests that drive it from
// outside: the map, the tool buttons, the Source dialog, the destination
// dialog and the theme import, each answered as the person would.

#include "ModalAnswer.h"
#include "WindowForm.h"
#include "mapview/widgets/CvMapWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>

namespace WindowSteps {

inline CvMapWidget *mapOf(const QWidget *window) { return window->findChild<CvMapWidget *>(); }

// The tool bar's buttons in their order: 0 Info, 1 Help, 2 Import, 3 Export.
inline QToolButton *toolButton(const QWidget *window, int index)
{
    QToolBar *bar = form(window).mainToolBar;
    QList<QToolButton *> buttons;
    for (QAction *action : bar->actions())
        if (auto *button = qobject_cast<QToolButton *>(bar->widgetForAction(action)))
            buttons << button;
    return buttons.value(index);
}

// The deferred proxy detection's timer.
inline QTimer *proxyTimer(const QWidget *window) { return window->findChild<QTimer *>(QStringLiteral("proxyTimer")); }

// Opens the Source dialog and lets steps answer it.
inline void sourceDialog(QWidget *window, const std::function<void(QDialog *)> &steps)
{
    answerNextModal<QDialog>(steps);
    QTest::mouseClick(form(window).urlButton, Qt::LeftButton);
}

inline QPushButton *dialogButton(QDialog *dialog, const char *name)
{
    return dialog->findChild<QPushButton *>(QString::fromLatin1(name));
}

// "use Http connection": set to download, cleared to copy from a folder.
inline void setHttp(QDialog *dialog, bool http)
{
    auto *box = dialog->findChild<QCheckBox *>(QStringLiteral("httpBox"));
    if (box->isChecked() != http)
        QTest::mouseClick(box, Qt::LeftButton);
}

inline void chooseDestination(QWidget *window, const QString &folder);

// A server address typed into the Source dialog and taken with OK. The
// window proposes a folder named after the server; the destination the test
// had is picked again with the Destination button, as a person would.
inline void chooseServer(QWidget *window, const QString &address)
{
    const QString destination = form(window).tilesFolder->text();
    sourceDialog(window, [address](QDialog *d) {
        setHttp(d, true);
        auto *line = d->findChild<QLineEdit *>(QStringLiteral("lineEdit"));
        line->clear();
        QTest::keyClicks(line, address);
        QTest::mouseClick(dialogButton(d, "okButton"), Qt::LeftButton);
    });
    if (form(window).tilesFolder->text() != destination && QFileInfo(destination).isDir())
        chooseDestination(window, destination);
}

// An entry of the Source dialog's list (0 Mapnik, 1 Seamarks, 2 SRTM, then
// the listed servers and the theme) taken with OK.
inline void chooseEntry(QWidget *window, int index)
{
    sourceDialog(window, [index](QDialog *d) {
        setHttp(d, true);
        // A text left in the line would be taken as a server typed.
        d->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->clear();
        auto *combo = d->findChild<QComboBox *>(QStringLiteral("comboBox"));
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(combo, Qt::Key_Down);
        QTest::mouseClick(dialogButton(d, "okButton"), Qt::LeftButton);
    });
}

// Copy mode: "use Http connection" cleared, the folder picked, OK.
inline void chooseCopySource(QWidget *window, const QString &folder)
{
    sourceDialog(window, [folder](QDialog *d) {
        setHttp(d, false);
        answerNextModal<QFileDialog>([folder](QFileDialog *files) {
            files->setDirectory(folder);
            static_cast<QDialog *>(files)->accept();
        });
        QTest::mouseClick(dialogButton(d, "addButton"), Qt::LeftButton);
        QTest::mouseClick(dialogButton(d, "okButton"), Qt::LeftButton);
    });
}

// The Destination button and its folder dialog; an empty folder cancels.
inline void chooseDestination(QWidget *window, const QString &folder)
{
    answerNextModal<QFileDialog>([folder](QFileDialog *dialog) {
        if (folder.isEmpty()) {
            dialog->reject();
            return;
        }
        // With nothing selected the dialog answers its current folder.
        dialog->setDirectory(folder);
        static_cast<QDialog *>(dialog)->accept();
    });
    QTest::mouseClick(form(window).browseButton, Qt::LeftButton);
}

// F3 and the theme file; gives the folder the file dialog opened in.
inline QString importTheme(QWidget *window, const QString &file)
{
    auto opened = std::make_shared<QString>();
    auto answered = std::make_shared<bool>(false);
    answerNextModal<QFileDialog>([file, opened, answered](QFileDialog *dialog) {
        *opened = dialog->directory().absolutePath() + QLatin1Char('/');
        dialog->selectFile(file);
        // selectFile leaves the name field alone while it has the focus, and
        // the dialog then takes nothing; the name goes in as if typed.
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(file);
        static_cast<QDialog *>(dialog)->accept();
        *answered = true;
    });
    // F3 is a shortcut of the active window; it animates the button's click,
    // which lands a moment later.
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return QString();
    QTest::keyClick(window, Qt::Key_F3);
    return QTest::qWaitFor([answered] { return *answered; }) ? *opened : QString();
}

} // namespace WindowSteps
