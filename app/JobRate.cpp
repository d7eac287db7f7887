#include "app/JobRate.h"

#include <QtGlobal>

void JobRate::start(bool download)
{
    m_runningDownload = download;
    m_running = true;
    m_clock.start();
}

void JobRate::finish(qint64 entries)
{
    if (!m_running)
        return;
    m_running = false;
    // A job that did nothing says nothing about the pace.
    if (entries <= 0)
        return;
    const double seconds = qMax<qint64>(m_clock.elapsed(), 1) / 1000.0;
    (m_runningDownload ? m_download : m_copy) = double(entries) / seconds;
}
