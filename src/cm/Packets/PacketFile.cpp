#include "cm/Packets/PacketFile.h"

#include "cm/StreamUtils/MappedFileStream.h"

namespace cm {

namespace {
constexpr int32_t PacketFileRetrySeconds = 4;
constexpr uint16_t PacketFileMode = 0;        // read access, no sharing
constexpr uint16_t PacketFileFlags = 0x0020;  // the temporary-file attribute
}  // namespace

void LoadFromFile(TPacket& packet, const std::string& fileName, uint32_t flags) {
    try {
        TMappedFileStream stream(fileName, PacketFileMode, PacketFileFlags,
                                 (flags & lfRetryOpen) ? PacketFileRetrySeconds : 0);
        packet.LoadFromStream(stream, nullptr, flags);
    } catch (...) {
        ReraiseWithContextFmt("Failed to load packet %s from file %s", {packet.ClassName(), fileName});
    }
}

}  // namespace cm
