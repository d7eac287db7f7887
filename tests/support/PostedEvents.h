#pragma once

#include <QCoreApplication>
#include <QTest>

#include <memory>

// Delivers everything posted to this thread's event loop so far: a marker is
// posted behind it and waited for, so every event queued before the marker has
// been handled. Each further round also takes the events those handlers posted.
// This is how a test shows that "nothing more happens" after a worker has
// ended, without waiting for a quiet moment.
inline bool deliverPostedEvents(int rounds = 3, int timeoutMs = 20000)
{
    for (int i = 0; i < rounds; ++i) {
        const auto reached = std::make_shared<bool>(false);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [reached] { *reached = true; }, Qt::QueuedConnection);
        if (!QTest::qWaitFor([reached] { return *reached; }, timeoutMs))
            return false;
    }
    return true;
}
