#pragma once

#include <QObject>
#include <QString>

class QTimer;

// Passes a stream of status texts on at most once per interval, so a fast job
// does not spend its time repainting the status line. The first text of a
// burst goes out at once, the last one when the interval is over; texts in
// between are passed over. The progress bar's value travels with the texts:
// a step held back costs no repaint of the bar either.
class StatusThrottle : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultIntervalMs = 40;

    explicit StatusThrottle(QObject *parent = nullptr, int intervalMs = DefaultIntervalMs);

    void show(const QString &text);
    // One entry more: the bar's value goes up by one and the text is shown.
    void step(const QString &text) { stepTo(m_bar + 1, text); }
    // The bar's value is now value (entries passed over without a text
    // included) and the text is shown.
    void stepTo(int value, const QString &text);
    // A new chunk: the bar shows value at once, and so does its first step.
    void startBar(int value);
    int barValue() const { return m_bar; }
    // Drops a text still waiting, so it cannot overwrite what comes next.
    void clear();

signals:
    void textReady(const QString &text);
    void barReady(int value);

private:
    void intervalOver();
    void emitBar();

    QTimer *m_timer;
    int m_intervalMs;
    QString m_pending;
    int m_bar = 0;
    int m_barShown = 0;
    bool m_barNow = false;

    Q_DISABLE_COPY(StatusThrottle)
};
