#include "catalogue/PdbForwarderPackets.h"

namespace cm {

CM_CATALOGUE_DEFINE(CM_PDB_FORWARDER_PACKETS, PdbForwarderPackets)

}  // namespace cm
