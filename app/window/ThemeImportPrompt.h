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

    // Reads the theme file and hands take what it gave only when the whole
    // file was read without error; every other outcome is put to the user
    // and nothing is handed on, so a failed import changes nothing.
    static DgmlReader::Result read(QWidget *parent, const QString &fileName,
                                   const std::function<void(const DgmlTheme &)> &take);
};
