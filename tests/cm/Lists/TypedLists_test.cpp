// The typed lists and maps: typed operations, key orders and what each frees.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "cm/Lists/ListsTestSupport.h"
#include "cm/Lists/TypedLists.h"

namespace cm {
namespace {

using test::MessageOf;
using test::TCounted;

TEST(TypedListEx, ObjectLookupsAndInsert) {
    TObject a, b;
    TIntegerListEx list(0);
    list.Insert(0, 10, &a);
    list.Insert(0, 20, &b);   // most recent first
    EXPECT_EQ(list.ObjectAt(0), &b);
    EXPECT_EQ(list.ObjectOf(10), &a);
    EXPECT_EQ(list.ObjectOf(30), nullptr);
    EXPECT_EQ(list.IndexOf(10), 1);

    TIntegerListEx sorted(lfSorted);
    EXPECT_THROW(sorted.Insert(0, 1, &a), EAssertionFailed);
    sorted.Add(5, &a);
    sorted.Add(1, &b);
    EXPECT_EQ(sorted.ObjectOf(5), &a);   // bisection
    EXPECT_EQ(sorted.Item(0).Key, 1);
}

TEST(TypedListEx, OwnsObjectsOnlyWithFlag) {
    const struct { uint16_t flags; int aliveAfterDelete; } cases[] = {{lfOwnsObjects, 1}, {0, 2}};
    for (const auto& c : cases) {
        int alive = 0;
        std::vector<TCounted*> made;
        {
            TIntegerListEx list(c.flags);
            for (int k : {1, 2}) {
                made.push_back(new TCounted(alive));
                list.Insert(list.Count(), k, made.back());
            }
            list.Delete(0);
            EXPECT_EQ(alive, c.aliveAfterDelete) << c.flags;
        }
        if (!(c.flags & lfOwnsObjects))
            for (TCounted* o : made)
                delete o;
        EXPECT_EQ(alive, 0) << c.flags;
    }
}

TEST(TypedIntegerMap, SortedErrorKeepsTheFirstValue) {
    TIntegerMap map(lfSorted | lfDuplicatesError);
    EXPECT_EQ(map.Add(5, 1), 0);
    EXPECT_EQ(map.Add(2, 9), 0);
    EXPECT_EQ(MessageOf<Exception>([&] { map.Add(5, 2); }), "TIntegerMap: List does not allow duplicates.");
    ASSERT_EQ(map.Count(), 2);
    int32_t index = -1;
    EXPECT_TRUE(map.Find(5, index));
    EXPECT_EQ(map.KeyAt(index), 5);
    EXPECT_EQ(map.ValueAt(index), 1);
    EXPECT_FALSE(map.Find(3, index));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(map.IndexOf(2), 0);
    EXPECT_EQ(map.IndexOf(7), -1);
    EXPECT_EQ(MessageOf<EListError>([&] { map.ValueAt(2); }), "TIntegerMap: List index out of bounds (2)");
}

TEST(TypedIntegerPairListEx, SortsByFirstThenSecondKey) {
    TIntegerPairListEx list(lfSorted | lfDuplicatesError);
    for (auto [k1, k2] : {std::pair{1, 9}, std::pair{1, 2}, std::pair{0, 5}})
        list.Add(k1, k2, nullptr);
    std::vector<std::pair<int32_t, int32_t>> order;
    for (int32_t i = 0; i < list.Count(); ++i)
        order.emplace_back(list.Item(i).Key1, list.Item(i).Key2);
    EXPECT_EQ(order, (std::vector<std::pair<int32_t, int32_t>>{{0, 5}, {1, 2}, {1, 9}}));
    EXPECT_THROW(list.Add(1, 2, nullptr), Exception);
}

struct TRecordingUnmapper {
    static inline std::vector<void*> Unmapped;
    static void Unmap(void* view) { Unmapped.push_back(view); }
};

TEST(TypedIntegerViewList, UnmapsOwnedViews) {
    int views[3];
    const struct { uint16_t flags; size_t unmapped; } cases[] = {{lfOwnsViews, 3}, {0, 0}};
    for (const auto& c : cases) {
        TRecordingUnmapper::Unmapped.clear();
        {
            TIntegerViewListWith<TRecordingUnmapper> list(c.flags);
            for (int k = 0; k < 3; ++k)
                list.Insert(0, k, &views[k]);
            EXPECT_EQ(list.IndexOf(0), 2);
            EXPECT_EQ(list.ViewAt(0), &views[2]);
            list.Delete(1);
            EXPECT_EQ(TRecordingUnmapper::Unmapped.size(), c.unmapped ? 1u : 0u);
        }
        EXPECT_EQ(TRecordingUnmapper::Unmapped.size(), c.unmapped) << c.flags;
    }
}

TEST(TypedPointer64IntegerList, SignedHighHalfUnsignedLowHalf) {
    TPointer64IntegerList list(lfSorted);
    const int64_t keys[] = {0x00000000FFFFFFFFll, 1, -1, INT64_MIN, 0x100000000ll};
    for (int64_t k : keys)
        list.Add(k, 0);
    std::vector<int64_t> order;
    for (int32_t i = 0; i < list.Count(); ++i)
        order.push_back(list.Item(i).Pointer);
    EXPECT_EQ(order, (std::vector<int64_t>{INT64_MIN, -1, 1, 0x00000000FFFFFFFFll, 0x100000000ll}));
}

TEST(TypedGuid, OrderIsFourSignedWords) {
    const TGuid zero{0, 0, 0, {0}};
    const TGuid highBit{0x80000000u, 0, 0, {0}};
    const TGuid secondWord{0, 1, 0, {0}};
    const TGuid lastByte{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    const struct { TGuid a, b; int order; } cases[] = {
        {zero, zero, 0}, {highBit, zero, -1}, {zero, secondWord, -1}, {lastByte, zero, 1}, {secondWord, lastByte, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompareGuids(c.a, c.b), c.order);
}

TEST(TypedStringMaps, CaseFoldingFollowsTheOrderFlag) {
    TStringIntegerIntegerMap_HashTable folded(dupIgnore, lfOrderVariant, 6, StringHash);
    folded.Add("Alpha", 1, 2);
    EXPECT_EQ(folded.Add("ALPHA", 3, 4), nullptr);
    EXPECT_EQ(folded.Count(), 1);
    for (const char* spelling : {"alpha", "ALPHA", "aLpHa"}) {
        auto* r = folded.FindEntry(spelling);
        ASSERT_NE(r, nullptr) << spelling;
        EXPECT_EQ(r->Value1, 1);
        EXPECT_EQ(r->Value2, 2);
    }
    EXPECT_EQ(folded.FindEntry("alphas"), nullptr);

    TStringIntegerIntegerMap_HashTable exact(dupIgnore, 0, 6, StringHash);
    exact.Add("Alpha", 1, 2);
    exact.Add("ALPHA", 3, 4);
    EXPECT_EQ(exact.Count(), 2);
    EXPECT_EQ(exact.FindEntry("ALPHA")->Value1, 3);
    EXPECT_EQ(exact.FindEntry("alpha"), nullptr);
}

TEST(TypedAssign, ListsCopyRecordsAndShareObjects) {
    TObject shared;
    TIntegerListEx source(0), target(0);
    source.Insert(0, 1, &shared);
    target.Insert(0, 9, nullptr);
    target.Assign(source);
    ASSERT_EQ(target.Count(), 1);
    EXPECT_EQ(target.ObjectAt(0), &shared);
    EXPECT_TRUE(target.Equals(source));
}

}  // namespace
}  // namespace cm
