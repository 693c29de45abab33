#include "cm/StreamUtils/PageAlloc.h"

#include <sys/mman.h>

namespace cm {

void* AllocatePages(size_t size) {
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

bool DecommitPages(void* address, size_t size) {
    // MADV_DONTNEED drops the private anonymous pages at once, which is what a decommit does to
    // the process's footprint.
    return ::madvise(address, size, MADV_DONTNEED) == 0;
}

bool ReleasePages(void* address, size_t size) {
    return ::munmap(address, size) == 0;
}

}  // namespace cm
