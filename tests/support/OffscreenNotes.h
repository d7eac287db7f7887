#pragma once

#include <QString>
#include <QtGlobal>

// The offscreen platform notes every size-hint change of a top-level window
// ("This plugin does not support propagateSizeHints()"). A test of windows
// calls this once in initTestCase so its log shows what matters; every other
// message goes on to the handler that was installed before.
inline void hideOffscreenSizeHintNotes()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
        if (!message.contains(QLatin1String("propagateSizeHints")))
            previous(type, context, message);
    });
}
