// Tests of the 1.20 and 1.31 block codecs: the reference blocks, round trips, and hostile blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "qlz120.h"
#include "qlz131.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Codec {
    const char* Name;
    size_t (*Compress)(const void*, size_t, void*, size_t, QlzHashTable*);
    size_t (*Decompress)(const void*, size_t, void*, size_t);
    size_t (*Bound)(size_t);
};

const Codec kQlz120{"1.20", Qlz120Compress, Qlz120Decompress, Qlz120CompressBound};
const Codec kQlz131{"1.31", Qlz131Compress, Qlz131Decompress, Qlz131CompressBound};
const Codec* const kCodecs[] = {&kQlz120, &kQlz131};

// Compresses into a buffer of exactly the bound, so that ASan sees any write past it.
Bytes Compress(const Codec& codec, const Bytes& input) {
    Bytes out(codec.Bound(input.size()));
    QlzHashTable table;
    out.resize(codec.Compress(input.data(), input.size(), out.data(), out.size(), &table));
    return out;
}

// Decompresses from an exact-size copy of the block into an exact-size buffer; returns
// false when the codec refuses the block.
bool Decompress(const Codec& codec, const Bytes& block, size_t capacity, Bytes& out) {
    Bytes src(block);
    out.assign(capacity, 0);
    size_t n = codec.Decompress(src.data(), src.size(), out.data(), out.size());
    out.resize(n);
    return n != 0;
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f)
        ADD_FAILURE() << "cannot read " << path;
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::filesystem::path ReferenceDir() {
    return std::filesystem::path(QUICKLZ_REFERENCE_DIR);
}

#define SKIP_WITHOUT_REFERENCE()                                                  \
    if (!std::filesystem::is_directory(ReferenceDir() / "inputs"))                \
        GTEST_SKIP() << "reference blocks not present at " << ReferenceDir()

const char* const kInputs[] = {
    "01_one_byte", "02_abc", "03_a_x1000", "04_text_64k", "05_random_100k", "06_mixed_300k",
    "07_text_1m", "08_len215", "09_len216", "10_zeros_10000", "11_repeat_block",
};

// Every reference block decodes to its input with the reader of its version (the 1.31 reader
// also reads the 1.20 blocks and those of levels 2 and 3), and our encoders write the
// reference blocks byte for byte.
TEST(QuickLZReference, BlocksDecodeAndEncodeIdentically) {
    SKIP_WITHOUT_REFERENCE();
    struct Case {
        std::string Dir, File, Input;
        std::vector<const Codec*> Readers;
        const Codec* Writer;
    };
    std::vector<Case> cases;
    for (const char* name : kInputs) {
        cases.push_back({"qlz131_L1", std::string(name) + ".qlz", name, {&kQlz131, &kQlz120}, &kQlz131});
        cases.push_back({"qlz120", std::string(name) + ".qlz", name, {&kQlz120, &kQlz131}, &kQlz120});
    }
    for (const char* name : {"03_a_x1000", "06_mixed_300k", "07_text_1m"})
        for (const char* level : {".L2.qlz", ".L3.qlz"})
            cases.push_back({"qlz131_L2_L3", std::string(name) + level, name, {&kQlz131, &kQlz120}, nullptr});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.Dir + "/" + c.File);
        Bytes input = ReadFile(ReferenceDir() / "inputs" / (c.Input + ".bin"));
        Bytes block = ReadFile(ReferenceDir() / c.Dir / c.File);
        ASSERT_FALSE(block.empty());
        EXPECT_EQ(Qlz131SizeCompressed(block.data(), block.size()), block.size());
        EXPECT_EQ(Qlz131SizeDecompressed(block.data(), block.size()), input.size());
        for (const Codec* reader : c.Readers) {
            Bytes out;
            EXPECT_TRUE(Decompress(*reader, block, input.size(), out)) << reader->Name;
            EXPECT_TRUE(out == input) << reader->Name;
        }
        if (c.Writer) {
            Bytes ours = Compress(*c.Writer, input);
            EXPECT_EQ(ours.size(), block.size());
            EXPECT_TRUE(ours == block) << "differs from the reference block";
        }
    }
}

TEST(QuickLZReference, EmptyInputGivesNoBlock) {
    for (const Codec* codec : kCodecs) {
        uint8_t dst[400];
        QlzHashTable table;
        EXPECT_EQ(codec->Compress("", 0, dst, sizeof dst, &table), 0u) << codec->Name;
    }
}

Bytes MakeData(const std::string& kind, size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes data(size);
    if (kind == "random") {
        for (auto& b : data) b = static_cast<uint8_t>(rng());
    } else if (kind == "text") {
        static const char* const words[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon ", "zeta, "};
        std::string s;
        while (s.size() < size) s += words[rng() % 6];
        std::memcpy(data.data(), s.data(), size);
    } else if (kind == "runs") {
        for (size_t i = 0; i < size;) {
            size_t len = 1 + rng() % 3000;
            uint8_t v = static_cast<uint8_t>(rng() % 4);
            for (; len && i < size; --len) data[i++] = v;
        }
    } else {  // mixed: random stretches, repeats from far back, and runs
        for (size_t i = 0; i < size;) {
            size_t len = 1 + rng() % 700;
            int mode = static_cast<int>(rng() % 3);
            for (; len && i < size; --len, ++i)
                data[i] = mode == 0 ? static_cast<uint8_t>(rng())
                        : mode == 1 && i >= 70000 ? data[i - 70000 + (rng() % 2)]
                        : static_cast<uint8_t>(i / 7);
        }
    }
    return data;
}

// Every size class the block layout distinguishes: tiny blocks, the short/long header
// boundary, group and tail boundaries, and blocks past the raw-group threshold.
TEST(QuickLZRoundTrip, EachCodecReadsBothWriters) {
    const size_t sizes[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 17, 31, 32, 33, 34, 35, 40, 63, 64,
                            100, 215, 216, 217, 1000, 1001, 1024, 4095, 4096, 65535, 65536, 100 * 1024};
    for (const char* kind : {"random", "text", "runs", "mixed"}) {
        for (size_t size : sizes) {
            Bytes input = MakeData(kind, size, static_cast<uint32_t>(size));
            for (const Codec* writer : kCodecs) {
                SCOPED_TRACE(std::string(kind) + " " + std::to_string(size) + " written by " + writer->Name);
                Bytes block = Compress(*writer, input);
                ASSERT_GE(block.size(), 1u);
                EXPECT_LE(block.size(), size + 400);
                EXPECT_EQ(Qlz131SizeCompressed(block.data(), block.size()), block.size());
                EXPECT_EQ(Qlz131SizeDecompressed(block.data(), block.size()), size);
                for (const Codec* reader : kCodecs) {
                    Bytes out;
                    EXPECT_TRUE(Decompress(*reader, block, size, out)) << reader->Name;
                    EXPECT_TRUE(out == input) << reader->Name;
                }
            }
        }
    }
}

TEST(QuickLZRoundTrip, RandomDataIsStoredAndCompressibleDataShrinks) {
    for (const Codec* codec : kCodecs) {
        Bytes random = Compress(*codec, MakeData("random", 50000, 1));
        EXPECT_EQ(random[0] & QLZ_FLAG_COMPRESSED, 0) << codec->Name;
        EXPECT_EQ(random.size(), 50000u + QLZ_LONG_HEADER_SIZE) << codec->Name;
        // Inputs whose last control word is opened in the tail (where no token starts): the stored
        // form is checked before it as before every other one.
        for (const size_t size : {100u, 130u}) {
            Bytes tail = Compress(*codec, MakeData("random", size, 7));
            EXPECT_EQ(tail[0] & QLZ_FLAG_COMPRESSED, 0) << codec->Name << " " << size;
            EXPECT_EQ(tail.size(), size + QLZ_SHORT_HEADER_SIZE) << codec->Name << " " << size;
        }
        Bytes text = Compress(*codec, MakeData("text", 50000, 1));
        EXPECT_NE(text[0] & QLZ_FLAG_COMPRESSED, 0) << codec->Name;
        EXPECT_LT(text.size(), 25000u) << codec->Name;
    }
}

// Random data followed by a copy of itself at distance D: matched only while D is within the
// version's largest offset (1.31: 131,070; 1.20: 131,071), else the block ends up stored.
TEST(QuickLZRoundTrip, LargestOffsetIsUsedAndNoFurther) {
    struct Case {
        const Codec* Writer;
        size_t Distance;
        bool Matched;
    };
    const Case cases[] = {
        {&kQlz131, 131070, true}, {&kQlz131, 131071, false},
        {&kQlz120, 131071, true}, {&kQlz120, 131072, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Writer->Name) + " at " + std::to_string(c.Distance));
        Bytes input = MakeData("random", c.Distance, 7);
        input.insert(input.end(), input.begin(), input.begin() + 40000);
        Bytes block = Compress(*c.Writer, input);
        EXPECT_EQ((block[0] & QLZ_FLAG_COMPRESSED) != 0, c.Matched);
        for (const Codec* reader : kCodecs) {
            Bytes out;
            EXPECT_TRUE(Decompress(*reader, block, input.size(), out) && out == input) << reader->Name;
        }
    }
}

TEST(QuickLZRoundTrip, CompressRefusesTooSmallDestination) {
    Bytes input = MakeData("text", 1000, 3);
    for (const Codec* codec : kCodecs) {
        Bytes out(codec->Bound(input.size()) - 1);
        QlzHashTable table;
        EXPECT_EQ(codec->Compress(input.data(), input.size(), out.data(), out.size(), &table), 0u) << codec->Name;
    }
}

// Hostile blocks: hand-made headers and tokens that lie, every truncation of real blocks, and
// random damage. Exact-size buffers make any stray access an ASan report.
class QuickLZCorrupt : public ::testing::Test {
protected:
    void ExpectRefused(const Bytes& block, size_t capacity, const std::string& what) {
        for (const Codec* codec : kCodecs) {
            Bytes out;
            EXPECT_FALSE(Decompress(*codec, block, capacity, out)) << what << " (" << codec->Name << ")";
        }
    }
};

TEST_F(QuickLZCorrupt, LyingHeadersAndTokensAreRefused) {
    // 3-byte header (flags, total, size), control word, tokens.
    struct Case {
        const char* What;
        Bytes Block;
        size_t Capacity;
    };
    const Case cases[] = {
        {"empty input", {}, 16},
        {"short header cut", {0x01, 0x0C}, 16},
        {"long header cut", {0x03, 0x0C, 0, 0, 0, 1, 0, 0}, 16},
        {"unknown flag bits", {0x05, 0x0C, 0x01, 0, 0, 0, 0x80, 'A', 0, 0, 0, 0}, 16},
        {"high flag bits", {0x81, 0x0C, 0x01, 0, 0, 0, 0x80, 'A', 0, 0, 0, 0}, 16},
        {"total below header", {0x01, 0x02, 0x01, 0, 0, 0, 0x80, 'A', 0, 0, 0, 0}, 16},
        {"total past input", {0x01, 0x0D, 0x01, 0, 0, 0, 0x80, 'A', 0, 0, 0, 0}, 16},
        {"size past capacity", {0x01, 0x0C, 0x11, 0, 0, 0, 0x80, 'A', 0, 0, 0, 0}, 16},
        {"zero size", {0x01, 0x0C, 0x00, 0, 0, 0, 0x80, 'A', 0, 0, 0, 0}, 16},
        {"stored size mismatch", {0x00, 0x05, 0x03, 'a', 'b'}, 16},
        {"control word cut", {0x01, 0x05, 0x08, 0, 0}, 16},
        {"control word without sentinel", {0x01, 0x0C, 0x08, 0, 0, 0, 0x00, 'a', 'b', 'c', 'd', 'e'}, 16},
        {"literals run out", {0x01, 0x0A, 0x08, 0, 0, 0, 0x80, 'a', 'b', 'c'}, 16},
        // Four literals, then a 1-byte match of offset 5 (only 4 bytes produced so far).
        {"offset before start", {0x01, 0x10, 0x10, 0x10, 0, 0, 0x80, 'a', 'b', 'c', 'd', 5 << 2, 'x', 'x', 'x', 'x'}, 16},
        // Four literals, then a 2-byte match of offset 0.
        {"offset zero", {0x01, 0x11, 0x10, 0x10, 0, 0, 0x80, 'a', 'b', 'c', 'd', 0x01, 0x00, 'x', 'x', 'x', 'x'}, 16},
        // Four literals, then a match of 18 bytes into a 16-byte output.
        {"match past output", {0x01, 0x11, 0x10, 0x10, 0, 0, 0x80, 'a', 'b', 'c', 'd', 0x3E, 0x01, 'x', 'x', 'x', 'x'}, 16},
        // A short run of 32 into a 16-byte output.
        {"run past output", {0x01, 0x0E, 0x10, 0x01, 0, 0, 0x80, 0x0F, 0x02, 'z', 'x', 'x', 'x', 'x'}, 16},
        // A long run whose 32-bit count wraps the output position.
        {"long run count huge", {0x01, 0x12, 0x10, 0x01, 0, 0, 0x80, 0x0F, 0x00, 'z', 0xFF, 0xFF, 0xFF, 0xFF, 'x', 'x', 'x', 'x'}, 16},
        // A 12-byte match whose length is 0xFFFFFFF0 after four literals.
        {"long match length huge", {0x01, 0x17, 0x10, 0x10, 0, 0, 0x80, 'a', 'b', 'c', 'd', 0x07, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF, 0x04, 0, 0, 0}, 16},
        {"token cut", {0x01, 0x0C, 0x10, 0x10, 0, 0, 0x80, 'a', 'b', 'c', 'd', 0x07}, 16},
    };
    for (const Case& c : cases)
        ExpectRefused(c.Block, c.Capacity, c.What);
}

TEST_F(QuickLZCorrupt, TruncatedBlocksAreRefused) {
    for (const char* kind : {"text", "mixed", "runs"}) {
        Bytes input = MakeData(kind, 3000, 11);
        for (const Codec* writer : kCodecs) {
            Bytes block = Compress(*writer, input);
            // Cut the block but leave its header claiming the full size: refused as a lie.
            for (size_t cut = 0; cut < block.size(); ++cut)
                ExpectRefused(Bytes(block.begin(), block.begin() + cut), input.size(), std::string(kind) + " cut at " + std::to_string(cut));
            // Also a header that claims only the cut: refused, or decodes to nothing more.
            Bytes shortened(block.begin(), block.begin() + block.size() / 2);
            uint32_t total = static_cast<uint32_t>(shortened.size());
            std::memcpy(shortened.data() + 1, &total, 4);
            ExpectRefused(shortened, input.size(), std::string(kind) + " header rewritten to half");
        }
    }
}

TEST_F(QuickLZCorrupt, DamagedBlocksNeverOverrun) {
    Bytes input = MakeData("mixed", 20000, 5);
    std::mt19937 rng(99);
    for (const Codec* writer : kCodecs) {
        const Bytes block = Compress(*writer, input);
        for (int round = 0; round < 2000; ++round) {
            Bytes damaged(block);
            for (int flips = 1 + static_cast<int>(rng() % 4); flips; --flips)
                damaged[QLZ_LONG_HEADER_SIZE + rng() % (damaged.size() - QLZ_LONG_HEADER_SIZE)] ^= static_cast<uint8_t>(1 + rng() % 255);
            for (const Codec* reader : kCodecs) {
                Bytes out;
                if (Decompress(*reader, damaged, input.size(), out)) {
                    EXPECT_EQ(out.size(), input.size());
                }
            }
        }
    }
}

}  // namespace
