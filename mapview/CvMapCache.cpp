#include "mapview/CvMapCache.h"

#include "mapview/CvMapWidget.h"
#include "mapview/TileTemplate.h"
#include "settings/SourceKind.h"
#include "mapview/TileContent.h"
#include "mapview/TileGeometry.h"
#include "mapview/TileRequest.h"
#include "settings/AppConfig.h"
#include "settings/TlsTrust.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QAbstractNetworkCache>
#include <QMessageBox>
#include <QNetworkDiskCache>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QWidget>

#include <limits>

#ifndef QT_NO_SSL
#endif

namespace {

CvMapCache *s_instance = nullptr;

struct OverviewFile
{
    const char *name;
    TileId key;
};

const OverviewFile kOverviewFiles[] = {
    {"000.png", {0, 0, 0}}, {"100.png", {0, 0, 1}}, {"101.png", {0, 1, 1}},
    {"110.png", {1, 0, 1}}, {"111.png", {1, 1, 1}},
};

// What a held tile whose bytes do not decode looks like: nothing at all.
const QImage &emptyTile()
{
    static const QImage image = [] {
        QImage blank(TileGeometry::TileSize, TileGeometry::TileSize, QImage::Format_ARGB32_Premultiplied);
        blank.fill(Qt::transparent);
        return blank;
    }();
    return image;
}

// The pixels and the image's own header, in bytes (the caches' budgets fit
// an int comfortably).
int imageCost(const QImage &image)
{
    return int(qMin<qint64>(image.sizeInBytes() + 256, std::numeric_limits<int>::max()));
}

} // namespace

CvMapCache::CvMapCache(qint64 memoryBudget, QObject *parent)
    : QObject(parent)
    , tiles(memoryBudget)
    , decodedTiles(int(DecodedBudget))
    , decodedPreviews(int(DecodedPreviewBudget))
{
    // The tile server's address is known from the start, so the first paint
    // already loads tiles (no waiting for the proxy detection).
    standardBase = QUrl(TileTemplate::serverBase(AppConfig::instance().osmTileUrl));
    serverConfig.serverHost = standardBase.host();
    applySslConfiguration();
    setUpDiskCache();
    loadOverviewImages();
}

CvMapCache::~CvMapCache()
{
    if (tileReply) {
        tileReply->disconnect(this);
        tileReply->abort();
        delete tileReply;
    }
    if (s_instance == this)
        s_instance = nullptr;
}

CvMapCache *CvMapCache::instance()
{
    return s_instance;
}

CvMapCache *CvMapCache::ensureInstance()
{
    if (!s_instance)
        s_instance = new CvMapCache;
    return s_instance;
}

void CvMapCache::resetInstanceForTests()
{
    delete s_instance;
    s_instance = nullptr;
}

QStringList CvMapCache::overviewFolders()
{
    return {QCoreApplication::applicationDirPath() + QStringLiteral("/Tiles"),
            QDir::current().absoluteFilePath(QStringLiteral("Tiles"))};
}

void CvMapCache::loadOverviewImages()
{
    const QStringList folders = overviewFolders();
    for (const OverviewFile &overview : kOverviewFiles) {
        for (const QString &folder : folders) {
            QFile file(folder + QLatin1Char('/') + QLatin1String(overview.name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray bytes = file.readAll();
            if (bytes.isEmpty())
                continue;
            tiles.insertPinned(overview.key, bytes);
            forgetDecoded(overview.key);
            break;
        }
    }
}

QImage CvMapCache::decode(const TileId &key, const QByteArray &bytes, bool preview)
{
    QCache<TileId, QImage> &decoded = preview ? decodedPreviews : decodedTiles;
    if (decodedEnabled) {
        if (const QImage *image = decoded.object(key))
            return *image;
    }
    QImage image;
    if (!image.loadFromData(bytes)) {
        image = emptyTile();
    } else if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32_Premultiplied) {
        // Palette and plain ARGB images would be converted on every draw.
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                              : QImage::Format_RGB32);
    }
    if (decodedEnabled)
        decoded.insert(key, new QImage(image), imageCost(image));
    return image;
}

void CvMapCache::forgetDecoded(const TileId &key)
{
    decodedTiles.remove(key);
    decodedPreviews.remove(key);
}

void CvMapCache::forgetDecoded(const QList<TileId> &keys)
{
    for (const TileId &key : keys)
        forgetDecoded(key);
}

QImage CvMapCache::cachedTile(int x, int y, int zoom)
{
    const TileId key{x, y, zoom};
    const QByteArray bytes = tiles.find(key);
    if (!bytes.isNull())
        return decode(key, bytes, false);
    if (tiles.contains(key)) // held with an empty body
        return emptyTile();
    requestTile(key);
    return derivedTile(x, y, zoom);
}

QImage CvMapCache::derivedTile(int x, int y, int zoom)
{
    if (zoom <= TileGeometry::MinViewZoom || x < 0 || y < 0)
        return QImage();
    const TileId key{x, y, zoom};
    if (decodedEnabled) {
        if (const QImage *held = decodedPreviews.object(key))
            return *held;
    }

    // Up to the nearest tile held (or preview made), asking for each missing
    // one on the way as painting it would; the preview is then enlarged from
    // that one tile at once instead of level by level through previews.
    TileId ancestor = key;
    int levels = 0;
    QImage source;
    for (;;) {
        ancestor = TileGeometry::parentTile(ancestor);
        ++levels;
        const QByteArray bytes = tiles.find(ancestor);
        if (!bytes.isNull()) {
            source = decode(ancestor, bytes, false);
            break;
        }
        if (tiles.contains(ancestor)) { // held with an empty body
            source = emptyTile();
            break;
        }
        requestTile(ancestor);
        if (ancestor.zoom <= TileGeometry::MinViewZoom || ancestor.zoom <= 0)
            return QImage();
        if (decodedEnabled) {
            if (const QImage *held = decodedPreviews.object(ancestor)) {
                source = *held;
                break;
            }
        }
    }
    // The part of the ancestor this tile covers: 256 >> levels pixels, or
    // one pixel when the ancestor is more than eight levels coarser.
    const int mask = levels >= 31 ? -1 : (1 << levels) - 1;
    const int shift = qMax(0, levels - 8);
    const int span = levels >= 8 ? 1 : TileGeometry::TileSize >> levels;
    const int left = ((x & mask) >> shift) * span;
    const int top = ((y & mask) >> shift) * span;
    QImage preview = source.copy(left, top, span, span)
                         .scaled(TileGeometry::TileSize, TileGeometry::TileSize, Qt::IgnoreAspectRatio,
                                 Qt::FastTransformation);
    if (decodedEnabled)
        decodedPreviews.insert(key, new QImage(preview), imageCost(preview));
    return preview;
}

void CvMapCache::requestTile(const TileId &key)
{
    // Only one level is ever fetched: a key of a new level drops the others.
    requestQueue.erase(std::remove_if(requestQueue.begin(), requestQueue.end(),
                                        [&key](const TileId &queued) { return queued.zoom != key.zoom; }),
                         requestQueue.end());
    requestQueue.append(key);
    startNextRequest();
}

QUrl CvMapCache::tileAddress(const TileId &key) const
{
    return MapTileAddress::tileAddress(standardBase, serverConfig, key);
}

void CvMapCache::startNextRequest()
{
    if (requestQueue.isEmpty() || requestPending)
        return;
    while (tiles.contains(requestQueue.first())) {
        requestQueue.removeFirst();
        if (requestQueue.isEmpty())
            return;
    }
    requestPending = true;
    currentKey = requestQueue.takeFirst();

    QNetworkRequest request = TileRequest::tileRequest(tileAddress(currentKey), TileRequest::mapUserAgent());
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
    tileReply = tileNetwork.get(request);
    answerHeaders.clear();
    connect(tileReply.data(), &QNetworkReply::redirected, this, [this] {
        if (tileReply)
            answerHeaders.noteRedirect(*tileReply);
    });
    connect(tileReply.data(), &QNetworkReply::errorOccurred, this, &CvMapCache::error);
    connect(tileReply.data(), &QNetworkReply::readyRead, this, &CvMapCache::readBody);
    connect(tileReply.data(), &QNetworkReply::finished, this, &CvMapCache::finished);
}

void CvMapCache::readBody()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (reply && reply == tileReply)
        takeBody(*reply);
}

void CvMapCache::takeBody(QNetworkReply &reply)
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
        if (exactStorage && length > 0)
            receivedBody.reserve(int(length));
    }
    if (!exactStorage)
        return; // measured as first built: the whole answer is read at its end
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

void CvMapCache::refuseBody(QNetworkReply &reply)
{
    bodyRefused = true;
    receivedBody = QByteArray();
    reply.abort(); // finished() follows and judges the refusal
}

void CvMapCache::on_requestFinished(int id, bool Error)
{
    if (id != requestId)
        return;
    requestPending = false;
    if (Error) {
        QMessageBox::information(nullptr, tr("Tilewright"),
                                 tr("Download from host %1 failed.\n%2")
                                     .arg(serverConfig.serverHost, QString::fromUtf8(receiveBuffer)));
        requestQueue.clear();
        return;
    }
    storeTile(currentKey, receiveBuffer);
}

void CvMapCache::error(QNetworkReply::NetworkError code)
{
    // Failures are judged in finished(), once the whole answer is in.
    Q_UNUSED(code)
}

void CvMapCache::finished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    if (reply != tileReply) { // a reply abandoned earlier
        reply->disconnect(this);
        reply->deleteLater();
        return;
    }
    requestPending = false;
    const TileId key = currentKey;

    Outcome outcome = Outcome::Stored;
    QByteArray body;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!bodyRefused && reply->error() == QNetworkReply::NoError)
        takeBody(*reply); // what came with the end
    if (bodyRefused) {
        // Too large, or broken while it came: the server is in trouble.
        outcome = Outcome::ServerFailed;
    } else if (reply->error() == QNetworkReply::OperationCanceledError) {
        outcome = Outcome::Aborted;
    } else if (reply->error() != QNetworkReply::NoError) {
        // A tile the server does not have must not stop the rest of the view
        // from loading; any other failure means the server is in trouble.
        outcome = (status == 404 || status == 410) ? Outcome::TileFailed : Outcome::ServerFailed;
    } else {
        if (!bodyChecker)
            bodyChecker = std::make_unique<TileContent::Checker>(answerHeaders.value(*reply, QByteArrayLiteral("Content-Type")));
        if (exactStorage) {
            body = receivedBody;
        } else {
            body = reply->readAll();
            bodyChecker->add(body);
        }
        // Only a complete tile is kept: a body cut short (a connection that
        // ended early, fewer bytes than announced) or one that is not what its
        // type says would show as a broken or blank tile until the next
        // reload. A service exception or an error page is no tile either.
        // Such a tile is asked for again at a later paint.
        if (!bodyChecker->verdict().ok()) {
            outcome = Outcome::ServerFailed;
            body = QByteArray();
            // Nor may a copy kept on disk stand in for it next time.
            if (QAbstractNetworkCache *kept = tileNetwork.cache())
                kept->remove(reply->url());
        }
    }
    receivedBody = QByteArray();
    bodyChecker.reset();
    releaseReply();

    switch (outcome) {
    case Outcome::Stored:
        storeTile(key, body);
        break;
    case Outcome::TileFailed:
        emit requestDone(key, false);
        startNextRequest();
        return;
    case Outcome::ServerFailed:
        requestQueue.clear();
        break;
    case Outcome::Aborted:
        break;
    }
    if (outcome != Outcome::Stored)
        emit requestDone(key, false);
}

void CvMapCache::storeTile(const TileId &key, const QByteArray &bytes)
{
    forgetDecoded(key);
    forgetDecoded(tiles.insert(key, bytes));
    if (auto *map = qobject_cast<CvMapWidget *>(view.data()))
        map->tileArrived(key);
    else if (view)
        view->update();
    emit requestDone(key, true);
}

void CvMapCache::releaseReply()
{
    if (!tileReply)
        return;
    tileReply->disconnect(this);
    tileReply->deleteLater();
    tileReply = nullptr;
}

void CvMapCache::setView(QWidget *widget)
{
    view = widget;
    decodedPreviews.clear();
}

void CvMapCache::setServer(const QString &host, const QString &path, const QString &query,
                           const QString &storageMode, const QString &format, int port, int sourceMode)
{
    serverConfig.serverHost = host;
    serverConfig.serverPath = path;
    serverConfig.serverQuery = query;
    serverConfig.storageMode = storageMode;
    serverConfig.imageFormat = format;
    serverConfig.tileServerMode = port >= 0;
    serverConfig.serverPort = port < 0 ? -port : port;
    serverConfig.sourceMode = sourceMode;
}

void CvMapCache::setServerHost(const QString &host, int sourceMode)
{
    serverConfig.serverHost = host;
    serverConfig.sourceMode = sourceMode;
}

void CvMapCache::reload()
{
    tiles.clear();
    decodedTiles.clear();
    decodedPreviews.clear();
    requestQueue.clear();
    standardBase = QUrl(TileTemplate::serverBase(AppConfig::instance().osmTileUrl));
    applySslConfiguration();
    loadOverviewImages();
}

void CvMapCache::setProxy(const ProxySettings &settings)
{
    proxy = settings;
    if (requestPending) {
        if (tileReply) {
            QNetworkReply *reply = tileReply;
            reply->abort(); // finished() runs and releases it
            if (tileReply == reply)
                releaseReply();
        }
        requestPending = false;
    }
    if (!proxy.enabled) {
        proxy.host.clear();
        proxy.user.clear();
        proxy.password.clear();
    }
    QNetworkProxy::setApplicationProxy(proxy.networkProxy());
}

void CvMapCache::setMemoryBudget(qint64 bytes)
{
    forgetDecoded(tiles.setBudget(bytes));
}

void CvMapCache::setDecodedCacheEnabled(bool enabled)
{
    decodedEnabled = enabled;
    decodedTiles.clear();
    decodedPreviews.clear();
}

void CvMapCache::setExactStorage(bool exact)
{
    exactStorage = exact;
    tiles.setExactStorage(exact);
}

qint64 CvMapCache::decodedMemoryUsed() const
{
    return decodedTiles.totalCost();
}

void CvMapCache::setUpDiskCache()
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

QString CvMapCache::diskCacheFolder() const
{
    return diskCache ? diskCache->cacheDirectory() : QString();
}

void CvMapCache::applySslConfiguration()
{
#ifndef QT_NO_SSL
    sslConfig = TlsTrust::configuration();
#endif
}
