#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

// Answers the next modal dialog of type T (any modal widget by default) as
// soon as it is shown: message boxes and file dialogs run their own event
// loop, so the answer has to be waiting in the event queue beforehand.
template<typename T = QWidget, typename Answer>
void answerNextModal(Answer answer)
{
    // Owned by the application, so a poll still waiting at the end goes too.
    auto *poll = new QTimer(QCoreApplication::instance());
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        if (T *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(dialog);
        }
    });
    poll->start();
}
