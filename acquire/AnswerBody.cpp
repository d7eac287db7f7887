#include "acquire/AnswerBody.h"

#include "acquire/TileFile.h"

namespace {

// Of an error answer only its start is kept, for the first line of its text.
constexpr int ErrorHeadBytes = 1024;
// An error page longer than this ends the transfer instead of being read past.
constexpr qint64 MaxErrorPageBytes = 256 * 1024;

using Status = FetchResult::Status;

Status statusOf(TileContent::Reason reason)
{
    switch (reason) {
    case TileContent::Reason::Ok:
        return Status::Ok;
    case TileContent::Reason::LengthMismatch:
    case TileContent::Reason::Incomplete:
    case TileContent::Reason::Corrupt:
        return Status::Incomplete;
    case TileContent::Reason::Unsound:
        return Status::NotSound;
    default: // a document, or not what its type says
        return Status::NotContent;
    }
}

FetchResult result(Status status, const QString &error)
{
    FetchResult r;
    r.status = status;
    r.errorString = error;
    return r;
}

} // namespace

AnswerBody::AnswerBody(qint64 limit, TileFile *file)
    : m_limit(limit)
    , m_file(file)
{
}

void AnswerBody::begin(int status, const QByteArray &contentType, qint64 announcedLength)
{
    m_begun = true;
    m_status = status;
    m_contentType = contentType;
    m_body.clear();
    m_errorHead.clear();
    m_errorBytes = 0;
    m_cut = Cut::None;
    m_checker.emplace(contentType, announcedLength, depth());
    if (!success())
        return;
    if (announcedLength > m_limit)
        m_cut = Cut::TooLarge; // refused before a byte of it is read
    else if (announcedLength > 0 && !m_file)
        m_body.reserve(int(announcedLength));
}

TileContent::Checker &AnswerBody::checker()
{
    if (!m_checker)
        m_checker.emplace(m_contentType, -1, depth());
    return *m_checker;
}

bool AnswerBody::add(const char *data, qint64 size)
{
    if (m_cut != Cut::None)
        return false;
    if (!success()) {
        m_errorHead += QByteArray(data, int(qMin<qint64>(size, ErrorHeadBytes - m_errorHead.size())));
        m_errorBytes += size;
        if (m_errorBytes > MaxErrorPageBytes)
            m_cut = Cut::LongErrorPage;
        return m_cut == Cut::None;
    }
    if (checker().size() + size > m_limit) {
        m_cut = Cut::TooLarge;
        return false;
    }
    checker().add(data, size);
    if (checker().failed()) {
        m_cut = Cut::Broken; // no need to wait for the rest
        return false;
    }
    if (m_file) {
        if (!m_file->append(data, size)) {
            m_cut = Cut::WriteFailed;
            return false;
        }
    } else {
        m_body.append(data, int(size));
    }
    return true;
}

// Servers that block a program say why on the first line of their text;
// hostile ones may say anything, so only printable text of bounded length.
QString AnswerBody::firstLine() const
{
    const bool text = m_contentType.trimmed().toLower().startsWith("text/");
    if (!text && (TileContent::hasImageSignature(m_errorHead) || m_errorHead.contains('\0')))
        return QString();
    const QString line = QString::fromUtf8(m_errorHead.left(m_errorHead.indexOf('\n'))).left(200);
    QString printable;
    for (const QChar c : line)
        printable += c.isPrint() ? c : QLatin1Char(' ');
    return printable.simplified();
}

FetchResult AnswerBody::finish(Ending ending, const QString &transportError, bool conditional,
                               const QDateTime &lastModified)
{
    const FetchResult judged = [&]() -> FetchResult {
        if (ending == Ending::Aborted)
            return result(Status::Aborted, QStringLiteral("aborted"));
        // An error status wins over what its page did to the bounds.
        if (m_status >= 400) {
            FetchResult refused = result(Status::HttpError, QStringLiteral("HTTP status %1").arg(m_status));
            refused.refusalText = firstLine();
            return refused;
        }
        if (ending == Ending::TimedOut)
            return result(Status::TimedOut, QStringLiteral("no answer in time, or too slow"));
        switch (m_cut) {
        case Cut::TooLarge:
            return result(Status::TooLarge, QStringLiteral("the body is larger than %1 bytes").arg(m_limit));
        case Cut::WriteFailed:
            return result(m_file->result().diskFull() ? Status::DiskFull : Status::WriteError,
                          m_file->result().reason());
        case Cut::Broken: {
            const TileContent::Verdict v = checker().verdict();
            return result(statusOf(v.reason), v.text);
        }
        case Cut::LongErrorPage:
        case Cut::None:
            break;
        }
        if (ending == Ending::Network || (m_status == 0 && ending == Ending::Complete))
            return result(Status::TransportError, transportError);
        if (m_status == 304 && conditional)
            return result(Status::NotModified, QStringLiteral("not modified"));
        if (!success())
            return result(Status::HttpError, QStringLiteral("HTTP status %1").arg(m_status));
        if (ending == Ending::CutShort)
            return result(Status::Incomplete, transportError);
        checker().setContentType(m_contentType);
        const TileContent::Verdict v = checker().verdict();
        if (!v.ok())
            return result(statusOf(v.reason), v.text);
        if (!m_file) {
            FetchResult ok = result(Status::Ok, QString());
            ok.body = m_body;
            ok.contentType = m_contentType;
            return ok;
        }
        const TileFile::Result stored = m_file->commit(lastModified);
        if (stored.outcome == TileFile::Result::Outcome::Unchanged)
            return result(Status::Unchanged, stored.reason());
        if (!stored.ok())
            return result(stored.diskFull() ? Status::DiskFull : Status::WriteError, stored.reason());
        return result(Status::Ok, QString());
    }();
    FetchResult r = judged;
    if (r.status != Status::Ok && m_file)
        m_file->discard();
    r.httpCode = m_status;
    r.bodyLength = checker().size();
    r.lastModified = lastModified;
    m_body.clear();
    return r;
}
