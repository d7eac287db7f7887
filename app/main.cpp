#include "app/CvTilewright.h"
#include "app/ProgramFiles.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    // The resource bundle lives in a static library: register it explicitly.
    Q_INIT_RESOURCE(tilewright);

    QApplication app(argc, argv);

    const QString catalogue = ProgramFiles::findCatalogue(QCoreApplication::applicationDirPath());
    if (!catalogue.isEmpty()) {
        // Lives until exit; installed only when it loads.
        auto *translator = new QTranslator;
        if (translator->load(catalogue, QStringLiteral(".")))
            QCoreApplication::installTranslator(translator);
    }

    CvTilewright window;
    window.show();
    return app.exec();
}
