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

#ifdef _WIN32
// Reads the product information file next to the running executable, or a given one.
class TProductInfoLoader {
public:
    // An empty name means "info.dat" in the executable's directory. A missing file leaves the
    // defaults (caption "Corvane"); a file that exists but cannot be read raises the packet
    // file's error.
    explicit TProductInfoLoader(const std::string& infoFileName);

    TProductInformationPacket Info;
    std::string InfoFileName;
    std::string ModuleDir;       // with its trailing separator
    std::string ModuleFileName;  // empty when it cannot be obtained
    std::string ProductCaption;
    bool IsDefaultProduct = true;  // the caption is the product word, ASCII letters in any case
    bool VisualStudioBuilds = true;
    bool VisualStudioAddIn = true;
};

// The shared loader: once some loader has found and loaded its file, that one for the rest of the
// process (infoFileName then ignored); until then a new loader made with infoFileName on every
// call, replacing the previous one. Not locked: call it from one thread at a time. When loading
// fails the exception leaves and no shared loader is kept.
TProductInfoLoader* ProductInfo(const std::string& infoFileName);
// The caption of the product information beside the executable (ProductInfo("")), the source the
// program gives the log at start-up. Raises as ProductInfo.
std::string ProductCaptionBesideExecutable();
#endif

}  // namespace cm
