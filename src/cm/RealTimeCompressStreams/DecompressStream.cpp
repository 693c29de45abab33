// cm/RealTimeCompressStreams: TDecompressStream (see RealTimeCompressStreams.h).
#include <algorithm>
#include <cstring>
#include <memory>

#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"
#include "cm/StreamUtils/PointerStream.h"

namespace cm {

namespace {
constexpr const char* Unit = "cm/RealTimeCompressStreams";
}

TDecompressStream::TDecompressStream(TStream* source, int32_t sourceSize, bool ownsSource, int32_t maxCachedBlocks)
    : FSource(source),
      FOwnsSource(ownsSource),
      FMaxCachedBlocks(std::max(maxCachedBlocks, 1)),
      FBlocks(lfOwnsObjects),
      FPartMap(lfSorted | lfDuplicatesError) {
    CM_ASSERT(Unit, source != nullptr);
    try {
        const int32_t whole = FSource->Size();
        FSourceSize = sourceSize < 0 ? whole : std::min(sourceSize, whole);
        Open();
    } catch (...) {
        if (FOwnsSource)
            delete FSource;
        throw;
    }
}

TDecompressStream::~TDecompressStream() noexcept {
    FBlocks.Clear();
    if (FOwnsSource)
        delete FSource;
}

// Reads the header and records every part's uncompressed offset and position. The scan reads
// only the part-length and uncompressed-size fields and checks both against the data that remains.
void TDecompressStream::Open() {
    FSource->SetPosition(0);
    FSource->ReadBuffer(&FHeader, CompressHeaderSize);
    FSource->SetPosition(0);

    TCompressHeader header;
    FSource->ReadBuffer(&header, CompressHeaderSize);
    if (std::memcmp(header.Signature, "sdc1", 4) != 0 && std::memcmp(header.Signature, "sdc2", 4) != 0)
        throw Exception("Decompression error: Header contains an invalid signature.");
    const int32_t end = FSourceSize;
    int64_t sum = 0;
    while (FSource->Position() < end) {
        const int32_t partPosition = FSource->Position();
        if (end - partPosition < CompressPartPrefixSize)
            throw Exception("Decompression error: Invalid source block size.");
        FPartMap.Add(static_cast<int32_t>(sum), partPosition);
        int32_t length = 0;
        FSource->ReadBuffer(&length, 4);
        if (length < CompressBlockPrefixSize || length > end - FSource->Position())
            throw Exception("Decompression error: Invalid source block size.");
        int32_t size = 0;
        FSource->ReadBuffer(&size, 4);
        // No writer makes a part larger than CompressPartSize: a larger size is a lie, refused
        // here before any reader reserves memory for it.
        if (size < 0 || size > CompressPartSize)
            throw Exception("Decompression error: Invalid source block size.");
        FSource->SetPosition(partPosition + CompressPartPrefixSize + length);
        sum += size;
        if (sum > header.TotalSize)
            break;
    }
    if (sum != header.TotalSize)
        throw Exception("Decompression error: Output buffer size does not match total size of source blocks.");
    FSize = header.TotalSize;
}

int32_t TDecompressStream::PartSize(int32_t index) {
    return (index + 1 < FPartMap.Count() ? FPartMap.KeyAt(index + 1) : FSize) - FPartMap.KeyAt(index);
}

// Positions Source at part index and returns the bytes of Source that part may occupy.
int32_t TDecompressStream::SeekPart(int32_t index) {
    const int32_t position = FPartMap.ValueAt(index);
    FSource->SetPosition(position);
    return index + 1 < FPartMap.Count() ? FPartMap.ValueAt(index + 1) - position : FSourceSize - position;
}

TVirtualStream& TDecompressStream::GetPart(int32_t index) {
    if (TVirtualStream* cached = FBlocks.ObjectOf(index))
        return *cached;
    // The evicted block's stream is reused: its pages stay committed, so a reader moving through
    // the parts does not pay for fresh memory (and its first-touch faults) at every part.
    std::unique_ptr<TVirtualStream> part;
    if (FBlocks.Count() >= FMaxCachedBlocks) {
        auto& last = FBlocks.Item(FBlocks.Count() - 1);
        part.reset(last.Object);
        last.Object = nullptr;
        FBlocks.DeleteLast();
    }
    if (!part)
        part = std::make_unique<TVirtualStream>(0);
    const int32_t span = SeekPart(index);
    part->SetPosition(0);
    const int32_t produced = DecompressPart(*FSource, span, *part, FHeader.FormatId);
    if (part->Size() != produced)
        part->SetSize(produced);
    FBlocks.Insert(0, index, part.get());
    return *part.release();
}

// The part goes through DecompressPart, as a cached one does, into a fixed-size stream over out:
// a block announcing more than size bytes fails with "Stream write error" before anything is
// written past out + size.
void TDecompressStream::DecompressPartInto(int32_t index, void* out, int32_t size) {
    const int32_t span = SeekPart(index);
    TPointerStream dest(out, size);
    if (DecompressPart(*FSource, span, dest, FHeader.FormatId) != size)
        throw Exception("Decompression error: Output buffer size mismatch.");
}

int32_t TDecompressStream::Read(void* buffer, int32_t count) {
    if (FPosition < 0)
        return 0;
    count = static_cast<int32_t>(std::min<int64_t>(count, static_cast<int64_t>(FSize) - FPosition));
    if (count <= 0)
        return 0;
    int32_t index = 0;
    if (!FPartMap.Find(FPosition, index))
        --index;
    auto* out = static_cast<uint8_t*>(buffer);
    for (int32_t left = count; left > 0; ++index) {
        const int32_t offset = FPosition - FPartMap.KeyAt(index);
        CM_ASSERT(Unit, offset >= 0);
        int32_t n = PartSize(index);
        TVirtualStream* part = FBlocks.ObjectOf(index);
        if (offset == 0 && left >= n && part == nullptr) {
            // The whole part is wanted and not cached: no copy out of a cached block, and the
            // cache keeps what it held.
            DecompressPartInto(index, out, n);
        } else {
            if (part == nullptr)
                part = &GetPart(index);
            CM_ASSERT(Unit, part->Size() - offset > 0);
            n = std::min(left, part->Size() - offset);
            std::memcpy(out, static_cast<const uint8_t*>(part->Memory()) + offset, static_cast<size_t>(n));
        }
        FPosition += n;
        out += n;
        left -= n;
    }
    return count;
}

int32_t TDecompressStream::Write(const void*, int32_t) {
    throw Exception("Cannot write to decompressed stream.");
}

int32_t TDecompressStream::Seek(int32_t offset, SeekOrigin origin) {
    int64_t position = offset;
    if (origin == soCurrent)
        position += FPosition;
    else if (origin == soEnd)
        position += FSize;
    FPosition = static_cast<int32_t>(std::clamp<int64_t>(position, INT32_MIN, INT32_MAX));
    return FPosition;
}

}  // namespace cm
