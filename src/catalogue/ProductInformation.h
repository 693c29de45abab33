// ProductInformation: the product information file info.dat (one TProductInformationPacket) and
// the process-wide loader through which every program of the product learns its caption.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cm/Packets/Packets.h"

namespace cm {

// The product's name, the default caption of a package and of the product information.
constexpr const char* ProductName = "Corvane";
// The package entry and file that hold the product information.
constexpr const char* ProductInformationFileName = "info.dat";

class TProductInformationPacket : public TPacket {
    CM_PACKET_CLASS(TProductInformationPacket)
    uint8_t TavrelProductMode;   // enumerations of the product's other programs
    uint8_t ExecutionMode;
    uint8_t SetupExecutionMode;
    std::string ProductCaption;
    TGuid GridServiceID;
    TGuid CoordinatorServiceID;
    int32_t DefaultPortCoordinatorService;
    int32_t DefaultPortAgentService;
    int32_t DefaultPortAgentHelper;
    bool VsAddIn;
    bool VisualStudioBuilds;
    bool VisualStudioAddIn;
    std::string SetupHelpHtml;
    std::string ChmHelpFile;
};

// Registers TProductInformationPacket.
void InitializeProductInformation();

}  // namespace cm
