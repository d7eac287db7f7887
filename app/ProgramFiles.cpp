#include "app/ProgramFiles.h"

#include <QDir>

namespace ProgramFiles {

QString findCatalogue(const QString &folder)
{
    const QDir dir(folder);
    // QDir's default sorting is by name, ignoring case.
    const QStringList names = dir.entryList({QStringLiteral("*.qm")});
    for (const QString &name : names) {
        if (name.contains(QLatin1String("CvTile")))
            return dir.absolutePath() + QLatin1Char('/') + name;
    }
    return QString();
}

QUrl manualUrl(const QString &programFolder)
{
    // "file:///" followed by a drive path on Windows; an absolute path that
    // already starts with '/' must not add a fourth slash (it would become a host).
    QString folder = QDir::fromNativeSeparators(programFolder);
    while (folder.startsWith(QLatin1Char('/')))
        folder.remove(0, 1);
    return QUrl(QStringLiteral("file:///") + folder + QStringLiteral("/Manuals/Tilewright.pdf"),
                QUrl::TolerantMode);
}

} // namespace ProgramFiles
