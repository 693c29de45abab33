#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "cm/StreamUtils/PointerStream.h"
#include "cm/StreamUtils/StreamUtils.h"

namespace cm {
namespace {

TEST(PointerStream, ReadsAndWritesTheCallersBuffer) {
    std::array<char, 8> buffer{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    TPointerStream s(buffer.data(), 8);
    EXPECT_EQ(buffer.data(), s.Memory());
    EXPECT_EQ(8, s.Size());
    EXPECT_EQ(0, s.Position());
    EXPECT_TRUE(IsMemoryStream(s));

    char read[4] = {};
    EXPECT_EQ(3, s.Read(read, 3));
    EXPECT_STREQ("abc", read);
    EXPECT_EQ(2, s.Write("XY", 2));
    EXPECT_EQ(0, std::memcmp("abcXYfgh", buffer.data(), 8));
    EXPECT_FALSE(s.Overflow());
    EXPECT_EQ(5, s.Position());
}

// Writes past the end are cut to what fits and set Overflow; the stream never grows.
TEST(PointerStream, OverflowAndNoGrowth) {
    struct Case { int32_t position; int32_t count; int32_t written; bool overflow; };
    const Case cases[] = {
        {0, 8, 8, false},
        {5, 3, 3, false},
        {5, 5, 3, true},
        {8, 1, 0, true},   // already full: the byte is lost, which Overflow must tell
        {12, 2, 0, true},  // beyond the end
        {-1, 2, 0, false},
        {3, 0, 0, false},
        {3, -4, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.position << "+" << c.count);
        std::array<char, 10> buffer{'0', '1', '2', '3', '4', '5', '6', '7', '!', '!'};
        TPointerStream s(buffer.data(), 8);
        s.Seek(c.position, soBeginning);
        EXPECT_EQ(c.written, s.Write("ABCDEFGH", c.count));
        EXPECT_EQ(c.overflow, s.Overflow());
        EXPECT_EQ(8, s.Size());
        EXPECT_EQ(8, s.Capacity());
        EXPECT_EQ('!', buffer[8]);
        if (c.written > 0) {
            EXPECT_EQ(0, std::memcmp(buffer.data() + c.position, "ABCDEFGH", static_cast<size_t>(c.written)));
            EXPECT_EQ(c.position + c.written, s.Position());
        }
    }

    std::array<char, 4> buffer{};
    TPointerStream s(buffer.data(), 4);
    s.SetPosition(2);
    try {
        s.WriteBuffer("xyz", 3);
        FAIL() << "no error";
    } catch (const EStreamError& e) {
        EXPECT_STREQ("Stream write error", e.what());
    }
    EXPECT_THROW(s.SetSize(5), EStreamError);
    EXPECT_EQ(4, s.Size());
    s.SetSize(2);  // shrinking within the buffer is allowed
    EXPECT_EQ(2, s.Size());
    EXPECT_EQ(2, s.Position());
}

TEST(PointerStream, ReadOnlyRaisesOnWrite) {
    const char text[] = "hello";
    for (TPointerStream s : {TPointerStream(text, 5), TPointerStream(const_cast<char*>(text), 5, true)}) {
        EXPECT_TRUE(s.ReadOnly());
        for (int32_t count : {0, 1}) {
            try {
                s.Write("x", count);
                FAIL() << "no error";
            } catch (const EStreamError& e) {
                EXPECT_STREQ("Cannot write to read-only pointer-stream", e.what());
            }
        }
        char read[6] = {};
        s.ReadBuffer(read, 5);
        EXPECT_STREQ("hello", read);
        EXPECT_THROW(s.ReadBuffer(read, 1), EStreamError);
    }
    EXPECT_STREQ("hello", text);
}

}  // namespace
}  // namespace cm
