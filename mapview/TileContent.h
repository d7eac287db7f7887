#pragma once

#include <QByteArray>

// Judges whether a successful (200) answer to a tile request is recognisably
// not an image: a WMS service exception, an HTML error page, a JSON error.
// Such bodies must not be kept as tiles.
namespace TileContent {

// Bytes from the start of a body that the checks below look at; a streamed
// body need keep no more than this for them.
constexpr int HeadBytes = 512;

// contentType is the raw Content-Type header value (may be empty); head is the
// body or its beginning (only the first HeadBytes are looked at). A text, XML or JSON
// type marks a document unless the body carries an image signature; under a
// missing, generic or image type (servers that label answers by the requested
// extension) the first bytes decide. Anything not recognised as a document
// counts as content (conservative: unknown formats and archives pass).
bool isNonImageDocument(const QByteArray &contentType, const QByteArray &head);

// True for the signatures of PNG, JPEG, GIF, BMP, WebP and TIFF.
bool hasImageSignature(const QByteArray &head);

} // namespace TileContent
