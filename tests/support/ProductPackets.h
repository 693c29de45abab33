// Test support: the packet framework and the product's packet units registered once per process,
// as the program registers them (cm::PacketModules, in the program's order).
#pragma once

#include "catalogue/PacketModules.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"

namespace cm::test {

inline void RegisterProductPackets() {
    static const bool registered = [] {
        for (const TModuleEntry& module : PacketModules())
            if (module.Initialize)
                module.Initialize();
        return true;
    }();
    (void)registered;
}

}  // namespace cm::test
