#include "acquire/CurlTransfer.h"

#include "acquire/AnswerBody.h"
#include "acquire/CurlEngine.h"
#include "acquire/TileFile.h"
#include "acquire/TransferWatch.h"

#include "mapview/AnswerHeaders.h"

#include <curl/curl.h>

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
    AnswerBody *body = nullptr;
    TransferWatch *watch = nullptr;
    const AbortTest *shouldAbort = nullptr;
    bool aborted = false;
    bool timedOut = false;
    qint64 received = 0;
    QByteArray retryAfter;   // of the answer being read
    QByteArray lastModified; // of the answer being read
};

// Header lines of every answer, redirects included; only the last answer's
// Retry-After and Last-Modified count.
size_t headerLine(char *data, size_t size, size_t count, void *userData)
{
    Sink *sink = static_cast<Sink *>(userData);
    const QByteArray line = QByteArray::fromRawData(data, int(size * count));
    sink->watch->answered();
    if (line.startsWith("HTTP/")) {
        sink->retryAfter.clear();
        sink->lastModified.clear();
    } else if (line.size() > 12 && qstrnicmp(data, "retry-after:", 12) == 0) {
        sink->retryAfter = line.mid(12).trimmed().left(100);
    } else if (line.size() > 14 && qstrnicmp(data, "last-modified:", 14) == 0) {
        sink->lastModified = line.mid(14).trimmed().left(100);
    }
    return size * count;
}

// The first bytes of an answer's body: its status and type are known now.
void beginBody(Sink *sink)
{
    long httpCode = 0;
    curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &httpCode);
    char *type = nullptr;
    curl_easy_getinfo(sink->curl, CURLINFO_CONTENT_TYPE, &type);
    // Bodies arrive decoded, so the announced length (of the encoded body)
    // is libcurl's to check, through the file-size bound.
    sink->body->begin(int(httpCode), QByteArray(type), -1);
}

size_t bodyData(char *data, size_t size, size_t count, void *userData)
{
    Sink *sink = static_cast<Sink *>(userData);
    const qint64 bytes = qint64(size * count);
    if (!sink->body->begun())
        beginBody(sink);
    sink->received += bytes;
    // A short count ends the transfer.
    return sink->body->add(data, bytes) ? count : 0;
}

int progressCallback(void *userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    Sink *sink = static_cast<Sink *>(userData);
    if (sink->shouldAbort && *sink->shouldAbort && (*sink->shouldAbort)()) {
        sink->aborted = true;
        return 1;
    }
    if (sink->watch->expired(sink->received)) {
        sink->timedOut = true;
        return 1;
    }
    return 0;
}

AnswerBody::Ending endingOf(const Sink &sink, CURLcode code)
{
    if (sink.aborted)
        return AnswerBody::Ending::Aborted;
    if (sink.timedOut || code == CURLE_OPERATION_TIMEDOUT)
        return AnswerBody::Ending::TimedOut;
    switch (code) {
    case CURLE_OK:
    case CURLE_WRITE_ERROR:       // the body refused more bytes: it says why
    case CURLE_FILESIZE_EXCEEDED: // judged as too large below
        return AnswerBody::Ending::Complete;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_BAD_CONTENT_ENCODING:
        return sink.body->begun() ? AnswerBody::Ending::CutShort : AnswerBody::Ending::Network;
    default:
        return AnswerBody::Ending::Network;
    }
}

Result perform(CurlEngine &engine, const QString &url, TileFile *file, const Options &options,
               const AbortTest &shouldAbort)
{
    ensureGlobalInit();

    // Every option is set anew: nothing of the last transfer (its proxy, its
    // abort test) may carry over; only its open connection does.
    CURL *curl = static_cast<CURL *>(engine.freshHandle());
    if (!curl) {
        Result none;
        none.errorString = QStringLiteral("libcurl could not be initialised");
        return none;
    }
    AnswerBody body(options.maxBodyBytes, file);
    TransferWatch watch(options.connectTimeoutSeconds, options.lowSpeedSeconds, options.lowSpeedBytes);
    Sink sink;
    sink.curl = curl;
    sink.body = &body;
    sink.watch = &watch;
    sink.shouldAbort = &shouldAbort;
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
    // The proxy switched off means no proxy: an empty name keeps libcurl off
    // the https_proxy of the environment too, as Qt's road is.
    curl_easy_setopt(curl, CURLOPT_PROXY, options.proxy.enabled ? proxy.constData() : "");
    if (options.proxy.enabled && options.proxy.hasCredentials()) {
        curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxyUser.constData());
        curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxyPassword.constData());
    }
    // Redirects are followed, a bounded number of times and only to https.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, long(options.maxRedirects));
    curl_easy_setopt(curl, CURLOPT_HEADER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    engine.trustCertificates(curl, options.caBundle);
    // Bodies arrive decoded (libcurl announces and undoes the encodings it
    // knows); one announced above the bound is refused before it is read.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    if (options.maxBodyBytes > 0)
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxBodyBytes));
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
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &bodyData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &progressCallback);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);

    watch.start();
    const CURLcode code = curl_easy_perform(curl);
    if (!body.begun())
        beginBody(&sink); // an empty body, or none at all
    const QString curlError = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
    const bool tooLarge = code == CURLE_FILESIZE_EXCEEDED;
    // The kept handle must not point at this call's buffer and sink once it
    // returns (closing an idle connection later may report into them).
    curl_easy_reset(curl);
    if (tooLarge && body.status() < 400) {
        Result refused;
        refused.status = Status::TooLarge;
        refused.httpCode = body.status();
        refused.errorString = QStringLiteral("the body is larger than %1 bytes").arg(options.maxBodyBytes);
        return refused; // the file is discarded with its draft
    }
    Result result = body.finish(endingOf(sink, code), curlError, conditional,
                                AnswerHeaders::fromHttpDate(sink.lastModified));
    result.retryAfter = sink.retryAfter;
    return result;
}

} // namespace

void ensureGlobalInit()
{
    static GlobalInit init;
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
    // Nothing is asked for that could not be kept.
    TileFile file(localPath);
    if (!file.open()) {
        Result unwritable;
        unwritable.status = file.result().diskFull() ? Status::DiskFull : Status::WriteError;
        unwritable.errorString = file.result().reason();
        return unwritable;
    }
    return perform(engine, url, &file, options, shouldAbort);
}

Result fetch(CurlEngine &engine, const QString &url, const Options &options, const AbortTest &shouldAbort)
{
    return perform(engine, url, nullptr, options, shouldAbort);
}

} // namespace CurlTransfer
