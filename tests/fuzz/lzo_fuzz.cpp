// libFuzzer target: the LZO safe decompressor behind DecompressBlock (format id 0) over
// arbitrary blocks; the first input byte picks the output capacity.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20))
        return 0;
    const int32_t capacity = data[0] * 257;
    std::vector<uint8_t> out(static_cast<size_t>(capacity));
    try {
        cm::DecompressBlock(data + 1, static_cast<int32_t>(size - 1), out.data(), cm::cfMiniLzo, capacity);
    } catch (const cm::Exception&) {
    }
    return 0;
}
