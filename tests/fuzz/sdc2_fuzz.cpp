// libFuzzer target: TDecompressStream over arbitrary bytes. Opening either fails with the unit's
// exception or gives a stream whose every byte can be read (or whose reads fail the same way);
// nothing may read or write out of bounds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"
#include "cm/StreamUtils/PointerStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    cm::TPointerStream source(data, static_cast<int32_t>(size));
    try {
        cm::TDecompressStream stream(&source, -1, false, 1);
        // Reads at most 16 MB, in pieces that cross part boundaries.
        std::vector<uint8_t> buffer(65521);
        for (int32_t total = 0; total < (16 << 20);) {
            const int32_t n = stream.Read(buffer.data(), static_cast<int32_t>(buffer.size()));
            if (n <= 0)
                break;
            total += n;
        }
    } catch (const cm::Exception&) {
    }
    return 0;
}
