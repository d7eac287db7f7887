#pragma once

#include "acquire/MbtilesExport.h"

#include <QString>

class QWidget;

// Puts an MBTiles export to the user: the file to write, in a save dialog
// captioned "Export MBTiles" that starts beside the destination folder.
class MbtilesExportPrompt
{
public:
    // The chosen file with ".mbtiles" added when it has no suffix; empty when
    // the dialog was cancelled.
    static QString askTarget(QWidget *parent, const QString &destFolder);
    // The export of the destination folder into target, with the source's
    // credit; seamarks are an overlay.
    static MbtilesExport::Request request(const QString &destFolder, const QString &target, int sourceKind,
                                          const QString &attribution);
};
