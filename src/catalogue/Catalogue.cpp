#include "catalogue/Catalogue.h"

namespace cm {

namespace {

const TCatalogueUnit* const Units[] = {
    &RemoteExceptionPacketsUnit,
    &AgentPacketsUnit,
    &PdbForwarderPacketsUnit,
    &VEPacketsUnit,
    &BuildCommandPacketsUnit,
    &RemoteExecutionPacketsUnit,
    &BuildJobPacketsUnit,
    &JobHistoryPacketsUnit,
    &AgentServicePacketsUnit,
    &GraphPacketsUnit,
    &MonitorEventPacketsUnit,
    &WrapperStatusPacketsUnit,
    &CoordinatorPacketsUnit,
};

}  // namespace

std::span<const TCatalogueUnit* const> CatalogueUnits() {
    return Units;
}

}  // namespace cm
