// TCustomHashTable through its instantiations: the hash functions, chunked entries, duplicate
// policies, iteration order, clear, assign and the signature guard.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cm/Lists/ListsTestSupport.h"
#include "cm/Lists/TypedLists.h"

namespace cm {
namespace {

using test::MessageOf;
using test::TCounted;

TGuid GuidOf(uint32_t d1, uint8_t last = 0) { return TGuid{d1, 0x5156, 0x450A, {0x92, 0xA6, 0xE9, 0xE2, 0xB6, 0x61, 0x9E, last}}; }

TEST(HashFunctions, StringHashValues) {
    const struct { const char* text; uint32_t hash; } cases[] = {
        {"", 0x000}, {"a", 0x1D3}, {"ab", 0x000}, {"abc", 0x314}, {"abcd", 0x357}, {"abcde", 0x356},
        {"Hello_World", 0x266}, {"Version.Info", 0x012},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StringHash(c.text, static_cast<int32_t>(std::strlen(c.text))), c.hash) << c.text;
}

TEST(HashFunctions, StringHashIgnoresAsciiLetterCase) {
    const std::pair<const char*, const char*> pairs[] = {{"abc", "ABC"}, {"Hello_World", "hELLO_wORLD"}, {"setup.exe", "SETUP.EXE"}};
    for (const auto& [a, b] : pairs)
        EXPECT_EQ(StringHash(a, static_cast<int32_t>(std::strlen(a))), StringHash(b, static_cast<int32_t>(std::strlen(b)))) << a;
}

TEST(HashFunctions, FirstWordIsLittleEndian) {
    const TGuid g = GuidOf(0x367101FD);
    EXPECT_EQ(FirstWordHash(&g, 16), 0x367101FDu);
    const uint8_t bytes[4] = {0x01, 0x02, 0x03, 0x84};
    EXPECT_EQ(FirstWordHash(bytes, 4), 0x84030201u);
}

TEST(HashTableEntries, ChunksGrowWithTheTableUpTo128Entries) {
    const struct { int entries; int32_t chunks; } cases[] = {
        {1, 1}, {4, 1}, {5, 2}, {8, 2}, {9, 3}, {17, 4}, {128, 6}, {129, 7}, {256, 7}, {257, 8}, {1000, 13},
    };
    for (const auto& c : cases) {
        TGuidListEx_HashTable table(dupError, 0, 5, FirstWordHash);
        for (int i = 0; i < c.entries; ++i)
            table.Add(GuidOf(static_cast<uint32_t>(i)), nullptr);
        EXPECT_EQ(table.Count(), c.entries);
        EXPECT_EQ(table.ChunkCount(), c.chunks) << c.entries << " entries";
        for (int i = 0; i < c.entries; i += 7)
            EXPECT_NE(table.FindEntry(GuidOf(static_cast<uint32_t>(i))), nullptr) << i;
    }
}

TEST(HashTableAdd, DuplicatePolicies) {
    TObject first, second;
    TGuidListEx_HashTable error(dupError, 0, 5, FirstWordHash), ignore(dupIgnore, 0, 5, FirstWordHash),
        accept(dupAccept, 0, 5, FirstWordHash);
    for (auto* t : {&error, &ignore, &accept})
        t->Add(GuidOf(1), &first);

    EXPECT_EQ(MessageOf<Exception>([&] { error.Add(GuidOf(1), &second); }),
              "TGuidListEx_HashTable: Hashtable does not allow duplicates.");
    EXPECT_EQ(ignore.Add(GuidOf(1), &second), nullptr);
    EXPECT_NE(accept.Add(GuidOf(1), &second), nullptr);
    EXPECT_EQ(error.Count(), 1);
    EXPECT_EQ(ignore.Count(), 1);
    EXPECT_EQ(accept.Count(), 2);
    EXPECT_EQ(error.ObjectOf(GuidOf(1)), &first);
    EXPECT_EQ(ignore.ObjectOf(GuidOf(1)), &first);
    EXPECT_EQ(accept.ObjectOf(GuidOf(1)), &second);   // chains are newest first
    EXPECT_EQ(error.ObjectOf(GuidOf(1, 1)), nullptr); // same first word, other GUID
    EXPECT_EQ(error.FindEntry(GuidOf(2)), nullptr);
}

std::vector<uint32_t> VisitOrder(TGuidListEx_HashTable& table, int stopAfter = -1) {
    struct State { std::vector<uint32_t> seen; int stopAfter; } state{{}, stopAfter};
    table.ForEach([](void* data, TCustomHashTable&, TCustomHashTable::TEntry** link) {
        auto* s = static_cast<State*>(data);
        s->seen.push_back(static_cast<TGuidListEx_HashTable::Record*>(TCustomHashTable::RecordOf(*link))->Guid.D1);
        return static_cast<int>(s->seen.size()) != s->stopAfter;
    }, &state);
    return state.seen;
}

TEST(HashTableForEach, LastBucketFirstAndChainsNewestFirst) {
    TGuidListEx_HashTable table(dupError, 0, 2, FirstWordHash);   // 4 buckets
    for (uint32_t d1 : {0u, 1u, 2u, 4u, 5u})
        table.Add(GuidOf(d1), nullptr);
    EXPECT_EQ(VisitOrder(table), (std::vector<uint32_t>{2, 5, 1, 4, 0}));
    EXPECT_EQ(VisitOrder(table, 3), (std::vector<uint32_t>{2, 5, 1}));
}

TEST(HashTableForEach, CallbackMayUnlinkItsEntry) {
    TGuidListEx_HashTable table(dupError, 0, 1, FirstWordHash);   // 2 buckets, long chains
    for (uint32_t d1 = 0; d1 < 10; ++d1)
        table.Add(GuidOf(d1), nullptr);
    const int32_t calls = table.ForEach([](void*, TCustomHashTable&, TCustomHashTable::TEntry** link) {
        auto* record = static_cast<TGuidListEx_HashTable::Record*>(TCustomHashTable::RecordOf(*link));
        if (record->Guid.D1 % 3 == 0)
            *link = (*link)->Next;
        return true;
    }, nullptr);
    EXPECT_EQ(calls, 10);
    for (uint32_t d1 = 0; d1 < 10; ++d1)
        EXPECT_EQ(table.FindEntry(GuidOf(d1)) == nullptr, d1 % 3 == 0) << d1;
}

TEST(HashTableClear, FreesOwnedObjectsAndKeepsWorking) {
    int alive = 0;
    {
        TStringInt64ObjectMap_HashTable table(dupError, lfOwnsObjects | lfOrderVariant, 8, StringHash);
        for (int i = 0; i < 20; ++i)
            table.Add("name" + std::to_string(i), int64_t(i) << 40, new TCounted(alive));
        EXPECT_EQ(alive, 20);
        table.Clear();
        EXPECT_EQ(alive, 0);
        EXPECT_EQ(table.Count(), 0);
        EXPECT_EQ(table.ChunkCount(), 0);
        EXPECT_EQ(table.FindEntry("name1"), nullptr);
        table.Add("Name1", int64_t(7), new TCounted(alive));
        ASSERT_NE(table.FindEntry("NAME1"), nullptr);
        EXPECT_EQ(table.FindEntry("NAME1")->Value, 7);
        EXPECT_EQ(MessageOf<Exception>([&] { table.Add("name1", int64_t(8), nullptr); }),
                  "TStringInt64ObjectMap_HashTable: Hashtable does not allow duplicates.");
    }
    EXPECT_EQ(alive, 0);   // the destructor frees what remains
}

TEST(HashTableAssign, CopiesEntriesInChainOrder) {
    TObject shared;
    TGuidListEx_HashTable source(dupAccept, 0, 2, FirstWordHash), target(dupAccept, 0, 2, FirstWordHash);
    for (uint32_t d1 : {3u, 7u, 11u, 2u, 6u, 1u})
        source.Add(GuidOf(d1), &shared);
    target.Add(GuidOf(100), nullptr);
    target.Assign(source);
    EXPECT_EQ(target.Count(), 6);
    EXPECT_EQ(target.ChunkCount(), 1);
    EXPECT_EQ(VisitOrder(target), VisitOrder(source));
    EXPECT_EQ(target.ObjectOf(GuidOf(11)), &shared);
    EXPECT_EQ(target.FindEntry(GuidOf(100)), nullptr);

    TGuidListEx_HashTable otherBuckets(dupAccept, 0, 3, FirstWordHash);
    EXPECT_THROW(otherBuckets.Assign(source), EAssertionFailed);
}

TEST(HashTableSignature, DamagedSignatureIsAnAssertion) {
    test::TProbeTable table;
    table.Damage();
    EXPECT_NE(MessageOf<EAssertionFailed>([&] { table.Clear(); }).find("TProbeTable <- memory overwrite detected"),
              std::string::npos);
    EXPECT_NE(MessageOf<EAssertionFailed>([&] { table.NewEntry(); }).find("TProbeTable <- memory overwrite or call to dead object detected"),
              std::string::npos);
    table.Damage();

    auto* dying = new test::TProbeTable;
    dying->Damage();
    EXPECT_NE(MessageOf<EAssertionFailed>([&] { delete dying; }).find("TProbeTable <- memory overwrite or redundant object destruction detected"),
              std::string::npos);
}

}  // namespace
}  // namespace cm
