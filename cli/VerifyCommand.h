#pragma once

#include "cli/CommandLine.h"
#include "mapview/TileId.h"

#include <QString>

#include <vector>

class StopSignal;

// tilewright verify: every tile of a zoom/x/y tree (or of an MBTiles file) judged by the same content
// check as a download's, the bad ones listed, and with --repair fetched
// again from a source by the download job, which replaces a tile only with
// a sound one.
class VerifyCommand
{
public:
    struct BadTile
    {
        TileId tile;
        QString path;
        QString reason;
    };

    explicit VerifyCommand(const CommandLine &line);
    int run(StopSignal *stopSignal);

    // The bad tiles of the tree below root (ending in '/'); *checked counts
    // every tile judged. Files that are no zoom/x/y tile are passed over.
    static std::vector<BadTile> check(const QString &root, qint64 *checked, StopSignal *stopSignal = nullptr);
    // The reason a tile file is no sound tile; empty when it is one.
    static QString judge(const QString &path);
    // The list entry a file below the tree stands for; false for other files.
    static bool entryOf(const QString &relativePath, TileId *entry);

private:
    int checkPack(StopSignal *stopSignal);

    const CommandLine &m_line;
};
