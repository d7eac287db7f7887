#include "app/window/CvTilewright.h"
#include "app/ProgramFiles.h"
#include "mapview/widgets/CvMapCache.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTextStream>
#include <QTimer>

namespace {

// With TILEWRIGHT_START_CHECK set (checks of an installed copy), the program
// says on standard output what it found beside it once its window is up, and
// ends: 0 when the catalogue, every overview image and the manual were found.
int reportStart(const QString &language)
{
    const QString folder = QCoreApplication::applicationDirPath();
    const CvMapCache *cache = CvMapCache::instance();
    const int overviews = cache ? cache->overviewImagesHeld() : 0;
    const QString manual = ProgramFiles::manualUrl(folder).toLocalFile();
    const bool manualFound = QFileInfo(manual).isFile();
    QTextStream out(stdout);
    out << "program folder: " << folder << '\n'
        << "catalogue: "
        << (language.isEmpty() ? QStringLiteral("none")
                               : ProgramFiles::findCatalogue(folder) + QStringLiteral(" (") + language + QLatin1Char(')'))
        << '\n'
        << "overview images: " << overviews << " of " << CvMapCache::overviewImageCount() << '\n'
        << "manual: " << (manualFound ? manual : QStringLiteral("missing")) << '\n';
    return !language.isEmpty() && overviews == CvMapCache::overviewImageCount() && manualFound ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // The resource bundle lives in a static library: register it explicitly.
    Q_INIT_RESOURCE(tilewright);

    QApplication app(argc, argv);

    const QString language = ProgramFiles::installTranslations(QCoreApplication::applicationDirPath(),
                                                               QLibraryInfo::location(QLibraryInfo::TranslationsPath));

    CvTilewright window;
    window.show();
    if (qEnvironmentVariableIsSet("TILEWRIGHT_START_CHECK"))
        QTimer::singleShot(0, &window, [&language]() { QCoreApplication::exit(reportStart(language)); });
    return app.exec();
}
