#include "catalogue/BuildCommandPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_BUILD_COMMAND_PACKETS, BuildCommandPackets)

}  // namespace cm
