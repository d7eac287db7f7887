#include "app/StatusThrottle.h"

#include <QTimer>

StatusThrottle::StatusThrottle(QObject *parent, int intervalMs)
    : QObject(parent)
    , m_timer(new QTimer(this))
    , m_intervalMs(intervalMs)
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &StatusThrottle::intervalOver);
}

void StatusThrottle::show(const QString &text)
{
    if (m_timer->isActive()) {
        m_pending = text;
        return;
    }
    emit textReady(text);
    m_timer->start(m_intervalMs);
}

void StatusThrottle::clear()
{
    m_timer->stop();
    m_pending.clear();
}

void StatusThrottle::intervalOver()
{
    if (m_pending.isEmpty())
        return;
    const QString text = m_pending;
    m_pending.clear();
    emit textReady(text);
    m_timer->start(m_intervalMs);
}
