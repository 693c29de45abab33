// The bootstrap's modules in their start-up order (shut-down runs in reverse).
#pragma once

#include <span>

#include "cm/Objects/Modules.h"

namespace bootstrap {

std::span<const cm::TModuleEntry> ProgramModules();

}  // namespace bootstrap
