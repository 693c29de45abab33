#include "catalogue/BuildJobPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_BUILD_JOB_PACKETS, BuildJobPackets)

}  // namespace cm
