#pragma once

#include <QString>
#include <QUrl>

// Files the program finds beside its executable.
namespace ProgramFiles {

// The translation catalogue: the first "*.qm" in the folder, names sorted
// ignoring case, whose name contains "CvTile" anywhere (case-sensitive).
// The system locale plays no role. Empty when none matches.
QString findCatalogue(const QString &folder);

// The user manual below the program folder, as a file address.
QUrl manualUrl(const QString &programFolder);

} // namespace ProgramFiles
