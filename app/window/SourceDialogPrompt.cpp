#include "app/window/SourceDialogPrompt.h"

#include "settings/QUrlLan.h"
#include "settings/SourceKind.h"

std::optional<ChosenSource> SourceDialogPrompt::ask(QWidget *parent, const SourceState &state)
{
    const SourceAddress::TileSource &source = state.source;
    QUrlLan dialog(parent, state.downloadMode, source.sourceKind);
    // The dialog opens on the source in use, so OK alone changes nothing: a
    // copy job shows its folder, a download its built-in source or server,
    // and the theme in use its own entry.
    const bool themeInUse = source.isTheme() && source.sourceFolder == source.themeHost;
    if (!state.downloadMode)
        dialog.presetSource(QString(), source.sourceFolder, source.sourceKind);
    else if (!themeInUse)
        dialog.presetSource(SourceKind::isServerSource(source.sourceKind) ? source.sourceFolder : QString(),
                            QString(), source.sourceKind);
    if (source.themeActive)
        dialog.addThemeServer(state.themeName, source.themeHost, source.themeProtocol, source.themePath,
                              source.themeQuery, source.themeStorageMode, source.themePort.toInt());
    if (state.downloadMode && themeInUse)
        dialog.showThemeServer();
    dialog.setRequestExample([](const QString &server) {
        SourceAddress::TileSource typed;
        typed.sourceKind = SourceKind::FirstListedServer;
        typed.sourceFolder = server;
        return SourceAddress::downloadAddress(typed, TileId{8802, 5746, 14}).text;
    });
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return ChosenSource{dialog.downloadMode, dialog.tileLayout,    dialog.sourceIndex,
                        dialog.themeIndex,   dialog.sourceText(), dialog.serverHost()};
}
