#include "acquire/CurlTransfer.h"

#include "acquire/CurlEngine.h"

#include "mapview/AnswerHeaders.h"
#include "mapview/TileContent.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

namespace CurlTransfer {

namespace {

struct GlobalInit
{
    GlobalInit() { curl_global_init(CURL_GLOBAL_ALL); }
    ~GlobalInit() { curl_global_cleanup(); }
};

// What the callbacks of one transfer work on.
struct Sink
{
    CURL *curl = nullptr;
    QFileDevice *file = nullptr;
    const AbortTest *shouldAbort = nullptr;
    bool aborted = false;
    TileContent::Checker checker; // the whole body, as it streams
    qint64 limit = 0;             // 0: none
    bool tooLarge = false;
    // The answer is an error status; its body is read past, not kept, so the
    // connection stays open for the next transfer.
    bool refused = false;
    bool statusChecked = false;
    qint64 skipped = 0;
    QByteArray retryAfter; // of the answer being read
};

// Header lines of every answer, redirects included; only the last answer's
// Retry-After counts.
size_t headerLine(char *data, size_t size, size_t count, void *userData)
{
    Sink *sink = static_cast<Sink *>(userData);
    const QByteArray line = QByteArray::fromRawData(data, int(size * count));
    if (line.startsWith("HTTP/"))
        sink->retryAfter.clear();
    else if (line.size() > 12 && qstrnicmp(data, "retry-after:", 12) == 0)
        sink->retryAfter = line.mid(12).trimmed().left(100);
    return size * count;
}

// An error page longer than this ends the transfer instead of being read past.
constexpr qint64 MaxSkippedBytes = 256 * 1024;

// Bodies arrive decoded (libcurl announces and undoes the encodings it knows),
// and a body above the limit is refused: at once when its length is
// announced, otherwise as soon as it grows past it.
void applyBodyOptions(CURL *curl, const Options &options)
{
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    if (options.maxBodyBytes > 0)
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxBodyBytes));
}

// A full disk ends the whole job, not just this file.
Status writeFailure(const QFileDevice &file)
{
    const QString text = file.errorString();
    const bool full = file.error() == QFileDevice::ResourceError || text == qt_error_string(ENOSPC)
                      || text == qt_error_string(EFBIG);
    return full ? Status::DiskFull : Status::WriteError;
}

// True when the bytes may still be taken; false ends the transfer.
bool takeBytes(Sink *sink, const char *data, qint64 bytes)
{
    if (sink->limit > 0 && sink->checker.size() + bytes > sink->limit) {
        sink->tooLarge = true;
        return false;
    }
    sink->checker.add(data, bytes);
    return true;
}

// The verdict on a transfer that libcurl ended without error: Ok when the
// body may replace the file, else the reason it may not. The length was
// libcurl's to check (Content-Length counts the encoded body).
Status judgeBody(Sink &sink, const QByteArray &contentType, const QString &localPath, QString *why)
{
    sink.checker.setContentType(contentType);
    const TileContent::Verdict v = sink.checker.verdict();
    if (!v.ok()) {
        *why = v.text;
        return v.reason == TileContent::Reason::Document ? Status::NotContent : Status::Incomplete;
    }
    if (sink.checker.size() == 0) {
        const QFileInfo old(localPath);
        if (old.isFile() && old.size() > 0) {
            *why = QStringLiteral("empty body, old file kept");
            return Status::Unchanged;
        }
    }
    return Status::Ok;
}

// Where the body goes until it is judged; nothing of it is seen at the
// tile's path before commit(), and an uncommitted body vanishes with this.
// A tile that exists is replaced through QSaveFile, synced to disk before the
// rename, so the old tile stays until the new one is complete. A new tile
// goes to a temporary name beside it and is renamed without the sync, as the
// tile writer stores new tiles: a sync per tile costs more than the transfer.
// Unbuffered both: a buffered flush that writes only part of its buffer (a
// full disk) still reports success, and the file would be committed short.
class BodyFile
{
public:
    explicit BodyFile(const QString &path)
        : m_path(path)
    {
    }
    ~BodyFile()
    {
        if (m_created)
            discard();
    }
    BodyFile(const BodyFile &) = delete;
    BodyFile &operator=(const BodyFile &) = delete;

    bool open()
    {
        if (QFileInfo::exists(m_path)) {
            m_replacing = true;
            return m_replace.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        }
        // A name of our own: a file that is there already is never touched.
        for (int attempt = 0; attempt < 8; ++attempt) {
            m_fresh.setFileName(QStringLiteral("%1.%2.part").arg(m_path).arg(QRandomGenerator::global()->generate(), 8, 16,
                                                                              QLatin1Char('0')));
            if (m_fresh.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
                m_created = true;
                return true;
            }
            if (m_fresh.error() != QFileDevice::OpenError || !QFileInfo::exists(m_fresh.fileName()))
                break;
        }
        return false;
    }
    QFileDevice &device() { return m_replacing ? static_cast<QFileDevice &>(m_replace) : m_fresh; }
    void discard()
    {
        if (m_replacing) {
            m_replace.cancelWriting();
            return;
        }
        if (!m_created)
            return;
        m_fresh.close();
        m_fresh.remove();
        m_created = false;
    }
    bool commit()
    {
        if (m_replacing)
            return m_replace.commit();
        m_fresh.close();
        if (m_fresh.error() != QFileDevice::NoError)
            return false;
        // Refuses to overwrite a tile that appeared meanwhile.
        if (!renameNoReplace())
            return false;
        m_created = false;
        return true;
    }

private:
    // One system call where the file system can refuse to replace; QFile's
    // rename (which looks first, then renames) elsewhere.
    bool renameNoReplace()
    {
#if defined(Q_OS_LINUX) && defined(RENAME_NOREPLACE)
        const QByteArray from = QFile::encodeName(m_fresh.fileName());
        const QByteArray to = QFile::encodeName(m_path);
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
#endif
        return m_fresh.rename(m_path);
    }

    QString m_path;
    bool m_replacing = false;
    bool m_created = false; // the temporary file is ours to remove
    QSaveFile m_replace{m_path};
    QFile m_fresh;
};

int progressCallback(void *userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    Sink *sink = static_cast<Sink *>(userData);
    if (sink->shouldAbort && *sink->shouldAbort && (*sink->shouldAbort)()) {
        sink->aborted = true;
        return 1;
    }
    return 0;
}

Result failure(Status status, const QString &error, long httpCode = 0)
{
    Result r;
    r.status = status;
    r.errorString = error;
    r.httpCode = httpCode;
    return r;
}

} // namespace

void ensureGlobalInit()
{
    static GlobalInit init;
}

size_t writeArchiveData(char *data, size_t size, size_t count, void *userData)
{
    Sink *sink = static_cast<Sink *>(userData);
    const qint64 bytes = qint64(size * count);
    if (!sink->statusChecked && sink->curl) {
        long httpCode = 0;
        curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &httpCode);
        sink->refused = httpCode >= 400;
        sink->statusChecked = true;
    }
    if (sink->refused) {
        sink->skipped += bytes;
        return sink->skipped > MaxSkippedBytes ? 0 : count;
    }
    if (bytes == 0)
        return count;
    if (!takeBytes(sink, data, bytes))
        return 0;
    // A short write is tried again for the rest: the file reports why it
    // failed (a full disk) only on a write that took nothing. Any failure
    // ends the transfer with a write error.
    for (qint64 done = 0; done < bytes;) {
        const qint64 written = sink->file->write(data + done, bytes - done);
        if (written <= 0)
            return 0;
        done += written;
    }
    return count;
}

Result fetchToFile(const QString &url, const QString &localPath, const Options &options,
                   const AbortTest &shouldAbort)
{
    CurlEngine engine;
    return fetchToFile(engine, url, localPath, options, shouldAbort);
}

Result fetchToFile(CurlEngine &engine, const QString &url, const QString &localPath,
                   const Options &options, const AbortTest &shouldAbort)
{
    ensureGlobalInit();

    BodyFile body(localPath);
    if (!body.open())
        return failure(Status::WriteError, body.device().errorString());

    // Every option is set anew: nothing of the last transfer (its proxy, its
    // abort test) may carry over; only its open connection does.
    CURL *curl = static_cast<CURL *>(engine.freshHandle());
    if (!curl)
        return failure(Status::TransportError, QStringLiteral("libcurl could not be initialised"));

    Sink sink;
    sink.curl = curl;
    sink.file = &body.device();
    sink.shouldAbort = &shouldAbort;
    sink.limit = options.maxBodyBytes;
    char errorBuffer[CURL_ERROR_SIZE] = {0};

    const QByteArray urlBytes = url.toUtf8();
    const QByteArray proxy = QStringLiteral("%1:%2").arg(options.proxy.host).arg(options.proxy.port).toUtf8();
    const QByteArray proxyUser = options.proxy.user.toUtf8();
    const QByteArray proxyPassword = options.proxy.password.toUtf8();

    curl_easy_setopt(curl, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
#else
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS, long(CURLPROTO_HTTPS));
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, long(CURLPROTO_HTTPS));
#endif
    if (!options.userAgent.isEmpty())
        curl_easy_setopt(curl, CURLOPT_USERAGENT, options.userAgent.constData());
    if (options.proxy.enabled) {
        curl_easy_setopt(curl, CURLOPT_PROXY, proxy.constData());
        if (options.proxy.hasCredentials()) {
            curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxyUser.constData());
            curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxyPassword.constData());
        }
    }
    // Redirects are followed, a bounded number of times and only to https.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, long(options.maxRedirects));
    curl_easy_setopt(curl, CURLOPT_HEADER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    engine.trustCertificates(curl, options.caBundle);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(options.connectTimeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(options.lowSpeedSeconds));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, long(options.lowSpeedBytes));
    applyBodyOptions(curl, options);
    // The server's Last-Modified becomes the stored file's time, so that the
    // next conditional request names exactly the version held.
    curl_easy_setopt(curl, CURLOPT_FILETIME, 1L);
    const bool conditional = options.ifModifiedSince.isValid() && options.ifModifiedSince.toSecsSinceEpoch() > 0;
    // The header is sent as such rather than through libcurl's time
    // condition: libcurl would also drop a 200 answer whose Last-Modified is
    // not newer than ours, and keep a local file the server did not vouch for.
    // Only the server's 304 keeps it.
    struct HeaderList
    {
        curl_slist *list = nullptr;
        ~HeaderList() { curl_slist_free_all(list); }
    } headers;
    if (conditional) {
        const QByteArray line = QByteArrayLiteral("If-Modified-Since: ") + AnswerHeaders::httpDate(options.ifModifiedSince);
        headers.list = curl_slist_append(nullptr, line.constData());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
    }
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &headerLine);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &writeArchiveData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &progressCallback);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);

    const CURLcode code = curl_easy_perform(curl);
    long httpCode = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &httpCode);
    char *contentTypeText = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentTypeText);
    const QByteArray contentType(contentTypeText);
    const QString curlError = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
    curl_off_t serverTime = -1;
    curl_easy_getinfo(curl, CURLINFO_FILETIME_T, &serverTime);
    // The kept handle must not point at this call's buffer and sink once it
    // returns (closing an idle connection later may report into them).
    curl_easy_reset(curl);

    if (sink.aborted || code == CURLE_ABORTED_BY_CALLBACK)
        return failure(Status::Aborted, QStringLiteral("aborted"), httpCode);
    // An error status wins over what its page did to the size bound.
    if (sink.refused || httpCode >= 400) {
        Result refused = failure(Status::HttpError, QStringLiteral("HTTP status %1").arg(httpCode), httpCode);
        refused.retryAfter = sink.retryAfter;
        return refused;
    }
    if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return failure(Status::TooLarge, QStringLiteral("the body is larger than %1 bytes").arg(options.maxBodyBytes),
                       httpCode);
    if (code == CURLE_WRITE_ERROR)
        return failure(writeFailure(body.device()), body.device().errorString(), httpCode);
    if (code != CURLE_OK)
        return failure(Status::TransportError, curlError, httpCode);
    if (conditional && httpCode == 304) {
        body.discard();
        return failure(Status::NotModified, QStringLiteral("not modified"), httpCode);
    }
    if (httpCode < 200 || httpCode > 299)
        return failure(Status::HttpError, QStringLiteral("HTTP status %1").arg(httpCode), httpCode);
    // A document, a cut or broken body, or an empty one over a tile that has
    // content never replaces the file.
    QString why;
    const Status judged = judgeBody(sink, contentType, localPath, &why);
    if (judged != Status::Ok) {
        body.discard();
        return failure(judged, why, httpCode);
    }
    // Set before the rename, so the tile never shows the time of its
    // download. Without it the file keeps that time, which is later than the
    // server's version and so still right for the next condition.
    if (serverTime >= 0)
        body.device().setFileTime(QDateTime::fromSecsSinceEpoch(qint64(serverTime), Qt::UTC), QFileDevice::FileModificationTime);
    if (!body.commit())
        return failure(writeFailure(body.device()), body.device().errorString(), httpCode);
    Result ok;
    ok.status = Status::Ok;
    ok.httpCode = httpCode;
    return ok;
}

} // namespace CurlTransfer
