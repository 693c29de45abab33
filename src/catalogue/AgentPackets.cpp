#include "catalogue/AgentPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_AGENT_PACKETS, AgentPackets)

}  // namespace cm
