#pragma once

#include "acquire/MbtilesExport.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

// An MBTiles export on a worker thread of its own, free of the window: the
// thread runs MbtilesExport::run and leaves its progress and result under a
// mutex; the owner's thread is woken through the event loop by a call that
// carries no data, takes them under the lock and reports them by signal.
// Stopped and joined at the latest when this object goes.
class MbtilesExportRun : public QObject
{
    Q_OBJECT

public:
    explicit MbtilesExportRun(QObject *parent = nullptr);
    ~MbtilesExportRun() override;

    // False while an export runs.
    bool start(const MbtilesExport::Request &request);
    // The export ends at its next tile; ended() follows with "stopped".
    void stop() { m_cancel = true; }
    bool running() const { return m_thread.joinable(); }
    // The counts of the export that ended last; read once ended() came (the
    // worker is joined by then).
    const MbtilesExport::Result &result() const { return m_result; }

signals:
    void progress(qint64 done, qint64 total);
    // The export is over: its end text, and whether the target holds it.
    void ended(const QString &endText, bool ok);

private slots:
    void takeNews(); // owner's thread

private:
    void post(); // worker thread, under the lock

    std::thread m_thread;
    std::atomic_bool m_cancel{false};
    std::mutex m_mutex;
    // Shared with the worker, under m_mutex:
    qint64 m_done = 0;
    qint64 m_total = 0;
    bool m_finished = false;
    bool m_posted = false;
    MbtilesExport::Result m_result;
    // The owner's own:
    QString m_target;

    Q_DISABLE_COPY(MbtilesExportRun)
};
