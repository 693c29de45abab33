#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cm/StreamUtils/StreamUtils.h"
#include "support/VectorStream.h"

namespace cm {
namespace {

using test::VectorStream;  // a stream outside the memory-stream base

// A memory stream over a fixed block, enough to see StreamMemory at work.
class BlockStream : public TCustomMemoryStream {
public:
    explicit BlockStream(int32_t size) : Block(static_cast<size_t>(size)) {
        SetPointer(Block.data(), size);
        FCapacity = size;
    }
    std::vector<uint8_t> Block;
};

struct CompactCase {
    int32_t value;
    std::vector<uint8_t> bytes;
};

TEST(CompactInt, EncodingsAtBoundaries) {
    const CompactCase cases[] = {
        {0, {0x00}},
        {1, {0x02}},
        {127, {0xFE}},
        {128, {0x01, 0x01, 0x00, 0x00}},
        {0x12345, {0x8B, 0x46, 0x02, 0x00}},
        {0x3FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
        {2147483647, {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        VectorStream s;
        WriteCompactInt(s, c.value);
        EXPECT_EQ(c.bytes, s.Bytes);

        s.SetPosition(0);
        EXPECT_EQ(c.value, ReadCompactInt(s));
        EXPECT_EQ(static_cast<int32_t>(c.bytes.size()), s.Position());

        const uint8_t* cursor = c.bytes.data();
        EXPECT_EQ(c.value, ReadCompactIntFromMemory(cursor));
        EXPECT_EQ(c.bytes.data() + c.bytes.size(), cursor);

        cursor = c.bytes.data();
        EXPECT_EQ(c.value, ReadCompactIntFromMemory(cursor, c.bytes.data() + c.bytes.size()));
        EXPECT_EQ(c.bytes.data() + c.bytes.size(), cursor);
    }
}

TEST(CompactWord, EncodingsAtBoundaries) {
    const CompactCase cases[] = {
        {0, {0x00}},
        {127, {0xFE}},
        {128, {0x01, 0x01}},
        {300, {0x59, 0x02}},
        {32767, {0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        VectorStream s;
        WriteCompactWord(s, c.value);
        EXPECT_EQ(c.bytes, s.Bytes);
        s.SetPosition(0);
        EXPECT_EQ(c.value, ReadCompactWord(s));
        EXPECT_EQ(static_cast<int32_t>(c.bytes.size()), s.Position());
    }
}

TEST(CompactInt, NegativeValuesAreAssertions) {
    VectorStream s;
    EXPECT_THROW(WriteCompactInt(s, -1), EAssertionFailed);
    EXPECT_THROW(WriteCompactWord(s, -1), EAssertionFailed);
    EXPECT_THROW(WriteCompactWord(s, 32768), EAssertionFailed);
    EXPECT_TRUE(s.Bytes.empty());
}

// A long form cut anywhere, and an empty stream, raise the read error.
TEST(CompactInt, TruncatedRaisesReadError) {
    const std::vector<uint8_t> truncated[] = {{}, {0x01}, {0x01, 0x01}, {0x01, 0x01, 0x00}};
    for (const auto& bytes : truncated) {
        SCOPED_TRACE(bytes.size());
        VectorStream s;
        s.Bytes = bytes;
        try {
            ReadCompactInt(s);
            FAIL() << "no error";
        } catch (const EStreamError& e) {
            EXPECT_STREQ("Stream read error", e.what());
        }
        const uint8_t* cursor = bytes.data();
        EXPECT_THROW(ReadCompactIntFromMemory(cursor, bytes.data() + bytes.size()), EStreamError);
        EXPECT_EQ(bytes.data(), cursor);
    }
    VectorStream s;
    s.Bytes = {0x03};
    EXPECT_THROW(ReadCompactWord(s), EStreamError);
}

TEST(StreamUtils, BytesAndMemory) {
    VectorStream file;
    EXPECT_EQ(0xABu, WriteByte(file, 0xAB));
    file.SetPosition(0);
    EXPECT_EQ(0xABu, ReadByte(file));
    EXPECT_THROW(ReadByte(file), EStreamError);
    EXPECT_FALSE(IsMemoryStream(file));
    EXPECT_EQ(nullptr, StreamMemory(file, false));
    EXPECT_EQ(nullptr, StreamMemory(file, true));

    BlockStream block(16);
    block.SetPosition(5);
    EXPECT_TRUE(IsMemoryStream(block));
    EXPECT_EQ(block.Block.data(), StreamMemory(block, false));
    EXPECT_EQ(block.Block.data() + 5, StreamMemory(block, true));
}

TEST(StreamUtils, EnsureStreamSizeGrowsOnlyAndKeepsPosition) {
    VectorStream s;
    s.Bytes.assign(10, 0x55);
    s.SetPosition(3);
    EnsureStreamSize(s, 4);
    EXPECT_EQ(10u, s.Bytes.size());
    EnsureStreamSize(s, 10);
    EXPECT_EQ(10u, s.Bytes.size());
    EXPECT_EQ(3, s.Position());
    EnsureStreamSize(s, 25);
    EXPECT_EQ(25u, s.Bytes.size());
    EXPECT_EQ(3, s.Position());
    EXPECT_EQ(0x55, s.Bytes[9]);
}

}  // namespace
}  // namespace cm
