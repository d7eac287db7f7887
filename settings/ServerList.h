#pragma once

#include <QString>
#include <QStringList>

class QSettings;

// The user's saved tile servers: ServerCount and Server1 ... ServerN in the
// program's store. Entries are kept as typed; the same text may be saved twice.
namespace ServerList {

// A count beyond this is taken as damage: no more entries are read.
constexpr int MaxEntries = 1000;

// A tile server's address in the form its downloads use: the tile's
// zoom/x/y is appended to it, so it ends in "/" (added when missing).
QString downloadForm(const QString &text);

// Removes entry number (1 ... count) and closes the gap; false when there is
// no such entry.
bool remove(QSettings &store, int number);

// The number of entries to read: ServerCount within 0 ... MaxEntries.
int count(const QSettings &store);

// Server1 ... Server<count>, in order; a missing key reads as an empty text.
QStringList read(const QSettings &store);

// Saves text as the next entry (ServerCount first, then the entry) and
// returns its number; 0 when the list already holds MaxEntries, in which case
// nothing is written.
int add(QSettings &store, const QString &text);

} // namespace ServerList
