#include "cm/StreamUtils/PageAlloc.h"

#include <sys/mman.h>

namespace cm {

// Linux charges commit for private writable mappings: an inaccessible mapping is address space
// only, mprotect to read-write charges it, and a fresh inaccessible mapping over a range gives its
// pages and their charge back (madvise would drop the pages but keep the charge).

void* ReservePages(size_t size) {
    void* block = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

bool ReservePagesAt(void* address, size_t size) {
    // MAP_FIXED_NOREPLACE fails on a taken range; a kernel that predates it takes the address as
    // a hint only, so the result is checked as well.
    void* block = ::mmap(address, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (block == MAP_FAILED) return false;
    if (block == address) return true;
    ::munmap(block, size);
    return false;
}

bool CommitPages(void* address, size_t size) {
    return ::mprotect(address, size, PROT_READ | PROT_WRITE) == 0;
}

bool DecommitPages(void* address, size_t size) {
    void* block = ::mmap(address, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    return block != MAP_FAILED;
}

bool ReleasePages(void* address, size_t size) {
    return ::munmap(address, size) == 0;
}

}  // namespace cm
