#pragma once

#include "settings/DgmlReader.h"

#include <functional>

class QString;
class QWidget;

// Puts a map theme import to the user: the theme file to open, and what went
// wrong reading it, in message boxes whose texts stay untranslated.
class ThemeImportPrompt
{
public:
    // The file chosen in the open dialog, empty when it was cancelled. The
    // dialog starts in startFolder; an empty one first becomes the map-data
    // earth folder, where the next import starts again.
    static QString askFile(QWidget *parent, QString &startFolder);

    // Reads the theme file and hands take what it gave, as far as the file
    // was read, before a reader error is shown. A file that cannot be opened
    // is reported and take is not called.
    static DgmlReader::Result read(QWidget *parent, const QString &fileName,
                                   const std::function<void(const DgmlTheme &)> &take);
};
