// Test support: a stream outside the memory-stream base, over a byte vector, that counts reads and
// the bytes it hands out, and can pose as a stream that cannot go back (Seekable false).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cm/StreamUtils/Stream.h"

namespace cm::test {

class VectorStream : public TStream {
public:
    VectorStream() = default;
    explicit VectorStream(std::vector<uint8_t> bytes) : Bytes(std::move(bytes)) {}

    std::vector<uint8_t> Bytes;
    int32_t Pos = 0;
    int32_t Reads = 0;         // calls of Read
    int64_t BytesHandedOut = 0;  // bytes Read has returned
    bool CanSeek = true;

    bool Seekable() const override { return CanSeek; }

    int32_t Read(void* buffer, int32_t count) override {
        ++Reads;
        const int32_t n = std::clamp<int32_t>(static_cast<int32_t>(Bytes.size()) - Pos, 0, count);
        if (n > 0)
            std::memcpy(buffer, Bytes.data() + Pos, static_cast<size_t>(n));
        Pos += n;
        BytesHandedOut += n;
        return n;
    }
    int32_t Write(const void* buffer, int32_t count) override {
        if (Bytes.size() < static_cast<size_t>(Pos + count))
            Bytes.resize(static_cast<size_t>(Pos + count));
        std::memcpy(Bytes.data() + Pos, buffer, static_cast<size_t>(count));
        Pos += count;
        return count;
    }
    int32_t Seek(int32_t offset, SeekOrigin origin) override {
        Pos = offset + (origin == soBeginning ? 0 : origin == soCurrent ? Pos : static_cast<int32_t>(Bytes.size()));
        return Pos;
    }
    void SetSize(int32_t size) override { Bytes.resize(static_cast<size_t>(size)); }
};

}  // namespace cm::test
