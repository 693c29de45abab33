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

}  // namespace cm
