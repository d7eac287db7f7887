#pragma once

// The window's source choice: which server family a job and the map view ask.
// Numbers are stored with the choice and compared as integers, so they stay.
namespace SourceKind {

enum Kind : int {
    StandardTiles = 0,
    SeamarkTiles = 1,
    ElevationArchives = 2,
    FirstListedServer = 3 // 3 and above: a listed server or the imported theme
};

// Standard and seamark tiles: the Web Mercator sources that get a map.prj.
constexpr bool isMercatorTiles(int kind) { return kind == StandardTiles || kind == SeamarkTiles; }
constexpr bool isServerSource(int kind) { return kind >= FirstListedServer; }

} // namespace SourceKind
