#include "app/window/ProxyStep.h"

#include "settings/AppConfig.h"
#include "settings/HttpWindowEnvironment.h"

#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWidget>

ProxyStep::ProxyStep(QWidget *window)
    : m_window(window)
{
}

void ProxyStep::restart()
{
    if (!timer) {
        timer = new QTimer(m_window);
        connect(timer, &QTimer::timeout, this, &ProxyStep::due);
    }
    timer->start(AppConfig::instance().proxyDelayMs);
}

std::optional<ProxySettings> ProxyStep::detect(int sourceKind, const QString &sourceFolder)
{
    // A detection waits for its test and its dialog with the event loop
    // running; a timeout meanwhile leaves the timer on, so the next detection
    // follows once this one has ended.
    if (running)
        return std::nullopt;
    if (timer)
        timer->stop();
    QPointer<ProxyStep> self(this);
    ProxyState next = state;
    const QUrl query = ProxyDetection::queryAddress(sourceKind, sourceFolder, AppConfig::instance().osmTileUrl);
    running = true;
    HttpWindowEnvironment environment(m_window);
    const ProxySettings proxy = ProxyDetection::configure(next, query, environment);
    if (!self)
        return std::nullopt; // the window, and this with it, went away during the wait
    running = false;
    state = next;
    state.useProxy = proxy.enabled;
    return proxy;
}

ProxySettings ProxyStep::settings() const
{
    return ProxySettings{state.host, state.port, state.user, state.password, state.useProxy};
}
