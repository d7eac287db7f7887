#pragma once

#include "acquire/CurlTransfer.h"

#include <QObject>
#include <QThread>

#include <atomic>

// Runs HTTPS transfers (CurlTransfer) one after the other on a worker thread,
// so the window stays responsive. Each start() gets an id; its end is
// reported by finished() on the owner's thread, through the event loop.
class ArchiveTransfer : public QObject
{
    Q_OBJECT

public:
    explicit ArchiveTransfer(QObject *parent = nullptr);
    // Ends the running transfer (within a second) and waits for the worker.
    ~ArchiveTransfer() override;

    // Queues a transfer behind any running one; returns its id (> 0).
    int start(const QString &url, const QString &localPath, const CurlTransfer::Options &options);
    // Ends every transfer started so far; each still reports finished().
    void abortAll();

signals:
    void finished(int id, int status, const QString &errorString);

private:
    QThread m_thread;
    QObject *m_context = nullptr; // lives on m_thread; runs the transfers
    int m_lastId = 0;
    // Transfers with an id up to this one are ended.
    std::atomic_int m_abortUpTo{0};

    Q_DISABLE_COPY(ArchiveTransfer)
};
