#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cm/StreamUtils/PageAlloc.h"
#include "cm/StreamUtils/PointerStream.h"
#include "cm/StreamUtils/StreamUtils.h"
#include "cm/StreamUtils/VirtualStream.h"

namespace cm {
namespace {

using Kind = TVirtualBlockKind;

// Bytes that differ from one position to the next, so that a shifted or lost piece shows.
std::vector<uint8_t> Pattern(int32_t size, uint8_t seed = 0) {
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    for (int32_t i = 0; i < size; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + i / 251 + seed);
    return bytes;
}

bool HoldsPrefix(TVirtualStream& s, const std::vector<uint8_t>& bytes, int32_t count) {
    return s.Size() >= count && std::memcmp(s.Memory(), bytes.data(), static_cast<size_t>(count)) == 0;
}

TEST(VirtualStream, CapacityRounding) {
    struct Case { int32_t n; int shift; int32_t capacity; };
    const Case cases[] = {
        {1, 16, 4096},          {4096, 16, 4096},       {4097, 16, 8192},
        {5000, 16, 8192},       {32768, 16, 32768},     {32769, 16, 65536},
        {65536, 16, 65536},     {65537, 16, 131072},    {100000, 16, 131072},
        {200000, 16, 262144},   {200000, 22, 262144},   {300000, 18, 524288},
        {300000, 20, 524288},   {1048577, 20, 2097152}, {5000000, 22, 8388608},
        {5000000, 16, 5046272}, {INT32_MAX, 16, INT32_MAX}, {INT32_MAX - 4, 22, INT32_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " shift " << c.shift);
        EXPECT_EQ(c.capacity, RoundVirtualStreamCapacity(c.n, c.shift));
    }

    struct FlagCase { uint16_t flags; int shift; };
    const FlagCase flagCases[] = {{0, 16}, {1, 18}, {2, 20}, {3, 20}, {4, 22}, {7, 22}, {0x0100, 16}};
    for (const auto& c : flagCases) EXPECT_EQ(c.shift, TVirtualStream(c.flags).GranularityShift()) << c.flags;
}

// The allocator follows the block size: below 49,152 bytes the heap, from it on virtual memory,
// unless a flag forces one; with rounding the switch falls between 32,768 and 65,536.
TEST(VirtualStream, AllocatorChoice) {
    struct Case { uint16_t flags; bool exact; int32_t size; int32_t capacity; Kind kind; };
    const Case cases[] = {
        {0, false, 1, 4096, Kind::Heap},
        {0, false, 32768, 32768, Kind::Heap},
        {0, false, 32769, 65536, Kind::Virtual},
        {0, false, 60000, 65536, Kind::Virtual},
        {0, false, 200000, 262144, Kind::Virtual},
        {4, false, 200000, 262144, Kind::Virtual},
        {0, true, 49151, 49151, Kind::Heap},
        {0, true, 49152, 49152, Kind::Virtual},
        {0, true, 5000, 5000, Kind::Heap},
        {vsAlwaysHeap, false, 200000, 262144, Kind::Heap},
        {vsAlwaysVirtual, false, 1, 4096, Kind::Virtual},
        {vsAlwaysHeap | vsAlwaysVirtual, false, 100000, 131072, Kind::Heap},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << " size " << c.size << " exact " << c.exact);
        TVirtualStream s(c.flags);
        if (c.exact)
            s.SetSizeExact(c.size);
        else
            s.SetSize(c.size);
        EXPECT_EQ(c.capacity, s.Capacity());
        EXPECT_EQ(c.size, s.Size());
        EXPECT_EQ(c.kind, s.Kind());
        EXPECT_NE(nullptr, s.Memory());
        static_cast<char*>(s.Memory())[s.Capacity() - 1] = 1;  // the whole capacity is usable
    }
}

TEST(VirtualStream, WritesGrowAndKeepData) {
    TVirtualStream s;
    EXPECT_EQ(nullptr, s.Memory());
    EXPECT_EQ(Kind::None, s.Kind());
    uint8_t one = 0x5A;
    EXPECT_EQ(1, s.Write(&one, 1));
    EXPECT_EQ(4096, s.Capacity());
    EXPECT_EQ(Kind::Heap, s.Kind());

    // Across the heap-to-virtual switch and over several 1 MB pieces of virtual-to-virtual moves.
    auto bytes = Pattern(3 * VirtualStreamMovePiece + 12345);
    s.SetPosition(0);
    for (size_t done = 0; done < bytes.size(); done += 1000)
        s.WriteBuffer(bytes.data() + done, static_cast<int32_t>(std::min<size_t>(1000, bytes.size() - done)));
    EXPECT_EQ(static_cast<int32_t>(bytes.size()), s.Size());
    EXPECT_EQ(static_cast<int32_t>(bytes.size()), s.Position());
    EXPECT_EQ(0, s.Capacity() % 65536);
    EXPECT_EQ(Kind::Virtual, s.Kind());
    EXPECT_TRUE(HoldsPrefix(s, bytes, s.Size()));

    // Growing further grows the block in place or moves it piecewise; then shrinking below the
    // switch brings the data back to the heap.
    s.SetSize(9 * VirtualStreamMovePiece);
    EXPECT_TRUE(HoldsPrefix(s, bytes, static_cast<int32_t>(bytes.size())));
    s.SetSize(30000);
    EXPECT_EQ(32768, s.Capacity());
    EXPECT_EQ(Kind::Heap, s.Kind());
    EXPECT_EQ(30000, s.Position());
    EXPECT_TRUE(HoldsPrefix(s, bytes, 30000));
    s.Clear();
    EXPECT_EQ(nullptr, s.Memory());
    EXPECT_EQ(0, s.Capacity());
    EXPECT_EQ(0, s.Size());
    EXPECT_EQ(0, s.Position());
    EXPECT_EQ(Kind::None, s.Kind());
}

// Growth by small writes: the capacity follows the rounding rule step by step, but the block
// grows inside a reservation with room to spare (or into the free address space after it), so it
// moves a logarithmic number of times instead of once per 64 KB step (quadratic time).
TEST(VirtualStream, SmallWritesGrowWithoutMovingPerStep) {
    TVirtualStream s;
    s.SetSize(524288);
    s.Seek(0, soEnd);
    s.WriteBuffer("x", 1);
    EXPECT_EQ(589824, s.Capacity());

    TVirtualStream grown;
    const int32_t chunks = 64 * 256;
    int moves = 0;
    void* memory = nullptr;
    for (int i = 0; i < chunks; ++i) {
        auto chunk = Pattern(4096, static_cast<uint8_t>(i));
        grown.WriteBuffer(chunk.data(), 4096);
        if (grown.Memory() != memory) ++moves, memory = grown.Memory();
    }
    EXPECT_EQ(chunks * 4096, grown.Size());
    EXPECT_EQ(chunks * 4096, grown.Capacity());
    EXPECT_LE(moves, 20);
    for (int i = 0; i < chunks; ++i) {
        auto chunk = Pattern(4096, static_cast<uint8_t>(i));
        ASSERT_EQ(0, std::memcmp(static_cast<char*>(grown.Memory()) + i * 4096, chunk.data(), 4096)) << i;
    }
}

// A block that has grown once has room to grow again where it is: Memory stays the same pointer,
// the content stays and the whole new capacity is usable.
TEST(VirtualStream, GrowthInsideTheReservationKeepsTheBlock) {
    auto bytes = Pattern(2 * VirtualStreamMovePiece);
    TVirtualStream s;
    s.WriteBuffer(bytes.data(), VirtualStreamMovePiece);
    s.WriteBuffer(bytes.data() + VirtualStreamMovePiece, 1);
    void* memory = s.Memory();
    s.WriteBuffer(bytes.data() + VirtualStreamMovePiece + 1, VirtualStreamMovePiece - 1);
    s.SetSizeExact(2 * VirtualStreamMovePiece + 5000);
    EXPECT_EQ(memory, s.Memory());
    EXPECT_EQ(2 * VirtualStreamMovePiece + 5000, s.Capacity());
    EXPECT_TRUE(HoldsPrefix(s, bytes, 2 * VirtualStreamMovePiece));
    static_cast<char*>(s.Memory())[s.Capacity() - 1] = 1;
}

// A first block is reserved at its size; where the address space after it is taken, growth moves
// the block (piecewise over several pieces) and keeps its content.
TEST(VirtualStream, GrowthPastTakenAddressSpaceMoves) {
    auto bytes = Pattern(3 * VirtualStreamMovePiece + 100);
    TVirtualStream s;
    s.WriteBuffer(bytes.data(), 3 * VirtualStreamMovePiece);
    void* memory = s.Memory();
    char* end = static_cast<char*>(memory) + 3 * VirtualStreamMovePiece;
    // When this fails, something else holds the range already, which serves as well.
    bool blocked = ReservePagesAt(end, ReservationGranularity);
    s.WriteBuffer(bytes.data() + 3 * VirtualStreamMovePiece, 100);
    EXPECT_NE(memory, s.Memory());
    EXPECT_EQ(Kind::Virtual, s.Kind());
    EXPECT_TRUE(HoldsPrefix(s, bytes, static_cast<int32_t>(bytes.size())));
    if (blocked) {
        EXPECT_TRUE(ReleasePages(end, ReservationGranularity));
    }
}

// The page block under the stream: a block extended into the free space after it is several
// reservations, and commits and decommits that span them must be split (Windows refuses a range
// across two reservations). Where the space after the block is taken, Extend changes nothing.
TEST(PageBlock, ExtendsIntoFreeSpaceOnly) {
    // A large first reservation, which lands where there is free space after it more often than not.
    const size_t first = 16 * 1048576, granule = ReservationGranularity;
    TPageBlock block;
    EXPECT_TRUE(block.Empty());
    ASSERT_TRUE(block.Reserve(first - granule + 1));
    EXPECT_EQ(first, block.Reserved());
    EXPECT_FALSE(block.Reserve(1));
    EXPECT_FALSE(block.CommitTo(first + 1));
    ASSERT_TRUE(block.CommitTo(first - 100));
    EXPECT_EQ(first, block.Committed());
    std::memset(block.Base(), 'a', first);

    // Nothing may allocate between the reservation and the extension: a growing heap takes the
    // free space after the block first.
    bool extended = block.Extend(first + 2 * granule + 1);
    SCOPED_TRACE(extended ? "extended" : "space after the block taken");
    if (extended) {
        EXPECT_EQ(first + 3 * granule, block.Reserved());
        ASSERT_TRUE(block.CommitTo(block.Reserved()));
        EXPECT_EQ(block.Reserved(), block.Committed());
        EXPECT_EQ('a', block.Base()[first - 1]);
        EXPECT_EQ(0, block.Base()[first]);
        std::memset(block.Base() + first, 'b', 3 * granule);
        EXPECT_TRUE(block.Decommit(first - granule, 2 * granule));
        EXPECT_EQ('a', block.Base()[first - granule - 1]);
        EXPECT_EQ('b', block.Base()[first + granule]);
    } else {
        EXPECT_EQ(first, block.Reserved());
        EXPECT_EQ(first, block.Committed());
    }
    EXPECT_TRUE(block.Release());
    EXPECT_TRUE(block.Empty());

    // Taken by a reservation of our own: the extension is refused and nothing changes.
    ASSERT_TRUE(block.Reserve(granule));
    char* end = block.Base() + granule;
    bool blocked = ReservePagesAt(end, granule);
    EXPECT_FALSE(block.Extend(2 * granule));
    EXPECT_EQ(granule, block.Reserved());
    if (blocked) {
        EXPECT_TRUE(ReleasePages(end, granule));
    }
}

TEST(VirtualStream, SetSizeExactHoldsFlagForTheCallOnly) {
    TVirtualStream s;
    s.SetSizeExact(5000);
    EXPECT_EQ(5000, s.Capacity());
    EXPECT_EQ(0, s.Flags() & vsExactCapacity);
    s.SetSize(5001);
    EXPECT_EQ(8192, s.Capacity());
    EXPECT_EQ(0, TVirtualStream(vsExactCapacity).Flags() & vsExactCapacity);
}

TEST(VirtualStream, NeverShrink) {
    TVirtualStream s(vsNeverShrink);
    auto bytes = Pattern(1000000);
    s.WriteBuffer(bytes.data(), 1000000);
    int32_t capacity = s.Capacity();
    void* memory = s.Memory();
    EXPECT_EQ(1048576, capacity);
    s.SetSize(10);
    EXPECT_EQ(capacity, s.Capacity());
    EXPECT_EQ(memory, s.Memory());
    EXPECT_EQ(Kind::Virtual, s.Kind());
    EXPECT_EQ(10, s.Size());
    EXPECT_EQ(10, s.Position());
    s.SetSize(0);
    EXPECT_EQ(0, s.Capacity());
    EXPECT_EQ(nullptr, s.Memory());
    EXPECT_EQ(Kind::None, s.Kind());
}

// The kept block must still be released by the destructor (the leak checker of the host build
// sees it otherwise).
TEST(VirtualStream, KeepMemoryOnClear) {
    for (int32_t size : {100, 100000}) {
        SCOPED_TRACE(size);
        auto s = std::make_unique<TVirtualStream>(vsKeepMemoryOnClear);
        auto bytes = Pattern(size);
        s->WriteBuffer(bytes.data(), size);
        void* memory = s->Memory();
        int32_t capacity = s->Capacity();
        s->SetSize(0);
        EXPECT_EQ(memory, s->Memory());
        EXPECT_EQ(capacity, s->Capacity());
        EXPECT_EQ(0, s->Size());
        EXPECT_EQ(0, s->Position());
        s->WriteBuffer(bytes.data(), 10);
        EXPECT_EQ(memory, s->Memory());
        s->Clear();
        EXPECT_EQ(memory, s->Memory());
        EXPECT_EQ(0, s->Size());
        s.reset();
    }
}

TEST(VirtualStream, LockedStreamRaisesAndKeepsState) {
    TVirtualStream s(vsLocked);
    try {
        s.SetSize(10);
        FAIL() << "no error";
    } catch (const Exception& e) {
        // Raised before rounding: the message names the capacity as asked.
        EXPECT_EQ("Failed to reallocate virtual stream (to 10 bytes)\r\nCannot resize a locked stream", e.message());
    }
    uint8_t byte = 1;
    EXPECT_THROW(s.Write(&byte, 1), Exception);
    EXPECT_EQ(0, s.Size());
    EXPECT_EQ(0, s.Capacity());
    EXPECT_EQ(nullptr, s.Memory());
    s.SetSize(0);  // not a change of a non-zero capacity
    s.Clear();
}

#ifdef _WIN32
// A block larger than the 32-bit address space can give: the error names the rounded size and
// the old block, size and position stay.
TEST(VirtualStream, AllocationFailureKeepsOldBlock) {
    if constexpr (sizeof(void*) == 8)
        GTEST_SKIP() << "a 64-bit process has room for the largest block a stream can ask for";
    TVirtualStream s;
    auto bytes = Pattern(100);
    s.WriteBuffer(bytes.data(), 100);
    s.SetPosition(50);
    void* memory = s.Memory();
    try {
        s.SetSize(INT32_MAX - 8);
        FAIL() << "no error";
    } catch (const EWin32Error& e) {
        EXPECT_EQ(0u, e.message().find("Failed to reallocate virtual stream (to 2147483647 bytes)\r\n"
                                       "Failed to allocate 2147483647 bytes of virtual memory at 0x000000000: "))
            << e.message();
        EXPECT_NE(0u, e.ErrorCode);
    }
    EXPECT_EQ(memory, s.Memory());
    EXPECT_EQ(100, s.Size());
    EXPECT_EQ(50, s.Position());
    EXPECT_EQ(4096, s.Capacity());
    EXPECT_TRUE(HoldsPrefix(s, bytes, 100));
}
#endif

TEST(VirtualStream, EqualsComparesSizeAndBytes) {
    struct Case { std::string a, b; bool equal; };
    const Case cases[] = {
        {"", "", true},
        {"abc", "abc", true},
        {"abc", "abcd", false},
        {"abcd", "abc", false},
        {"abc", "abd", false},
        {"", "a", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a + "|" + c.b);
        TVirtualStream a, b;
        a.WriteBuffer(c.a.data(), static_cast<int32_t>(c.a.size()));
        b.WriteBuffer(c.b.data(), static_cast<int32_t>(c.b.size()));
        EXPECT_EQ(c.equal, a.Equals(b));
        EXPECT_EQ(c.equal, b.Equals(a));
    }
    // Bytes beyond Size do not count.
    TVirtualStream a, b;
    a.WriteBuffer("abcX", 4);
    b.WriteBuffer("abcY", 4);
    a.SetSize(3);
    b.SetSize(3);
    EXPECT_TRUE(a.Equals(b));
    const char text[] = "abc";
    EXPECT_TRUE(a.Equals(TPointerStream(text, 3)));
}

TEST(VirtualStream, AssignCopiesWholeContentToPositionZero) {
    auto big = Pattern(70000, 3);
    for (int32_t targetSize : {0, 10, 100000}) {
        SCOPED_TRACE(targetSize);
        TVirtualStream source, target;
        source.WriteBuffer(big.data(), 70000);
        auto old = Pattern(targetSize, 9);
        target.WriteBuffer(old.data(), targetSize);
        target.Assign(source);
        EXPECT_EQ(0, target.Position());
        EXPECT_EQ(70000, target.Size());
        EXPECT_EQ(70000, source.Position());
        EXPECT_TRUE(target.Equals(source));
        EXPECT_NE(source.Memory(), target.Memory());
    }
    TVirtualStream source, target;
    target.WriteBuffer("xyz", 3);
    target.Assign(source);
    EXPECT_EQ(0, target.Size());
    target.WriteBuffer("xyz", 3);
    target.Assign(target);
    EXPECT_EQ(3, target.Size());
    EXPECT_EQ(0, target.Position());
}

TEST(VirtualStream, SaveToAndLoadFromStream) {
    auto bytes = Pattern(5000);
    TVirtualStream source;
    source.WriteBuffer(bytes.data(), 5000);
    source.SetPosition(1234);

    std::vector<uint8_t> buffer(6000);
    TPointerStream out(buffer.data(), 6000);
    out.SetPosition(10);
    source.SaveToStream(out);
    EXPECT_EQ(5010, out.Position());
    EXPECT_EQ(0, std::memcmp(buffer.data() + 10, bytes.data(), 5000));

    TPointerStream in(bytes.data(), 5000, true);
    in.SetPosition(4000);
    TVirtualStream loaded;
    loaded.LoadFromStream(in);
    EXPECT_TRUE(loaded.Equals(source));
    EXPECT_EQ(5000, in.Position());

    TPointerStream small(buffer.data(), 100);
    EXPECT_THROW(source.SaveToStream(small), EStreamError);
}

}  // namespace
}  // namespace cm
