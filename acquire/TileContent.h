#pragma once

#include <QByteArray>

// Judges whether a successful (200) answer to a tile request is recognisably
// not an image: a WMS service exception, an HTML error page, a JSON error.
// Such bodies must not be kept as tiles.
namespace TileContent {

// contentType is the raw Content-Type header value (may be empty); head is the
// beginning of the body (a few hundred bytes are plenty). A text, XML or JSON
// type marks a document unless the body carries an image signature; under a
// missing, generic or image type (servers that label answers by the requested
// extension) the first bytes decide. Anything not recognised as a document
// counts as content (conservative: unknown formats and archives pass).
bool isNonImageDocument(const QByteArray &contentType, const QByteArray &head);

// True for the signatures of PNG, JPEG, GIF, BMP, WebP and TIFF.
bool hasImageSignature(const QByteArray &head);

} // namespace TileContent
