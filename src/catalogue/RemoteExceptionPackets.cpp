#include "catalogue/RemoteExceptionPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_REMOTE_EXCEPTION_PACKETS, RemoteExceptionPackets)

}  // namespace cm
