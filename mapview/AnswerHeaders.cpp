#include "mapview/AnswerHeaders.h"

#include <QNetworkReply>
#include <QNetworkRequest>

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

QDateTime AnswerHeaders::lastModified(const QNetworkReply &reply) const
{
    const QByteArray text = value(reply, QByteArrayLiteral("Last-Modified"));
    if (text.isEmpty())
        return QDateTime();
    // Qt's own reading of HTTP dates, through a header it cooks.
    QNetworkRequest parsed;
    parsed.setRawHeader(QByteArrayLiteral("Last-Modified"), text);
    return parsed.header(QNetworkRequest::LastModifiedHeader).toDateTime().toUTC();
}
