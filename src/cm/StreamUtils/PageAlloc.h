// The page allocation layer under TVirtualStream: address space reserved from the operating
// system and pages committed and decommitted inside it. VirtualAlloc/VirtualFree on Windows,
// mmap/mprotect/munmap on the host. The system calls return nullptr/false on failure and leave the
// system's last error (GetLastError, errno) for the caller's system error message.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace cm {

// Commit and decommit work on whole pages.
constexpr size_t PageSize = 4096;
// Reservations start and end on this boundary (Windows' allocation granularity), so that the end
// of one can be the start of the next.
constexpr size_t ReservationGranularity = 65536;

// size rounded up to a multiple of unit (a power of two).
constexpr size_t RoundUpTo(size_t size, size_t unit) {
    return (size + unit - 1) & ~(unit - 1);
}

// A reservation of size bytes (a multiple of ReservationGranularity) anywhere, nothing committed;
// nullptr on failure.
void* ReservePages(size_t size);
// The same exactly at address (on the granularity); false when any of the range is taken.
bool ReservePagesAt(void* address, size_t size);
// Commits [address, address + size), whole pages of one reservation, as read-write pages; pages
// not committed before read as zero. Committed pages keep their content.
bool CommitPages(void* address, size_t size);
// Gives the pages of [address, address + size), whole pages of one reservation, back to the
// system: their commit charge ends and the range must not be touched until committed again.
bool DecommitPages(void* address, size_t size);
// Releases one whole reservation (size is the size it was reserved with).
bool ReleasePages(void* address, size_t size);

// A block of virtual memory: one or more adjacent reservations from Base() on, of which the first
// Committed() bytes (whole pages) are committed. A block grows where it is while the address
// space after it is free, so that growing needs no copy. Move-only; the destructor releases what
// is left (ignoring failure: an owner that must report one calls Release first).
class TPageBlock {
public:
    TPageBlock() = default;
    TPageBlock(TPageBlock&& other) noexcept { Swap(other); }
    TPageBlock& operator=(TPageBlock&& other) noexcept {
        TPageBlock(std::move(other)).Swap(*this);
        return *this;
    }
    ~TPageBlock() { Release(); }

    char* Base() const { return FBase; }
    size_t Reserved() const { return FReserved; }
    size_t Committed() const { return FCommitted; }
    bool Empty() const { return FBase == nullptr; }

    // Makes the (empty) block one new reservation of size bytes, rounded up to the granularity;
    // false on failure (still empty) and for a block that is not empty.
    bool Reserve(size_t size);
    // Reserves the address space right after the block's end so that it holds at least size bytes;
    // false when that space is taken or refused (the block as it was). Raises std::bad_alloc.
    bool Extend(size_t size);
    // Commits the block up to size bytes, rounded up to whole pages; false when size is beyond
    // Reserved() and on failure (what was committed stays so).
    bool CommitTo(size_t size);
    // Decommits [offset, offset + size), whole pages inside the committed part; the block still
    // counts them as committed, so it is only for a block about to be released. False on failure.
    bool Decommit(size_t offset, size_t size);
    // Releases every reservation; the block is empty afterwards even on failure (false).
    bool Release();

    void Swap(TPageBlock& other) noexcept;

private:
    // Calls action(address, size) for each reservation's share of [offset, offset + size).
    template <typename Action>
    bool ForEachPart(size_t offset, size_t size, Action action) const;

    char* FBase = nullptr;
    size_t FReserved = 0;
    size_t FCommitted = 0;
    std::vector<size_t> FParts;  // sizes of the reservations, in address order
};

}  // namespace cm
