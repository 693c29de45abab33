// Test support: the packet framework and the bootstrap's packet units registered once per
// process, in the program's order (TPacket, the setup packets, the product information).
#pragma once

#include "cm/Packets/Packets.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"

namespace cm::test {

inline void RegisterProductPackets() {
    static const bool registered = [] {
        InitializePackets();
        InitializeSetupPackets();
        InitializeProductInformation();
        return true;
    }();
    (void)registered;
}

}  // namespace cm::test
