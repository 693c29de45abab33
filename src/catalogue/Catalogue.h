// The protocol packet catalogue: every unit of it, in the order of the program's start-up.
#pragma once

#include <span>

#include "catalogue/RemoteExceptionPackets.h"
#include "catalogue/AgentPackets.h"
#include "catalogue/PdbForwarderPackets.h"
#include "catalogue/VEPackets.h"
#include "catalogue/BuildCommandPackets.h"
#include "catalogue/RemoteExecutionPackets.h"
#include "catalogue/BuildJobPackets.h"
#include "catalogue/JobHistoryPackets.h"
#include "catalogue/AgentServicePackets.h"
#include "catalogue/GraphPackets.h"
#include "catalogue/MonitorEventPackets.h"
#include "catalogue/WrapperStatusPackets.h"
#include "catalogue/CoordinatorPackets.h"

namespace cm {

// The catalogue's units in declaration order: the order in which the program registers them.
std::span<const TCatalogueUnit* const> CatalogueUnits();

}  // namespace cm
