#include "cm/StreamUtils/PageAlloc.h"

#include "cm/Objects/WinApi.h"

namespace cm {

void* ReservePages(size_t size) {
    return ::VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_READWRITE);
}

bool ReservePagesAt(void* address, size_t size) {
    // Fails (ERROR_INVALID_ADDRESS) when any of the range is in use: nothing is replaced.
    return ::VirtualAlloc(address, size, MEM_RESERVE, PAGE_READWRITE) == address;
}

bool CommitPages(void* address, size_t size) {
    // Charges the commit now; the physical pages come, zeroed, when first touched.
    return ::VirtualAlloc(address, size, MEM_COMMIT, PAGE_READWRITE) == address;
}

bool DecommitPages(void* address, size_t size) {
    return ::VirtualFree(address, size, MEM_DECOMMIT) != 0;
}

bool ReleasePages(void* address, size_t) {
    // MEM_RELEASE frees the whole reservation and requires a size of 0.
    return ::VirtualFree(address, 0, MEM_RELEASE) != 0;
}

}  // namespace cm
