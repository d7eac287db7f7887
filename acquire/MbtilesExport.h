#pragma once

#include "mapview/TileContent.h"

#include <QMap>
#include <QString>

#include <atomic>
#include <functional>

// Packs a zoom/x/y tile folder into one MBTiles 1.3 file (an SQLite database
// that phone and desktop map apps read). Every tile is judged by the sound-
// tile check before it goes in; one that fails is skipped and counted by
// reason. The database is built in a temporary file beside the target and
// takes the target's name only once it is complete, so a stopped or failed
// export leaves no file at the target and an earlier export there intact.
// Synchronous and free of Qt's event loop: run it on a worker thread or from
// a command-line tool.
class MbtilesExport
{
public:
    struct Request
    {
        QString folder;      // the tile tree: folder/zoom/x/y.ext
        QString target;      // the .mbtiles file to make or replace
        QString name;        // metadata name; the folder's name when empty
        QString description; // metadata description; a default names the folder
        QString attribution; // the source's credit
        bool overlay = false; // transparent layer over another (seamarks)
    };

    struct Result
    {
        bool ok = false;        // the target holds the new export
        bool cancelled = false; // stopped on request; nothing changed at the target
        qint64 found = 0;       // tile files in the folder
        qint64 packed = 0;
        QMap<TileContent::Reason, qint64> unsound; // skipped: not a sound image, by reason
        qint64 otherFormat = 0; // skipped: not in the format of the pack
        qint64 unreadable = 0;  // skipped: the file could not be read
        qint64 duplicate = 0;   // skipped: its place was packed already (1.jpg beside 1.jpeg)
        QString format;         // png, jpg, webp ...
        int minZoom = -1;
        int maxZoom = -1;
        QString error;          // what went wrong when neither ok nor cancelled
        qint64 skipped() const;
    };

    // progress(done, total) is called now and then from the calling thread,
    // total being the tile files found; cancel is read between tiles.
    static Result run(const Request &request, const std::atomic_bool &cancel,
                      const std::function<void(qint64 done, qint64 total)> &progress);

    // MBTiles rows count from the south (TMS), tile folders from the north.
    static int tmsRow(int zoom, int y) { return (1 << zoom) - 1 - y; }
    // The format word of a file extension ("jpeg" -> "jpg"), lower case.
    static QString formatOf(const QString &extension);

    static constexpr int ApplicationId = 0x4d504258; // "MPBX"
};
