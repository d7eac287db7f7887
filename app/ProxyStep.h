#pragma once

#include "settings/ProxyDetection.h"
#include "settings/ProxySettings.h"

#include <QObject>
#include <QString>

#include <optional>

class QTimer;
class QWidget;

// The window's deferred proxy detection: the timer that is started after the
// window is built and after every applied source, the proxy fields a
// detection reads and leaves, and the guard that keeps a second detection
// out while one waits for its test or its dialog with the event loop running.
class ProxyStep : public QObject
{
    Q_OBJECT

public:
    // The window is the timer's parent and the credentials dialog's.
    explicit ProxyStep(QWidget *window);

    // (Re)starts the timer; the first call makes it. Its timeout is due().
    void restart();

    // One detection for the source: stops the timer, asks the system and, when
    // it names a proxy, the store or the user, and keeps the fields it left;
    // useProxy tells whether a proxy is in force. The proxy to apply
    // program-wide, or nothing when a detection is running already (the
    // timer stays on, so one follows) or the window went away during the wait.
    std::optional<ProxySettings> detect(int sourceKind, const QString &sourceFolder);

    // The proxy in force as the downloads read it, credentials entered last included.
    ProxySettings settings() const;

    ProxyState state;
    QTimer *timer = nullptr; // made by the first restart()
    bool running = false;    // a detection is waiting for its test or dialog

signals:
    void due();

private:
    QWidget *m_window;

    Q_DISABLE_COPY(ProxyStep)
};
