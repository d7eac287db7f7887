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
    emitBar();
    m_timer->start(m_intervalMs);
}

void StatusThrottle::stepTo(int value, const QString &text)
{
    m_bar = value;
    // The first step of a chunk moves the bar at once, so a bar at its start
    // value always means a chunk that has only just begun.
    if (m_barNow && m_timer->isActive())
        emitBar();
    m_barNow = false;
    show(text);
}

void StatusThrottle::startBar(int value)
{
    m_bar = value;
    m_barShown = value - 1; // not yet shown
    emitBar();
    m_barNow = true;
}

void StatusThrottle::clear()
{
    m_timer->stop();
    m_pending.clear();
    m_barShown = m_bar;
    m_barNow = false;
}

void StatusThrottle::emitBar()
{
    if (m_barShown == m_bar)
        return;
    m_barShown = m_bar;
    emit barReady(m_bar);
}

void StatusThrottle::intervalOver()
{
    if (m_pending.isEmpty()) {
        emitBar();
        return;
    }
    const QString text = m_pending;
    m_pending.clear();
    emit textReady(text);
    emitBar();
    m_timer->start(m_intervalMs);
}
