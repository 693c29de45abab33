// TPointerStream: a memory stream over a caller's fixed buffer. The buffer stays the caller's
// and must outlive the stream; the stream never grows. Portable.
#pragma once

#include <cstdint>

#include "cm/StreamUtils/Stream.h"

namespace cm {

class TPointerStream : public TCustomMemoryStream {
public:
    // The stream's memory is the size bytes at memory; position 0.
    TPointerStream(void* memory, int32_t size, bool readOnly = false);
    TPointerStream(const void* memory, int32_t size);  // read-only

    // Writes what fits between the position and the end and returns that count; a write cut
    // short sets Overflow. Raises EStreamError "Cannot write to read-only pointer-stream".
    int32_t Write(const void* buffer, int32_t count) override;

    bool ReadOnly() const { return FReadOnly; }
    bool Overflow() const { return FOverflow; }
    void SetOverflow(bool value) { FOverflow = value; }

private:
    bool FReadOnly;
    bool FOverflow = false;
};

}  // namespace cm
