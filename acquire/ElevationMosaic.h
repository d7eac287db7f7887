#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// One elevation layer over the SRTM3 archives of a destination: a GDAL
// virtual raster (<name>-elevation.vrt, <name> being the folder's name) that
// reads every stored <Region>/NAME.hgt.zip through /vsizip/ in place. Each
// archive holds 1201 x 1201 samples of 3 arc-seconds, the outer rows and
// columns lying on whole degrees, so neighbouring archives share their edge
// row and column. Made from what the folder holds: a later job brings it up
// to date and loses nothing.
class ElevationMosaic
{
public:
    static constexpr int Samples = 1201;        // per archive side
    static constexpr int SamplesPerDegree = 1200;

    struct Cell
    {
        int lon = 0;     // south-west corner, whole degrees
        int lat = 0;
        QString archive; // absolute path of the .hgt.zip
        QString member;  // NAME.hgt inside it
    };

    struct Result
    {
        bool ok = false;
        bool written = false; // false with ok: no archive in the folder
        int archives = 0;
        QString error;
    };

    // The archives in the region folders, one per cell (the first found wins).
    static QVector<Cell> scan(const QString &folder);
    // "N47E011.hgt.zip" -> (11, 47); false for any other name.
    static bool parseName(const QString &fileName, int *lon, int *lat);
    static QString fileName(const QString &folder);
    static QByteArray vrtText(const QVector<Cell> &cells);
    static Result write(const QString &folder);
};
