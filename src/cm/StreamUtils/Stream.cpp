#include "cm/StreamUtils/Stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace cm {

namespace {
constexpr int32_t CopyBufferSize = 1 << 20;
}

void TStream::SetSize(int32_t) {
    throw EStreamError("Stream size cannot be changed");
}

int32_t TStream::Size() {
    int32_t position = Seek(0, soCurrent);
    int32_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
    if (count != 0 && (count < 0 || Read(buffer, count) != count)) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
    if (count != 0 && (count < 0 || Write(buffer, count) != count)) throw EStreamError("Stream write error");
}

int32_t TStream::CopyFrom(TStream& source, int32_t count) {
    CM_ASSERT("cm/StreamUtils", count >= 0);
    std::vector<char> buffer(static_cast<size_t>(std::min(count, CopyBufferSize)));
    for (int32_t left = count; left > 0;) {
        int32_t n = std::min(left, CopyBufferSize);
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return count;
}

int32_t TCustomMemoryStream::Read(void* buffer, int32_t count) {
    if (FPosition < 0 || count <= 0) return 0;
    int32_t n = FSize - FPosition;
    if (n <= 0) return 0;
    n = std::min(n, count);
    std::memcpy(buffer, static_cast<const char*>(FMemory) + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int32_t TCustomMemoryStream::Write(const void* buffer, int32_t count) {
    if (FPosition < 0 || count <= 0) return 0;
    // 64-bit arithmetic: a position near the 32-bit limit must not wrap into a small size.
    int64_t end = static_cast<int64_t>(FPosition) + count;
    if (end > INT32_MAX) return 0;
    if (end > FSize) {
        if (end > FCapacity) SetCapacity(static_cast<int32_t>(end));
        if (end > FCapacity) return 0;
        FSize = static_cast<int32_t>(end);
    }
    std::memcpy(static_cast<char*>(FMemory) + FPosition, buffer, static_cast<size_t>(count));
    FPosition = static_cast<int32_t>(end);
    return count;
}

int32_t TCustomMemoryStream::Seek(int32_t offset, SeekOrigin origin) {
    int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? FPosition : FSize;
    int64_t position = base + offset;
    FPosition = static_cast<int32_t>(std::clamp<int64_t>(position, INT32_MIN, INT32_MAX));
    return FPosition;
}

void TCustomMemoryStream::SetSize(int32_t size) {
    CM_ASSERT("cm/StreamUtils", size >= 0);
    SetCapacity(size);
    if (size > FCapacity) throw EStreamError("Stream write error");
    FSize = size;
    if (FPosition > size) FPosition = size;
}

void TCustomMemoryStream::SetCapacity(int32_t capacity) {
    int32_t wanted = capacity;
    FMemory = Realloc(wanted);
    FCapacity = wanted;
}

void* TCustomMemoryStream::Realloc(int32_t& newCapacity) {
    newCapacity = std::min(newCapacity, FCapacity);
    return FMemory;
}

}  // namespace cm
