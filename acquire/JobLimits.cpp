#include "acquire/JobLimits.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>

namespace JobLimits {

namespace {

QDateTime httpDate(const QString &text)
{
    // Servers are to send the first form; the other two are still read.
    static const QStringList formats{QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"),
                                     QStringLiteral("dddd, dd-MMM-yy hh:mm:ss 'GMT'"),
                                     QStringLiteral("ddd MMM d hh:mm:ss yyyy")};
    const QLocale c = QLocale::c();
    for (const QString &format : formats) {
        QDateTime t = c.toDateTime(text, format);
        if (t.isValid()) {
            if (format.contains(QLatin1String("-yy ")) && t.date().year() < 1970)
                t = t.addYears(100); // two-digit years are read as 19yy
            t.setTimeSpec(Qt::UTC);
            return t;
        }
    }
    return QDateTime();
}

} // namespace

qint64 retryAfterMs(const QByteArray &value, const QDateTime &now)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        bool ok = false;
        const qint64 seconds = text.toLongLong(&ok);
        if (!ok || seconds > MaxRetryWaitMs / 1000)
            return MaxRetryWaitMs; // also a number too long to read
        return qMax<qint64>(MinRetryWaitMs, seconds * 1000);
    }
    const QDateTime when = httpDate(QString::fromLatin1(text).simplified());
    if (!when.isValid())
        return -1;
    const qint64 ms = now.toUTC().msecsTo(when);
    return qBound<qint64>(MinRetryWaitMs, ms, MaxRetryWaitMs);
}

} // namespace JobLimits
