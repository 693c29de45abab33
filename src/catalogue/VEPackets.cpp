#include "catalogue/VEPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_VE_PACKETS, VEPackets)

}  // namespace cm
