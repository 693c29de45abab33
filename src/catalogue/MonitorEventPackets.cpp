#include "catalogue/MonitorEventPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_MONITOR_EVENT_PACKETS, MonitorEventPackets)

}  // namespace cm
