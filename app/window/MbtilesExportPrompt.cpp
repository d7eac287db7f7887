#include "app/window/MbtilesExportPrompt.h"

#include "settings/SourceKind.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QString MbtilesExportPrompt::askTarget(QWidget *parent, const QString &destFolder)
{
    const QString folder = QDir::cleanPath(destFolder);
    const QString proposal = folder + QStringLiteral(".mbtiles");
    QString target = QFileDialog::getSaveFileName(parent, QCoreApplication::translate("CvTilewright", "Export MBTiles"),
                                                  proposal,
                                                  QCoreApplication::translate("CvTilewright", "MBTiles (*.mbtiles)"));
    if (!target.isEmpty() && QFileInfo(target).suffix().isEmpty())
        target += QStringLiteral(".mbtiles");
    return target;
}

MbtilesExport::Request MbtilesExportPrompt::request(const QString &destFolder, const QString &target, int sourceKind,
                                                    const QString &attribution)
{
    MbtilesExport::Request request;
    request.folder = destFolder;
    request.target = target;
    request.attribution = attribution;
    request.overlay = sourceKind == SourceKind::SeamarkTiles;
    return request;
}
