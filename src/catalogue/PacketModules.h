// The packet framework and the product's packet units as start-up modules, in the program's
// order: the framework registers TPacket first, then every unit its classes in declaration order,
// and class numbers follow this list. The program runs them first among its modules; tools and
// tests that read the product's packets run the same list, so that they know the same classes
// under the same numbers. Portable.
#pragma once

#include <span>

#include "cm/Objects/Modules.h"

namespace cm {

std::span<const TModuleEntry> PacketModules();

}  // namespace cm
