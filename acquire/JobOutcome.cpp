#include "acquire/JobOutcome.h"

#include <algorithm>

void JobOutcome::addFailed(Reason reason, int httpStatus, int count)
{
    if (count > 0)
        m_failed[Key(int(reason), reason == Reason::HttpStatus ? httpStatus : 0)] += count;
}

void JobOutcome::addSkipped(Reason reason)
{
    ++m_skipped[int(reason)];
}

void JobOutcome::noteAnswer(qint64 bodyBytes)
{
    ++m_answered;
    m_bytes += qMax<qint64>(bodyBytes, 0);
}

namespace {

void byCount(QList<JobOutcome::Count> &counts)
{
    std::stable_sort(counts.begin(), counts.end(),
                     [](const JobOutcome::Count &a, const JobOutcome::Count &b) { return a.count > b.count; });
}

} // namespace

QList<JobOutcome::Count> JobOutcome::failures() const
{
    QList<Count> counts;
    for (auto it = m_failed.cbegin(); it != m_failed.cend(); ++it)
        counts.append(Count{Reason(it.key().first), it.key().second, it.value()});
    byCount(counts);
    return counts;
}

QList<JobOutcome::Count> JobOutcome::skips() const
{
    QList<Count> counts;
    for (auto it = m_skipped.cbegin(); it != m_skipped.cend(); ++it)
        counts.append(Count{Reason(it.key()), 0, it.value()});
    byCount(counts);
    return counts;
}

void JobOutcome::noteFormat(const QString &format, const QString &extension)
{
    if (m_format.isEmpty()) {
        m_format = format;
        m_extension = extension;
    }
}

void JobOutcome::merge(const JobOutcome &other)
{
    m_stored += other.m_stored;
    m_unchanged += other.m_unchanged;
    for (auto it = other.m_failed.cbegin(); it != other.m_failed.cend(); ++it)
        m_failed[it.key()] += it.value();
    for (auto it = other.m_skipped.cbegin(); it != other.m_skipped.cend(); ++it)
        m_skipped[it.key()] += it.value();
    noteFormat(other.m_format, other.m_extension);
    m_answered += other.m_answered;
    m_bytes += other.m_bytes;
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

JobOutcome::Reason JobOutcome::mostFrequentSkip() const
{
    int mostReason = int(Reason::None), mostCount = 0;
    for (auto it = m_skipped.cbegin(); it != m_skipped.cend(); ++it) {
        if (it.value() > mostCount) {
            mostCount = it.value();
            mostReason = it.key();
        }
    }
    return Reason(mostReason);
}
