// Test support: a packet written to bytes, and a packet of any registered class read back from
// bytes, through the engine's stream routines.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cm/Packets/Packets.h"
#include "cm/StreamUtils/PointerStream.h"
#include "support/VectorStream.h"

namespace cm::test {

inline std::vector<uint8_t> SavePacket(TPacket& packet, TPacketWriteContext* context = nullptr, uint32_t flags = 0) {
    VectorStream stream;
    packet.SaveToStream(stream, context, flags);
    return stream.Bytes;
}

inline std::unique_ptr<TPacket> LoadPacket(const std::vector<uint8_t>& bytes, TPacketReadContext* context = nullptr,
                                           uint32_t flags = 0) {
    TPointerStream memory(static_cast<const void*>(bytes.data()), static_cast<int32_t>(bytes.size()));
    return TPacket::CreateFromStream(memory, context, flags);
}

}  // namespace cm::test
