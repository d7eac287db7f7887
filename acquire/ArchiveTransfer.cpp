#include "acquire/ArchiveTransfer.h"

#include <QMetaObject>
#include <QPointer>

ArchiveTransfer::ArchiveTransfer(QObject *parent)
    : QObject(parent)
{
    CurlTransfer::ensureGlobalInit();
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("ArchiveTransfer"));
    m_thread.start();
}

ArchiveTransfer::~ArchiveTransfer()
{
    abortAll();
    m_thread.quit();
    m_thread.wait();
    delete m_context;
}

int ArchiveTransfer::start(const QString &url, const QString &localPath,
                           const CurlTransfer::Options &options)
{
    const int id = ++m_lastId;
    QPointer<ArchiveTransfer> owner(this);
    std::atomic_int *abortUpTo = &m_abortUpTo;
    QMetaObject::invokeMethod(
        m_context,
        [owner, abortUpTo, id, url, localPath, options]() {
            const CurlTransfer::Result result = CurlTransfer::fetchToFile(
                url, localPath, options, [abortUpTo, id]() { return id <= abortUpTo->load(); });
            // The owner outlives the worker (its destructor waits for it), so
            // the report can be posted to it; it is delivered on its thread.
            QMetaObject::invokeMethod(
                owner.data(),
                [owner, id, result]() {
                    if (owner)
                        emit owner->finished(id, int(result.status), result.errorString);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return id;
}

void ArchiveTransfer::abortAll()
{
    m_abortUpTo.store(m_lastId);
}
