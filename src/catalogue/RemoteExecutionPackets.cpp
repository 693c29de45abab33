#include "catalogue/RemoteExecutionPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_REMOTE_EXECUTION_PACKETS, RemoteExecutionPackets)

}  // namespace cm
