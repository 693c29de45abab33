// cm/RealTimeCompressStreams: blocks, parts and whole runs (see RealTimeCompressStreams.h).
#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "cm/Objects/Format.h"
#include "cm/RealTimeCompressStreams/CompressCodecs.h"
#include "cm/StreamUtils/StreamUtils.h"
#include "codecs/quicklz/qlz_block.h"

namespace cm {

namespace {

constexpr const char* Unit = "cm/RealTimeCompressStreams";
constexpr char WrittenSignature[4] = {'s', 'd', 'c', '2'};
// The QuickLZ block header, as the codec lays it out.
constexpr int32_t QuickLzShortHeaderSize = QLZ_SHORT_HEADER_SIZE;
constexpr int32_t QuickLzLongHeaderSize = QLZ_LONG_HEADER_SIZE;
constexpr uint8_t QuickLzLongHeaderFlag = QLZ_FLAG_LONG_HEADER;

int32_t LoadInt32(const void* p) {
    int32_t value;
    std::memcpy(&value, p, 4);
    return value;
}

void StoreInt32(void* p, int32_t value) { std::memcpy(p, &value, 4); }

[[noreturn]] void RaiseLzoError(const char* operation, int32_t code) {
    const char* text = nullptr;
    switch (code) {
        case -1: text = "Unspecified error."; break;
        case -2: text = "Out of memory."; break;
        case -4: text = "Input overrun. Data is corrupted."; break;
        case -5: text = "Output overrun. Data is corrupted."; break;
        case -6: text = "Buffer overrun. Data is corrupted."; break;
        case -7: text = "EOF not found. Data is corrupted."; break;
        case -8: text = "Input underrun. Data is corrupted."; break;
    }
    if (text)
        throw Exception(std::string(operation) + " error: " + text);
    throw Exception(Format("%s error: An unknown error has occurred (%d).", {operation, code}));
}

[[noreturn]] void RaiseUnknownFormat(int32_t formatId) {
    throw Exception(Format("Unknown compression format (%d)", {formatId}));
}

// Checks a QuickLZ block's own header against the room it has: the header must lie within
// available bytes, its total size too, and it must announce expected decompressed bytes. The
// codec trusts its header, so this keeps it inside the block and the output buffer.
void CheckQuickLzHeader(const uint8_t* block, int32_t available, int32_t expected) {
    if (available < 1)
        throw Exception("Decompression error: Input buffer is smaller than expected.");
    const bool longHeader = (block[0] & QuickLzLongHeaderFlag) != 0;
    const int32_t headerSize = longHeader ? QuickLzLongHeaderSize : QuickLzShortHeaderSize;
    if (available < headerSize)
        throw Exception("Decompression error: Input buffer is smaller than expected.");
    const int64_t total = longHeader ? static_cast<uint32_t>(LoadInt32(block + 1)) : block[1];
    const int64_t decompressed = longHeader ? static_cast<uint32_t>(LoadInt32(block + 5)) : block[2];
    if (total < headerSize || total > available)
        throw Exception("Decompression error: Input buffer is smaller than expected.");
    if (decompressed != expected)
        throw Exception("Decompression error: Output buffer size mismatch.");
}

int32_t CheckedEnd(int32_t position, int64_t count) {
    const int64_t end = static_cast<int64_t>(position) + count;
    if (end > INT32_MAX)
        throw Exception("Compression error: Output stream has grown larger than expected.");
    return static_cast<int32_t>(end);
}

// ---- The codec table ----------------------------------------------------------------------------

// One codec of the format: what blocks need of it, in one place. A codec with a Name raises its
// failures (its load included) under the context "<Name> compression has failed" or
// "<Name> decompression has failed"; MiniLZO's messages stand alone.
struct TBlockCodec {
    const char* Name;
    // Bytes a block of n input bytes may need beyond n (the block prefix included).
    int64_t (*WorstCaseOverhead)(int32_t n);
    // Null for the sizing-only format.
    void (*Ensure)();
    // Compresses count (> 0) bytes into out (capacity bytes) and returns the bytes produced.
    int64_t (*Compress)(const uint8_t* data, int32_t count, uint8_t* out, int32_t capacity);
    // Checks the codec's own block header against the bytes available and the size the part
    // announced, before anything is reserved for it; null when the codec has no header.
    void (*CheckHeader)(const uint8_t* block, int32_t available, int32_t expected);
    // Decompresses a block of size bytes into out (capacity bytes) and returns the bytes produced.
    int64_t (*Decompress)(const uint8_t* block, int32_t size, uint8_t* out, int32_t capacity);
};

int64_t MiniLzoCompress(const uint8_t* data, int32_t count, uint8_t* out, int32_t) {
    alignas(8) uint8_t work[CompressWorkAreaSize];
    uint32_t length = 0;
    const int32_t r = codecs::MiniLzoCompress(data, static_cast<uint32_t>(count), out, length, work);
    if (r != 0)
        RaiseLzoError("Compression", r);
    return length;
}

int64_t MiniLzoDecompress(const uint8_t* block, int32_t size, uint8_t* out, int32_t capacity) {
    // The safe decompressor checks every read against size and every write against capacity.
    uint32_t length = static_cast<uint32_t>(capacity);
    const int32_t r = codecs::MiniLzoDecompressSafe(block, static_cast<uint32_t>(size), out, length);
    if (r != 0)
        RaiseLzoError("Decompression", r);
    return length;
}

int64_t QuickLzCompress(const uint8_t* data, int32_t count, uint8_t* out, int32_t capacity) {
    const int32_t produced = codecs::QuickLzCompress(data, out, count, capacity);
    if (produced == 0)
        throw Exception("QuickLZ 1.20 compression has returned an unspecified error");
    return produced;
}

int64_t QuickLzDecompress(const uint8_t* block, int32_t size, uint8_t* out, int32_t capacity) {
    return codecs::QuickLzDecompress(block, size, out, capacity);
}

int64_t QuickLz131Compress(const uint8_t* data, int32_t count, uint8_t* out, int32_t capacity) {
    alignas(8) uint8_t work[CompressWorkAreaSize];
    const int32_t produced = codecs::QuickLz131Compress(data, out, count, capacity, work);
    if (produced == 0)
        throw Exception("QuickLZ 1.31 compression has returned an unspecified error");
    return produced;
}

int64_t QuickLz131Decompress(const uint8_t* block, int32_t size, uint8_t* out, int32_t capacity) {
    alignas(8) uint8_t scratch[QuickLz131DecompressScratchSize];
    return codecs::QuickLz131Decompress(block, size, out, capacity, scratch);
}

// Indexed by format id.
constexpr TBlockCodec BlockCodecs[] = {
    /* cfMiniLzo */ {nullptr, [](int32_t n) -> int64_t { return 16 * ((static_cast<int64_t>(n) + 1023) / 1024) + 4; },
                     codecs::EnsureMiniLzo, MiniLzoCompress, nullptr, MiniLzoDecompress},
    /* cfQuickLz */ {"QuickLZ 1.20", [](int32_t) -> int64_t { return 36004; }, codecs::EnsureQuickLz, QuickLzCompress,
                     CheckQuickLzHeader, QuickLzDecompress},
    /* cfNone */ {nullptr, [](int32_t) -> int64_t { return 4; }, nullptr, nullptr, nullptr, nullptr},
    /* cfQuickLz131 */ {"QuickLZ 1.31", [](int32_t) -> int64_t { return 404; }, codecs::EnsureQuickLz131,
                        QuickLz131Compress, CheckQuickLzHeader, QuickLz131Decompress},
};
static_assert(cfMiniLzo == 0 && cfQuickLz == 1 && cfNone == 2 && cfQuickLz131 == 3);

// The table's entry for formatId; null for an id the format does not have.
const TBlockCodec* FindCodec(int32_t formatId) {
    if (formatId < 0 || formatId >= static_cast<int32_t>(std::size(BlockCodecs)))
        return nullptr;
    return &BlockCodecs[formatId];
}

// The codec that compresses and decompresses formatId. Raises "Unknown compression format (%d)"
// for any other id, the sizing-only one included.
const TBlockCodec& WorkingCodec(int32_t formatId) {
    const TBlockCodec* codec = FindCodec(formatId);
    if (!codec || !codec->Ensure)
        RaiseUnknownFormat(formatId);
    return *codec;
}

// Runs step, under the codec's failure context when it has one.
template <class Step>
auto RunCodecStep(const TBlockCodec& codec, const char* operation, Step step) {
    if (!codec.Name)
        return step();
    try {
        return step();
    } catch (...) {
        ReraiseWithContext(std::string(codec.Name) + " " + operation + " has failed");
    }
}

}  // namespace

int32_t WorstCaseBlockSize(int32_t n, int32_t formatId) {
    CM_ASSERT(Unit, n >= 0);
    CM_ASSERT(Unit, formatId >= cfMiniLzo && formatId <= cfQuickLz131);
    const int64_t size = n + BlockCodecs[formatId].WorstCaseOverhead(n);
    CM_ASSERT(Unit, size <= INT32_MAX);
    return static_cast<int32_t>(size);
}

int64_t WorstCaseCompressedSize(int32_t n, int32_t formatId) {
    CM_ASSERT(Unit, n >= 0);
    return WorstCaseBlockSize(n % CompressPartSize, formatId) +
           static_cast<int64_t>(n / CompressPartSize) * (WorstCaseBlockSize(CompressPartSize, formatId) + CompressPartPrefixSize) +
           CompressPartPrefixSize;
}

// ---- Compression --------------------------------------------------------------------------------

void CompressBlock(const void* data, int32_t count, void* out, int32_t formatId, int32_t& outSize) {
    const int32_t capacity = outSize;
    const int32_t worst = WorstCaseBlockSize(count, formatId);
    if (capacity < worst)
        throw Exception(Format("Compression error: Output buffer is too small. %d provided, %d required.", {capacity, worst}));
    auto* block = static_cast<uint8_t*>(out);
    const auto* source = static_cast<const uint8_t*>(data);
    StoreInt32(block, count);
    if (count == 0) {
        outSize = CompressBlockPrefixSize;
        return;
    }
    const TBlockCodec& codec = WorkingCodec(formatId);
    const int64_t produced = RunCodecStep(codec, "compression", [&] {
        codec.Ensure();
        return codec.Compress(source, count, block + CompressBlockPrefixSize, capacity - CompressBlockPrefixSize);
    });
    if (produced < 0 || produced + CompressBlockPrefixSize > capacity)
        throw Exception("Compression error: Output buffer overrun.");
    outSize = static_cast<int32_t>(produced) + CompressBlockPrefixSize;
}

int32_t CompressToStream(const void* data, int32_t count, TStream& dest, int32_t formatId) {
    const int32_t worst = WorstCaseBlockSize(count, formatId);
    int32_t blockSize = worst;
    if (IsMemoryStream(dest)) {
        // In place: the block is written straight into the stream's memory, then the stream ends
        // with the block. What followed the position is not kept: the codec may have written
        // anywhere in its worst-case window before the block's size was known.
        const int32_t position = dest.Position();
        const int32_t oldSize = dest.Size();
        EnsureStreamSize(dest, CheckedEnd(position, worst));
        try {
            CompressBlock(data, count, StreamMemory(dest, true), formatId, blockSize);
        } catch (...) {
            dest.SetSize(oldSize);  // a failed block leaves the stream as it was
            dest.SetPosition(position);
            throw;
        }
        dest.SetSize(position + blockSize);
        dest.SetPosition(position + blockSize);
    } else {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(worst)]);
        CompressBlock(data, count, buffer.get(), formatId, blockSize);
        dest.WriteBuffer(buffer.get(), blockSize);
    }
    return blockSize;
}

int32_t CompressPart(TStream& source, int32_t count, TStream& dest, int32_t formatId) {
    CM_ASSERT(Unit, count >= 0);
    const int32_t position = source.Position();
    if (static_cast<int64_t>(source.Size()) < static_cast<int64_t>(position) + count)
        throw Exception("Compression error: Input buffer is smaller than expected.");
    if (IsMemoryStream(source)) {
        const int32_t blockSize = CompressToStream(StreamMemory(source, true), count, dest, formatId);
        source.SetPosition(position + count);
        return blockSize;
    }
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(count) + 1]);
    source.ReadBuffer(buffer.get(), count);
    return CompressToStream(buffer.get(), count, dest, formatId);
}

int32_t CompressStream(TStream& source, int32_t count, TStream& dest, int32_t formatId) {
    CM_ASSERT(Unit, count >= 0);
    TCompressHeader header{};
    std::memcpy(header.Signature, WrittenSignature, 4);
    header.FormatId = static_cast<uint8_t>(formatId);
    header.TotalSize = count;
    const int32_t start = dest.Position();
    dest.WriteBuffer(&header, CompressHeaderSize);
    if (count == 0)
        return CompressHeaderSize;
    const int64_t limit = dest.Position() + WorstCaseCompressedSize(count, formatId);
    // A memory stream is grown once to the worst case and cut at the end of the run, rather than
    // grown and cut at every part, which would reallocate (and may move) its block each time. As
    // for a single block, what followed the run's start is not kept.
    const bool presized = IsMemoryStream(dest);
    const int32_t oldSize = presized ? dest.Size() : 0;
    if (presized)
        EnsureStreamSize(dest, CheckedEnd(dest.Position(), WorstCaseCompressedSize(count, formatId)));
    int32_t written = dest.Position();  // end of what the run has written so far
    try {
        for (int32_t remaining = count; remaining > 0;) {
            const int32_t n = std::min(remaining, CompressPartSize);
            const int32_t lengthPosition = dest.Position();
            const int32_t placeholder = -1;
            dest.WriteBuffer(&placeholder, 4);
            written = dest.Position();
            const int32_t blockSize = CompressPart(source, n, dest, formatId);
            dest.SetPosition(lengthPosition);
            dest.WriteBuffer(&blockSize, 4);
            dest.SetPosition(CheckedEnd(dest.Position(), blockSize));
            written = dest.Position();
            remaining -= n;
        }
    } catch (...) {
        if (presized)
            dest.SetSize(std::max(oldSize, written));
        throw;
    }
    if (presized)
        dest.SetSize(written);
    dest.SetPosition(written);
    if (dest.Position() > limit)
        throw Exception("Compression error: Output stream has grown larger than expected.");
    return dest.Position() - start;
}

// ---- Decompression ------------------------------------------------------------------------------

int32_t DecompressBlock(const void* block, int32_t blockSize, void* out, int32_t formatId, int32_t outCapacity) {
    if (blockSize < CompressBlockPrefixSize)
        throw Exception("Decompression error: Input buffer is smaller than expected.");
    const auto* data = static_cast<const uint8_t*>(block);
    const int32_t expected = LoadInt32(data);
    if (expected < 0)
        throw Exception("Decompression error: Invalid source block size.");
    if (outCapacity < expected)
        throw Exception(Format("Decompression error: Output buffer is too small. %d provided, %d required.", {outCapacity, expected}));
    if (expected == 0)
        return 0;
    const uint8_t* payload = data + CompressBlockPrefixSize;
    const int32_t payloadSize = blockSize - CompressBlockPrefixSize;
    auto* output = static_cast<uint8_t*>(out);
    const TBlockCodec& codec = WorkingCodec(formatId);
    const int64_t produced = RunCodecStep(codec, "decompression", [&] {
        codec.Ensure();
        if (codec.CheckHeader)
            codec.CheckHeader(payload, payloadSize, expected);
        return codec.Decompress(payload, payloadSize, output, outCapacity);
    });
    if (produced != expected)
        throw Exception("Decompression error: Output buffer size mismatch.");
    return expected;
}

int32_t DecompressToStream(const void* block, int32_t blockSize, TStream& dest, int32_t formatId) {
    if (blockSize < CompressBlockPrefixSize)
        throw Exception("Decompression error: Input buffer is smaller than expected.");
    const int32_t expected = LoadInt32(block);
    if (expected < 0)
        throw Exception("Decompression error: Invalid source block size.");
    // The codec's own header is checked before memory is reserved for what it claims.
    if (const TBlockCodec* codec = FindCodec(formatId); codec && codec->CheckHeader)
        codec->CheckHeader(static_cast<const uint8_t*>(block) + CompressBlockPrefixSize,
                           blockSize - CompressBlockPrefixSize, expected);
    if (IsMemoryStream(dest)) {
        const int32_t position = dest.Position();
        if (static_cast<int64_t>(position) + expected > INT32_MAX)
            throw Exception("Decompression error: Output buffer is too small.");
        EnsureStreamSize(dest, position + expected);
        DecompressBlock(block, blockSize, StreamMemory(dest, true), formatId, expected);
        dest.SetPosition(position + expected);
    } else {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(expected) + 1]);
        DecompressBlock(block, blockSize, buffer.get(), formatId, expected);
        dest.WriteBuffer(buffer.get(), expected);
    }
    return expected;
}

int32_t DecompressPart(TStream& source, int32_t spanSize, TStream& dest, int32_t formatId) {
    int32_t length = 0;
    source.ReadBuffer(&length, 4);
    if (length < CompressBlockPrefixSize || length > spanSize - CompressPartPrefixSize)
        throw Exception("Decompression error: Part has an invalid source block size.");
    const int32_t position = source.Position();
    if (static_cast<int64_t>(source.Size()) < static_cast<int64_t>(position) + length)
        throw Exception("Decompression error: Input buffer is smaller than expected.");
    // A part never holds more than CompressPartSize bytes: a larger claim is refused before
    // anything is reserved for it.
    auto checkPartSize = [](const void* block) {
        const int32_t size = LoadInt32(block);
        if (size < 0 || size > CompressPartSize)
            throw Exception("Decompression error: Invalid source block size.");
    };
    if (IsMemoryStream(source)) {
        const void* block = StreamMemory(source, true);
        checkPartSize(block);
        const int32_t produced = DecompressToStream(block, length, dest, formatId);
        source.SetPosition(position + length);
        return produced;
    }
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(length)]);
    source.ReadBuffer(buffer.get(), length);
    checkPartSize(buffer.get());
    return DecompressToStream(buffer.get(), length, dest, formatId);
}

// ---- Codec loading ------------------------------------------------------------------------------

void LoadMiniLzo() { codecs::EnsureMiniLzo(); }
void LoadQuickLz() { codecs::EnsureQuickLz(); }
void LoadQuickLz131() { codecs::EnsureQuickLz131(); }

}  // namespace cm
