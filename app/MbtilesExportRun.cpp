#include "app/MbtilesExportRun.h"

#include "app/JobTexts.h"

#include <QMetaObject>

MbtilesExportRun::MbtilesExportRun(QObject *parent)
    : QObject(parent)
{
}

MbtilesExportRun::~MbtilesExportRun()
{
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join(); // its last call to takeNews() goes with this object
}

bool MbtilesExportRun::start(const MbtilesExport::Request &request)
{
    if (m_thread.joinable())
        return false;
    m_cancel = false;
    m_target = request.target;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_done = m_total = 0;
        m_finished = m_posted = false;
    }
    m_thread = std::thread([this, request] {
        const MbtilesExport::Result result = MbtilesExport::run(request, m_cancel, [this](qint64 done, qint64 total) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_done = done;
            m_total = total;
            post();
        });
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_result = result;
        m_finished = true;
        post();
    });
    return true;
}

void MbtilesExportRun::post()
{
    if (m_posted)
        return; // the owner has not taken the last news yet; it takes these too
    m_posted = true;
    // By name: no object of ours crosses to the owner's thread inside Qt's queue.
    QMetaObject::invokeMethod(this, "takeNews", Qt::QueuedConnection);
}

void MbtilesExportRun::takeNews()
{
    qint64 done = 0;
    qint64 total = 0;
    bool finished = false;
    MbtilesExport::Result result;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_posted = false;
        done = m_done;
        total = m_total;
        finished = m_finished;
        if (finished)
            result = m_result;
    }
    if (total > 0)
        emit progress(done, total);
    if (!finished || !m_thread.joinable())
        return;
    m_thread.join();
    emit ended(JobTexts::exportEnd(result, m_target), result.ok);
}
