// The host's codec table: minilzo linked in; the QuickLZ codecs when the build has them
// (CORVANE_HAVE_QUICKLZ), otherwise their loads fail as a missing library does on Windows.
#include <string>

#include "cm/Objects/Errors.h"
#include "cm/RealTimeCompressStreams/CompressCodecs.h"
#include "minilzo.h"

#if CORVANE_HAVE_QUICKLZ
#include "qlz120.h"
#include "qlz131.h"
#endif

namespace cm::codecs {

namespace {
bool MiniLzoReady = false;

}  // namespace

void EnsureMiniLzo() {
    if (MiniLzoReady)
        return;
    try {
        if (lzo_init() != LZO_E_OK)
            throw Exception("MiniLZO library not usable: lzo_init failed");
    } catch (...) {
        ReraiseWithContext("Failed to initialize MiniLZO.dll library.");
    }
    MiniLzoReady = true;
}

int32_t MiniLzoCompress(const uint8_t* data, uint32_t count, uint8_t* out, uint32_t& outLength, void* work) {
    lzo_uint length = 0;
    const int r = lzo1x_1_compress(data, count, out, &length, work);
    outLength = static_cast<uint32_t>(length);
    return r;
}

int32_t MiniLzoDecompressSafe(const uint8_t* data, uint32_t count, uint8_t* out, uint32_t& outLength) {
    lzo_uint length = outLength;
    const int r = lzo1x_decompress_safe(data, count, out, &length, nullptr);
    outLength = static_cast<uint32_t>(length);
    return r;
}

#if CORVANE_HAVE_QUICKLZ
void EnsureQuickLz() {}
void EnsureQuickLz131() {}

int32_t QuickLzCompress(const uint8_t* data, uint8_t* out, int32_t count, int32_t capacity) {
    Qlz120CompressState state;
    return static_cast<int32_t>(Qlz120Compress(data, static_cast<size_t>(count), out, static_cast<size_t>(capacity), &state));
}

int32_t QuickLzDecompress(const uint8_t* block, int32_t available, uint8_t* out, int32_t capacity) {
    return static_cast<int32_t>(Qlz120Decompress(block, static_cast<size_t>(available), out, static_cast<size_t>(capacity)));
}

int32_t QuickLz131Compress(const uint8_t* data, uint8_t* out, int32_t count, int32_t capacity, void* scratch) {
    static_assert(sizeof(Qlz131CompressState) <= 65536);
    return static_cast<int32_t>(Qlz131Compress(data, static_cast<size_t>(count), out, static_cast<size_t>(capacity),
                                               static_cast<Qlz131CompressState*>(scratch)));
}

int32_t QuickLz131Decompress(const uint8_t* block, int32_t available, uint8_t* out, int32_t capacity, void*) {
    return static_cast<int32_t>(Qlz131Decompress(block, static_cast<size_t>(available), out, static_cast<size_t>(capacity)));
}
#else
// Without the QuickLZ core the codecs fail to load, as a missing library does on Windows.
[[noreturn]] void RaiseQuickLzMissing(const char* libraryName) {
    try {
        throw Exception(std::string("QuickLZ library not found: ") + libraryName);
    } catch (...) {
        ReraiseWithContext("Failed to initialize QuickLZ compression library");
    }
}

void EnsureQuickLz() { RaiseQuickLzMissing(QuickLzLibraryName); }
void EnsureQuickLz131() { RaiseQuickLzMissing(QuickLz131LibraryName); }

int32_t QuickLzCompress(const uint8_t*, uint8_t*, int32_t, int32_t) { return 0; }
int32_t QuickLzDecompress(const uint8_t*, int32_t, uint8_t*, int32_t) { return 0; }
int32_t QuickLz131Compress(const uint8_t*, uint8_t*, int32_t, int32_t, void*) { return 0; }
int32_t QuickLz131Decompress(const uint8_t*, int32_t, uint8_t*, int32_t, void*) { return 0; }
#endif

}  // namespace cm::codecs
