#pragma once

#include <QString>
#include <QStringList>

// Where a source choice or an imported theme moves the destination folder.
// Every result ends in exactly one "/".
namespace SourceDestination {

// The map-data roots probed in order: "D:/mapdata/maps/", then "C:/mapdata/maps/".
QStringList mapDataRoots();

// The sub-folder of the standard tiles (kind 0) or the seamarks (kind 1);
// empty for every other kind.
QString standardSubFolder(int kind);

// The destination after choosing standard tiles or seamarks: the first
// existing root plus the source's sub-folder. With no root the sub-folder goes
// below the current destination, replacing a standard sub-folder already at
// its end, so choosing again does not nest the path deeper.
QString standardDestination(const QString &current, int kind, const QStringList &roots);

// True for a folder that can only name a place inside a root: not absolute,
// no drive letter, no ".." component (either separator counts).
bool isRelativeFolder(const QString &folder);

// The destination after a theme's tile folder (spaces already removed): the
// folder under the first root where it exists; the current destination when
// it exists under none or is not a relative folder.
QString themeDestination(const QString &current, const QString &sourceDir, const QStringList &roots);

// The folder proposed for a source without a folder of its own (elevation
// archives, a listed server): named after its
// server below the D: root's map data, "D:/mapdata/maps/earth/<server>/";
// current when there is no server name.
QString serverDestination(const QString &current, const QString &serverHost, int port = -1);

// The path with its trailing slashes made exactly one.
QString withOneTrailingSlash(QString path);

} // namespace SourceDestination
