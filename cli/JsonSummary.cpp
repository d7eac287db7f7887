#include "cli/JsonSummary.h"

#include "app/JobTexts.h"

#include <QJsonDocument>

#include <cstdio>

JsonSummary::JsonSummary(const QString &command)
{
    m_object.insert(QStringLiteral("command"), command);
}

void JsonSummary::addOutcome(const JobOutcome &outcome)
{
    m_object.insert(QStringLiteral("entries"), outcome.entries());
    m_object.insert(QStringLiteral("stored"), outcome.stored());
    m_object.insert(QStringLiteral("unchanged"), outcome.unchanged());
    m_object.insert(QStringLiteral("failed"), outcome.failed());
    m_object.insert(QStringLiteral("skipped"), outcome.skipped());
    QJsonObject failures;
    for (const JobOutcome::Count &c : outcome.failures()) {
        const QString name = JobTexts::reason(c.reason, c.httpStatus);
        failures.insert(name, failures.value(name).toInt() + c.count);
    }
    m_object.insert(QStringLiteral("failures"), failures);
    QJsonObject skips;
    for (const JobOutcome::Count &c : outcome.skips())
        skips.insert(JobTexts::reason(c.reason), c.count);
    m_object.insert(QStringLiteral("skips"), skips);
    m_object.insert(QStringLiteral("bytes"), outcome.receivedBytes());
}

void JsonSummary::print() const
{
    const QByteArray text = QJsonDocument(m_object).toJson(QJsonDocument::Compact);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
