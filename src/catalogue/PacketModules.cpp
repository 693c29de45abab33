#include "catalogue/PacketModules.h"

#include <iterator>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"

namespace cm {

namespace {

// The framework and the product's own packet units; the catalogue's units follow them.
constexpr TModuleEntry ProductModules[] = {
    {"cm/Packets", InitializePackets, nullptr},
    {"SetupPackets", InitializeSetupPackets, nullptr},
    {"ProductInformation", InitializeProductInformation, nullptr},
};

}  // namespace

std::span<const TModuleEntry> PacketModules() {
    static const std::vector<TModuleEntry> modules = [] {
        std::vector<TModuleEntry> all(std::begin(ProductModules), std::end(ProductModules));
        for (const TCatalogueUnit* unit : CatalogueUnits()) all.push_back({unit->Name, unit->Initialize, nullptr});
        return all;
    }();
    return modules;
}

}  // namespace cm
