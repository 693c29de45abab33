#include <gtest/gtest.h>

#include "support/MessageOf.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"
#ifdef _WIN32
#include "cm/Objects/WinApi.h"
#include <psapi.h>
#endif
#include "cm/StreamUtils/PointerStream.h"
#include "cm/StreamUtils/VirtualStream.h"

namespace cm {
namespace {

using test::MessageOf;

using Bytes = std::vector<uint8_t>;

// The process's committed memory (Windows); 0 on the host, where the sanitizers watch allocations.
uint64_t CommittedBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return counters.PeakPagefileUsage;
#endif
    return 0;
}

// A stream that is not a memory stream, so that the routines take their buffered paths.
class TPlainStream : public TStream {
public:
    int32_t Read(void* buffer, int32_t count) override { return FData.Read(buffer, count); }
    int32_t Write(const void* buffer, int32_t count) override { return FData.Write(buffer, count); }
    int32_t Seek(int32_t offset, SeekOrigin origin) override { return FData.Seek(offset, origin); }
    void SetSize(int32_t size) override { FData.SetSize(size); }
    TVirtualStream FData;
};

Bytes Compressible(int32_t size) {
    static const char text[] = "The quick setup reads its packets part by part; ";
    Bytes bytes(static_cast<size_t>(size));
    for (int32_t i = 0; i < size; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(text[i % (sizeof text - 1)] + (i / 4096) % 3);
    return bytes;
}

Bytes Incompressible(int32_t size, uint32_t seed = 0x9E3779B9u) {
    Bytes bytes(static_cast<size_t>(size));
    for (auto& b : bytes) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return bytes;
}

bool CodecAvailable(int32_t formatId) {
    try {
        if (formatId == cfMiniLzo) LoadMiniLzo();
        if (formatId == cfQuickLz) LoadQuickLz();
        if (formatId == cfQuickLz131) LoadQuickLz131();
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// Compresses bytes into a new memory stream.
std::unique_ptr<TVirtualStream> Compress(const Bytes& bytes, int32_t formatId) {
    TPointerStream source(bytes.data(), static_cast<int32_t>(bytes.size()));
    auto dest = std::make_unique<TVirtualStream>();
    CompressStream(source, static_cast<int32_t>(bytes.size()), *dest, formatId);
    return dest;
}

Bytes ReadAll(TStream& stream, int32_t chunk) {
    Bytes out;
    Bytes buffer(static_cast<size_t>(chunk));
    for (int32_t n; (n = stream.Read(buffer.data(), chunk)) > 0;)
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    return out;
}

int32_t Int32At(const void* memory, int32_t offset) {
    int32_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(memory) + offset, 4);
    return v;
}

void PutInt32(TVirtualStream& s, int32_t offset, int32_t value) {
    std::memcpy(static_cast<uint8_t*>(s.Memory()) + offset, &value, 4);
}

// ---- Layout ---------------------------------------------------------------------------------------

TEST(CompressLayout, EmptyRunIsTheHeaderAlone) {
    for (int32_t id : {0, 2, 3}) {
        auto dest = Compress({}, id);
        const uint8_t expected[12] = {'s', 'd', 'c', '2', static_cast<uint8_t>(id), 0, 0, 0, 0, 0, 0, 0};
        ASSERT_EQ(dest->Size(), 12);
        EXPECT_EQ(std::memcmp(dest->Memory(), expected, 12), 0) << id;
        TDecompressStream stream(dest.get(), -1, false, 1);
        EXPECT_EQ(stream.Size(), 0);
        EXPECT_EQ(stream.PartCount(), 0);
    }
}

TEST(CompressLayout, PartsHoldTheFixedPartSize) {
    const Bytes data = Compressible(5000000);
    TPlainStream source;
    source.FData.WriteBuffer(data.data(), 5000000);
    source.SetPosition(0);
    TVirtualStream dest;
    dest.WriteBuffer("lead", 4);  // the run is appended at the position
    const int32_t written = CompressStream(source, 5000000, dest, cfMiniLzo);
    EXPECT_EQ(written, dest.Size() - 4);
    EXPECT_EQ(source.Position(), 5000000);
    EXPECT_LE(written, CompressHeaderSize + WorstCaseCompressedSize(5000000, cfMiniLzo));

    std::vector<int32_t> sizes;
    for (int32_t at = 4 + CompressHeaderSize; at < dest.Size(); at += 4 + Int32At(dest.Memory(), at))
        sizes.push_back(Int32At(dest.Memory(), at + 4));
    EXPECT_EQ(sizes, (std::vector<int32_t>{2064384, 2064384, 871232}));
}

TEST(CompressLayout, WorstCaseSizes) {
    struct Case { int32_t n, id, block; } cases[] = {
        {0, 0, 4}, {1, 0, 21}, {1024, 0, 1044}, {1025, 0, 1061}, {0, 1, 36004}, {10, 1, 36014},
        {10, 2, 14}, {10, 3, 414},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WorstCaseBlockSize(c.n, c.id), c.block) << c.n << " " << c.id;
    EXPECT_EQ(WorstCaseCompressedSize(CompressPartSize * 2 + 5, 3), (5 + 404) + 2 * (CompressPartSize + 404 + 4) + 4);
    EXPECT_THROW(WorstCaseBlockSize(1, 4), EAssertionFailed);
}

// ---- Round trips ----------------------------------------------------------------------------------

struct RoundTripCase {
    const char* name;
    Bytes data;
};

TEST(CompressRoundTrip, EveryCodecAndStreamKind) {
    const RoundTripCase cases[] = {
        {"empty", {}},
        {"one byte", {'A'}},
        {"three bytes", {'a', 'b', 'c'}},
        {"compressible", Compressible(300000)},
        {"incompressible", Incompressible(100000)},
        {"two parts", Compressible(CompressPartSize + 1000)},
    };
    int tested = 0;
    for (int32_t id : {cfMiniLzo, cfQuickLz, cfQuickLz131}) {
        if (!CodecAvailable(id))
            continue;
        ++tested;
        for (const auto& c : cases) {
            for (bool memorySides : {true, false}) {
                SCOPED_TRACE(std::string(c.name) + " id " + std::to_string(id) + (memorySides ? " memory" : " plain"));
                const int32_t n = static_cast<int32_t>(c.data.size());
                TVirtualStream memoryDest;
                TPlainStream plainDest;
                TStream& dest = memorySides ? static_cast<TStream&>(memoryDest) : plainDest;
                TPointerStream memorySource(c.data.data(), n);
                TPlainStream plainSource;
                plainSource.FData.WriteBuffer(c.data.data(), n);
                plainSource.SetPosition(0);
                TStream& source = memorySides ? static_cast<TStream&>(memorySource) : plainSource;

                const int32_t written = CompressStream(source, n, dest, id);
                ASSERT_EQ(written, dest.Size());
                EXPECT_LE(written, CompressHeaderSize + WorstCaseCompressedSize(n, id));
                if (c.name == std::string("compressible")) {
                    EXPECT_LT(written, n / 2);
                }

                TDecompressStream stream(&dest, -1, false, 1);
                EXPECT_EQ(stream.Size(), n);
                EXPECT_EQ(ReadAll(stream, 65536), c.data);
                EXPECT_EQ(stream.Read(nullptr, 1), 0);
            }
        }
    }
    EXPECT_EQ(tested, 3) << "a codec library is missing";
}

TEST(CompressRoundTrip, BlocksIntoMemory) {
    const Bytes data = Compressible(5000);
    Bytes block(static_cast<size_t>(WorstCaseBlockSize(5000, cfMiniLzo)));
    int32_t size = static_cast<int32_t>(block.size());
    CompressBlock(data.data(), 5000, block.data(), cfMiniLzo, size);
    EXPECT_EQ(Int32At(block.data(), 0), 5000);
    Bytes out(5000);
    EXPECT_EQ(DecompressBlock(block.data(), size, out.data(), cfMiniLzo, 5000), 5000);
    EXPECT_EQ(out, data);

    // A block or a run written into the middle of a memory stream ends it there: the codec may
    // have written anywhere in its worst-case window, so what followed is not kept.
    for (const bool run : {false, true}) {
        SCOPED_TRACE(run ? "run" : "block");
        TVirtualStream dest;
        dest.WriteBuffer(Bytes(100000, 0xEE).data(), 100000);
        dest.SetPosition(10);
        TVirtualStream source;
        source.WriteBuffer(data.data(), 5000);
        source.SetPosition(0);
        const int32_t written = run ? CompressStream(source, 5000, dest, cfMiniLzo)
                                    : CompressToStream(data.data(), 5000, dest, cfMiniLzo);
        EXPECT_EQ(dest.Position(), 10 + written);
        EXPECT_EQ(dest.Size(), 10 + written);
    }
}

// ---- Reading ----------------------------------------------------------------------------------------

class DecompressStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        data = Compressible(5000000);
        for (size_t i = 0; i < data.size(); i += 4099)
            data[i] = static_cast<uint8_t>(i >> 12);  // position marks
        compressed = Compress(data, cfMiniLzo);
    }
    Bytes data;
    std::unique_ptr<TVirtualStream> compressed;
};

TEST_F(DecompressStreamTest, ReadsAcrossPartsWithOneCachedBlock) {
    TDecompressStream stream(compressed.get(), -1, false, 0);
    EXPECT_EQ(stream.MaxCachedBlocks(), 1);
    EXPECT_EQ(stream.PartCount(), 3);
    EXPECT_EQ(stream.CachedBlockCount(), 0);

    Bytes buffer(40);
    stream.Seek(CompressPartSize - 20, soBeginning);
    ASSERT_EQ(stream.Read(buffer.data(), 40), 40);
    EXPECT_EQ(buffer, Bytes(data.begin() + CompressPartSize - 20, data.begin() + CompressPartSize + 20));
    EXPECT_EQ(stream.Position(), CompressPartSize + 20);
    EXPECT_EQ(stream.CachedBlockCount(), 1);
    EXPECT_EQ(stream.MostRecentBlock(), 1);

    // Back into the first part: decompressed again.
    stream.Seek(-CompressPartSize, soCurrent);
    ASSERT_EQ(stream.Read(buffer.data(), 10), 10);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), Bytes(data.begin() + 20, data.begin() + 30));
    EXPECT_EQ(stream.MostRecentBlock(), 0);

    // The whole of it, in pieces that straddle every boundary; past the end nothing.
    stream.Seek(0, soBeginning);
    EXPECT_EQ(ReadAll(stream, 777777), data);
    EXPECT_EQ(stream.Seek(-5, soEnd), 5000000 - 5);
    EXPECT_EQ(stream.Read(buffer.data(), 40), 5);
    EXPECT_EQ(stream.Seek(100, soEnd), 5000100);
    EXPECT_EQ(stream.Read(buffer.data(), 40), 0);
    stream.Seek(-1, soBeginning);
    EXPECT_EQ(stream.Read(buffer.data(), 40), 0);
}

TEST_F(DecompressStreamTest, KeepsUpToMaxCachedBlocksMostRecentFirst) {
    TDecompressStream stream(compressed.get(), -1, false, 2);
    EXPECT_EQ(ReadAll(stream, 999999), data);  // no read covers a whole part
    EXPECT_EQ(stream.CachedBlockCount(), 2);
    EXPECT_EQ(stream.MostRecentBlock(), 2);
    EXPECT_EQ(MessageOf([&] { stream.Write("x", 1); }), "Cannot write to decompressed stream.");
}

// A read covering a whole uncached part from its first byte decompresses it straight into the
// caller's buffer and leaves the cache as it was; the rest of the read goes through the cache.
TEST_F(DecompressStreamTest, WholePartsBypassTheCache) {
    constexpr int32_t P = CompressPartSize;
    struct Case {
        const char* name;
        int32_t warmPart;  // read one byte of this part first (-1: none)
        int32_t start, count;
        int32_t cached, mostRecent;  // cache afterwards, MaxCachedBlocks = 2
    } cases[] = {
        {"whole stream", -1, 0, 5000000, 0, -1},
        {"one whole part", -1, P, P, 0, -1},
        {"last part to the end", -1, 2 * P, 5000000 - 2 * P, 0, -1},
        {"one byte short of a part", -1, 0, P - 1, 1, 0},
        {"whole part and the next one's head", -1, 0, P + 10, 1, 1},
        {"tail, whole part, head", -1, P - 100, P + 200, 2, 2},
        {"cached part is copied, cache kept", 1, 0, 5000000, 1, 1},
        {"clipped at the end", -1, 2 * P, 5000000, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDecompressStream stream(compressed.get(), -1, false, 2);
        Bytes buffer(static_cast<size_t>(c.count));
        if (c.warmPart >= 0) {
            stream.Seek(c.warmPart * P, soBeginning);
            ASSERT_EQ(stream.Read(buffer.data(), 1), 1);
        }
        const int32_t expected = std::min(c.count, 5000000 - c.start);
        stream.Seek(c.start, soBeginning);
        ASSERT_EQ(stream.Read(buffer.data(), c.count), expected);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + expected),
                  Bytes(data.begin() + c.start, data.begin() + c.start + expected));
        EXPECT_EQ(stream.Position(), c.start + expected);
        EXPECT_EQ(stream.CachedBlockCount(), c.cached);
        EXPECT_EQ(stream.MostRecentBlock(), c.mostRecent);
    }
}

// A corrupt part read straight into the buffer fails like a cached one, is not cached, leaves
// Position at its first byte, the bytes before it delivered and nothing past the clipped count
// written.
TEST_F(DecompressStreamTest, CorruptWholePartFails) {
    constexpr int32_t P = CompressPartSize;
    const int32_t second = 12 + 4 + Int32At(compressed->Memory(), 12);
    const int32_t length = Int32At(compressed->Memory(), second);
    // A codec output of zero bytes is one endless literal-run length for LZO: it runs out of input.
    std::memset(static_cast<uint8_t*>(compressed->Memory()) + second + 8, 0, static_cast<size_t>(length - 4));
    TDecompressStream stream(compressed.get(), -1, false, 1);
    Bytes buffer(5000000 + 16, 0xA5);
    const char* message = "Decompression error: Input overrun. Data is corrupted.";
    EXPECT_EQ(MessageOf([&] { stream.Read(buffer.data(), 5000000 + 16); }), message);
    EXPECT_EQ(stream.Position(), P);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + P), Bytes(data.begin(), data.begin() + P));
    EXPECT_EQ(Bytes(buffer.end() - 16, buffer.end()), Bytes(16, 0xA5));
    EXPECT_EQ(stream.CachedBlockCount(), 0);

    // Tried again on the next read, whole or in part; the parts around it still read.
    EXPECT_EQ(MessageOf([&] { stream.Read(buffer.data(), P); }), message);
    EXPECT_EQ(MessageOf([&] { stream.Read(buffer.data(), 10); }), message);
    EXPECT_EQ(stream.CachedBlockCount(), 0);
    stream.Seek(2 * P, soBeginning);
    ASSERT_EQ(stream.Read(buffer.data(), 5000000), 5000000 - 2 * P);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5000000 - 2 * P), Bytes(data.begin() + 2 * P, data.end()));
}

TEST_F(DecompressStreamTest, OwnedSourceAndTrailingBytes) {
    const int32_t size = compressed->Size();
    compressed->Seek(0, soEnd);
    compressed->WriteBuffer("trailing", 8);
    auto* source = compressed.release();
    TDecompressStream stream(source, size, true, 1);
    EXPECT_EQ(stream.SourceSize(), size);
    Bytes tail(100);
    stream.Seek(-100, soEnd);
    ASSERT_EQ(stream.Read(tail.data(), 100), 100);
    EXPECT_EQ(tail, Bytes(data.end() - 100, data.end()));
}

// ---- Opening and block errors ---------------------------------------------------------------------

TEST(DecompressStreamOpen, RefusesInvalidLayouts) {
    const Bytes data = Compressible(CompressPartSize + 5000);
    struct Case {
        const char* name;
        void (*damage)(TVirtualStream& s, int32_t secondPart);
        const char* message;  // nullptr: opens
    } cases[] = {
        {"sdc1", [](TVirtualStream& s, int32_t) { static_cast<char*>(s.Memory())[3] = '1'; }, nullptr},
        {"signature", [](TVirtualStream& s, int32_t) { static_cast<char*>(s.Memory())[0] = 'S'; },
         "Decompression error: Header contains an invalid signature."},
        {"part past the end", [](TVirtualStream& s, int32_t p) { PutInt32(s, p, s.Size() - p - 3); },
         "Decompression error: Invalid source block size."},
        {"negative part", [](TVirtualStream& s, int32_t) { PutInt32(s, 12, -1); },
         "Decompression error: Invalid source block size."},
        {"part shorter than its size field", [](TVirtualStream& s, int32_t p) { PutInt32(s, p, 2); },
         "Decompression error: Invalid source block size."},
        {"cut length field", [](TVirtualStream& s, int32_t) { s.SetSize(s.Size() + 2); },
         "Decompression error: Invalid source block size."},
        {"total", [](TVirtualStream& s, int32_t) { PutInt32(s, 8, Int32At(s.Memory(), 8) + 1); },
         "Decompression error: Output buffer size does not match total size of source blocks."},
        {"negative block size", [](TVirtualStream& s, int32_t p) { PutInt32(s, p + 4, -5000); },
         "Decompression error: Invalid source block size."},
        {"block larger than a part", [](TVirtualStream& s, int32_t p) { PutInt32(s, p + 4, CompressPartSize + 1); },
         "Decompression error: Invalid source block size."},
        {"empty first part", [](TVirtualStream& s, int32_t) {
             PutInt32(s, 16, 0);
             PutInt32(s, 8, 5000);
         }, "TIntegerMap: List does not allow duplicates."},
        {"short header", [](TVirtualStream& s, int32_t) { s.SetSize(11); }, "Stream read error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto s = Compress(data, cfMiniLzo);
        c.damage(*s, 12 + 4 + Int32At(s->Memory(), 12));
        const std::string message = MessageOf([&] { TDecompressStream stream(s.get(), -1, false, 1); });
        EXPECT_EQ(message, c.message ? c.message : "(no exception)");
    }
}

TEST(DecompressStreamOpen, FailedOpenFreesAnOwnedSource) {
    auto* source = new TVirtualStream();
    source->WriteBuffer("sdc9\0\0\0\0\0\0\0\0", 12);
    EXPECT_THROW(TDecompressStream(source, -1, true, 1), Exception);  // the sanitizers see a leak
}

TEST(DecompressBlocks, CorruptBlocksFailAndAreNotCached) {
    const Bytes data = Compressible(20000);
    Bytes block(static_cast<size_t>(WorstCaseBlockSize(20000, cfMiniLzo)));
    int32_t size = static_cast<int32_t>(block.size());
    CompressBlock(data.data(), 20000, block.data(), cfMiniLzo, size);
    Bytes out(20000);
    EXPECT_EQ(MessageOf([&] { DecompressBlock(block.data(), size / 2, out.data(), cfMiniLzo, 20000); }),
              "Decompression error: Input overrun. Data is corrupted.");
    EXPECT_EQ(MessageOf([&] { DecompressBlock(block.data(), size, out.data(), cfMiniLzo, 19999); }),
              "Decompression error: Output buffer is too small. 19999 provided, 20000 required.");

    // A block announcing more bytes than its data makes: the safe decompressor stops at the data.
    Bytes longer = block;
    const int32_t announced = 20001;
    std::memcpy(longer.data(), &announced, 4);
    Bytes bigger(20001);
    EXPECT_EQ(MessageOf([&] { DecompressBlock(longer.data(), size, bigger.data(), cfMiniLzo, 20001); }),
              "Decompression error: Output buffer size mismatch.");

    // Inside a stream: the read fails, nothing is cached, and the next read fails the same way.
    auto s = Compress(data, cfMiniLzo);
    static_cast<uint8_t*>(s->Memory())[s->Size() - 1] ^= 0x55;
    TDecompressStream stream(s.get(), -1, false, 1);
    EXPECT_NE(MessageOf([&] { stream.Read(out.data(), 10); }).find("Decompression error: "), std::string::npos);
    EXPECT_EQ(stream.CachedBlockCount(), 0);
    EXPECT_NE(MessageOf([&] { stream.Read(out.data(), 10); }).find("Decompression error: "), std::string::npos);
}

// The QuickLZ entries trust the block's own header; a header that disagrees with the room the block
// has, or with the block's uncompressed size, is refused before the codec runs.
TEST(DecompressBlocks, QuickLzHeadersAreCheckedAgainstTheBlock) {
    const Bytes data = Compressible(20000);
    struct Case {
        const char* name;
        int32_t offset, value;  // int32 written at offset of the block (4 = the codec's header)
        int32_t blockSize;      // 0: the whole block
        const char* detail;
    } cases[] = {
        {"intact", 0, 20000, 0, nullptr},
        {"total beyond the block", 5, 1 << 20, 0, "Decompression error: Input buffer is smaller than expected."},
        {"cut block", 0, 20000, 100, "Decompression error: Input buffer is smaller than expected."},
        {"header cut", 0, 20000, 8, "Decompression error: Input buffer is smaller than expected."},
        {"other decompressed size", 9, 19999, 0, "Decompression error: Output buffer size mismatch."},
    };
    for (int32_t id : {cfQuickLz, cfQuickLz131}) {
        if (!CodecAvailable(id))
            continue;
        const std::string context = id == cfQuickLz ? "QuickLZ 1.20 decompression has failed\r\n"
                                                     : "QuickLZ 1.31 decompression has failed\r\n";
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " id " + std::to_string(id));
            Bytes block(static_cast<size_t>(WorstCaseBlockSize(20000, id)));
            int32_t size = static_cast<int32_t>(block.size());
            CompressBlock(data.data(), 20000, block.data(), id, size);
            ASSERT_EQ(block[4] & 2, 2);  // the long header
            std::memcpy(block.data() + c.offset, &c.value, 4);
            Bytes out(20000);
            const std::string message =
                MessageOf([&] { DecompressBlock(block.data(), c.blockSize ? c.blockSize : size, out.data(), id, 20000); });
            EXPECT_EQ(message, c.detail ? context + c.detail : "(no exception)");
            if (!c.detail) {
                EXPECT_EQ(out, data);
            }
        }
    }
}

TEST(DecompressBlocks, PartSpanIsEnforced) {
    auto s = Compress(Compressible(1000), cfMiniLzo);
    s->SetPosition(12);
    TVirtualStream out;
    EXPECT_EQ(MessageOf([&] { DecompressPart(*s, s->Size() - 13, out, cfMiniLzo); }),
              "Decompression error: Part has an invalid source block size.");
    s->SetPosition(12);
    EXPECT_EQ(DecompressPart(*s, s->Size() - 12, out, cfMiniLzo), 1000);
    EXPECT_EQ(out.Size(), 1000);
}

// About 30 bytes claiming a 2,000,000,000-byte part: refused at once, by every reader, before
// anything is reserved for the claim.
TEST(DecompressBlocks, APartClaimingMoreThanAPartHoldsIsRefusedUpFront) {
    constexpr int32_t claimed = 2000000000;
    TVirtualStream s;
    s.WriteBuffer("sdc2\x03\0\0\0", 8);
    s.WriteBuffer(&claimed, 4);
    // One part: its length, the claimed size, and a QuickLZ long header claiming it too.
    const uint8_t block[] = {0x03, 9, 0, 0, 0, 0x00, 0x94, 0x35, 0x77, 0, 0};
    const int32_t length = 4 + static_cast<int32_t>(sizeof block);
    s.WriteBuffer(&length, 4);
    s.WriteBuffer(&claimed, 4);
    s.WriteBuffer(block, sizeof block);
    ASSERT_LE(s.Size(), 40);
    const uint64_t before = CommittedBytes();
    EXPECT_EQ(MessageOf([&] { TDecompressStream stream(&s, -1, false, 1); }),
              "Decompression error: Invalid source block size.");
    for (const int32_t id : {cfQuickLz131, cfMiniLzo}) {
        TVirtualStream out;
        s.SetPosition(12);
        EXPECT_EQ(MessageOf([&] { DecompressPart(s, s.Size() - 12, out, id); }),
                  "Decompression error: Invalid source block size.");
        EXPECT_EQ(out.Size(), 0);
    }
    EXPECT_LT(CommittedBytes() - before, 64u << 20);
}

TEST(CompressFormats, UnknownIdsAreRefused) {
    const Bytes data = Compressible(100);
    Bytes block(1000);
    int32_t size = 1000;
    EXPECT_EQ(MessageOf([&] { CompressBlock(data.data(), 100, block.data(), cfNone, size); }), "Unknown compression format (2)");
    const uint8_t stored[8] = {100, 0, 0, 0, 1, 2, 3, 4};
    EXPECT_EQ(MessageOf([&] { DecompressBlock(stored, 8, block.data(), cfNone, 1000); }), "Unknown compression format (2)");
    EXPECT_EQ(MessageOf([&] { DecompressBlock(stored, 8, block.data(), 9, 1000); }), "Unknown compression format (9)");
    size = 20;
    EXPECT_EQ(MessageOf([&] { CompressBlock(data.data(), 100, block.data(), cfMiniLzo, size); }),
              "Compression error: Output buffer is too small. 20 provided, 120 required.");

    // A failing run keeps what was written, the failed part's length field holding -1.
    TPointerStream source(data.data(), 100);
    TVirtualStream dest;
    EXPECT_THROW(CompressStream(source, 100, dest, cfNone), Exception);
    ASSERT_EQ(dest.Size(), 16);
    EXPECT_EQ(Int32At(dest.Memory(), 12), -1);

    TPointerStream shortSource(data.data(), 50);
    EXPECT_EQ(MessageOf([&] { CompressPart(shortSource, 100, dest, cfMiniLzo); }),
              "Compression error: Input buffer is smaller than expected.");
}

#ifdef _WIN32
// Cases run by CodecLibraryCase.sh from a directory holding only the libraries the case names.
bool RunFor(const char* caseName) {
    const char* current = std::getenv("CORVANE_CODEC_CASE");
    return current && std::string(current) == caseName;
}

TEST(CodecLoading, MissingMiniLzoLibrary) {
    if (!RunFor("MissingMiniLzoLibrary"))
        GTEST_SKIP() << "run by CodecLibraryCase.sh";
    const std::string expected = "Failed to initialize MiniLZO.dll library.\r\nMiniLZO library not found: MiniLZO.dll";
    EXPECT_EQ(MessageOf([] { LoadMiniLzo(); }), expected);
    // Not remembered: the next use tries again and fails the same way.
    const Bytes data = Compressible(10);
    Bytes block(100);
    int32_t size = 100;
    EXPECT_EQ(MessageOf([&] { CompressBlock(data.data(), 10, block.data(), cfMiniLzo, size); }), expected);
}

// A MiniLZO.dll that exports plain names only, of __cdecl routines (minilzo's own) or of
// __stdcall ones (.def aliases): the loader cannot tell them apart and calls both rightly.
void ExpectMiniLzoWorks();
TEST(CodecLoading, PlainMiniLzoEntryPoints) {
    if (!RunFor("PlainMiniLzoEntryPoints"))
        GTEST_SKIP() << "run by CodecLibraryCase.sh";
    ExpectMiniLzoWorks();
}
TEST(CodecLoading, StdcallPlainMiniLzoEntryPoints) {
    if (!RunFor("StdcallPlainMiniLzoEntryPoints"))
        GTEST_SKIP() << "run by CodecLibraryCase.sh";
    ExpectMiniLzoWorks();
}
void ExpectMiniLzoWorks() {
    for (const Bytes& data : {Compressible(300000), Incompressible(70000)}) {
        auto compressed = Compress(data, cfMiniLzo);
        TDecompressStream stream(compressed.get(), -1, false, 1);
        EXPECT_EQ(ReadAll(stream, 4096), data);
    }
    Bytes block(static_cast<size_t>(WorstCaseBlockSize(20000, cfMiniLzo)));
    int32_t size = static_cast<int32_t>(block.size());
    const Bytes data = Compressible(20000);
    CompressBlock(data.data(), 20000, block.data(), cfMiniLzo, size);
    Bytes out(20000);
    EXPECT_EQ(MessageOf([&] { DecompressBlock(block.data(), size / 2, out.data(), cfMiniLzo, 20000); }),
              "Decompression error: Input overrun. Data is corrupted.");
}

// A QuickLZ131.dll asking for more compression scratch than the streams pass is refused, every time.
TEST(CodecLoading, OversizedQuickLz131Scratch) {
    if (!RunFor("OversizedQuickLz131Scratch"))
        GTEST_SKIP() << "run by CodecLibraryCase.sh";
    EXPECT_EQ(MessageOf([] { LoadQuickLz131(); }), "QuickLZ compression buffer size mismatch");
    const Bytes data = Compressible(10);
    Bytes block(1000);
    int32_t size = 1000;
    EXPECT_EQ(MessageOf([&] { CompressBlock(data.data(), 10, block.data(), cfQuickLz131, size); }),
              "QuickLZ 1.31 compression has failed\r\nQuickLZ compression buffer size mismatch");
}
#endif

}  // namespace
}  // namespace cm
