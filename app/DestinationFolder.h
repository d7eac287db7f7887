#pragma once

#include <QString>

// Where tiles go by default, and the projection file written beside them.
namespace DestinationFolder {

// The standard map folder under the D: root when it exists, else under the
// C: root, else the temp folder of the C: root. Always ends in "/".
QString defaultDestination();

// The destination for a folder picked in the folder dialog: the folder with
// exactly one "/" at its end, also at a drive root ("C:/", not "C://").
QString pickedDestination(const QString &folder);

// The 91-byte PROJ description of the tile grid's spherical Mercator.
QByteArray projectionText();

// Writes map.prj into the folder (with or without its trailing "/") whole or
// not at all; false when it cannot be written.
bool writeProjectionFile(const QString &folder);

// Brings what other programs read beside the stored files up to date after a
// job that stored some: the GDAL and QGIS descriptions of a tile folder, or
// the elevation mosaic of the SRTM archives. Empty when done (or when the
// folder holds nothing to describe); otherwise the file and why it failed.
QString describeContents(const QString &folder, int sourceKind);

} // namespace DestinationFolder
