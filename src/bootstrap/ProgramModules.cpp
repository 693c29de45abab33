#include "bootstrap/ProgramModules.h"

#include "diagnostics/Logs.h"
#include "packets/ProductInformation.h"
#include "packets/SetupPackets.h"

namespace bootstrap {

namespace {

// Each module after the modules it uses. The packet framework registers TPacket first and every
// packet unit its classes in declaration order: class numbers follow this list.
constexpr cm::TModuleEntry Modules[] = {
    {"cm/Packets", cm::InitializePackets, nullptr},
    {"SetupPackets", cm::InitializeSetupPackets, nullptr},
    {"ProductInformation", cm::InitializeProductInformation, nullptr},
    // The log reads its "Level" under a key built from the product caption.
    {"Logs", cm::InitializeLogs, cm::FinalizeLogs},
};

}  // namespace

std::span<const cm::TModuleEntry> ProgramModules() {
    return Modules;
}

}  // namespace bootstrap
