#include "cm/StreamUtils/PageAlloc.h"

#include "cm/Objects/WinApi.h"

namespace cm {

void* AllocatePages(size_t size) {
    // Reserve and commit in one call: the block is always used whole, and commit charge is what
    // the caller asked for.
    return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

bool DecommitPages(void* address, size_t size) {
    return ::VirtualFree(address, size, MEM_DECOMMIT) != 0;
}

bool ReleasePages(void* address, size_t) {
    // MEM_RELEASE frees the whole reservation and requires a size of 0.
    return ::VirtualFree(address, 0, MEM_RELEASE) != 0;
}

}  // namespace cm
