#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

// The pace of each server, in answered requests per second, for the time a
// new job is told to take. Only answers count: entries that sent no request
// (no address, not writable) cost no time and say nothing about a server.
// A copy job's pace is kept under an empty server name.
class JobRate
{
public:
    void start(const QString &server);
    // The job begun last has ended (or was stopped) with this many answers.
    void finish(qint64 answered);
    // -1 before a job with answers from that server has ended.
    double entriesPerSecond(const QString &server) const { return m_rates.value(server, -1); }

private:
    QElapsedTimer m_clock;
    bool m_running = false;
    QString m_server;
    QHash<QString, double> m_rates;
};
