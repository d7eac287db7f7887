#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>


// Answers the next modal dialog of type T (any modal widget by default) as
// soon as it is shown: message boxes and file dialogs run their own event
// loop, so the answer has to be waiting in the event queue beforehand.
//
// A dialog may be shown, and so be answered, while QDialog::exec() still
// processes events before it enters its own loop; closed then, the loop that
// follows would wait for ever with nothing on screen. Such a dialog, hidden
// but not yet gone a moment after its answer, is closed once more with the
// result it was given, now that its loop runs.
template<typename T = QWidget, typename Answer>
void answerNextModal(Answer answer)
{
    // Owned by the application, so a poll still waiting at the end goes too.
    auto *poll = new QTimer(QCoreApplication::instance());
    poll->setInterval(10);
    auto answered = std::make_shared<QPointer<QDialog>>();
    auto ticks = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, answered, ticks] {
        if (*ticks > 0) {
            QDialog *dialog = *answered;
            if (dialog && !dialog->isHidden())
                *ticks = 1; // still open: what it does next is its own business
            if (dialog && (!dialog->isHidden() || ++*ticks < 10))
                return;
            poll->stop();
            poll->deleteLater();
            if (dialog)
                dialog->done(dialog->result());
            return;
        }
        if (T *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            *answered = qobject_cast<QDialog *>(dialog);
            *ticks = 1;
            answer(dialog);
            if (!*answered) {
                poll->stop();
                poll->deleteLater();
            }
        }
    });
    poll->start();
}
