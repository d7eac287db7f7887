#include "app/window/ThemeImportPrompt.h"

#include "app/SourceChoice.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

QString ThemeImportPrompt::askFile(QWidget *parent, QString &startFolder)
{
    if (startFolder.isEmpty())
        startFolder = SourceChoice::themeFolder();
    return QFileDialog::getOpenFileName(parent, QCoreApplication::translate("CvTilewright", "Open Dgml map"),
                                        startFolder,
                                        QCoreApplication::translate("CvTilewright", "Dgml map  (*.dgml)"));
}

DgmlReader::Result ThemeImportPrompt::read(QWidget *parent, const QString &fileName,
                                           const std::function<void(const DgmlTheme &)> &take)
{
    const QString title = QStringLiteral("Parse Dgml error");
    DgmlReader reader;
    const DgmlReader::Result result = reader.readFile(fileName);
    QString message;
    switch (result) {
    case DgmlReader::Result::Read:
        take(reader.theme());
        return result;
    case DgmlReader::Result::CannotOpen:
        message = QStringLiteral("Couldn't open %1").arg(fileName);
        break;
    case DgmlReader::Result::NotAFile:
        message = QCoreApplication::translate("CvTilewright", "%1 is not a regular file; nothing was imported.")
                      .arg(fileName);
        break;
    case DgmlReader::Result::TooLarge:
        message = QCoreApplication::translate("CvTilewright",
                                              "%1 is larger than %2 MiB, more than any map theme; nothing was imported.")
                      .arg(fileName)
                      .arg(DgmlReader::MaxFileBytes / (1024 * 1024));
        break;
    case DgmlReader::Result::NoDownloadUrl:
        message = QCoreApplication::translate("CvTilewright", "%1 names no download server; nothing was imported.")
                      .arg(fileName);
        break;
    case DgmlReader::Result::Error:
        message = reader.errorString();
        break;
    }
    QMessageBox::critical(parent, title, message);
    return result;
}
