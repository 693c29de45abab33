#include "catalogue/GraphPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_GRAPH_PACKETS, GraphPackets)

}  // namespace cm
