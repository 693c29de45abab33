// The page allocation layer under TVirtualStream: committed read-write pages of the operating
// system, obtained and returned whole. VirtualAlloc/VirtualFree on Windows, mmap/munmap on the
// host. Failures return nullptr/false and leave the system's last error (GetLastError, errno)
// for the caller's system error message.
#pragma once

#include <cstddef>

namespace cm {

// A block of size (> 0) bytes of committed, zeroed, read-write pages; nullptr on failure.
void* AllocatePages(size_t size);
// Gives the physical pages of [address, address + size) back to the system; the range stays part
// of its block and must not be touched again. address and size are whole pages.
bool DecommitPages(void* address, size_t size);
// Releases a whole block of AllocatePages (size is the size it was allocated with).
bool ReleasePages(void* address, size_t size);

}  // namespace cm
