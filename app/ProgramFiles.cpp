#include "app/ProgramFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTranslator>

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

QString qtCatalogue(const QString &language, const QString &qtTranslationsFolder)
{
    if (language.isEmpty() || qtTranslationsFolder.isEmpty())
        return QString();
    // "de_DE" falls back to "de", as Qt names most of its catalogues.
    QStringList names{language};
    const int underscore = language.indexOf(QLatin1Char('_'));
    if (underscore > 0)
        names << language.left(underscore);
    for (const QString &name : names) {
        const QString path = qtTranslationsFolder + QStringLiteral("/qtbase_") + name + QStringLiteral(".qm");
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

QString installTranslations(const QString &programFolder, const QString &qtTranslationsFolder)
{
    const QString catalogue = findCatalogue(programFolder);
    if (catalogue.isEmpty())
        return QString();
    // Lives as long as the application; installed only when it loads.
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(catalogue, QStringLiteral("."))) {
        delete translator;
        return QString();
    }
    QCoreApplication::installTranslator(translator);
    QString language = translator->language();
    if (language.isEmpty()) // a catalogue made without a target language
        language = QFileInfo(catalogue).completeBaseName().section(QLatin1Char('_'), 1);
    // Numbers and sizes inside the catalogue's sentences are written the way
    // its language writes them, whatever the system's locale.
    const QLocale catalogueLocale(language);
    if (catalogueLocale.language() != QLocale::C)
        QLocale::setDefault(catalogueLocale);
    const QString qtFile = qtCatalogue(language, qtTranslationsFolder);
    if (!qtFile.isEmpty()) {
        auto *qtTranslator = new QTranslator(QCoreApplication::instance());
        if (qtTranslator->load(qtFile, QStringLiteral(".")))
            QCoreApplication::installTranslator(qtTranslator);
        else
            delete qtTranslator;
    }
    return language;
}

QString aboutText(const QString &version)
{
    return QCoreApplication::translate("CvTilewright",
                                       "<h3>Tilewright %1</h3>"
                                       "<p>Fills a local map tile folder for offline use: OpenStreetMap "
                                       "tiles, OpenSeaMap seamarks, SRTM elevation archives and the tile "
                                       "servers of your own list.</p>"
                                       "<p>Map data &copy; OpenStreetMap contributors.</p>"
                                       "<p>&copy; Corvane &mdash; "
                                       "<a href=\"https://www.corvane.com/\">www.corvane.com</a></p>")
        .arg(version);
}

} // namespace ProgramFiles
