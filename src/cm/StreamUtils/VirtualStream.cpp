#include "cm/StreamUtils/VirtualStream.h"

#include <algorithm>
#include <bit>
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

bool TVirtualStream::UsesHeap(int32_t size) const {
    return (FFlags & vsAlwaysHeap) || (!(FFlags & vsAlwaysVirtual) && size < VirtualStreamHeapLimit);
}

namespace {

// How many times its capacity a growing virtual-memory block reserves, so that growth moves it a
// logarithmic number of times even where the address space after it is taken. A 32-bit process
// has 2 GB of address space for everything; a 64-bit one has more than it can commit.
constexpr size_t GrowthReservationFactor = sizeof(void*) >= 8 ? 8 : 2;

// The reservation for a growing block of capacity bytes, rounded up to a quarter of the largest
// power of two in capacity so that a content of a round size (a power of two, whole megabytes)
// ends inside a reservation rather than just beyond one, where its last growth would move it all.
// Saturates where the address space could not hold it anyway (a reservation that large fails).
size_t GrowthReservation(int32_t capacity) {
    uint64_t unit = std::max<uint64_t>(std::bit_floor(static_cast<uint64_t>(capacity)) / 4, ReservationGranularity);
    uint64_t reservation = (GrowthReservationFactor * static_cast<uint64_t>(capacity) + unit - 1) / unit * unit;
    return static_cast<size_t>(std::min<uint64_t>(reservation, SIZE_MAX - ReservationGranularity + 1));
}

[[noreturn]] void RaiseAllocationError(int32_t size, const void* address) {
    RaiseLastSystemError("Failed to allocate %d bytes of virtual memory at 0x0%p", {size, address});
}

}  // namespace

// Grows a virtual-memory block where it is: commits more of its reservation, first extending the
// reservation into the free address space after it if need be. False when the block cannot grow
// there (nothing changed); raises the allocation error when the commit is refused (the block as
// it was).
bool TVirtualStream::GrowInPlace(int32_t newCapacity) {
    size_t wanted = static_cast<size_t>(newCapacity);
    if (wanted > FPages.Reserved() && !FPages.Extend(GrowthReservation(newCapacity))) return false;
    if (!FPages.CommitTo(wanted)) RaiseAllocationError(newCapacity, FMemory);
    return true;
}

// Copies the first count bytes of the current block into block. A virtual-memory block gives its
// pages back piece by piece as they are copied, so that the physical memory of a move stays near
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
        // A failed decommit only costs memory until the old block is released.
        if (piece == VirtualStreamMovePiece) FPages.Decommit(static_cast<size_t>(done), static_cast<size_t>(piece));
        done += piece;
    }
}

// Releases the current block and leaves the stream without one.
void TVirtualStream::ReleaseBlock() {
    void* old = FMemory;
    int32_t oldCapacity = FCapacity;
    TVirtualBlockKind oldKind = FKind;
    FMemory = nullptr;
    FCapacity = 0;
    FKind = TVirtualBlockKind::None;
    if (oldKind == TVirtualBlockKind::Heap) {
        std::free(old);
    } else if (oldKind == TVirtualBlockKind::Virtual) {
        if (!FPages.Release())
            RaiseLastSystemError("Failed to free %d bytes of virtual memory at 0x0%p", {oldCapacity, old});
    }
}

// A growing virtual-memory block first tries to grow where it is (GrowInPlace): Memory then stays
// the same and nothing is copied. A block that must move is reserved with room to grow, and is
// committed whole before the move, so that a refused commit leaves the old block untouched.
void* TVirtualStream::Realloc(int32_t& newCapacity) {
    int32_t asked = newCapacity;
    try {
        if ((FFlags & vsLocked) && newCapacity != 0) throw EStreamError("Cannot resize a locked stream");
        if (newCapacity == 0) {
            if (FFlags & vsKeepMemoryOnClear) {
                newCapacity = FCapacity;
                return FMemory;
            }
            FSize = 0;
            ReleaseBlock();
            return nullptr;
        }
        if (!(FFlags & vsExactCapacity)) asked = newCapacity = RoundVirtualStreamCapacity(newCapacity, FGranularityShift);
        if (newCapacity == FCapacity) return FMemory;
        if ((FFlags & vsNeverShrink) && FCapacity >= newCapacity) {
            newCapacity = FCapacity;
            return FMemory;
        }
        bool growing = FCapacity > 0 && newCapacity > FCapacity;
        if (growing && FKind == TVirtualBlockKind::Virtual && !UsesHeap(newCapacity) && GrowInPlace(newCapacity))
            return FMemory;

        void* block = nullptr;
        TPageBlock pages;
        TVirtualBlockKind kind = TVirtualBlockKind::Heap;
        if (UsesHeap(newCapacity)) {
            block = std::malloc(static_cast<size_t>(newCapacity));
            if (!block) throw Exception("Out of memory");
        } else {
            // Where the address space has no room for the growth reservation, a quarter more than
            // the capacity still keeps growth geometric; the capacity alone is the last resort.
            size_t exact = static_cast<size_t>(newCapacity);
            const size_t reservations[] = {growing ? GrowthReservation(newCapacity) : exact, exact + exact / 4, exact};
            for (size_t reservation : reservations)
                if (pages.Reserve(reservation) || reservation == exact) break;
            if (pages.Empty() || !pages.CommitTo(exact)) RaiseAllocationError(newCapacity, nullptr);
            block = pages.Base();
            kind = TVirtualBlockKind::Virtual;
        }
        int32_t kept = std::min(FSize, newCapacity);
        MoveInto(block, kept);

        // The new block holds the data from here on: take it before the old one is released, so
        // that a refused release leaves a consistent stream.
        TPageBlock oldPages(std::move(FPages));
        void* old = FMemory;
        int32_t oldCapacity = FCapacity;
        TVirtualBlockKind oldKind = FKind;
        FPages = std::move(pages);
        FMemory = block;
        FCapacity = newCapacity;
        FKind = kind;
        FSize = kept;
        if (oldKind == TVirtualBlockKind::Heap) {
            std::free(old);
        } else if (oldKind == TVirtualBlockKind::Virtual && !oldPages.Release()) {
            RaiseLastSystemError("Failed to free %d bytes of virtual memory at 0x0%p", {oldCapacity, old});
        }
        return block;
    } catch (...) {
        ReraiseWithContextFmt("Failed to reallocate virtual stream (to %d bytes)", {asked});
    }
}

}  // namespace cm
