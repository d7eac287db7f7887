#pragma once

#include <QElapsedTimer>

// The pace of the last finished job of each kind (download or copy), in
// entries per second, for the time a new job is told to take.
class JobRate
{
public:
    void start(bool download);
    // The job begun last has ended with this many entries worked off.
    void finish(qint64 entries);
    // -1 before a job of that kind has finished.
    double entriesPerSecond(bool download) const { return download ? m_download : m_copy; }

private:
    QElapsedTimer m_clock;
    bool m_running = false;
    bool m_runningDownload = true;
    double m_download = -1;
    double m_copy = -1;
};
