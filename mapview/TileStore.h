#pragma once

#include "mapview/TileId.h"

#include <QByteArray>
#include <QHash>

#include <list>
#include <vector>

// Encoded tiles held in memory under a byte budget: when an insert takes the
// store over its budget, the least recently used tiles leave first. Pinned
// entries (the overview images) never leave and do not count against the
// budget. What is counted is what the process holds: every entry keeps an
// allocation of exactly its length (a longer buffer is copied on insert), and
// the count is of allocations, not of lengths.
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
    // Lengths of the tiles held, the pinned overview images left out.
    std::vector<qint64> entrySizes() const;

    // Per-entry bookkeeping beyond the array's capacity: the array header and
    // the allocator's rounding, the hash node, the use-list node and the
    // hash's share of buckets.
    static constexpr qint64 EntryOverhead = 160;

    // The same bytes in an allocation of exactly their length: a copy when
    // the array has room to spare or does not own its data.
    static QByteArray rightSized(const QByteArray &bytes);

private:
    struct Entry
    {
        QByteArray bytes;
        std::list<TileId>::iterator use;
    };
    static qint64 costOf(const QByteArray &bytes);
    QList<TileId> evict(const TileId &keep);

    QHash<TileId, Entry> m_entries;
    QHash<TileId, QByteArray> m_pinned;
    std::list<TileId> m_useOrder; // most recently used first
    qint64 m_budget;
    qint64 m_used = 0;
};
