#pragma once

#include "acquire/SourceAddress.h"
#include "mapview/TileId.h"

#include <QString>

// Where a downloaded entry is stored below the destination folder:
//   zoom/x/<file>            tile sources (file = last part of the address,
//                            "y.png" for a listed WMS, "y.<format>" for a theme)
//   <Region>/<archive>       elevation archives, e.g. Eurasia/N47E011.hgt.zip
namespace TileFiles {

struct Target
{
    QString folder;   // ends in '/'
    QString fileName;
    QString path() const { return folder + fileName; }
    bool isValid() const { return !folder.isEmpty() && isSafeFileName(fileName); }

    static bool isSafeFileName(const QString &name);
};

// root + "zoom/x/" of a tile; root ends in '/'. Downloads and copies share it.
QString tileFolder(const QString &root, const TileId &tile);
// root + "zoom/x/y.png", the place of a standard tile below a tile tree.
QString tileFile(const QString &root, const TileId &tile);

// The extension a theme's tiles are saved with: the format word itself when it
// is a plain word (letters, digits, '_', '-', '+'), otherwise a safe word made
// from it ("image/png" -> "png", "../../x" -> "x", nothing usable -> "png").
// *changed tells whether the word had to be reduced.
QString safeExtension(const QString &format, bool *changed = nullptr);

// addressText is the composed request address; themeFormat must already be
// defaulted (an empty theme format is "png").
Target target(const QString &destFolder, const SourceAddress::TileSource &source, const TileId &entry,
              const QString &addressText);

} // namespace TileFiles
