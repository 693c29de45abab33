// Test support: the packet framework and the program's packet units registered once per process,
// in the program's order (TPacket, the setup packets, the product information, the catalogue's
// units).
#pragma once

#include "cm/Packets/Packets.h"
#include "catalogue/Catalogue.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"

namespace cm::test {

inline void RegisterProductPackets() {
    static const bool registered = [] {
        InitializePackets();
        InitializeSetupPackets();
        InitializeProductInformation();
        for (const TCatalogueUnit* unit : CatalogueUnits())
            unit->Initialize();
        return true;
    }();
    (void)registered;
}

}  // namespace cm::test
