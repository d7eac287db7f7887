#include "acquire/JobOutcome.h"

#include <QCoreApplication>

void JobOutcome::addFailed(Reason reason, int httpStatus)
{
    ++m_failed[Key(int(reason), reason == Reason::HttpStatus ? httpStatus : 0)];
}

void JobOutcome::addSkipped(Reason reason)
{
    ++m_skipped[int(reason)];
}

void JobOutcome::storedButNotWritten(int count)
{
    count = qBound(0, count, m_stored);
    m_stored -= count;
    if (count > 0)
        m_failed[Key(int(Reason::Unwritable), 0)] += count;
}

void JobOutcome::noteFormat(const QString &format, const QString &extension)
{
    if (m_formatNote.isEmpty())
        m_formatNote = QCoreApplication::translate("CvTilewright",
                                                   "Download finished! The tile format \"%1\" is no file "
                                                   "extension; tiles were saved as .%2")
                           .arg(format, extension);
}

int JobOutcome::failed() const
{
    int sum = 0;
    for (const int count : m_failed)
        sum += count;
    return sum;
}

int JobOutcome::failed(Reason reason) const
{
    int sum = 0;
    for (auto it = m_failed.cbegin(); it != m_failed.cend(); ++it) {
        if (it.key().first == int(reason))
            sum += it.value();
    }
    return sum;
}

int JobOutcome::skipped() const
{
    int sum = 0;
    for (const int count : m_skipped)
        sum += count;
    return sum;
}

int JobOutcome::skipped(Reason reason) const
{
    return m_skipped.value(int(reason));
}

QPair<JobOutcome::Reason, int> JobOutcome::mostFrequentFailure() const
{
    QPair<Reason, int> most(Reason::None, 0);
    int mostCount = 0;
    for (auto it = m_failed.cbegin(); it != m_failed.cend(); ++it) {
        if (it.value() > mostCount) {
            mostCount = it.value();
            most = qMakePair(Reason(it.key().first), it.key().second);
        }
    }
    return most;
}

QString JobOutcome::reasonText(Reason reason, int httpStatus)
{
    switch (reason) {
    case Reason::None:
        return QString();
    case Reason::NoAddress:
        return QStringLiteral("no address");
    case Reason::RefusedScheme:
        return QStringLiteral("not a tile server");
    case Reason::Unwritable:
        return QStringLiteral("not writable");
    case Reason::Network:
        return QStringLiteral("network error");
    case Reason::HttpStatus:
        return QStringLiteral("HTTP %1").arg(httpStatus);
    case Reason::NotATile:
        return QStringLiteral("not a tile");
    case Reason::Transfer:
        return QStringLiteral("transfer failed");
    }
    return QString();
}

QString JobOutcome::downloadEndText(const QString &destFolder) const
{
    // Entries without an address were never meant for the destination.
    const int addressed = entries() - skipped(Reason::NoAddress);
    if (addressed > 0 && failed(Reason::Unwritable) == addressed)
        return QCoreApplication::translate("CvTilewright", "Download failed: no tile could be written to %1")
            .arg(destFolder);
    if (!m_formatNote.isEmpty())
        return m_formatNote;
    return QCoreApplication::translate("CvTilewright", "Download finished!");
}

QString JobOutcome::copyEndText() const
{
    return QCoreApplication::translate("CvTilewright", "Copy finished!");
}
