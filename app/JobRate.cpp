#include "app/JobRate.h"

#include <QtGlobal>

void JobRate::start(const QString &server)
{
    m_server = server;
    m_running = true;
    m_clock.start();
}

void JobRate::finish(qint64 answered)
{
    if (!m_running)
        return;
    m_running = false;
    if (answered <= 0)
        return;
    const double seconds = qMax<qint64>(m_clock.elapsed(), 1) / 1000.0;
    m_rates.insert(m_server, double(answered) / seconds);
}
