#pragma once

#include "acquire/SourceAddress.h"
#include "settings/DgmlTheme.h"

#include <QString>
#include <QStringList>

// The window's source fields: what the job fetches or copies from, and where to.
struct SourceState
{
    SourceAddress::TileSource source;
    bool downloadMode = true;
    QString destFolder;
    QString themeName;
    QString themeSourceDir;
};

// What the source dialog returned on OK.
struct ChosenSource
{
    bool downloadMode = true;
    bool tileLayout = true;
    int sourceIndex = 0;
    int themeIndex = -1;
    QString sourceText;
    QString serverHost;
};

// Where the map view is pointed after a download source was chosen. Without
// the theme the server is set with no port and mode, then the host with the
// mode; with the theme the server takes port and mode (a negative port marks
// a Web Map Service).
struct MapTarget
{
    QString host;
    QString path;
    QString query;
    QString storageMode;
    QString format;
    int port = 0;
    int mode = 0;
    bool viaHost = true;
};

// The effect of a choice in the source dialog or of a theme import on the
// window's fields, free of widgets.
class SourceChoice
{
public:
    struct Applied
    {
        SourceState state;
        bool copyMode = false;          // status "Copy:"; the map stays as it is
        bool destinationShown = false;  // the destination field is to show state.destFolder
        MapTarget map;                  // only for a download source
    };

    static Applied apply(const SourceState &before, const ChosenSource &chosen, const QString &osmTileUrl,
                         const QString &seamarkTileUrl, const QStringList &mapDataRoots);

    // Takes the theme's fields as far as the file was read; the destination
    // follows each of its source folders inside the map-data roots.
    static SourceState importTheme(const SourceState &before, const DgmlTheme &theme,
                                   const QStringList &mapDataRoots);

    // Where the theme file dialog opens: the earth folder of the first
    // map-data root that has one; empty when neither has.
    static QString themeFolder();
};
