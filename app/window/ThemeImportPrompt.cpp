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
    if (result == DgmlReader::Result::CannotOpen) {
        QMessageBox::critical(parent, title, QStringLiteral("Couldn't open %1").arg(fileName));
        return result;
    }
    take(reader.theme());
    if (result == DgmlReader::Result::Error)
        QMessageBox::critical(parent, title, reader.errorString());
    return result;
}
