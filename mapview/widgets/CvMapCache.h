#pragma once

#include "mapview/AnswerHeaders.h"
#include "mapview/MapTileAddress.h"
#include "mapview/TileId.h"
#include "mapview/TileStore.h"
#include "settings/ProxySettings.h"

#include <QCache>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QUrl>
#include <QVector>

class QNetworkDiskCache;
#include <memory>

class QWidget;
namespace TileContent {
class Checker;
}

// The program's single in-memory store of map tiles. Fetches missing tiles one
// at a time from the configured map server and, while a tile is missing,
// hands out a preview enlarged from the matching quarter of a coarser tile.
// Five overview images (Tiles/000.png ... 111.png) seed the coarsest levels.
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
    // What the map view keeps on disk between starts (AppConfig::mapCacheDir);
    // the oldest entries go first beyond it.
    static constexpr qint64 DiskCacheBytes = 256LL * 1024 * 1024;
    // An answer larger than this is no tile: it is refused while it arrives.
    static constexpr qint64 MaxTileBytes = 16LL * 1024 * 1024;

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

    // Registers the widget repainted when a tile arrives; drops all previews.
    void setView(QWidget *view);
    void setServer(const QString &host, const QString &path, const QString &query, const QString &storageMode,
                   const QString &format, int port, int sourceMode);
    void setServerHost(const QString &host, int sourceMode);
    // Forgets all tiles and requests and loads the overview images again.
    void reload();
    // Installs the proxy application-wide. The proxy port is kept apart from
    // the tile server's port.
    void setProxy(const ProxySettings &settings);

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
    qint64 decodedMemoryUsed() const;
    // Off: every call decodes the stored bytes (for measurements).
    void setDecodedCacheEnabled(bool enabled);
    // Off: answers are kept in the buffers they were read into and counted by
    // their length, as the cache first did (for measurements).
    void setExactStorage(bool exact);

    QVector<TileId> queuedKeys() const { return requestQueue; }
    bool isRequestPending() const { return requestPending; }
    TileId keyInFlight() const { return currentKey; }
    int requestsStarted() const { return startedRequests; }
    MapTileAddress::MapServer server() const { return serverConfig; }
    // The folder of the disk cache; empty when the map view has none.
    QString diskCacheFolder() const;

    // Where the overview images are looked for: beside the executable, then
    // in the working directory.
    static QStringList overviewFolders();

signals:
    // A request has ended, stored or not (for tests and tools).
    void requestDone(const TileId &key, bool stored);

private slots:
    // Completion in the form of the older request interface, kept for callers
    // that report (id, error) themselves; the cache's own replies end in finished().
    void on_requestFinished(int id, bool Error);
    void error(QNetworkReply::NetworkError code);
    void finished();
    // Takes in what has arrived of the body, judging it as it comes.
    void readBody();

private:
    enum class Outcome { Stored, TileFailed, ServerFailed, Aborted };

    void loadOverviewImages();
    QImage decode(const TileId &key, const QByteArray &bytes, bool preview);
    void forgetDecoded(const TileId &key);
    void forgetDecoded(const QList<TileId> &keys);
    void releaseReply();
    void takeBody(QNetworkReply &reply);
    void refuseBody(QNetworkReply &reply);
    void applySslConfiguration();
    void setUpDiskCache();

    TileStore tiles;
    QCache<TileId, QImage> decodedTiles;
    QCache<TileId, QImage> decodedPreviews;
    bool decodedEnabled = true;
    bool exactStorage = true;

    QVector<TileId> requestQueue;
    QNetworkAccessManager tileNetwork;
    QNetworkDiskCache *diskCache = nullptr; // owned by tileNetwork
    QPointer<QNetworkReply> tileReply;
    TileId currentKey;
    bool requestPending = false;
    int startedRequests = 0;
    int requestId = 0;
    QByteArray receiveBuffer;
    // The body of the reply in flight and the check of its completeness;
    // a refused body is dropped and the reply aborted.
    QByteArray receivedBody;
    std::unique_ptr<TileContent::Checker> bodyChecker;
    bool bodyRefused = false;
    AnswerHeaders answerHeaders; // of the reply in flight, redirects taken off
    QPointer<QWidget> view;

    QUrl standardBase; // scheme, host and port of the public tile server
    MapTileAddress::MapServer serverConfig;
    QSslConfiguration sslConfig;

    ProxySettings proxy{QString(), 0, QString(), QString(), false};
};
