// The keyed trees and their snapshot iterators.
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

TEST(Tree, IteratesInAscendingOrderOverwritesEqualKeysAndThrowsOnAbsentOnes) {
    for (const std::vector<x_uint32>& order : std::vector<std::vector<x_uint32>>{
             {30, 10, 20}, {10, 20, 30}, {30, 20, 10}, {20, 10, 30, 5, 25, 40, 35}}) {
        IntMap map;
        for (x_uint32 k : order) EXPECT_EQ(map.Insert(k, 1), 1);
        for (x_uint32 k : order) EXPECT_EQ(map.Insert(k, static_cast<int>(k)), 0);
        std::vector<x_uint32> sorted(order);
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(KeysOf(map), sorted);
        EXPECT_EQ(map.GetSize(), static_cast<int>(order.size()));
        for (x_uint32 k : order) EXPECT_EQ(map.Get(k), static_cast<int>(k));
        for (x_uint32 absent : {0u, 15u, 41u}) EXPECT_THROW(map.Get(absent), my::CNoSuchDataException);
        EXPECT_TRUE(map.Contains(order[0]) && !map.Contains(15));
        map.Clear();
        EXPECT_THROW(map.Get(order[0]), my::CNoSuchDataException);
    }
}

TEST(Tree, IteratorIsASnapshotOfTheElementsThemselves) {
    IntMap map;
    map.Insert(2, 20);
    map.Insert(1, 10);
    my::CAutoPtr<CIterator<IntMap::CPair>> it(map.CreateIterator());
    map.Insert(0, 0);
    IntMap::CPair& first = it->Next();
    EXPECT_EQ(first.m_Key, 1u);
    first.m_Value = 11;
    EXPECT_EQ(it->Next().m_Key, 2u);
    EXPECT_FALSE(it->HasNext());
    EXPECT_EQ(map.Get(1), 11);
    EXPECT_EQ(KeysOf(map), (std::vector<x_uint32>{0, 1, 2}));
}

}  // namespace
