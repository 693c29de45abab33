#include "catalogue/CoordinatorPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_COORDINATOR_PACKETS, CoordinatorPackets)

}  // namespace cm
