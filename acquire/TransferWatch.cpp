#include "acquire/TransferWatch.h"

TransferWatch::TransferWatch(int connectSeconds, int lowSpeedSeconds, int lowSpeedBytesPerSecond)
    : m_connectMs(qint64(connectSeconds) * 1000)
    , m_periodMs(qint64(lowSpeedSeconds) * 1000)
    , m_bytesPerPeriod(qint64(lowSpeedBytesPerSecond) * lowSpeedSeconds)
{
}

void TransferWatch::start()
{
    m_answered = false;
    m_windowStart = 0;
    m_sinceStart.start();
    m_window.start();
}

bool TransferWatch::expired(qint64 received)
{
    if (!m_answered)
        return m_sinceStart.elapsed() >= m_connectMs;
    if (m_window.elapsed() < m_periodMs)
        return false;
    // Headers count as one byte: an answer that sent them has begun.
    if (qMax<qint64>(received, 1) - m_windowStart < m_bytesPerPeriod)
        return true;
    m_windowStart = qMax<qint64>(received, 1);
    m_window.restart();
    return false;
}
