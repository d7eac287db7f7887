#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// The time bounds of one transfer, the same on both transports: no answer
// within the connect time, or slower than the low-speed limit for a whole
// period, ends it. A server that accepts and never answers, or trickles a
// byte a second, must not hold the job on one tile for good. A value of the
// transfer's own: it may live on any thread.
class TransferWatch
{
public:
    TransferWatch(int connectSeconds, int lowSpeedSeconds, int lowSpeedBytesPerSecond);

    // The request goes out now.
    void start();
    // The answer's headers came.
    void answered() { m_answered = true; }
    // received: bytes of the answer so far. True when the transfer is to end.
    bool expired(qint64 received);

private:
    qint64 m_connectMs;
    qint64 m_periodMs;
    qint64 m_bytesPerPeriod;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_window;
    qint64 m_windowStart = 0;
    bool m_answered = false;
};
