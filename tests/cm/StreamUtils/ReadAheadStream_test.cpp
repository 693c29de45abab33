#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "cm/StreamUtils/ReadAheadStream.h"
#include "support/MessageOf.h"
#include "support/VectorStream.h"

namespace cm {
namespace {

using test::MessageOf;
using test::VectorStream;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

// A source that records the largest read asked of it.
class RecordingStream : public VectorStream {
public:
    using VectorStream::VectorStream;
    int32_t LargestRequest = 0;
    int32_t Read(void* buffer, int32_t count) override {
        LargestRequest = std::max(LargestRequest, count);
        return VectorStream::Read(buffer, count);
    }
};

// Reads the read-ahead in requests of step bytes up to its end.
Bytes ReadAll(TReadAheadStream& ahead, int32_t step) {
    Bytes out;
    Bytes chunk(static_cast<size_t>(step));
    for (int32_t n; (n = ahead.Read(chunk.data(), step)) > 0;)
        out.insert(out.end(), chunk.begin(), chunk.begin() + n);
    return out;
}

// Requests of any size below a piece, straddling the pieces' boundaries, give the source's bytes
// in order; the source sees one read per piece, pieces doubling from 4 KB up to 256 KB (a 1 MB
// source: 9 pieces).
TEST(ReadAheadStream, SmallReadsAcrossPiecesGiveTheSourceBytes) {
    const Bytes source = Pattern(1000000);
    for (int32_t step : {1, 7, 1000, TReadAheadStream::FirstPiece - 1}) {
        SCOPED_TRACE(step);
        RecordingStream base(source);
        TReadAheadStream ahead(base);
        EXPECT_EQ(ahead.Size(), 1000000);
        EXPECT_EQ(ReadAll(ahead, step), source);
        EXPECT_LE(base.Reads, 10);
        EXPECT_LE(base.LargestRequest, TReadAheadStream::LargestPiece);
        EXPECT_EQ(ahead.Position(), 1000000);
    }
}

// A request of at least the next piece's size goes to the source directly, in one read.
TEST(ReadAheadStream, LargeRequestsGoToTheSourceDirectly) {
    const Bytes source = Pattern(100000);
    VectorStream base(source);
    TReadAheadStream ahead(base);
    Bytes out(50000);
    ASSERT_EQ(ahead.Read(out.data(), 50000), 50000);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), source.begin()));
    EXPECT_EQ(base.Reads, 1);
    EXPECT_EQ(base.BytesHandedOut, 50000);
}

// No piece reaches past the limit: small reads below it take the source up to the limit only; a
// request across it takes what it asks and no more.
TEST(ReadAheadStream, PiecesStopAtTheLimit) {
    const Bytes source = Pattern(100000);
    VectorStream base(source);
    base.Pos = 100;
    TReadAheadStream ahead(base);
    ahead.SetLimit(1100);
    EXPECT_EQ(ahead.Position(), 100);

    Bytes out(10);
    for (int i = 0; i < 99; ++i)
        ASSERT_EQ(ahead.Read(out.data(), 10), 10);
    EXPECT_EQ(base.BytesHandedOut, 1000);
    EXPECT_EQ(base.Reads, 1);

    Bytes across(20);
    ASSERT_EQ(ahead.Read(across.data(), 20), 20);  // 1090 .. 1110
    EXPECT_TRUE(std::equal(across.begin(), across.end(), source.begin() + 1090));
    EXPECT_EQ(base.BytesHandedOut, 1010);

    ahead.Detach();
    EXPECT_EQ(base.Pos, 1110);
}

// Over a source that cannot go back, the read-ahead cannot either; with the limit at its position
// every read takes from the source exactly what it asks.
TEST(ReadAheadStream, OverAConnectionTakesOnlyWhatIsAsked) {
    const Bytes source = Pattern(10000);
    VectorStream base(source);
    base.CanSeek = false;
    TReadAheadStream ahead(base);
    EXPECT_FALSE(ahead.Seekable());
    ahead.SetLimit(ahead.Position());
    Bytes out(100);
    int64_t asked = 0;
    for (int32_t count : {1, 3, 100, 2, 57}) {
        ASSERT_EQ(ahead.Read(out.data(), count), count);
        asked += count;
        EXPECT_EQ(base.BytesHandedOut, asked);
    }
    ahead.Detach();
    EXPECT_EQ(base.Pos, asked);

    VectorStream seekable(source);
    EXPECT_TRUE(TReadAheadStream(seekable).Seekable());
}

// Seeks are the read-ahead's own: back into the piece it holds costs no read, elsewhere it fetches
// from there; Detach puts the source at the read-ahead's position.
TEST(ReadAheadStream, SeeksServeTheRightBytes) {
    const Bytes source = Pattern(100000);
    VectorStream base(source);
    TReadAheadStream ahead(base);
    uint8_t byte = 0;
    ASSERT_EQ(ahead.Read(&byte, 1), 1);
    const int32_t reads = base.Reads;

    EXPECT_EQ(ahead.Seek(2000, soBeginning), 2000);
    ASSERT_EQ(ahead.Read(&byte, 1), 1);
    EXPECT_EQ(byte, source[2000]);
    EXPECT_EQ(base.Reads, reads);

    EXPECT_EQ(ahead.Seek(-10, soEnd), 99990);
    ASSERT_EQ(ahead.Read(&byte, 1), 1);
    EXPECT_EQ(byte, source[99990]);
    EXPECT_EQ(ahead.Seek(-5000, soCurrent), 94991);
    ASSERT_EQ(ahead.Read(&byte, 1), 1);
    EXPECT_EQ(byte, source[94991]);

    ahead.Seek(500, soBeginning);
    ahead.Detach();
    EXPECT_EQ(base.Pos, 500);
}

// A source shorter than its size said: reads give what there is, then nothing; an exact read
// beyond it raises the read error instead of inventing bytes.
class ShortStream : public VectorStream {
public:
    using VectorStream::VectorStream;
    int32_t Size() override { return static_cast<int32_t>(Bytes.size()) + 100; }
};

TEST(ReadAheadStream, AShortSourceEndsTheData) {
    const Bytes source = Pattern(5000);
    ShortStream base(source);
    TReadAheadStream ahead(base);
    EXPECT_EQ(ahead.Size(), 5100);
    EXPECT_EQ(ReadAll(ahead, 300), source);
    uint8_t byte;
    EXPECT_EQ(ahead.Read(&byte, 1), 0);
    EXPECT_EQ(MessageOf([&] { ahead.ReadBuffer(&byte, 1); }), "Stream read error");

    // Before the start and past the end nothing is read.
    VectorStream whole(source);
    TReadAheadStream other(whole);
    other.Seek(-1, soBeginning);
    EXPECT_EQ(other.Read(&byte, 1), 0);
    other.Seek(0, soEnd);
    EXPECT_EQ(other.Read(&byte, 1), 0);
    EXPECT_EQ(whole.Reads, 0);
}

// The read-ahead is read-only, and a source that does not land where it is moved raises the read
// error rather than hand out other bytes.
class StuckStream : public VectorStream {
public:
    using VectorStream::VectorStream;
    int32_t Size() override { return static_cast<int32_t>(Bytes.size()); }
    int32_t Seek(int32_t, SeekOrigin) override { return Pos; }
};

TEST(ReadAheadStream, WritesAndLostPositionsAreRefused) {
    const Bytes source = Pattern(100000);
    StuckStream base(source);
    TReadAheadStream ahead(base);
    EXPECT_EQ(MessageOf([&] { ahead.WriteBuffer("x", 1); }), "Stream write error");
    uint8_t byte;
    ASSERT_EQ(ahead.Read(&byte, 1), 1);
    ahead.Seek(50000, soBeginning);
    EXPECT_EQ(MessageOf([&] { ahead.Read(&byte, 1); }), "Stream read error");
}

}  // namespace
}  // namespace cm
