#include "mapview/widgets/CvMapCache.h"

#include "mapview/TileGeometry.h"
#include "mapview/TileTemplate.h"
#include "settings/AppConfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <iterator>
#include <limits>

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
    connect(&fetcher, &MapTileFetcher::tileFinished, this, &CvMapCache::tileFetched);
    connect(&fetcher, &MapTileFetcher::tileError, this, &CvMapCache::fetchFailed);
    loadOverviewImages();
}

CvMapCache::~CvMapCache()
{
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

int CvMapCache::overviewImagesHeld() const
{
    int held = 0;
    for (const OverviewFile &overview : kOverviewFiles)
        held += tiles.contains(overview.key) ? 1 : 0;
    return held;
}

int CvMapCache::overviewImageCount()
{
    return int(std::size(kOverviewFiles));
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
    if (const QImage *image = decoded.object(key))
        return *image;
    QImage image;
    if (!image.loadFromData(bytes)) {
        image = emptyTile();
    } else if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32_Premultiplied) {
        // Palette and plain ARGB images would be converted on every draw.
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                              : QImage::Format_RGB32);
    }
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
    if (const QImage *held = decodedPreviews.object(key))
        return *held;

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
        if (const QImage *held = decodedPreviews.object(ancestor)) {
            source = *held;
            break;
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
    if (fetcher.isBusy())
        return;
    while (!requestQueue.isEmpty() && tiles.contains(requestQueue.first()))
        requestQueue.removeFirst();
    if (!requestQueue.isEmpty()) {
        const TileId key = requestQueue.takeFirst();
        fetcher.fetch(key, tileAddress(key), sourceGeneration);
    }
}

void CvMapCache::tileFetched(const TileId &key, quint64 generation, const QByteArray &bytes)
{
    if (generation == sourceGeneration)
        return storeTile(key, bytes);
    emit requestDone(key, false);
    startNextRequest();
}

void CvMapCache::fetchFailed(const TileId &key, quint64 generation, MapTileFetcher::Failure failure)
{
    // A tile the server does not have must not stop the rest of the view from
    // loading, nor may the trouble of a source no longer shown. A server in
    // trouble gets the rest asked of it at a later paint.
    const bool goOn = failure == MapTileFetcher::Failure::Missing
                      || (generation != sourceGeneration && failure != MapTileFetcher::Failure::Aborted);
    if (!goOn && failure == MapTileFetcher::Failure::ServerTrouble)
        requestQueue.clear();
    emit requestDone(key, false);
    if (goOn)
        startNextRequest();
}

void CvMapCache::storeTile(const TileId &key, const QByteArray &bytes)
{
    forgetDecoded(key);
    forgetDecoded(tiles.insert(key, bytes));
    emit tileStored(key);
    emit requestDone(key, true);
}

void CvMapCache::setServer(const QString &host, const QString &path, const QString &query,
                           const QString &storageMode, const QString &format, int port, int sourceMode)
{
    ++sourceGeneration;
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
    ++sourceGeneration;
    serverConfig.serverHost = host;
    serverConfig.sourceMode = sourceMode;
}

void CvMapCache::reload()
{
    // The request in flight was made for the source before; the new one's
    // tiles need not wait for it.
    ++sourceGeneration;
    fetcher.abort();
    tiles.clear();
    decodedTiles.clear();
    decodedPreviews.clear();
    requestQueue.clear();
    standardBase = QUrl(TileTemplate::serverBase(AppConfig::instance().osmTileUrl));
    fetcher.applySslConfiguration();
    loadOverviewImages();
}

void CvMapCache::setMemoryBudget(qint64 bytes)
{
    forgetDecoded(tiles.setBudget(bytes));
}
