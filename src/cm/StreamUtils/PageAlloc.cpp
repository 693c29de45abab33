#include "cm/StreamUtils/PageAlloc.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace cm {

template <typename Action>
bool TPageBlock::ForEachPart(size_t offset, size_t size, Action action) const {
    size_t end = offset + size;
    size_t partStart = 0;
    for (size_t part : FParts) {
        size_t partEnd = partStart + part;
        size_t from = std::max(offset, partStart), to = std::min(end, partEnd);
        // A commit or decommit may not span two reservations on Windows.
        if (from < to && !action(FBase + from, to - from)) return false;
        if (partEnd >= end) break;
        partStart = partEnd;
    }
    return true;
}

bool TPageBlock::Reserve(size_t size) {
    if (FBase != nullptr || size == 0 || size > SIZE_MAX - ReservationGranularity + 1) return false;
    size = RoundUpTo(size, ReservationGranularity);
    FParts.reserve(4);
    void* base = ReservePages(size);
    if (!base) return false;
    FBase = static_cast<char*>(base);
    FReserved = size;
    FCommitted = 0;
    FParts.assign(1, size);
    return true;
}

bool TPageBlock::Extend(size_t size) {
    if (size <= FReserved) return true;
    if (FBase == nullptr || size > SIZE_MAX - ReservationGranularity + 1) return false;
    size_t extra = RoundUpTo(size, ReservationGranularity) - FReserved;
    // A block at the top of the address space has no space after it.
    if (reinterpret_cast<uintptr_t>(FBase) + FReserved > UINTPTR_MAX - extra) return false;
    FParts.reserve(FParts.size() + 1);  // may raise; before the reservation, so that none is lost
    if (!ReservePagesAt(FBase + FReserved, extra)) return false;
    FParts.push_back(extra);
    FReserved += extra;
    return true;
}

bool TPageBlock::CommitTo(size_t size) {
    if (size > FReserved) return false;
    size = RoundUpTo(size, PageSize);
    if (size <= FCommitted) return true;
    size_t from = FCommitted;
    bool ok = ForEachPart(from, size - from, [this](char* address, size_t length) {
        if (!CommitPages(address, length)) return false;
        FCommitted = static_cast<size_t>(address - FBase) + length;
        return true;
    });
    return ok;
}

bool TPageBlock::Decommit(size_t offset, size_t size) {
    return ForEachPart(offset, size, [](char* address, size_t length) { return DecommitPages(address, length); });
}

bool TPageBlock::Release() {
    bool ok = true;
    char* address = FBase;
    for (size_t part : FParts) {
        ok = ReleasePages(address, part) && ok;
        address += part;
    }
    FBase = nullptr;
    FReserved = FCommitted = 0;
    FParts.clear();
    return ok;
}

void TPageBlock::Swap(TPageBlock& other) noexcept {
    std::swap(FBase, other.FBase);
    std::swap(FReserved, other.FReserved);
    std::swap(FCommitted, other.FCommitted);
    FParts.swap(other.FParts);
}

}  // namespace cm
