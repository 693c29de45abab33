#include "cm/Packets/PacketFile.h"
#include "catalogue/SetupPacketsFile.h"

namespace cm {

std::unique_ptr<TSetupPacket> LoadSetupPacket(const std::string& fileName, uint32_t flags) {
    return LoadPacketFile<TSetupPacket>(fileName, flags);
}

}  // namespace cm
