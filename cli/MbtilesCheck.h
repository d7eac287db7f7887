#pragma once

#include "mapview/TileId.h"

#include <QString>

#include <functional>

// Reads every tile of an MBTiles file (read-only, the file never changed)
// and judges it by the same content check as a tile folder's files.
class MbtilesCheck
{
public:
    // Called for each tile that is no sound tile: its z/x/y (rows counted
    // from the north, as in a folder) and why.
    using BadSink = std::function<void(const TileId &tile, const QString &reason)>;

    // False when the file is no readable MBTiles file; error() says why.
    // *checked counts the tiles judged; stop is asked between tiles.
    bool run(const QString &path, const BadSink &bad, qint64 *checked, const std::function<bool()> &stop);
    const QString &error() const { return m_error; }

private:
    QString m_error;
};
