#include "app/window/ProxyStep.h"

#include "settings/AppConfig.h"
#include "settings/HttpWindowEnvironment.h"

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

ProxyStep::~ProxyStep() = default;

std::optional<ProxySettings> ProxyStep::detect(int sourceKind, const QString &sourceFolder)
{
    if (m_result) {
        const ProxySettings proxy = *m_result;
        m_result.reset();
        return proxy;
    }
    // A timeout while a detection tests or asks leaves it alone; it emits
    // due() when it ends.
    if (running)
        return std::nullopt;
    if (timer)
        timer->stop();
    const QUrl query = ProxyDetection::queryAddress(sourceKind, sourceFolder, AppConfig::instance().osmTileUrl);
    running = true;
    m_starting = true;
    // The environment of the last detection may still be on its way out of
    // its own signal; it is dropped only now.
    m_environment = std::make_unique<HttpWindowEnvironment>(m_window);
    ProxyDetection::configure(state, query, *m_environment, [this](const ProxyState &next, const ProxySettings &proxy) {
        running = false;
        state = next;
        state.useProxy = proxy.enabled;
        m_result = proxy;
        if (!m_starting)
            emit due();
    });
    m_starting = false;
    if (!m_result)
        return std::nullopt;
    const ProxySettings proxy = *m_result;
    m_result.reset();
    return proxy;
}

ProxySettings ProxyStep::settings() const
{
    return ProxySettings{state.host, state.port, state.user, state.password, state.useProxy};
}
