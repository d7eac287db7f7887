#pragma once

#include "mapview/AnswerHeaders.h"
#include "mapview/TileId.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>

#include <memory>

class QNetworkDiskCache;
class QNetworkReply;
struct ProxySettings;
namespace TileContent {
class Checker;
}

// Sends the map's tile requests, one at a time, and reports how each ended
// with the key and the source generation it was asked for, so the caller can
// tell an answer for a source no longer shown. A body is judged while it
// arrives; one too large or broken is refused at once. The map's tiles are
// kept on disk between starts (AppConfig::mapCacheDir), and the configured
// CA file is trusted beside the system's.
class MapTileFetcher : public QObject
{
    Q_OBJECT

public:
    enum class Failure {
        Missing,       // the server has no such tile (404, 410)
        ServerTrouble, // any other failure, a refused body included
        Aborted,
    };
    // What the map view keeps on disk between starts; the oldest entries go
    // first beyond it.
    static constexpr qint64 DiskCacheBytes = 256LL * 1024 * 1024;
    // An answer larger than this is no tile: it is refused while it arrives.
    static constexpr qint64 MaxTileBytes = 16LL * 1024 * 1024;

    explicit MapTileFetcher(QObject *parent = nullptr);
    ~MapTileFetcher() override;
    Q_DISABLE_COPY(MapTileFetcher)

    // Starts the request unless one is in flight; the end is reported by
    // tileFinished or tileError.
    bool fetch(const TileId &key, const QUrl &address, quint64 generation);
    bool isBusy() const { return !tileReply.isNull(); }
    TileId keyInFlight() const { return currentKey; }
    int requestsStarted() const { return startedRequests; }
    // Ends the request in flight, reported as Failure::Aborted.
    void abort();
    // Takes the CA file named by the configuration now.
    void applySslConfiguration();
    // Ends the request in flight and installs the proxy application-wide;
    // the proxy port is kept apart from the tile server's port.
    void setProxy(const ProxySettings &settings);
    // The folder of the disk cache; empty when the map view has none.
    QString diskCacheFolder() const;

signals:
    // A complete tile: the whole body came and is what its type says.
    void tileFinished(const TileId &key, quint64 generation, const QByteArray &bytes);
    void tileError(const TileId &key, quint64 generation, MapTileFetcher::Failure failure);

private slots:
    void finished();
    // Takes in what has arrived of the body, judging it as it comes.
    void readBody();

private:
    void takeBody(QNetworkReply &reply);
    void refuseBody(QNetworkReply &reply);
    void releaseReply();
    void setUpDiskCache();

    QNetworkAccessManager tileNetwork;
    QNetworkDiskCache *diskCache = nullptr; // owned by tileNetwork
    QSslConfiguration sslConfig;
    QPointer<QNetworkReply> tileReply;
    TileId currentKey;
    quint64 currentGeneration = 0;
    int startedRequests = 0;
    // The body of the reply in flight and the check of its completeness; a
    // refused body is dropped and the reply aborted.
    QByteArray receivedBody;
    std::unique_ptr<TileContent::Checker> bodyChecker;
    bool bodyRefused = false;
    AnswerHeaders answerHeaders; // of the reply in flight, redirects taken off
};
