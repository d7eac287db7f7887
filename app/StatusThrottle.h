#pragma once

#include <QObject>
#include <QString>

class QTimer;

// Passes a stream of status texts on at most once per interval, so a fast job
// does not spend its time repainting the status line. The first text of a
// burst goes out at once, the last one when the interval is over; texts in
// between are passed over.
class StatusThrottle : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultIntervalMs = 40;

    explicit StatusThrottle(QObject *parent = nullptr, int intervalMs = DefaultIntervalMs);

    void show(const QString &text);
    // Drops a text still waiting, so it cannot overwrite what comes next.
    void clear();

signals:
    void textReady(const QString &text);

private:
    void intervalOver();

    QTimer *m_timer;
    int m_intervalMs;
    QString m_pending;

    Q_DISABLE_COPY(StatusThrottle)
};
