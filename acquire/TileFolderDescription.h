#pragma once

#include <QByteArray>
#include <QString>

// Descriptions written beside a zoom/x/y tile folder so that other programs
// open it as one layer: GDAL's tile-service description (<name>.xml, read by
// its WMS driver) and a QGIS XYZ connection file (<name>-qgis.xml, loaded by
// QGIS's data source manager), <name> being the folder's own name. Both are
// made from what the folder holds, so a later job that adds a deeper zoom
// raises their level and nothing they said before is lost.
class TileFolderDescription
{
public:
    // What a tile folder holds, as far as the descriptions need it.
    struct Holdings
    {
        int minZoom = -1;
        int maxZoom = -1;
        QString extension; // of the tiles at the deepest zoom, e.g. "png"
        bool isEmpty() const { return maxZoom < 0; }
    };

    struct Result
    {
        bool ok = false;
        bool written = false; // false with ok: the folder holds no tile
        QString error;        // the file and the system's text, when not ok
    };

    // Zoom folders (0..30) with at least one zoom/x/y.ext file in them; the
    // extension is taken from the deepest one.
    static Holdings scan(const QString &folder);

    // The folder's name, as the descriptions are named ("tiles" for a root).
    static QString baseName(const QString &folder);
    static QString gdalFileName(const QString &folder);
    static QString qgisFileName(const QString &folder);

    // Bands a GDAL reader gets from the format: three for JPEG, four (with
    // alpha, so holes read as transparent) for the others.
    static int bandCount(const QString &extension);

    // The documents, for the absolute folder path (with or without its "/").
    static QByteArray gdalText(const QString &folder, const Holdings &holdings);
    static QByteArray qgisText(const QString &folder, const Holdings &holdings);

    // Scans the folder and writes both files, each whole or not at all.
    static Result write(const QString &folder);
};
