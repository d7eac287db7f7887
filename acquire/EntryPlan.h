#pragma once

#include "acquire/SourceAddress.h"
#include "acquire/TileFiles.h"
#include "mapview/TileId.h"

#include <QString>

// What the download job does with one entry of the tile list, decided from
// the chosen source and the destination folder alone: where it is asked for,
// where it goes and how it travels.
struct EntryPlan
{
    enum class Transport {
        None,  // no request: no address, or a scheme that is no tile server
        Http,  // plain HTTP through Qt's network access
        Https  // HTTPS through libcurl, off the GUI thread
    };

    TileId entry;
    SourceAddress::Address address;
    TileFiles::Target target;
    Transport transport = Transport::None;
    bool elevation = false;     // entry is (longitude, latitude, region)
    bool pauseFirst = false;    // the in-house server wants its requests spaced out
    bool rejectedHost = false;  // this host never gets a request: the job is cancelled
    // A theme format that is no file extension, and the one used instead.
    QString unsafeFormat;
    QString savedExtension;
    // The tile's name in the status line: the theme's local file name or the
    // last part of the address.
    QString shownName;

    static EntryPlan plan(const SourceAddress::TileSource &source, const QString &destFolder,
                          const TileId &entry);

    bool hasAddress() const { return address.isValid(); }
    // The format a theme's tiles are asked for and saved in: a theme without
    // one is png, from its first tile on.
    static QString themeFormatOf(const SourceAddress::TileSource &source);
};
