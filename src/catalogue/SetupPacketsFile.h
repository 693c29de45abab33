// Loading the setup package from its file. Win32 only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "catalogue/SetupPackets.h"

namespace cm {

// A TSetupPacket loaded from the file (the packet stream at its start; whatever follows is
// ignored), owned by the caller. Raises the packet file's errors.
std::unique_ptr<TSetupPacket> LoadSetupPacket(const std::string& fileName, uint32_t flags);

// Fills file's Content from the package file when a load of that file under places left it
// unread (TDeferredBlobs); otherwise leaves it as the load did. The file is opened for reading
// (others may read) and exactly the noted bytes are read: a file that no longer holds them
// raises "Failed to read the content of %s from file %s" (the entry's Filename, fileName) + CR LF
// + the cause.
void LoadDeferredContent(TSetupFilePacket& file, const TDeferredBlobs& places, const std::string& fileName);

}  // namespace cm
