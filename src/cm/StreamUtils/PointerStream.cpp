#include "cm/StreamUtils/PointerStream.h"

#include <algorithm>
#include <cstring>

namespace cm {

TPointerStream::TPointerStream(void* memory, int32_t size, bool readOnly) : FReadOnly(readOnly) {
    CM_ASSERT("cm/StreamUtils", size >= 0 && (memory != nullptr || size == 0));
    SetPointer(memory, size);
    FCapacity = size;
}

TPointerStream::TPointerStream(const void* memory, int32_t size)
    : TPointerStream(const_cast<void*>(memory), size, true) {}

int32_t TPointerStream::Write(const void* buffer, int32_t count) {
    if (FReadOnly) throw EStreamError("Cannot write to read-only pointer-stream");
    if (FPosition < 0 || count <= 0) return 0;
    int32_t n = std::min(count, FSize - std::min(FPosition, FSize));
    // Overflow also records a write that found the buffer already full: those bytes are lost too.
    if (n < count) FOverflow = true;
    if (n <= 0) return 0;
    std::memcpy(static_cast<char*>(FMemory) + FPosition, buffer, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

}  // namespace cm
