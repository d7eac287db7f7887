#pragma once

#include "mapview/TileId.h"

#include <QByteArray>
#include <QHash>

#include <list>

// Encoded tiles held in memory under a byte budget: when an insert takes the
// store over its budget, the least recently used tiles leave first. Pinned
// entries (the overview images) never leave and do not count against the
// budget.
class TileStore
{
public:
    explicit TileStore(qint64 budgetBytes);

    // Bytes of a tile or a null array; a hit marks the tile as recently used.
    QByteArray find(const TileId &key);
    bool contains(const TileId &key) const;
    // Inserts or replaces; returns the keys that were evicted to make room.
    QList<TileId> insert(const TileId &key, const QByteArray &bytes);
    void insertPinned(const TileId &key, const QByteArray &bytes);
    bool remove(const TileId &key);
    void clear();

    QList<TileId> setBudget(qint64 budgetBytes);
    qint64 budget() const { return m_budget; }
    // Bytes held by evictable entries, bookkeeping included.
    qint64 bytesUsed() const { return m_used; }
    int count() const { return m_entries.size() + m_pinned.size(); }

    // Rough per-entry bookkeeping beyond the encoded bytes.
    static constexpr qint64 EntryOverhead = 96;

private:
    struct Entry
    {
        QByteArray bytes;
        std::list<TileId>::iterator use;
    };
    static qint64 costOf(const QByteArray &bytes) { return bytes.size() + EntryOverhead; }
    QList<TileId> evict(const TileId &keep);

    QHash<TileId, Entry> m_entries;
    QHash<TileId, QByteArray> m_pinned;
    std::list<TileId> m_useOrder; // most recently used first
    qint64 m_budget;
    qint64 m_used = 0;
};
