#include "mapview/AnswerHeaders.h"

#include <QLocale>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <cstring>

namespace {

int digits(const char *text, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The fixed form nearly every server sends, read without the locale and
// time-zone work of a general date parser: "Sun, 06 Nov 1994 08:49:37 GMT".
QDateTime fromFixedDate(const QByteArray &text)
{
    static const char days[] = "MonTueWedThuFriSatSun";
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char *t = text.constData();
    if (text.size() != 29 || t[3] != ',' || t[4] != ' ' || t[7] != ' ' || t[11] != ' ' || t[16] != ' '
        || t[19] != ':' || t[22] != ':' || std::memcmp(t + 25, " GMT", 4) != 0)
        return QDateTime();
    int weekday = 0;
    while (weekday < 7 && std::memcmp(days + 3 * weekday, t, 3) != 0)
        ++weekday;
    int month = 0;
    while (month < 12 && std::memcmp(months + 3 * month, t + 8, 3) != 0)
        ++month;
    const QDate date(digits(t + 12, 4), month + 1, digits(t + 5, 2));
    const QTime time(digits(t + 17, 2), digits(t + 20, 2), digits(t + 23, 2));
    if (weekday == 7 || month == 12 || !date.isValid() || !time.isValid() || date.dayOfWeek() != weekday + 1)
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

} // namespace

void AnswerHeaders::noteRedirect(const QNetworkReply &reply)
{
    for (const QNetworkReply::RawHeaderPair &pair : reply.rawHeaderPairs())
        m_redirect.insert(pair.first.toLower(), pair.second);
}

QByteArray AnswerHeaders::value(const QNetworkReply &reply, const QByteArray &name) const
{
    const QByteArray joined = reply.rawHeader(name);
    const auto seen = m_redirect.constFind(name.toLower());
    if (seen == m_redirect.cend() || seen->isEmpty())
        return joined;
    // The redirect's own value first, then the answer's, joined by ", ".
    const QByteArray prefix = *seen + QByteArrayLiteral(", ");
    if (joined.startsWith(prefix))
        return joined.mid(prefix.size());
    return joined == *seen ? QByteArray() : joined;
}

qint64 AnswerHeaders::contentLength(const QNetworkReply &reply) const
{
    const QByteArray text = value(reply, QByteArrayLiteral("Content-Length")).trimmed();
    bool ok = false;
    const qint64 length = text.toLongLong(&ok);
    return ok && length >= 0 ? length : -1;
}

qint64 AnswerHeaders::bodyLength(const QNetworkReply &reply) const
{
    const QByteArray encoding = value(reply, QByteArrayLiteral("Content-Encoding")).trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity")
        return -1;
    return contentLength(reply);
}

QDateTime AnswerHeaders::lastModified(const QNetworkReply &reply) const
{
    const QByteArray text = value(reply, QByteArrayLiteral("Last-Modified"));
    return fromHttpDate(text);
}

QByteArray AnswerHeaders::httpDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
}

QDateTime AnswerHeaders::fromHttpDate(const QByteArray &text)
{
    if (text.isEmpty())
        return QDateTime();
    const QDateTime fixed = fromFixedDate(text);
    if (fixed.isValid())
        return fixed;
    // Qt's reader takes what follows ", " after a weekday of any length as a
    // C string: a text ending in its first comma would be read past its end.
    const int comma = text.indexOf(',');
    if (comma >= 0 && comma != 3 && comma >= text.size() - 1)
        return QDateTime();
    // The other forms: Qt's own reading of HTTP dates, through a header it
    // cooks.
    QNetworkRequest parsed;
    parsed.setRawHeader(QByteArrayLiteral("Last-Modified"), text);
    return parsed.header(QNetworkRequest::LastModifiedHeader).toDateTime().toUTC();
}
