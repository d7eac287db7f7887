#pragma once

#include "acquire/JobOutcome.h"

#include <QJsonObject>
#include <QString>

// The one summary object a command prints on stdout with --json. Reasons are
// named by the words of the window's end texts ("HTTP 404", "timed out").
class JsonSummary
{
public:
    explicit JsonSummary(const QString &command);

    // A job's counts per outcome and reason, and the bytes received.
    void addOutcome(const JobOutcome &outcome);
    void set(const QString &key, const QJsonValue &value) { m_object.insert(key, value); }

    const QJsonObject &object() const { return m_object; }
    // One line of compact JSON on stdout.
    void print() const;

private:
    QJsonObject m_object;
};
