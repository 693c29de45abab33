// SetupPackets: the setup package file (Setup.pak is one TSetupPacket followed by the setup
// executable) and the setup program's progress message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cm/Packets/Packets.h"

namespace cm {

// A progress message of the setup program.
class TSetupEventPacket : public TPacket {
    CM_PACKET_CLASS(TSetupEventPacket)
    uint8_t Event;  // enumeration of the setup program
    std::string Text;
    uint8_t ProgressPercent;
    bool EnableRetry;
};

// One file of the package.
class TSetupFilePacket : public TPacket {
    CM_PACKET_CLASS(TSetupFilePacket)
    uint8_t Components;  // bit set: 1 agent side, 2 coordinator side
    uint8_t Flags;       // installation options of the setup program
    std::string Filename;  // relative path, may hold backslash-separated directories
    std::string Description;
    TVirtualStream Content{0};
};

class TSetupFilePacketList : public TTypedPacketList<TSetupFilePacket> {
public:
    // The first entry whose Filename matches name (byte for byte, or with ASCII letters compared
    // without regard to case); -1 when none does.
    int32_t IndexOfName(const std::string& name, bool caseSensitive) const;
};

// The setup package.
class TSetupPacket : public TPacket {
    CM_PACKET_CLASS(TSetupPacket)
    int32_t Version;
    double SetupDateTime;  // the package's build time
    std::string LicenseAgreement;
    std::string SetupHelpHtml;
    TSetupFilePacketList Files;
    std::string ProductCaption;
    TGuid GridServiceID;
    TGuid CoordinatorServiceID;
    std::string ChmHelpFile;
};

// Registers TSetupEventPacket, TSetupFilePacket and TSetupPacket, in that order.
void InitializeSetupPackets();

}  // namespace cm
