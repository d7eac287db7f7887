#pragma once

#include <QString>
#include <QStringList>

class QSettings;

// The user's saved tile servers: ServerCount and Server1 ... ServerN in the
// program's store. Entries are kept as typed; the same text may be saved twice.
namespace ServerList {

// A count beyond this is taken as damage: no more entries are read.
constexpr int MaxEntries = 1000;

// The number of entries to read: ServerCount within 0 ... MaxEntries.
int count(const QSettings &store);

// Server1 ... Server<count>, in order; a missing key reads as an empty text.
QStringList read(const QSettings &store);

// Saves text as the next entry (ServerCount first, then the entry) and
// returns its number; 0 when the list already holds MaxEntries, in which case
// nothing is written.
int add(QSettings &store, const QString &text);

} // namespace ServerList
