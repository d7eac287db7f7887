#include "acquire/CurlEngine.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <map>
#include <mutex>

namespace {

QString systemCaFile()
{
    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    return QString::fromLocal8Bit(info && info->cainfo ? info->cainfo : "/etc/ssl/certs/ca-certificates.crt");
}

// The system's CA store plus the extra file, one store per extra file, built
// on first use and kept to the end of the process. Parsing the system store
// costs tens of milliseconds of CPU; done for every connection it would cost
// more than the tiles. The stores are never freed: TLS contexts of other
// threads may hold them up to the process's end, after static destruction.
X509_STORE *sharedStore(const QString &extraFile)
{
    static std::mutex mutex;
    static auto *stores = new std::map<QString, X509_STORE *>;
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = stores->find(extraFile);
    if (found != stores->end())
        return found->second;
    X509_STORE *store = X509_STORE_new();
    if (store) {
        // A missing or unreadable file adds nothing, as it would for libcurl.
        X509_STORE_load_file(store, QFile::encodeName(systemCaFile()).constData());
        if (!extraFile.isEmpty())
            X509_STORE_load_file(store, QFile::encodeName(extraFile).constData());
        // What libcurl sets on the store it builds itself.
        X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    }
    (*stores)[extraFile] = store;
    return store;
}

// Called by libcurl for every new TLS connection, after it set up the context
// without CA certificates of its own.
CURLcode installStore(CURL *, void *sslContext, void *store)
{
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX *>(sslContext), static_cast<X509_STORE *>(store));
    return CURLE_OK;
}

// The same certificates as one PEM blob, for a libcurl whose TLS library has
// no context hook: CURLOPT_CAINFO alone would replace the system store
// instead of adding to it.
QByteArray caBlob(const QString &extraFile)
{
    static std::mutex mutex;
    static QString cachedFor;
    static QByteArray cached;
    std::lock_guard<std::mutex> lock(mutex);
    if (cachedFor == extraFile && !cached.isEmpty())
        return cached;
    QByteArray blob;
    QFile system(systemCaFile());
    if (system.open(QIODevice::ReadOnly))
        blob = system.readAll();
    QFile extra(extraFile);
    if (extra.open(QIODevice::ReadOnly)) {
        if (!blob.isEmpty() && !blob.endsWith('\n'))
            blob += '\n';
        blob += extra.readAll();
    }
    cachedFor = extraFile;
    cached = blob;
    return blob;
}

} // namespace

CurlEngine::CurlEngine() = default;

CurlEngine::~CurlEngine()
{
    if (m_handle)
        curl_easy_cleanup(static_cast<CURL *>(m_handle));
}

void *CurlEngine::freshHandle()
{
    if (!m_handle)
        m_handle = curl_easy_init();
    else
        curl_easy_reset(static_cast<CURL *>(m_handle));
    return m_handle;
}

void CurlEngine::trustCertificates(void *handle, const QString &extraFile)
{
    CURL *curl = static_cast<CURL *>(handle);
    X509_STORE *store = sharedStore(extraFile);
    if (store && curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &installStore) == CURLE_OK) {
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, store);
        // libcurl matches kept connections and TLS sessions by the CA file it
        // was given, not by the store installed here. Naming the extra file
        // keeps a connection verified against one set of certificates from
        // serving a transfer that trusts another. libcurl reads that (small)
        // file per connection; the system store is not read again.
        if (m_extraFile != extraFile) {
            m_extraFile = extraFile;
            m_extraFileName = !extraFile.isEmpty() && QFileInfo(extraFile).isReadable() ? QFile::encodeName(extraFile)
                                                                                      : QByteArray();
        }
        curl_easy_setopt(curl, CURLOPT_CAINFO,
                         m_extraFileName.isEmpty() ? static_cast<const char *>(nullptr) : m_extraFileName.constData());
        curl_easy_setopt(curl, CURLOPT_CAPATH, static_cast<char *>(nullptr));
        return;
    }
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, static_cast<void *>(nullptr));
    if (extraFile.isEmpty())
        return; // the system store is libcurl's default
    const QByteArray blob = caBlob(extraFile);
    curl_blob caInfo{const_cast<char *>(blob.constData()), size_t(blob.size()), CURL_BLOB_COPY};
    curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &caInfo);
}
