#include "app/window/WindowToolBar.h"

#include <QIcon>
#include <QKeySequence>
#include <QToolBar>
#include <QToolButton>

QToolButton *WindowToolBar::addButton(QToolBar *bar, const QString &icon, const QString &toolTip,
                                      const QKeySequence &shortcut)
{
    auto *button = new QToolButton;
    button->setIcon(QIcon(icon));
    button->setToolTip(toolTip);
    if (!shortcut.isEmpty())
        button->setShortcut(shortcut);
    button->setEnabled(true);
    bar->addWidget(button);
    return button;
}
