#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Files the program finds beside its executable.
namespace ProgramFiles {

// The translation catalogue: the first "*.qm" in the folder, names sorted
// ignoring case, whose name contains "CvTile" anywhere (case-sensitive).
// The system locale plays no role. Empty when none matches.
QString findCatalogue(const QString &folder);

// Qt's own catalogue for the language of the program's catalogue (e.g.
// "qtbase_de.qm" for a German one) in Qt's translations folder, so standard
// dialogs and buttons speak the window's language. Empty when the language is
// empty or the folder has no catalogue for it.
QString qtCatalogue(const QString &language, const QString &qtTranslationsFolder);

// Installs the program's catalogue found beside the executable and, with it,
// Qt's catalogue of the same language, and makes that language's number
// formats the default locale. The translators live until exit.
// Returns the language installed (empty: none, the program speaks English).
QString installTranslations(const QString &programFolder, const QString &qtTranslationsFolder);

// The about box's rich text for the program version.
QString aboutText(const QString &version);

// The user manual below the program folder, as a file address.
QUrl manualUrl(const QString &programFolder);

} // namespace ProgramFiles
