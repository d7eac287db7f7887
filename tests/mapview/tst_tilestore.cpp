#include "mapview/TileStore.h"

#include <QtTest>

#include <algorithm>

namespace {

// Budget that holds `tiles` stored entries of `bytes` each.
qint64 budgetFor(int tiles, int bytes)
{
    return tiles * (bytes + TileStore::EntryOverhead);
}

} // namespace

class TestTileStore : public QObject
{
    Q_OBJECT

private slots:
    void evictsLeastRecentlyUsed();
    void removeAndPinKeepTheCount();
};

void TestTileStore::evictsLeastRecentlyUsed()
{
    const QByteArray kilo(1000, 'x');
    TileStore store(budgetFor(3, 1000));
    const TileId a{0, 0, 5}, b{1, 0, 5}, c{2, 0, 5}, d{3, 0, 5}, pinned{0, 0, 1};
    store.insertPinned(pinned, QByteArray(5000, 'p'));
    QVERIFY(store.insert(a, kilo).isEmpty());
    QVERIFY(store.insert(b, kilo).isEmpty());
    QVERIFY(store.insert(c, kilo).isEmpty());
    QCOMPARE(store.bytesUsed(), budgetFor(3, 1000)); // the pinned image is not counted

    QVERIFY(!store.find(a).isNull()); // a is now the most recently used
    QCOMPARE(store.insert(d, kilo), QList<TileId>{b});
    QVERIFY(store.contains(a) && store.contains(c) && store.contains(d) && !store.contains(b));

    // Replacing an entry re-counts it.
    QCOMPARE(store.insert(c, QByteArray(3000, 'y')), (QList<TileId>{a, d}));
    QCOMPARE(store.bytesUsed(), budgetFor(1, 3000));

    // A lowered budget drops everything evictable, never the pinned image.
    QCOMPARE(store.setBudget(0), QList<TileId>{c});
    QCOMPARE(store.count(), 1);
    QCOMPARE(store.find(pinned).size(), 5000);
    // An entry larger than the whole budget is still kept, alone.
    QVERIFY(store.insert(a, kilo).isEmpty());
    QVERIFY(store.contains(a));
}

// Removing and pinning give back the bytes they took, so the budget keeps
// holding as many tiles as before.
void TestTileStore::removeAndPinKeepTheCount()
{
    const QByteArray kilo(1000, 'x');
    TileStore store(budgetFor(2, 1000));
    const TileId a{0, 0, 4}, b{1, 0, 4}, c{2, 0, 4};
    store.insert(a, kilo);
    store.insert(b, kilo);
    QVERIFY(store.remove(a));
    QVERIFY(!store.remove(a));
    QCOMPARE(store.bytesUsed(), budgetFor(1, 1000));
    QVERIFY(store.insert(c, kilo).isEmpty()); // the freed room is there

    // A stored tile that becomes pinned leaves the budget and is never evicted.
    store.insertPinned(b, kilo);
    QCOMPARE(store.bytesUsed(), budgetFor(1, 1000));
    QCOMPARE(store.setBudget(0), QList<TileId>{c});
    QCOMPARE(store.find(b), kilo);
    QCOMPARE(store.count(), 1);
    // Sizes are of the tiles that may leave, the pinned ones left out.
    QVERIFY(store.entrySizes().empty());
    store.setBudget(budgetFor(2, 1000));
    store.insert(a, QByteArray(300, 'a'));
    store.insert(c, kilo);
    std::vector<qint64> sizes = store.entrySizes();
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, (std::vector<qint64>{300, 1000}));

    store.clear();
    QCOMPARE(store.count(), 0);
    QCOMPARE(store.bytesUsed(), qint64(0));
    QVERIFY(store.find(b).isNull());
}

QTEST_GUILESS_MAIN(TestTileStore)
#include "tst_tilestore.moc"
