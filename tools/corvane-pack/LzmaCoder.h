// In-process LZMA-alone coding over the LZMA SDK, with the settings and the stream form of the
// project's lzma tool ("lzma e": lc 3, lp 0, pb 2, level 5 (normal mode, binary-tree match finder
// with 4-byte hashing, 32 fast bytes), 8 MiB dictionary reduced for smaller inputs, the known size
// in the header and no end marker). The coder is a newer release of the SDK than the tool's, with
// its match finder on a second thread: the header is the tool's, the coded bytes are that
// release's (a little smaller than the tool's), and the tool decodes them. The same input gives
// the same bytes on every platform and with any number of cores.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "cm/StreamUtils/Stream.h"

namespace pack {

// Receives the input bytes consumed so far.
using TCoderProgress = std::function<void(uint64_t done)>;

// Codes size bytes of the stream from its position. Raises EPackError on a read failure or when
// the encoder fails (out of memory).
std::string LzmaEncode(cm::TStream& input, uint64_t size, const TCoderProgress& progress);

// Decodes an LZMA-alone stream (known size or end marker); raises EPackError
// "the payload is not a valid LZMA stream: ..." when it is damaged, shorter than it says, or
// states or decodes to more than limit bytes (a damaged or hostile stream may claim anything).
std::string LzmaDecode(std::string_view stream, uint64_t limit);

// The uncompressed size the header states (all ones: unknown); 0 when shorter than a header.
uint64_t LzmaStatedSize(std::string_view stream);

}  // namespace pack
