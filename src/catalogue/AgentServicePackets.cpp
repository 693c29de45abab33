#include "catalogue/AgentServicePackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_AGENT_SERVICE_PACKETS, AgentServicePackets)

}  // namespace cm
