#include "app/window/SourceDialogPrompt.h"

#include "settings/QUrlLan.h"

std::optional<ChosenSource> SourceDialogPrompt::ask(QWidget *parent, const SourceState &state)
{
    const SourceAddress::TileSource &source = state.source;
    QUrlLan dialog(parent, state.downloadMode, source.sourceKind);
    // A copy job shows its source folder; a download shows its server unless
    // that is the imported theme's, which the theme entry below stands for.
    if (!state.downloadMode)
        dialog.presetSource(QString(), source.sourceFolder, source.sourceKind);
    else if (source.sourceFolder != source.themeHost)
        dialog.presetSource(source.sourceFolder, QString(), source.sourceKind);
    if (source.themeActive)
        dialog.addThemeServer(state.themeName, source.themeHost, source.themeProtocol, source.themePath,
                              source.themeQuery, source.themeStorageMode, source.themePort.toInt());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return ChosenSource{dialog.downloadMode, dialog.tileLayout,    dialog.sourceIndex,
                        dialog.themeIndex,   dialog.sourceText(), dialog.serverHost()};
}
