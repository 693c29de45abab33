// Packet files: one packet of a known class per file. Win32 (through the mapped file stream).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cm/Packets/Packets.h"

namespace cm {

// Reads the file's packet into packet, whose class the file must hold (LoadFromStream of a
// mapped file stream opened for reading, no sharing; lfRetryOpen retries the open for 4 seconds,
// lfCompressed means a compressed packet file). Raises "Failed to load packet %s from file %s"
// + CR LF + the cause; the packet may then be partly filled.
void LoadFromFile(TPacket& packet, const std::string& fileName, uint32_t flags);

// The typed factory: a new T loaded from the file, owned by the caller; nothing on failure.
template <class T>
std::unique_ptr<T> LoadPacketFile(const std::string& fileName, uint32_t flags) {
    auto packet = std::make_unique<T>();
    LoadFromFile(*packet, fileName, flags);
    return packet;
}

}  // namespace cm
