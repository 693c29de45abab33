#include "catalogue/PacketModules.h"

#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"

namespace cm {

namespace {

// A new packet unit goes in here, in its declaration order.
constexpr TModuleEntry Modules[] = {
    {"cm/Packets", InitializePackets, nullptr},
    {"SetupPackets", InitializeSetupPackets, nullptr},
    {"ProductInformation", InitializeProductInformation, nullptr},
};

}  // namespace

std::span<const TModuleEntry> PacketModules() {
    return Modules;
}

}  // namespace cm
