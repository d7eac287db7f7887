#include "app/window/CvTilewright.h"
#include "app/ProgramFiles.h"

#include <QApplication>
#include <QLibraryInfo>

int main(int argc, char *argv[])
{
    // The resource bundle lives in a static library: register it explicitly.
    Q_INIT_RESOURCE(tilewright);

    QApplication app(argc, argv);

    ProgramFiles::installTranslations(QCoreApplication::applicationDirPath(),
                                      QLibraryInfo::location(QLibraryInfo::TranslationsPath));

    CvTilewright window;
    window.show();
    return app.exec();
}
