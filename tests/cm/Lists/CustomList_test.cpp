// TCustomList through its plain instantiations: growth, duplicate policies, searches, bulk
// operations, the stream form and the signature guard.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cm/Lists/ListsTestSupport.h"
#include "cm/Lists/TypedLists.h"

namespace cm {
namespace {

using test::MessageOf;
using test::TCounted;
using test::TVectorStream;

std::vector<int32_t> Values(TIntegerList& list) {
    std::vector<int32_t> v;
    for (int32_t i = 0; i < list.Count(); ++i)
        v.push_back(list.Item(i).Value);
    return v;
}

TEST(CustomListGrowth, CapacityAfterAppends) {
    const struct { int appends; int32_t capacity; } cases[] = {
        {1, 4}, {4, 4}, {5, 8}, {8, 8}, {9, 12}, {13, 28}, {28, 28}, {29, 44}, {65, 76}, {77, 152},
    };
    for (const auto& c : cases) {
        TIntegerList list(0);
        for (int i = 0; i < c.appends; ++i)
            list.Add(i);
        EXPECT_EQ(list.Capacity(), c.capacity) << c.appends << " appends";
    }
}

TEST(CustomListGrowth, FullListOfCapacity76GrowsTo152) {
    TIntegerList list(0);
    list.SetCapacity(76);
    for (int i = 0; i < 76; ++i)
        list.Add(i);
    EXPECT_EQ(list.Capacity(), 76);
    list.Add(76);
    EXPECT_EQ(list.Capacity(), 152);
}

TEST(CustomListGrowth, StorageReleasedWhenEmptied) {
    TIntegerList list(0);
    list.Add(1);
    list.Delete(0);
    EXPECT_EQ(list.Capacity(), 0);
    for (int i = 0; i < 6; ++i)
        list.Add(i);
    list.Delete(2);
    EXPECT_EQ(list.Capacity(), 8);   // no shrink while records remain
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
}

TEST(CustomListConstruction, DuplicatePolicyFromFlags) {
    const struct { uint16_t flags; TDuplicates policy; } cases[] = {
        {0, dupIgnore}, {lfDuplicatesError, dupError}, {lfDuplicatesAccept, dupAccept},
        {lfDuplicatesIgnore, dupIgnore}, {lfSorted | lfDuplicatesError | lfOwnsObjects, dupError},
    };
    for (const auto& c : cases) {
        TIntegerList list(c.flags);
        EXPECT_EQ(list.Duplicates(), c.policy) << c.flags;
        EXPECT_EQ(list.Flags() & (lfDuplicatesError | lfDuplicatesAccept | lfDuplicatesIgnore), 0);
        EXPECT_EQ(list.Signature(), TCustomList::ListSignature);
    }
    for (uint16_t bad : {uint16_t(lfDuplicatesError | lfDuplicatesIgnore), uint16_t(lfDuplicatesAccept | lfDuplicatesError),
                         uint16_t(0x0200), uint16_t(0x0400)})
        EXPECT_THROW(TIntegerList list(bad), EAssertionFailed) << bad;
}

TEST(CustomListSorted, AddFollowsDuplicatePolicy) {
    const uint16_t sorted = lfSorted;
    TIntegerList ignore(sorted | lfDuplicatesIgnore), accept(sorted | lfDuplicatesAccept), error(sorted | lfDuplicatesError);
    for (TIntegerList* l : {&ignore, &accept, &error})
        for (int v : {7, 3, 5})
            l->Add(v);

    EXPECT_EQ(ignore.Add(5), 1);
    EXPECT_EQ(ignore.Count(), 3);
    EXPECT_EQ(accept.Add(5), 1);
    EXPECT_EQ(accept.Count(), 4);
    EXPECT_EQ(MessageOf<Exception>([&] { error.Add(5); }), "TIntegerList: List does not allow duplicates.");
    EXPECT_EQ(Values(error), (std::vector<int32_t>{3, 5, 7}));
    EXPECT_EQ(Values(accept), (std::vector<int32_t>{3, 5, 5, 7}));
}

TEST(CustomListSorted, FindReturnsFirstOfAcceptedDuplicates) {
    TIntegerList accept(lfSorted | lfDuplicatesAccept);
    TIntegerList ignore(lfSorted);
    for (int v : {1, 3, 3, 3, 7, 9, 9}) {
        accept.Add(v);
        ignore.InsertSlot(ignore.Count()) ;   // duplicates placed raw: Find must still hit one of them
        ignore.Item(ignore.Count() - 1).Value = v;
    }
    const struct { int32_t key; bool found; int32_t acceptIndex; } cases[] = {
        {0, false, 0}, {1, true, 0}, {2, false, 1}, {3, true, 1}, {4, false, 4}, {7, true, 4}, {9, true, 5}, {10, false, 7},
    };
    for (const auto& c : cases) {
        int32_t index = -1;
        EXPECT_EQ(accept.Find(&c.key, index), c.found) << c.key;
        EXPECT_EQ(index, c.acceptIndex) << c.key;
        EXPECT_EQ(ignore.Find(&c.key, index), c.found) << c.key;
        if (c.found) {
            EXPECT_EQ(ignore.Item(index).Value, c.key);
        } else {
            EXPECT_EQ(index, c.acceptIndex);
        }
        const int32_t at = accept.IndexOf(&c.key);
        EXPECT_EQ(at >= 0, c.found);
        if (at >= 0) {
            EXPECT_EQ(accept.Item(at).Value, c.key);
        }
    }
}

TEST(CustomListSearch, UnsortedIndexOfIsFirstMatch) {
    TIntegerList list(0);
    for (int v : {4, 2, 9, 2})
        list.Add(v);
    const int32_t two = 2, nine = 9, five = 5;
    EXPECT_EQ(list.IndexOf(&two), 1);
    EXPECT_EQ(list.IndexOf(&nine), 2);
    EXPECT_EQ(list.IndexOf(&five), -1);
}

TEST(CustomListRemoveAll, RemovesEveryEqualRecord) {
    TIntegerList unsorted(0), sorted(lfSorted | lfDuplicatesAccept);
    for (int v : {3, 1, 3, 2, 3, 3}) {
        unsorted.Add(v);
        sorted.Add(v);
    }
    const int32_t three = 3, absent = 8;
    EXPECT_EQ(unsorted.RemoveAll(&three), 4);
    EXPECT_EQ(Values(unsorted), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(sorted.RemoveAll(&three), 4);
    EXPECT_EQ(Values(sorted), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(sorted.RemoveAll(&absent), 0);
}

TEST(CustomListMove, ShiftsRecordsBetween) {
    const struct { int32_t from, to; std::vector<int32_t> result; } cases[] = {
        {0, 3, {1, 2, 3, 0, 4}}, {4, 1, {0, 4, 1, 2, 3}}, {2, 2, {0, 1, 2, 3, 4}},
    };
    for (const auto& c : cases) {
        TIntegerList list(0);
        for (int v = 0; v < 5; ++v)
            list.Add(v);
        list.Move(c.from, c.to);
        EXPECT_EQ(Values(list), c.result) << c.from << "->" << c.to;
    }
    TIntegerList list(0);
    list.Add(1);
    EXPECT_THROW(list.Move(0, 1), EListError);
}

TEST(CustomListIndexErrors, NameTheClassAndIndex) {
    TIntegerListEx list(0);
    list.Insert(0, 1, nullptr);
    EXPECT_EQ(MessageOf<EListError>([&] { list.Delete(1); }), "TIntegerListEx: List index out of bounds (1)");
    EXPECT_EQ(MessageOf<EListError>([&] { list.InsertSlot(2); }), "TIntegerListEx: List index out of bounds (2)");
    EXPECT_EQ(MessageOf<EListError>([&] { list.ObjectAt(-1); }), "TIntegerListEx: List index out of bounds (-1)");
    EXPECT_EQ(list.Count(), 1);
}

TEST(CustomListBulk, InsertListCopiesAtPosition) {
    TIntegerList target(0), source(0);
    for (int v : {1, 2})
        target.Add(v);
    for (int v : {8, 9})
        source.Add(v);
    target.InsertList(source, 1);
    EXPECT_EQ(Values(target), (std::vector<int32_t>{1, 8, 9, 2}));
    EXPECT_EQ(target.Capacity(), 4);   // bulk inserts grow to exactly the needed count
    EXPECT_EQ(source.Count(), 2);
    EXPECT_THROW(target.InsertList(source, 5), EListError);
    EXPECT_THROW(target.InsertList(target, 0), EAssertionFailed);

    TIntegerList sortedTarget(lfSorted);
    EXPECT_THROW(sortedTarget.InsertList(source, 0), EAssertionFailed);   // unsorted source

    target.Assign(source);
    EXPECT_EQ(Values(target), (std::vector<int32_t>{8, 9}));
    EXPECT_TRUE(target.Equals(source));
    source.Item(1).Value = 7;
    EXPECT_FALSE(target.Equals(source));
}

TEST(CustomListBulk, AddListMovesRecordsAndObjects) {
    int alive = 0;
    {
        TIntegerListEx target(lfOwnsObjects), source(lfOwnsObjects);
        target.Insert(0, 1, new TCounted(alive));
        source.Insert(0, 2, new TCounted(alive));
        source.Insert(1, 3, new TCounted(alive));
        target.AddList(source);
        EXPECT_TRUE(source.IsEmpty());
        EXPECT_EQ(source.Capacity(), 0);
        EXPECT_EQ(alive, 3);
        ASSERT_EQ(target.Count(), 3);
        EXPECT_EQ(target.Item(2).Key, 3);
        EXPECT_NE(target.ObjectAt(2), nullptr);

        TIntegerListEx sorted(lfSorted);
        EXPECT_EQ(MessageOf<Exception>([&] { sorted.AddList(target); }),
                  "TIntegerListEx: Cannot add multiple items to a sorted list.");
        EXPECT_EQ(target.Count(), 3);
    }
    EXPECT_EQ(alive, 0);   // freed once, by the target
}

TEST(CustomListStream, IntegerListForm) {
    TIntegerList list(0);
    for (int v : {1, 2, 3})
        list.Add(v);
    TVectorStream stream;
    list.SaveToStream(stream);
    EXPECT_EQ(stream.Bytes(), (std::vector<uint8_t>{0x06, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}));

    TIntegerList loaded(0);
    loaded.Add(42);
    stream.SetPosition(0);
    loaded.LoadFromStream(stream);
    EXPECT_EQ(Values(loaded), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(loaded.Capacity(), 3);
}

TEST(CustomListStream, LargeCountUsesFourByteCompactInteger) {
    TIntegerList list(0);
    for (int v = 0; v < 200; ++v)
        list.Add(v);
    TVectorStream stream;
    list.SaveToStream(stream);
    const std::vector<uint8_t> bytes = stream.Bytes();
    ASSERT_EQ(bytes.size(), 4u + 200 * 4);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0x91, 0x01, 0, 0}));
    stream.SetPosition(0);
    TIntegerList loaded(0);
    loaded.LoadFromStream(stream);
    EXPECT_TRUE(loaded.Equals(list));
}

TEST(CustomListStream, Pointer64Form) {
    TPointer64IntegerList list(0);
    list.Add(int64_t(0x1122334455667788), 5);
    TVectorStream stream;
    list.SaveToStream(stream);
    EXPECT_EQ(stream.Bytes(), (std::vector<uint8_t>{0x02, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,
                                                    5, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(CustomListStream, CountBeyondStreamIsRefusedBeforeAllocating) {
    const std::vector<std::vector<uint8_t>> corrupt = {
        {0xFF, 0xFF, 0xFF, 0xFF},                // 2^31 - 1 records
        {0x08, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0},  // 4 records, 11 bytes
        {0x01, 0x02},                             // truncated count
    };
    for (const auto& bytes : corrupt) {
        TVectorStream stream(bytes);
        TIntegerList list(0);
        list.Add(9);
        EXPECT_THROW(list.LoadFromStream(stream), EStreamError);
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(list.Capacity(), 0);
    }
}

TEST(CustomListSignature, DamagedSignatureIsAnAssertion) {
    const struct { const char* what; void (*use)(test::TProbeList&); const char* detail; } cases[] = {
        {"Clear", [](test::TProbeList& l) { l.Clear(); }, " <- memory overwrite detected"},
        {"Delete", [](test::TProbeList& l) { l.Delete(0); }, " <- memory overwrite detected"},
        {"InsertSlot", [](test::TProbeList& l) { l.InsertSlot(0); }, " <- memory overwrite detected"},
        {"IndexOf", [](test::TProbeList& l) { l.IndexOf(nullptr); }, " <- memory overwrite or call to dead object detected"},
    };
    for (const auto& c : cases) {
        test::TProbeList list;
        list.Damage();
        const std::string message = MessageOf<EAssertionFailed>([&] { c.use(list); });
        EXPECT_NE(message.find(std::string("TProbeList") + c.detail), std::string::npos) << c.what << ": " << message;
        EXPECT_NE(message.find("cm/Lists"), std::string::npos);
        list.Damage();   // repaired, so the destructor passes
    }
}

TEST(CustomListSignature, DestructionChecksTheSignature) {
    auto* list = new test::TProbeList;
    list->Damage();
    const std::string message = MessageOf<EAssertionFailed>([&] { delete list; });
    EXPECT_NE(message.find("TProbeList <- memory overwrite or redundant object destruction detected"), std::string::npos)
        << message;
}

}  // namespace
}  // namespace cm
