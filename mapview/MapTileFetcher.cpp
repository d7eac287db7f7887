#include "mapview/MapTileFetcher.h"

#include "mapview/TileContent.h"
#include "mapview/TileRequest.h"
#include "settings/AppConfig.h"
#include "settings/ProxySettings.h"
#include "settings/TlsTrust.h"

#include <QDir>
#include <QNetworkDiskCache>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>

#ifndef QT_NO_SSL
#endif

MapTileFetcher::MapTileFetcher(QObject *parent)
    : QObject(parent)
{
    applySslConfiguration();
    setUpDiskCache();
}

MapTileFetcher::~MapTileFetcher()
{
    if (tileReply) {
        tileReply->disconnect(this);
        tileReply->abort();
        delete tileReply;
    }
}

bool MapTileFetcher::fetch(const TileId &key, const QUrl &address, quint64 generation)
{
    if (tileReply)
        return false;
    currentKey = key;
    currentGeneration = generation;
    QNetworkRequest request = TileRequest::tileRequest(address, TileRequest::mapUserAgent());
#ifndef QT_NO_SSL
    request.setSslConfiguration(sslConfig);
#endif
    // A tile kept from an earlier start is shown without asking while the
    // server's caching headers call it fresh; a stale one is revalidated.
    // Preferring the cache instead may hand out stale tiles unasked.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferNetwork);
    ++startedRequests;
    receivedBody.clear();
    bodyChecker.reset();
    bodyRefused = false;
    answerHeaders.clear();
    tileReply = tileNetwork.get(request);
    connect(tileReply.data(), &QNetworkReply::redirected, this, [this] {
        if (tileReply)
            answerHeaders.noteRedirect(*tileReply);
    });
    connect(tileReply.data(), &QNetworkReply::readyRead, this, &MapTileFetcher::readBody);
    connect(tileReply.data(), &QNetworkReply::finished, this, &MapTileFetcher::finished);
    return true;
}

void MapTileFetcher::readBody()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (reply && reply == tileReply)
        takeBody(*reply);
}

void MapTileFetcher::takeBody(QNetworkReply &reply)
{
    if (bodyRefused)
        return;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status != 304) {
        reply.readAll(); // an error page: not kept, and not left to pile up
        return;
    }
    if (!bodyChecker) {
        const qint64 length = answerHeaders.bodyLength(reply);
        if (length > MaxTileBytes)
            return refuseBody(reply); // refused before a byte of it is read
        bodyChecker = std::make_unique<TileContent::Checker>(answerHeaders.value(reply, QByteArrayLiteral("Content-Type")), length);
        // Read into an array of the announced length, so the stored tile holds
        // exactly its bytes.
        if (length > 0)
            receivedBody.reserve(int(length));
    }
    while (reply.bytesAvailable() > 0) {
        const QByteArray piece = reply.read(qMin<qint64>(reply.bytesAvailable(), MaxTileBytes + 1));
        if (piece.isEmpty())
            break;
        if (receivedBody.size() + qint64(piece.size()) > MaxTileBytes)
            return refuseBody(reply);
        receivedBody += piece;
        bodyChecker->add(piece);
        if (bodyChecker->failed())
            return refuseBody(reply); // broken already; the rest cannot mend it
    }
}

void MapTileFetcher::refuseBody(QNetworkReply &reply)
{
    bodyRefused = true;
    receivedBody = QByteArray();
    reply.abort(); // finished() follows and judges the refusal
}

void MapTileFetcher::finished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    if (reply != tileReply) { // a reply abandoned earlier
        reply->disconnect(this);
        reply->deleteLater();
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!bodyRefused && reply->error() == QNetworkReply::NoError)
        takeBody(*reply); // what came with the end
    bool complete = false;
    Failure failure = Failure::ServerTrouble;
    if (bodyRefused) {
        // Too large, or broken while it came: the server is in trouble.
    } else if (reply->error() == QNetworkReply::OperationCanceledError) {
        failure = Failure::Aborted;
    } else if (reply->error() != QNetworkReply::NoError) {
        if (status == 404 || status == 410)
            failure = Failure::Missing;
    } else {
        if (!bodyChecker)
            bodyChecker = std::make_unique<TileContent::Checker>(answerHeaders.value(*reply, QByteArrayLiteral("Content-Type")));
        // Only a complete tile is kept: a body cut short (a connection that
        // ended early, fewer bytes than announced) or one that is not what its
        // type says would show as a broken or blank tile until the next
        // reload. A service exception or an error page is no tile either.
        complete = bodyChecker->verdict().ok();
        // Nor may a copy kept on disk stand in for it next time.
        if (!complete && diskCache)
            diskCache->remove(reply->url());
    }
    const QByteArray body = complete ? receivedBody : QByteArray();
    receivedBody = QByteArray();
    bodyChecker.reset();
    releaseReply();
    // Idle again before the news goes out: the receiver may ask for the next tile.
    if (complete)
        emit tileFinished(currentKey, currentGeneration, body);
    else
        emit tileError(currentKey, currentGeneration, failure);
}

void MapTileFetcher::releaseReply()
{
    if (!tileReply)
        return;
    tileReply->disconnect(this);
    tileReply->deleteLater();
    tileReply = nullptr;
}

void MapTileFetcher::abort()
{
    QNetworkReply *reply = tileReply;
    if (!reply)
        return;
    reply->abort(); // finished() runs, releases it and reports the end
    if (tileReply == reply) { // it had ended already without saying so
        releaseReply();
        emit tileError(currentKey, currentGeneration, Failure::Aborted);
    }
}

void MapTileFetcher::setProxy(const ProxySettings &settings)
{
    abort();
    QNetworkProxy::setApplicationProxy(settings.networkProxy());
}

void MapTileFetcher::setUpDiskCache()
{
    const QString folder = AppConfig::instance().mapCacheDir;
    // A folder that cannot be made only means every tile comes from the
    // server, as without the cache.
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return;
    diskCache = new QNetworkDiskCache(&tileNetwork);
    diskCache->setCacheDirectory(folder);
    diskCache->setMaximumCacheSize(DiskCacheBytes);
    tileNetwork.setCache(diskCache);
}

QString MapTileFetcher::diskCacheFolder() const
{
    return diskCache ? diskCache->cacheDirectory() : QString();
}

void MapTileFetcher::applySslConfiguration()
{
#ifndef QT_NO_SSL
    sslConfig = TlsTrust::configuration();
#endif
}
