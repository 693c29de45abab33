// The product information loader: the product information file beside the running executable,
// or a given one, and the process's shared loader. Win32 only.
#pragma once

#include <string>

#include "catalogue/ProductInformation.h"

namespace cm {

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

}  // namespace cm
