// The keyed trees, their snapshot iterators and the single-owner pointer.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "En_Validation.h"  // x_uint32
#include "my/AutoPtr.h"
#include "my/MyTree.h"

namespace {

typedef my::CMap<x_uint32, int> IntMap;

std::vector<x_uint32> KeysOf(const IntMap& c) {
    std::vector<x_uint32> keys;
    my::CAutoPtr<CConstIterator<IntMap::CPair>> it(c.CreateConstIterator());
    while (it->HasNext()) keys.push_back(it->Next().m_Key);
    return keys;
}

TEST(Tree, IteratesInAscendingOrderWhateverTheInsertionOrder) {
    const std::vector<std::vector<x_uint32>> orders = {
        {30, 10, 20}, {10, 20, 30}, {30, 20, 10}, {20, 10, 30, 5, 25, 40, 35}};
    for (const auto& order : orders) {
        IntMap map;
        for (x_uint32 k : order) EXPECT_EQ(map.Insert(k, static_cast<int>(k)), 1);
        std::vector<x_uint32> sorted(order);
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(KeysOf(map), sorted);
        EXPECT_EQ(map.GetSize(), static_cast<int>(order.size()));
        for (x_uint32 k : order) EXPECT_EQ(map.Get(k), static_cast<int>(k));
    }
}

TEST(Tree, InsertingAnEqualKeyOverwritesAndKeepsTheSize) {
    IntMap map;
    map.Insert(7, 1);
    map.Insert(3, 2);
    EXPECT_EQ(map.Insert(7, 99), 0);
    EXPECT_EQ(map.GetSize(), 2);
    EXPECT_EQ(map.Get(7), 99);

    my::CTree<x_uint32> set;
    set.Insert(5);
    EXPECT_EQ(set.Insert(5), 0);
    EXPECT_EQ(set.GetSize(), 1);
}

TEST(Tree, LookupOfAnAbsentKeyThrows) {
    IntMap map;
    EXPECT_THROW(map.Get(1), my::CNoSuchDataException);
    EXPECT_FALSE(map.Contains(1));
    map.Insert(10, 1);
    map.Insert(5, 2);
    EXPECT_THROW(map.Get(7), my::CNoSuchDataException);
    EXPECT_THROW(map.Get(11), my::CNoSuchDataException);
    EXPECT_TRUE(map.Contains(5));
    map.Clear();
    EXPECT_EQ(map.GetSize(), 0);
    EXPECT_THROW(map.Get(10), my::CNoSuchDataException);
}

TEST(Tree, IteratorIsASnapshot) {
    IntMap map;
    {
        my::CAutoPtr<CIterator<IntMap::CPair>> empty(map.CreateIterator());
        EXPECT_FALSE(empty->HasNext());
    }
    map.Insert(2, 20);
    map.Insert(1, 10);
    my::CAutoPtr<CIterator<IntMap::CPair>> it(map.CreateIterator());
    map.Insert(0, 0);
    map.Insert(3, 30);
    ASSERT_TRUE(it->HasNext());
    IntMap::CPair& first = it->Next();
    EXPECT_EQ(first.m_Key, 1u);
    first.m_Value = 11;  // the iterator hands out the elements themselves
    EXPECT_EQ(it->Next().m_Key, 2u);
    EXPECT_FALSE(it->HasNext());
    EXPECT_EQ(map.Get(1), 11);
    EXPECT_EQ(KeysOf(map), (std::vector<x_uint32>{0, 1, 2, 3}));
}

TEST(Tree, CopyIsDeep) {
    my::CTree<x_uint32> a;
    for (x_uint32 k : {4u, 2u, 6u, 1u, 3u}) a.Insert(k);
    my::CTree<x_uint32> b(a);
    a.Insert(5);
    a.Clear();
    EXPECT_EQ(b.GetSize(), 5);
    std::vector<x_uint32> keys;
    my::CAutoPtr<CConstIterator<x_uint32>> it(b.CreateConstIterator());
    while (it->HasNext()) keys.push_back(it->Next());
    EXPECT_EQ(keys, (std::vector<x_uint32>{1, 2, 3, 4, 6}));
}

struct Tracked {
    explicit Tracked(int* deaths) : m_pDeaths(deaths) {}
    ~Tracked() { ++*m_pDeaths; }
    int* m_pDeaths;
};

void Sink(my::CAutoPtr<Tracked>) {}

TEST(AutoPtr, HandsOwnershipOnAndDeletesWhatItStillHolds) {
    int deaths = 0;
    {
        my::CAutoPtr<Tracked> a(new Tracked(&deaths));
        my::CAutoPtr<Tracked> b(a);  // copying transfers
        EXPECT_FALSE(a);
        EXPECT_TRUE(b);
        Sink(b);  // passing by value hands it on; the callee deletes it
        EXPECT_FALSE(b);
        EXPECT_EQ(deaths, 1);

        my::CAutoPtr<Tracked> c(new Tracked(&deaths));
        c = my::CAutoPtr<Tracked>(new Tracked(&deaths));  // the old object goes
        EXPECT_EQ(deaths, 2);
        Tracked* raw = c.Release();
        EXPECT_FALSE(c);
        delete raw;
        EXPECT_EQ(deaths, 3);
        my::CAutoPtr<Tracked> d(new Tracked(&deaths));
    }
    EXPECT_EQ(deaths, 4);
}

}  // namespace
