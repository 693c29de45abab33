// TVirtualStream: the growable in-memory stream that holds the system's blobs. Its block lives on
// the heap while small and in committed pages of the operating system once large; capacities are
// rounded in a size-dependent way. A large block grows where it is, inside address space reserved
// ahead of it, so that a stream grown by small writes is copied a logarithmic number of times at
// most. Portable except SaveToFile, which is Win32 only.
#pragma once

#include <cstdint>
#include <string>

#include "cm/StreamUtils/PageAlloc.h"
#include "cm/StreamUtils/Stream.h"

namespace cm {

// Flags of TVirtualStream, fixed at construction (vsExactCapacity is held by SetSizeExact only).
enum VirtualStreamFlags : uint16_t {
    vsGranularity18 = 0x0001,      // largest rounding step 262,144 bytes
    vsGranularity20 = 0x0002,      // 1,048,576 bytes
    vsGranularity22 = 0x0004,      // 4,194,304 bytes
    vsNeverShrink = 0x0008,        // a smaller non-zero capacity keeps the current block
    vsAlwaysHeap = 0x0010,
    vsAlwaysVirtual = 0x0020,      // unless vsAlwaysHeap
    vsExactCapacity = 0x0040,      // no rounding
    vsLocked = 0x0080,             // any non-zero capacity change raises
    vsKeepMemoryOnClear = 0x0100,  // a capacity of 0 keeps the block (not during destruction)
};

// Where a block of TVirtualStream lives.
enum class TVirtualBlockKind : uint8_t { None = 0, Heap = 1, Virtual = 2 };

// Blocks of at least this many bytes go to virtual memory, smaller ones to the heap.
constexpr int32_t VirtualStreamHeapLimit = 49152;
// Pieces in which a virtual-memory block is moved and decommitted.
constexpr int32_t VirtualStreamMovePiece = 1048576;

// Capacity for n (> 0) wanted bytes with granularity shift s: 4,096 up to 4,096, the next power of
// two up to 2^s, the next multiple of 2^s beyond (at most INT32_MAX).
int32_t RoundVirtualStreamCapacity(int32_t n, int shift);

class TVirtualStream : public TCustomMemoryStream {
public:
    explicit TVirtualStream(uint16_t flags = 0);
    // Releases the block even with vsKeepMemoryOnClear.
    ~TVirtualStream() override;

    TVirtualStream(const TVirtualStream&) = delete;
    TVirtualStream& operator=(const TVirtualStream&) = delete;

    // Capacity 0 through Realloc (kept with vsKeepMemoryOnClear), then size and position 0.
    void Clear();
    // SetSize with exact capacity: Capacity becomes newSize unless never-shrink keeps a larger block.
    void SetSizeExact(int32_t newSize);
    void Rewind() { FPosition = 0; }

    // Writes the whole content (whatever the position) at the stream's position.
    void SaveToStream(TStream& stream);
    // Replaces the content with the whole of the stream (read from its start); position unchanged
    // unless beyond the new size.
    void LoadFromStream(TStream& stream);

    // Same size and the same first Size bytes; two empty streams are equal.
    bool Equals(const TCustomMemoryStream& other) const;
    // Position 0, the other's size and its bytes; the position stays 0.
    void Assign(const TCustomMemoryStream& other);

    uint16_t Flags() const { return FFlags; }
    TVirtualBlockKind Kind() const { return FKind; }
    int GranularityShift() const { return FGranularityShift; }

protected:
    // Decides rounding and allocator. A growing virtual-memory block keeps its address (the same
    // Memory) when its reservation, or the free address space after it, has room; otherwise the
    // data moves to a new block. Raises "Failed to reallocate virtual stream (to %d bytes)" + CR LF
    // + the cause ("Cannot resize a locked stream", "Out of memory" or the virtual-memory OS
    // error), leaving block, size and position as they were.
    void* Realloc(int32_t& newCapacity) override;

private:
    bool UsesHeap(int32_t size) const;
    bool GrowInPlace(int32_t newCapacity);
    void MoveInto(void* block, int32_t count);
    void ReleaseBlock();

    uint16_t FFlags;
    TVirtualBlockKind FKind = TVirtualBlockKind::None;
    uint8_t FGranularityShift;
    TPageBlock FPages;  // the block when Kind is Virtual
};

}  // namespace cm
