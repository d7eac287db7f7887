#pragma once

#include <QString>
#include <QStringList>

// What an import takes from a DGML map theme file.
struct DgmlTheme
{
    QString name;           // last name element: its name attribute, else its text
    QString storageMode;    // last storageLayout mode attribute
    QStringList sourceDirs; // each non-empty sourcedir text, spaces removed, in file order
    QString sourceDir;      // the last sourcedir text, spaces removed (may be empty)
    bool hasSourceDir = false;
    QString format;         // last sourcedir format attribute
    bool hasFormat = false;
    // The credit the theme asks to be shown with its map: the first license
    // element's short attribute, else its text, blanks collapsed; empty when
    // the file has none.
    QString license;

    // The first downloadUrl element; the file is not read past it.
    bool hasDownloadUrl = false;
    QString host;
    QString protocol;
    QString port;           // "80" unless the element names a port 1 ... 65535
    QString path;
    QString query;
};
