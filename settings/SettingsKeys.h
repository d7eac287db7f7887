#pragma once

#include "settings/SettingKey.h"

#include <QSize>

#include <memory>

// Every settings key of the program, in one table.
//
// The proxy and server-list keys live at the top level of the program's own
// store ("Corvane" / "Tilewright", openProgramStore). The map view keeps its
// centre and zoom in group CvMapWidget of the store opened with the
// application's default names, which the program never sets, so the two
// stores are apart.
namespace SettingsKeys {

// Opens the "Corvane" / "Tilewright" store; nothing keeps it open.
std::unique_ptr<QSettings> openProgramStore();

// --- proxy credentials (owned by the proxy detection) ---------------------
inline const SettingKey<int> ProxyPort{"ProxyPort", 0};
inline const SettingKey<bool> UseProxy{"UseProxy", false};
inline const SettingKey<QString> UserName{"UserName", QString()};
// Cipher text of the credential cipher (Base64), never the plain password.
inline const SettingKey<QString> Password{"Password", QString()};

// --- the user's server list (owned by the source dialog) ------------------
inline const SettingKey<int> ServerCount{"ServerCount", 0};
// "Server1" ... "ServerN": the server text as typed.
SettingKey<QString> server(int number);

// --- the window's choices, restored at the next start (owned by the main
// window, which writes them as it closes) ----------------------------------
inline const SettingKey<QString> LastDestination{"Window/Destination", QString()};
// SourceKind of the download source; a listed server is found again by its text.
inline const SettingKey<int> LastSourceKind{"Window/SourceKind", 0};
inline const SettingKey<QString> LastServer{"Window/Server", QString()};
inline const SettingKey<bool> LastTileLayout{"Window/TileLayout", true};
// The imported theme's file, read again at the start; ThemeChosen: it is the source.
inline const SettingKey<QString> LastThemeFile{"Window/ThemeFile", QString()};
inline const SettingKey<bool> LastThemeChosen{"Window/ThemeChosen", false};
inline const SettingKey<int> LastDownloadZoom{"Window/DownloadZoom", 0};
inline const SettingKey<QSize> LastWindowSize{"Window/Size", QSize()};

// --- map view (owned by the map widget; the application's default store) --
// Grid coordinates of the view centre at the stored zoom, not degrees; the
// names are what earlier versions wrote.
inline const SettingKey<double> MapCenterX{"CvMapWidget/Lat", 1.0};
inline const SettingKey<double> MapCenterY{"CvMapWidget/Lon", 1.0};
// Read as a double and truncated; written as an unsigned integer.
inline const SettingKey<double, uint> MapZoom{"CvMapWidget/Zoom", 1.0};

} // namespace SettingsKeys
