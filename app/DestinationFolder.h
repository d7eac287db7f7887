#pragma once

#include <QString>

// Where tiles go by default, and the projection file written beside them.
namespace DestinationFolder {

// The standard map folder under the D: root when it exists, else under the
// C: root, else the temp folder of the C: root. Always ends in "/".
QString defaultDestination();

// The 91-byte PROJ description of the tile grid's spherical Mercator.
QByteArray projectionText();

// Writes folder/map.prj whole or not at all; false when it cannot be written.
bool writeProjectionFile(const QString &folder);

} // namespace DestinationFolder
