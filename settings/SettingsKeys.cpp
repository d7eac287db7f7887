#include "settings/SettingsKeys.h"

namespace SettingsKeys {

std::unique_ptr<QSettings> openProgramStore()
{
    return std::make_unique<QSettings>(QStringLiteral("Corvane"), QStringLiteral("Tilewright"));
}

SettingKey<QString> server(int number)
{
    return SettingKey<QString>(QStringLiteral("Server%1").arg(number), QString());
}

} // namespace SettingsKeys
