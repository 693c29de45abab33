// cm/RealTimeCompressStreams: the block-compressed stream format ("sdc2"; "sdc1" is read too)
// and TDecompressStream, which decompresses it part by part on demand.
//
// Layout (little-endian): "sdc2", format id (1 byte), 3 zero bytes, total uncompressed size
// (int32), then parts back to back: part length L (int32) and a block of L bytes, which is the
// block's uncompressed size (int32) followed by the codec's output. Every part but the last holds
// CompressPartSize uncompressed bytes.
//
// The codecs live in libraries loaded at first use (MiniLZO.dll, QuickLZ.dll, QuickLZ131.dll on
// Windows; linked in on the host). Portable: the format logic needs no operating system.
//
// Every failure raises cm::Exception with the unit's messages ("Compression error: ...",
// "Decompression error: ...", the codec's own). Readers are bounded: no stored length or size
// makes them read past a block or the compressed data, or write past an output buffer.
#pragma once

#include <cstdint>

#include "cm/Lists/TypedLists.h"
#include "cm/StreamUtils/Stream.h"
#include "cm/StreamUtils/VirtualStream.h"

namespace cm {

// Format ids: the codec of every block of a stream.
enum TCompressFormat : int32_t {
    cfMiniLzo = 0,     // LZO1X-1, "MiniLZO.dll"
    cfQuickLz = 1,     // QuickLZ 1.20, "QuickLZ.dll"
    cfNone = 2,        // sizing only: compressing or decompressing with it fails
    cfQuickLz131 = 3,  // QuickLZ 1.31, "QuickLZ131.dll"
};

// Uncompressed bytes in every part but the last.
constexpr int32_t CompressPartSize = 0x1F8000;  // 2,064,384
constexpr int32_t CompressHeaderSize = 12;
// Bytes before a block's codec output (its uncompressed size) and before a block (part length).
constexpr int32_t CompressBlockPrefixSize = 4;
constexpr int32_t CompressPartPrefixSize = 4;
// The work area of the LZO compressor and of the QuickLZ 1.31 compressor; QuickLZ 1.31's
// decompressor needs QuickLz131DecompressScratchSize.
constexpr int32_t CompressWorkAreaSize = 65536;
constexpr int32_t QuickLz131DecompressScratchSize = 16;

// The 12 header bytes of a compressed stream.
struct TCompressHeader {
    char Signature[4];
    uint8_t FormatId;
    uint8_t Reserved[3];
    int32_t TotalSize;
};
static_assert(sizeof(TCompressHeader) == CompressHeaderSize);

// Worst-case size of one block for n source bytes (uncompressed-size field included). Ids above 3
// fail with an assertion error.
int32_t WorstCaseBlockSize(int32_t n, int32_t formatId);
// Worst-case size of a whole compressed run of n bytes, header excluded. 64-bit: it exceeds
// int32 for sources near 2 GB.
int64_t WorstCaseCompressedSize(int32_t n, int32_t formatId);

// ---- Compression --------------------------------------------------------------------------------

// Reads count bytes from source's position and appends the compressed layout at dest's position.
// Returns the bytes written (12 + the sum of 4 + part length). On failure dest keeps what was
// written, the failed part's length field holding -1.
int32_t CompressStream(TStream& source, int32_t count, TStream& dest, int32_t formatId);
// One block of count bytes from source's position into dest; returns the block size.
int32_t CompressPart(TStream& source, int32_t count, TStream& dest, int32_t formatId);
// One block from memory into dest; returns the block size.
int32_t CompressToStream(const void* data, int32_t count, TStream& dest, int32_t formatId);
// One block into out, whose capacity is outSize on entry and whose block size it is on return.
void CompressBlock(const void* data, int32_t count, void* out, int32_t formatId, int32_t& outSize);

// ---- Decompression ------------------------------------------------------------------------------

// Reads a part (length field and block) lying within the next spanSize bytes of source and appends
// its uncompressed bytes to dest; returns their number.
int32_t DecompressPart(TStream& source, int32_t spanSize, TStream& dest, int32_t formatId);
// One block of blockSize bytes from memory; appends its uncompressed bytes to dest, returns them.
int32_t DecompressToStream(const void* block, int32_t blockSize, TStream& dest, int32_t formatId);
// One block into out (outCapacity bytes); returns the uncompressed size, which must be the block's.
int32_t DecompressBlock(const void* block, int32_t blockSize, void* out, int32_t formatId, int32_t outCapacity);

// Load each codec library once per process; a failed load raises and is tried again next time.
void LoadMiniLzo();
void LoadQuickLz();
void LoadQuickLz131();

// A read-only stream over compressed data: the part headers are scanned once when it is created,
// blocks are decompressed when first read and the most recent MaxCachedBlocks are kept.
class TDecompressStream : public TStream {
public:
    // source holds the data from its position 0; sourceSize < 0 means its whole size (a larger
    // value is cut to it); maxCachedBlocks < 1 becomes 1. Raises when the header or a part header
    // is invalid, or when the parts do not add up to the header's total; the stream is not created
    // then (an owned source is freed).
    TDecompressStream(TStream* source, int32_t sourceSize, bool ownsSource, int32_t maxCachedBlocks);
    ~TDecompressStream() noexcept override;

    TDecompressStream(const TDecompressStream&) = delete;
    TDecompressStream& operator=(const TDecompressStream&) = delete;

    // Reads from Position, clipped to Size; returns the bytes read (0 at or beyond the end).
    // A part the request covers whole, from its first byte, and that is not cached is
    // decompressed straight into buffer and left uncached; the cache is neither consulted for it
    // nor changed. Other parts are read through the cache (a cached part is copied from it).
    // Raises when a part fails to decompress (that part is not cached); Position is then left at
    // the first byte not delivered, the bytes of buffer before it hold the data, those from it to
    // the end of the clipped count are unspecified (a part decompressed straight into buffer may
    // be partly written), and nothing beyond the clipped count is written.
    int32_t Read(void* buffer, int32_t count) override;
    // Raises "Cannot write to decompressed stream.".
    int32_t Write(const void* buffer, int32_t count) override;
    // Origins: beginning, current, end (= Size). Unbounded; returns the new position.
    int32_t Seek(int32_t offset, SeekOrigin origin) override;
    void SetSize(int32_t) override {}
    int32_t Size() override { return FSize; }

    const TCompressHeader& Header() const { return FHeader; }
    TStream* Source() const { return FSource; }
    bool OwnsSource() const { return FOwnsSource; }
    int32_t MaxCachedBlocks() const { return FMaxCachedBlocks; }
    int32_t SourceSize() const { return FSourceSize; }
    int32_t PartCount() { return FPartMap.Count(); }
    int32_t CachedBlockCount() { return FBlocks.Count(); }
    // Part index of the most recently decompressed cached block, or -1 when none is cached.
    int32_t MostRecentBlock() { return FBlocks.Count() > 0 ? FBlocks.Item(0).Key : -1; }

private:
    void Open();
    // Uncompressed bytes of part index, from PartMap.
    int32_t PartSize(int32_t index);
    int32_t SeekPart(int32_t index);
    // Returns part index from the cache, decompressing it into the cache first when missing.
    TVirtualStream& GetPart(int32_t index);
    // Decompresses part index, of size bytes, into out; raises when it makes another count.
    void DecompressPartInto(int32_t index, void* out, int32_t size);

    TCompressHeader FHeader{};
    TStream* FSource;
    bool FOwnsSource;
    int32_t FMaxCachedBlocks;
    TIntegerListExOf<TVirtualStream> FBlocks;  // part index -> its bytes, most recent first
    TIntegerMap FPartMap;                       // uncompressed offset -> position of the part
    int32_t FSourceSize = 0;
    int32_t FPosition = 0;
    int32_t FSize = 0;
};

}  // namespace cm
