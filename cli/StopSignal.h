#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM as a signal of the event loop: the handler only writes
// one byte into a pipe (async-signal-safe), and the loop reads it and emits
// requested(). A second signal while the job winds down does the same again,
// which the command ignores; nothing is ever done inside the handler.
class StopSignal : public QObject
{
    Q_OBJECT

public:
    explicit StopSignal(QObject *parent = nullptr);
    ~StopSignal() override;

    // The signal that arrived first, 0 before any.
    int received() const { return m_received; }

signals:
    void requested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
    int m_received = 0;

    Q_DISABLE_COPY(StopSignal)
};
