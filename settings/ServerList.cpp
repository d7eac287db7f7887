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

QString downloadForm(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.endsWith(QLatin1Char('/')))
        return trimmed;
    return trimmed + QLatin1Char('/');
}

bool remove(QSettings &store, int number)
{
    QStringList servers = read(store);
    if (number < 1 || number > servers.size())
        return false;
    servers.removeAt(number - 1);
    // The count first, as add() writes it: a break in between leaves a
    // list that reads whole, with a stale last entry at worst.
    SettingsKeys::ServerCount.write(store, servers.size());
    for (int i = 0; i < servers.size(); ++i)
        SettingsKeys::server(i + 1).write(store, servers.at(i));
    store.remove(SettingsKeys::server(servers.size() + 1).path());
    return true;
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
