#include "cm/StreamUtils/VirtualStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cm/StreamUtils/PageAlloc.h"

namespace cm {

namespace {

constexpr int32_t SmallestCapacity = 4096;
constexpr int SmallestShift = 12;
constexpr int DefaultShift = 16;

int ShiftOfFlags(uint16_t flags) {
    if (flags & vsGranularity22) return 22;
    if (flags & vsGranularity20) return 20;
    if (flags & vsGranularity18) return 18;
    return DefaultShift;
}

}  // namespace

int32_t RoundVirtualStreamCapacity(int32_t n, int shift) {
    int64_t step = SmallestCapacity;
    for (int i = SmallestShift; i < shift && step < n; ++i) step *= 2;
    // 64-bit: rounding a size near 2 GB up must not wrap; such a size keeps no slack.
    int64_t rounded = (static_cast<int64_t>(n) + step - 1) / step * step;
    return static_cast<int32_t>(std::min<int64_t>(rounded, INT32_MAX));
}

TVirtualStream::TVirtualStream(uint16_t flags)
    : FFlags(static_cast<uint16_t>(flags & ~vsExactCapacity)),
      FGranularityShift(static_cast<uint8_t>(ShiftOfFlags(flags))) {}

TVirtualStream::~TVirtualStream() {
    FFlags = static_cast<uint16_t>(FFlags & ~vsKeepMemoryOnClear);
    try {
        Clear();
    } catch (...) {
        // A block the system refuses to take back cannot be kept either; nothing more to do.
    }
}

int32_t TVirtualStream::Write(const void* buffer, int32_t count) {
    if (FPosition >= 0 && count > 0 && !(FFlags & vsLocked)) {
        int64_t end = static_cast<int64_t>(FPosition) + count;
        if (end > FCapacity && end <= INT32_MAX && FCapacity >= (1 << FGranularityShift)) {
            int64_t grown = std::max<int64_t>(end, static_cast<int64_t>(FCapacity) + FCapacity / 2);
            try {
                SetCapacity(static_cast<int32_t>(std::min<int64_t>(grown, INT32_MAX)));
            } catch (const Exception&) {
                // The slack did not fit; the base asks for the exact size and raises if that fails too.
            }
        }
    }
    return TCustomMemoryStream::Write(buffer, count);
}

void TVirtualStream::Clear() {
    SetCapacity(0);
    FSize = 0;
    FPosition = 0;
}

void TVirtualStream::SetSizeExact(int32_t newSize) {
    uint16_t saved = FFlags;
    FFlags |= vsExactCapacity;
    try {
        SetSize(newSize);
    } catch (...) {
        FFlags = saved;
        throw;
    }
    FFlags = saved;
}

void TVirtualStream::SaveToStream(TStream& stream) {
    stream.WriteBuffer(FMemory, FSize);
}

void TVirtualStream::LoadFromStream(TStream& stream) {
    stream.SetPosition(0);
    int32_t count = stream.Size();
    SetSize(count);
    stream.ReadBuffer(FMemory, count);
}

bool TVirtualStream::Equals(const TCustomMemoryStream& other) const {
    // Size() of the base is not const; both sizes are the memory streams' own fields.
    int32_t otherSize = const_cast<TCustomMemoryStream&>(other).Size();
    if (FSize != otherSize) return false;
    return FSize == 0 || std::memcmp(FMemory, other.Memory(), static_cast<size_t>(FSize)) == 0;
}

void TVirtualStream::Assign(const TCustomMemoryStream& other) {
    if (&other == this) {
        FPosition = 0;
        return;
    }
    int32_t otherSize = const_cast<TCustomMemoryStream&>(other).Size();
    FPosition = 0;
    SetSize(otherSize);
    if (otherSize > 0) std::memcpy(FMemory, other.Memory(), static_cast<size_t>(otherSize));
}

void* TVirtualStream::AllocateBlock(int32_t size, TVirtualBlockKind& kind) const {
    bool heap = (FFlags & vsAlwaysHeap) || (!(FFlags & vsAlwaysVirtual) && size < VirtualStreamHeapLimit);
    if (heap) {
        void* block = std::malloc(static_cast<size_t>(size));
        if (!block) throw Exception("Out of memory");
        kind = TVirtualBlockKind::Heap;
        return block;
    }
    void* block = AllocatePages(static_cast<size_t>(size));
    if (!block)
        RaiseLastSystemError("Failed to allocate %d bytes of virtual memory at 0x0%p",
                             {size, static_cast<const void*>(nullptr)});
    kind = TVirtualBlockKind::Virtual;
    return block;
}

void TVirtualStream::ReleaseBlock(void* block, int32_t size, TVirtualBlockKind kind) {
    if (kind == TVirtualBlockKind::Heap) {
        std::free(block);
    } else if (kind == TVirtualBlockKind::Virtual) {
        if (!ReleasePages(block, static_cast<size_t>(size)))
            RaiseLastSystemError("Failed to free %d bytes of virtual memory at 0x0%p",
                                 {size, static_cast<const void*>(block)});
    }
}

// Copies the first count bytes of the current block into block. A virtual-memory block gives its
// pages back piece by piece as they are copied, so that the committed peak of a move stays near
// one copy of the data instead of two.
void TVirtualStream::MoveInto(void* block, int32_t count) {
    if (count <= 0) return;
    if (FKind != TVirtualBlockKind::Virtual) {
        std::memcpy(block, FMemory, static_cast<size_t>(count));
        return;
    }
    char* source = static_cast<char*>(FMemory);
    char* target = static_cast<char*>(block);
    for (int32_t done = 0; done < count;) {
        int32_t piece = std::min(count - done, VirtualStreamMovePiece);
        std::memcpy(target + done, source + done, static_cast<size_t>(piece));
        // A failed decommit only costs memory until the old block is released below.
        if (piece == VirtualStreamMovePiece) DecommitPages(source + done, static_cast<size_t>(piece));
        done += piece;
    }
}

void* TVirtualStream::Realloc(int32_t& newCapacity) {
    int32_t asked = newCapacity;
    try {
        if ((FFlags & vsLocked) && newCapacity != 0) throw EStreamError("Cannot resize a locked stream");
        if (newCapacity == 0) {
            if (FFlags & vsKeepMemoryOnClear) {
                newCapacity = FCapacity;
                return FMemory;
            }
            void* old = FMemory;
            int32_t oldCapacity = FCapacity;
            TVirtualBlockKind oldKind = FKind;
            FMemory = nullptr;
            FCapacity = 0;
            FKind = TVirtualBlockKind::None;
            FSize = 0;
            ReleaseBlock(old, oldCapacity, oldKind);
            return nullptr;
        }
        if (!(FFlags & vsExactCapacity)) asked = newCapacity = RoundVirtualStreamCapacity(newCapacity, FGranularityShift);
        if (newCapacity == FCapacity) return FMemory;
        if ((FFlags & vsNeverShrink) && FCapacity >= newCapacity) {
            newCapacity = FCapacity;
            return FMemory;
        }

        TVirtualBlockKind kind = TVirtualBlockKind::None;
        void* block = AllocateBlock(newCapacity, kind);
        MoveInto(block, std::min(FSize, newCapacity));

        // The new block holds the data from here on: take it before the old one is released, so
        // that a refused release leaves a consistent stream.
        void* old = FMemory;
        int32_t oldCapacity = FCapacity;
        TVirtualBlockKind oldKind = FKind;
        FMemory = block;
        FCapacity = newCapacity;
        FKind = kind;
        FSize = std::min(FSize, newCapacity);
        ReleaseBlock(old, oldCapacity, oldKind);
        return block;
    } catch (...) {
        ReraiseWithContextFmt("Failed to reallocate virtual stream (to %d bytes)", {asked});
    }
}

}  // namespace cm
