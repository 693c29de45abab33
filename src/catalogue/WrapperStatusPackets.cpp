#include "catalogue/WrapperStatusPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_WRAPPER_STATUS_PACKETS, WrapperStatusPackets)

}  // namespace cm
