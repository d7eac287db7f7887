#pragma once

// The main window's form as a test sees it: its named widgets, found by
// object name (the form header is private to the window's library).

#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>

#include <memory>

struct WindowForm
{
    explicit WindowForm(const QWidget *window)
        : groupBox(find<QGroupBox>(window, "groupBox"))
        , groupBox_2(find<QGroupBox>(window, "groupBox_2"))
        , verticalLayout(find<QLayout>(window, "verticalLayout"))
        , lonLabel(find<QLabel>(window, "lonLabel"))
        , latLabel(find<QLabel>(window, "latLabel"))
        , zoomLabel(find<QLabel>(window, "zoomLabel"))
        , zoomToLabel(find<QLabel>(window, "zoomToLabel"))
        , zoomTo(find<QSpinBox>(window, "zoomTo"))
        , folderLabel(find<QLabel>(window, "folderLabel"))
        , tilesFolder(find<QLabel>(window, "tilesFolder"))
        , progLab(find<QLabel>(window, "progLab"))
        , progressBar(find<QProgressBar>(window, "progressBar"))
        , urlButton(find<QPushButton>(window, "urlButton"))
        , browseButton(find<QPushButton>(window, "browseButton"))
        , downloadButton(find<QPushButton>(window, "downloadButton"))
        , cancleButton(find<QPushButton>(window, "cancleButton"))
        , okButton(find<QPushButton>(window, "okButton"))
        , mainToolBar(find<QToolBar>(window, "mainToolBar"))
    {
    }

    QGroupBox *groupBox;
    QGroupBox *groupBox_2;
    QLayout *verticalLayout;
    QLabel *lonLabel;
    QLabel *latLabel;
    QLabel *zoomLabel;
    QLabel *zoomToLabel;
    QSpinBox *zoomTo;
    QLabel *folderLabel;
    QLabel *tilesFolder;
    QLabel *progLab;
    QProgressBar *progressBar;
    QPushButton *urlButton;
    QPushButton *browseButton;
    QPushButton *downloadButton;
    QPushButton *cancleButton;
    QPushButton *okButton;
    QToolBar *mainToolBar;

private:
    template <typename T>
    static T *find(const QWidget *window, const char *name)
    {
        T *child = window->findChild<T *>(QString::fromLatin1(name));
        if (!child)
            qFatal("the main window has no %s", name);
        return child;
    }
};

inline WindowForm form(const QWidget *window) { return WindowForm(window); }

template <typename W>
WindowForm form(const std::unique_ptr<W> &window)
{
    return WindowForm(window.get());
}
