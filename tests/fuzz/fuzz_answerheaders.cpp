// The answer-header reader on any headers of a redirect and of the answer
// after it, joined as Qt joins them: every reading ends in a value, a length
// of -1 or more, or an invalid date, never in a crash.
//
// The input is header lines ("Name: value"); the lines before the first empty
// line are the redirect's, the rest the answer's, each appended to what the
// redirect sent for the same name as Qt does.

#include "mapview/AnswerHeaders.h"

#include <QNetworkReply>

#include <cstdint>

namespace {

class CannedReply : public QNetworkReply
{
public:
    void setHeader(const QByteArray &name, const QByteArray &value)
    {
        const QByteArray before = rawHeader(name);
        setRawHeader(name, before.isEmpty() ? value : before + ", " + value);
    }
    void abort() override {}

protected:
    qint64 readData(char *, qint64) override { return -1; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    CannedReply redirect;
    CannedReply answer;
    bool inRedirect = true;
    for (const QByteArray &line : input.split('\n')) {
        const QByteArray text = line.endsWith('\r') ? line.left(line.size() - 1) : line;
        if (text.isEmpty()) {
            inRedirect = false;
            continue;
        }
        const int colon = text.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = text.left(colon).trimmed();
        const QByteArray value = text.mid(colon + 1).trimmed();
        AnswerHeaders::fromHttpDate(value);
        // Qt 5.15 itself reads a date header ending in its first comma past
        // its end, whenever a reply (a canned one too) is given it; such
        // lines stay out of the replies.
        const int comma = value.indexOf(',');
        if (comma >= 0 && comma != 3 && comma >= value.size() - 1)
            continue;
        if (inRedirect)
            redirect.setHeader(name, value);
        answer.setHeader(name, value); // the joined answer holds the redirect's lines first
    }
    AnswerHeaders headers;
    headers.noteRedirect(redirect);
    if (headers.contentLength(answer) < -1 || headers.bodyLength(answer) < -1)
        __builtin_trap();
    const QDateTime modified = headers.lastModified(answer);
    if (modified.isValid() && modified.timeSpec() != Qt::UTC)
        __builtin_trap();
    for (const QNetworkReply::RawHeaderPair &pair : answer.rawHeaderPairs()) {
        headers.value(answer, pair.first);
        AnswerHeaders::fromHttpDate(pair.second);
    }
    return 0;
}
