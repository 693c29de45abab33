// Saving a virtual stream to a file. Win32 only.
#pragma once

#include <cstdint>
#include <string>

#include "cm/StreamUtils/VirtualStream.h"

namespace cm {

// Creates the file (no retries, the given file flags), writes the stream's whole content and,
// when lastWriteTime (a file time) is not 0, sets it as the file's last-write time. Raises the
// file stream's errors; a partly written file stays.
void SaveVirtualStreamToFile(TVirtualStream& stream, const std::string& fileName, uint16_t fileFlags,
                             int64_t lastWriteTime);

}  // namespace cm
