#pragma once

class QKeySequence;
class QString;
class QToolBar;
class QToolButton;

// The window's tool bar buttons.
class WindowToolBar
{
public:
    // A parentless tool button handed to the bar, which takes it over; no
    // shortcut is set for an empty sequence.
    static QToolButton *addButton(QToolBar *bar, const QString &icon, const QString &toolTip,
                                  const QKeySequence &shortcut);
};
