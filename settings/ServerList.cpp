#include "settings/ServerList.h"

#include "settings/SettingsKeys.h"

namespace ServerList {

int count(const QSettings &store)
{
    return qBound(0, SettingsKeys::ServerCount.read(store), MaxEntries);
}

QStringList read(const QSettings &store)
{
    QStringList servers;
    const int n = count(store);
    servers.reserve(n);
    for (int i = 1; i <= n; ++i)
        servers << SettingsKeys::server(i).read(store);
    return servers;
}

int add(QSettings &store, const QString &text)
{
    // A damaged count is repaired rather than carried on, so the new entry is
    // one that the next start reads; a full list keeps every entry it has.
    const int held = count(store);
    if (held >= MaxEntries)
        return 0;
    const int number = held + 1;
    SettingsKeys::ServerCount.write(store, number);
    SettingsKeys::server(number).write(store, text);
    return number;
}

} // namespace ServerList
