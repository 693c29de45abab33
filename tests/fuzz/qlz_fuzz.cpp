// Fuzz target: both block readers on arbitrary bytes, with a bounded output buffer. The
// first input byte picks the output capacity, so that short capacities are reached too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qlz120.h"
#include "qlz131.h"

namespace {
constexpr size_t kMaxOutput = 1 << 18;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t capacity = data[0] == 0 ? kMaxOutput : static_cast<size_t>(data[0]) * 64;
    // An exact-size copy: a read past the block is an ASan report, not a read into the fuzzer's memory.
    std::vector<uint8_t> block(data + 1, data + size);
    std::vector<uint8_t> out(capacity);
    size_t a = Qlz131Decompress(block.data(), block.size(), out.data(), out.size());
    size_t b = Qlz120Decompress(block.data(), block.size(), out.data(), out.size());
    // Both readers accept the same syntax; they can differ only in the end rule.
    if ((a > capacity) || (b > capacity))
        __builtin_trap();
    if (a != 0 && a != Qlz131SizeDecompressed(block.data(), block.size()))
        __builtin_trap();
    return 0;
}
