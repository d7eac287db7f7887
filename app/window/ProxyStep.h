#pragma once

#include "settings/ProxyDetection.h"
#include "settings/ProxySettings.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class ProxyEnvironment;
class QTimer;
class QWidget;

// The window's deferred proxy detection: the timer that is started after the
// window is built and after every applied source, the proxy fields a
// detection reads and leaves, and the guard that keeps a second detection
// out while one waits for its test or its dialog. Nothing waits in a nested
// event loop: a detection that has to test or ask ends later, and then
// emits due() once more; the next detect() hands its result over.
class ProxyStep : public QObject
{
    Q_OBJECT

public:
    // The window is the timer's parent and the credentials dialog's.
    explicit ProxyStep(QWidget *window);
    ~ProxyStep() override;

    // (Re)starts the timer; the first call makes it. Its timeout is due().
    void restart();

    // The proxy to apply program-wide, when there is one to apply: the result
    // of a detection that ended since the last call, or of one that this call
    // started and that ended at once (no proxy named, or one in force).
    // Otherwise nothing: this call started a detection that tests or asks
    // (its end emits due()), or one is running already. useProxy tells
    // whether a proxy is in force.
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
    std::unique_ptr<ProxyEnvironment> m_environment;
    std::optional<ProxySettings> m_result; // ended, not handed over yet
    bool m_starting = false;

    Q_DISABLE_COPY(ProxyStep)
};
