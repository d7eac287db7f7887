#pragma once

#include <QByteArray>
#include <QNetworkRequest>

class QUrl;

// How every tile request of the program is made, for the map view and the
// download job alike.
namespace TileRequest {

// A server that keeps redirecting is given up after this many hops.
constexpr int MaxRedirects = 5;

// The map view introduces itself with the bare product name.
inline QByteArray mapUserAgent() { return QByteArrayLiteral("Tilewright"); }

// GET request for one tile: the given user agent, redirects followed up to
// MaxRedirects but never from HTTPS down to HTTP (the public servers answer
// HTTPS only and redirect plain requests).
QNetworkRequest tileRequest(const QUrl &url, const QByteArray &userAgent);

} // namespace TileRequest
