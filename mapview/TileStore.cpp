#include "mapview/TileStore.h"

TileStore::TileStore(qint64 budgetBytes)
    : m_budget(budgetBytes)
{
}

QByteArray TileStore::rightSized(const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.capacity() == bytes.size())
        return bytes;
    return QByteArray(bytes.constData(), bytes.size());
}

qint64 TileStore::costOf(const QByteArray &bytes)
{
    // An array holds its capacity whatever its length; shared empties and
    // borrowed data hold nothing of their own.
    return bytes.capacity() + EntryOverhead;
}

QByteArray TileStore::find(const TileId &key)
{
    const auto it = m_entries.find(key);
    if (it != m_entries.end()) {
        m_useOrder.splice(m_useOrder.begin(), m_useOrder, it->use);
        return it->bytes;
    }
    return m_pinned.value(key);
}

bool TileStore::contains(const TileId &key) const
{
    return m_entries.contains(key) || m_pinned.contains(key);
}

QList<TileId> TileStore::insert(const TileId &key, const QByteArray &given)
{
    const QByteArray bytes = rightSized(given);
    const auto it = m_entries.find(key);
    if (it != m_entries.end()) {
        m_used -= costOf(it->bytes);
        it->bytes = bytes;
        m_useOrder.splice(m_useOrder.begin(), m_useOrder, it->use);
    } else {
        m_useOrder.push_front(key);
        m_entries.insert(key, Entry{bytes, m_useOrder.begin()});
    }
    m_used += costOf(bytes);
    return evict(key);
}

void TileStore::insertPinned(const TileId &key, const QByteArray &bytes)
{
    remove(key);
    m_pinned.insert(key, rightSized(bytes));
}

bool TileStore::remove(const TileId &key)
{
    const auto it = m_entries.find(key);
    if (it == m_entries.end())
        return m_pinned.remove(key) > 0;
    m_used -= costOf(it->bytes);
    m_useOrder.erase(it->use);
    m_entries.erase(it);
    return true;
}

void TileStore::clear()
{
    m_entries.clear();
    m_pinned.clear();
    m_useOrder.clear();
    m_used = 0;
}

QList<TileId> TileStore::setBudget(qint64 budgetBytes)
{
    m_budget = budgetBytes;
    return evict(TileId{0, 0, -1});
}

QList<TileId> TileStore::evict(const TileId &keep)
{
    QList<TileId> evicted;
    // The newest entry stays even when it alone exceeds the budget.
    while (m_used > m_budget && !m_useOrder.empty() && !(m_useOrder.back() == keep)) {
        const TileId victim = m_useOrder.back();
        remove(victim);
        evicted << victim;
    }
    return evicted;
}

std::vector<qint64> TileStore::entrySizes() const
{
    std::vector<qint64> sizes;
    sizes.reserve(size_t(m_entries.size()));
    for (const Entry &entry : m_entries)
        sizes.push_back(entry.bytes.size());
    return sizes;
}
