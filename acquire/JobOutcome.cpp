#include "acquire/JobOutcome.h"

#include <QCoreApplication>
#include <QLocale>

void JobOutcome::addFailed(Reason reason, int httpStatus, int count)
{
    if (count > 0)
        m_failed[Key(int(reason), reason == Reason::HttpStatus ? httpStatus : 0)] += count;
}

void JobOutcome::addSkipped(Reason reason)
{
    ++m_skipped[int(reason)];
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
    case Reason::TooLarge:
        return QStringLiteral("too large");
    case Reason::TimedOut:
        return QStringLiteral("timed out");
    case Reason::Incomplete:
        return QStringLiteral("incomplete body");
    case Reason::DiskFull:
        return QStringLiteral("disk full");
    case Reason::Missing:
        return QStringLiteral("no source tile");
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
    if (m_stored == entries()) {
        if (!m_formatNote.isEmpty())
            return m_formatNote;
        return QCoreApplication::translate("CvTilewright", "Download finished!");
    }
    return partialText(QCoreApplication::translate("CvTilewright", "Download finished: %1 of %2 tiles stored"));
}

QString JobOutcome::copyEndText() const
{
    if (m_stored == entries())
        return QCoreApplication::translate("CvTilewright", "Copy finished!");
    return partialText(QCoreApplication::translate("CvTilewright", "Copy finished: %1 of %2 tiles copied"));
}

// The counts that are not stored, each with its most frequent reason.
QString JobOutcome::partialText(const QString &finished) const
{
    const QLocale locale;
    QString text = finished.arg(locale.toString(m_stored), locale.toString(entries()));
    if (m_unchanged > 0)
        text += QCoreApplication::translate("CvTilewright", ", %1 unchanged").arg(locale.toString(m_unchanged));
    if (failed() > 0) {
        const auto most = mostFrequentFailure();
        text += QCoreApplication::translate("CvTilewright", ", %1 failed (%2)")
                    .arg(locale.toString(failed()), reasonText(most.first, most.second));
    }
    if (skipped() > 0) {
        int mostReason = 0, mostCount = 0;
        for (auto it = m_skipped.cbegin(); it != m_skipped.cend(); ++it) {
            if (it.value() > mostCount) {
                mostCount = it.value();
                mostReason = it.key();
            }
        }
        text += QCoreApplication::translate("CvTilewright", ", %1 skipped (%2)")
                    .arg(locale.toString(skipped()), reasonText(Reason(mostReason)));
    }
    return text;
}
