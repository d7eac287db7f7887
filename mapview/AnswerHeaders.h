#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>

class QNetworkReply;

// The headers of a reply's final answer. When Qt follows a redirect it may
// join the redirect's headers with those of the answer after it
// ("Content-Type: text/html, image/png", "Content-Length: 169, 1963"), so a
// tile would be judged by the length and type of the redirect page. What each
// redirect said is noted when it is followed and taken off again here.
class AnswerHeaders
{
public:
    // Call from QNetworkReply::redirected, before the next answer arrives.
    void noteRedirect(const QNetworkReply &reply);
    void clear() { m_redirect.clear(); }

    // The raw value the final answer itself sent; empty when it sent none.
    QByteArray value(const QNetworkReply &reply, const QByteArray &name) const;
    // Content-Length, or -1 when the answer gave none or no number.
    qint64 contentLength(const QNetworkReply &reply) const;
    // The length of the body as the reply gives it out: Content-Length, or -1
    // when none came or Qt decodes the body from a content encoding (the
    // announced length is then that of the encoded body).
    qint64 bodyLength(const QNetworkReply &reply) const;
    // Last-Modified as UTC; invalid when absent or not a date.
    QDateTime lastModified(const QNetworkReply &reply) const;

    // "Sun, 06 Nov 1994 08:49:37 GMT", the form a request's dates take.
    static QByteArray httpDate(const QDateTime &time);
    // An HTTP date as UTC; invalid when it is none. The older forms servers
    // may still send (RFC 850, asctime) are read too.
    static QDateTime fromHttpDate(const QByteArray &text);

private:
    QHash<QByteArray, QByteArray> m_redirect; // lower-case name -> value seen
};
