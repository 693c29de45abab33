// The product information loader (Win32: the running executable's path and the packet file).
#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/SystemWrappers.h"
#include "cm/Packets/PacketFile.h"
#include "catalogue/ProductInfoLoader.h"

namespace cm {

namespace {

constexpr const char* InfoFileDefaultName = ProductInformationFileName;
constexpr const char* DefaultProductCaption = ProductName;

std::unique_ptr<TProductInfoLoader> SharedLoader;
bool InfoLoaded = false;

// The running executable's path; empty when it cannot be obtained.
std::string RunningModuleFileName() {
    try {
        return GetModuleFileNameChecked(nullptr);
    } catch (const Exception&) {
        return {};
    }
}

}  // namespace

TProductInfoLoader::TProductInfoLoader(const std::string& infoFileName)
    : InfoFileName(infoFileName), ModuleFileName(RunningModuleFileName()) {
    ModuleDir = ExtractPathPart(ModuleFileName);
    if (InfoFileName.empty())
        InfoFileName = CombinePath(ModuleDir, InfoFileDefaultName);
    if (FileExistsPlain(InfoFileName)) {
        LoadFromFile(Info, InfoFileName, 0);
        InfoLoaded = true;
    }
    ProductCaption = Info.ProductCaption;
    IsDefaultProduct = SameTextAscii(ProductCaption, DefaultProductCaption);
    VisualStudioBuilds = Info.VisualStudioBuilds;
    VisualStudioAddIn = Info.VisualStudioAddIn;
}

std::string ProductCaptionBesideExecutable() { return ProductInfo("")->ProductCaption; }

TProductInfoLoader* ProductInfo(const std::string& infoFileName) {
    if (SharedLoader && InfoLoaded)
        return SharedLoader.get();
    SharedLoader.reset();
    SharedLoader = std::make_unique<TProductInfoLoader>(infoFileName);
    return SharedLoader.get();
}

}  // namespace cm
