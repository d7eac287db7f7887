#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// The progress of a job on stderr. On a terminal one line rewritten in place
// with the tiles per second and the time left; otherwise one plain line at
// every 5 % step, so a log stays short; nothing when quiet.
class ProgressLine
{
public:
    enum class Mode { Terminal, Steps, Quiet };

    // Terminal when the stream is one, Steps otherwise; Quiet when asked.
    static Mode modeFor(FILE *stream, bool quiet);

    ProgressLine(Mode mode, const QString &what, qint64 total, FILE *stream = stderr);

    void update(qint64 done);
    // For a job whose size becomes known as it runs.
    void setTotal(qint64 total) { m_total = total; }
    // Ends the line on a terminal (the next output starts on a new line).
    void finish();

    // "1,204/5,000 tiles (24 %), 85.3 tiles/s, 0:44 left"; the rate and the
    // time only once a second has passed.
    static QString text(const QString &what, qint64 done, qint64 total, qint64 elapsedMs);

private:
    Mode m_mode;
    QString m_what;
    qint64 m_total;
    FILE *m_stream;
    QElapsedTimer m_clock;
    qint64 m_lastShownMs = -1;
    int m_lastStep = -1;
    bool m_open = false;
};
