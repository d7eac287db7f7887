#pragma once

#include "mapview/MapTileAddress.h"
#include "mapview/MapTileFetcher.h"
#include "mapview/TileId.h"
#include "mapview/TileStore.h"
#include "settings/ProxySettings.h"

#include <QCache>
#include <QImage>
#include <QObject>
#include <QUrl>
#include <QVector>

// The program's single store of map tiles. Missing tiles are queued and
// fetched one at a time from the configured map server; while a tile is
// missing, a preview enlarged from the matching part of a coarser tile is
// handed out. Five overview images (Tiles/000.png ... 111.png) seed the
// coarsest levels. Views hear of a stored tile through tileStored.
class CvMapCache : public QObject
{
    Q_OBJECT

public:
    // Encoded tiles held before the least recently used ones are dropped.
    static constexpr qint64 DefaultMemoryBudget = 256LL * 1024 * 1024;
    // Decoded images of recently painted tiles, so a repaint does not decode;
    // previews get half of it beside: a full-HD view of previews (45 tiles
    // and the coarser ones they come from) must fit, or every drag step
    // makes them all again. Previews are held only as images: one is made
    // from its parent's image in a copy and an enlargement, far cheaper than
    // packing it into PNG bytes and unpacking them for every paint.
    static constexpr qint64 DecodedBudget = 48LL * 1024 * 1024;
    static constexpr qint64 DecodedPreviewBudget = DecodedBudget / 2;

    explicit CvMapCache(qint64 memoryBudget = DefaultMemoryBudget, QObject *parent = nullptr);
    ~CvMapCache() override;
    Q_DISABLE_COPY(CvMapCache)

    // The single instance; instance() is null until the first map widget is built.
    static CvMapCache *instance();
    static CvMapCache *ensureInstance();
    static void resetInstanceForTests();

    // Image of a held tile, else a preview (null when there is none); a
    // missing tile is queued.
    QImage cachedTile(int x, int y, int zoom);
    QImage derivedTile(int x, int y, int zoom);
    void requestTile(const TileId &key);
    void startNextRequest();

    // A new server or a reload makes a new source: answers still coming for
    // the one before are dropped.
    void setServer(const QString &host, const QString &path, const QString &query, const QString &storageMode,
                   const QString &format, int port, int sourceMode);
    void setServerHost(const QString &host, int sourceMode);
    // Forgets all tiles and requests and loads the overview images again.
    void reload();
    void setProxy(const ProxySettings &settings) { fetcher.setProxy(settings); }

    // Keeps bytes as the tile's image (what an answered request does).
    void storeTile(const TileId &key, const QByteArray &bytes);
    bool holdsTile(const TileId &key) const { return tiles.contains(key); }
    bool holdsPreview(const TileId &key) const { return decodedPreviews.contains(key); }
    QUrl tileAddress(const TileId &key) const;

    void setMemoryBudget(qint64 bytes);
    qint64 memoryBudget() const { return tiles.budget(); }
    qint64 memoryUsed() const { return tiles.bytesUsed(); }
    int tileCount() const { return tiles.count(); }
    // Sizes of the server's tiles held (the overview images left out).
    std::vector<qint64> tileSizes() const { return tiles.entrySizes(); }
    qint64 previewMemoryUsed() const { return decodedPreviews.totalCost(); }
    // Bytes of the decoded images of tiles held.
    qint64 decodedMemoryUsed() const { return decodedTiles.totalCost(); }

    QVector<TileId> queuedKeys() const { return requestQueue; }
    bool isRequestPending() const { return fetcher.isBusy(); }
    TileId keyInFlight() const { return fetcher.keyInFlight(); }
    int requestsStarted() const { return fetcher.requestsStarted(); }
    MapTileAddress::MapServer server() const { return serverConfig; }
    QString diskCacheFolder() const { return fetcher.diskCacheFolder(); }

    // Where the overview images are looked for: beside the executable, then
    // in the working directory.
    static QStringList overviewFolders();
    // How many of the overview images are held, of how many there are.
    int overviewImagesHeld() const;
    static int overviewImageCount();

signals:
    // Stored: what shows the tile or its previews changes.
    void tileStored(const TileId &key);
    // A request has ended, stored or not (for tests and tools).
    void requestDone(const TileId &key, bool stored);

private:
    void tileFetched(const TileId &key, quint64 generation, const QByteArray &bytes);
    void fetchFailed(const TileId &key, quint64 generation, MapTileFetcher::Failure failure);
    void loadOverviewImages();
    QImage decode(const TileId &key, const QByteArray &bytes, bool preview);
    void forgetDecoded(const TileId &key);
    void forgetDecoded(const QList<TileId> &keys);

    TileStore tiles;
    QCache<TileId, QImage> decodedTiles;
    QCache<TileId, QImage> decodedPreviews;
    QVector<TileId> requestQueue;
    MapTileFetcher fetcher;
    // Counts the sources shown; every request carries the one it was made for.
    quint64 sourceGeneration = 0;

    QUrl standardBase; // scheme, host and port of the public tile server
    MapTileAddress::MapServer serverConfig;
};
