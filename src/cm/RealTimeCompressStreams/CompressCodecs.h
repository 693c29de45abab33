// The codec table of cm/RealTimeCompressStreams: the entry points of the three codec libraries
// behind one interface. Win32 (CompressCodecs_win32.cpp) loads MiniLZO.dll, QuickLZ.dll and
// QuickLZ131.dll; the host (CompressCodecs_host.cpp) calls the codecs linked into the program.
// Internal to the unit.
#pragma once

#include <cstdint>
#include <string>

namespace cm::codecs {

// The library file names and the messages of a failed load.
constexpr const char* MiniLzoLibraryName = "MiniLZO.dll";
constexpr const char* QuickLzLibraryName = "QuickLZ.dll";
constexpr const char* QuickLz131LibraryName = "QuickLZ131.dll";

// Each Ensure... loads its codec once per process (LoadMiniLzo and friends) and raises the load
// failure; the loaded state is set only after a fully successful load.
void EnsureMiniLzo();
void EnsureQuickLz();
void EnsureQuickLz131();

// LZO1X-1. Both return LZO's result code (0 = success). outLength: capacity on entry for the safe
// decompressor, produced bytes on return for both. work: CompressWorkAreaSize bytes.
int32_t MiniLzoCompress(const uint8_t* data, uint32_t count, uint8_t* out, uint32_t& outLength, void* work);
int32_t MiniLzoDecompressSafe(const uint8_t* data, uint32_t count, uint8_t* out, uint32_t& outLength);

// QuickLZ 1.20: compress returns the block size (0 = failure) and may use up to count + 36,000
// bytes of out (capacity, at least that); decompress returns the decompressed size (0 = failure).
// available: the bytes of the block that may be read; capacity: the bytes of out. The caller has
// checked the block's own header against both (the library's entries trust it).
int32_t QuickLzCompress(const uint8_t* data, uint8_t* out, int32_t count, int32_t capacity);
int32_t QuickLzDecompress(const uint8_t* block, int32_t available, uint8_t* out, int32_t capacity);

// QuickLZ 1.31: the same; compress needs a CompressWorkAreaSize scratch, decompress a
// QuickLz131DecompressScratchSize one.
int32_t QuickLz131Compress(const uint8_t* data, uint8_t* out, int32_t count, int32_t capacity, void* scratch);
int32_t QuickLz131Decompress(const uint8_t* block, int32_t available, uint8_t* out, int32_t capacity, void* scratch);

}  // namespace cm::codecs
