#include "catalogue/JobHistoryPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_JOB_HISTORY_PACKETS, JobHistoryPackets)

}  // namespace cm
