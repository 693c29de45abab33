#include "bootstrap/ProgramModules.h"

#include "bootstrap/AppRemoteControl.h"
#include "cm/NotifyQueue/NotifyQueue.h"
#include "diagnostics/ExceptWatch.h"
#include "diagnostics/Logs.h"
#include "catalogue/Catalogue.h"
#include "catalogue/ProductInfoLoader.h"
#include "catalogue/SetupPackets.h"
#include "catalogue/SocketComm.h"

namespace bootstrap {

namespace {

// The log names its registry key after the product caption, which this start-up hands it.
void InitializeLogsOfProduct() { cm::InitializeLogs(&cm::ProductCaptionBesideExecutable); }

// The socket communication layer's start-up: its settings, as a forced log entry. Like the log's
// start banner, an entry that cannot be written does not stop the program.
void InitializeSocketComm() {
    try {
        cm::LogWrite(cm::SocketCommSettingsEntry(cm::LogTitleLine(cm::SocketCommSettingsTitle, '-')), cm::LogForced);
    } catch (...) {
    }
}

// Each module after the modules it uses. The packet framework registers TPacket first and every
// packet unit its classes in declaration order: class numbers follow this list.
constexpr cm::TModuleEntry Modules[] = {
    {"cm/Packets", cm::InitializePackets, nullptr},
    {"SetupPackets", cm::InitializeSetupPackets, nullptr},
    {"ProductInformation", cm::InitializeProductInformation, nullptr},
    // The protocol packet catalogue, unit by unit (catalogue/Catalogue.h lists them in this order).
    {"RemoteExceptionPackets", cm::InitializeRemoteExceptionPackets, nullptr},
    {"AgentPackets", cm::InitializeAgentPackets, nullptr},
    {"PdbForwarderPackets", cm::InitializePdbForwarderPackets, nullptr},
    {"VEPackets", cm::InitializeVEPackets, nullptr},
    {"BuildCommandPackets", cm::InitializeBuildCommandPackets, nullptr},
    {"RemoteExecutionPackets", cm::InitializeRemoteExecutionPackets, nullptr},
    {"BuildJobPackets", cm::InitializeBuildJobPackets, nullptr},
    {"JobHistoryPackets", cm::InitializeJobHistoryPackets, nullptr},
    {"AgentServicePackets", cm::InitializeAgentServicePackets, nullptr},
    {"GraphPackets", cm::InitializeGraphPackets, nullptr},
    {"MonitorEventPackets", cm::InitializeMonitorEventPackets, nullptr},
    {"WrapperStatusPackets", cm::InitializeWrapperStatusPackets, nullptr},
    {"CoordinatorPackets", cm::InitializeCoordinatorPackets, nullptr},
    // The log reads its "Level" under a key built from the product caption.
    {"Logs", InitializeLogsOfProduct, cm::FinalizeLogs},
    // Part of the catalogue's start-up, after the log because it writes into it.
    {"SocketComm", InitializeSocketComm, nullptr},
    // Reports into the log from here on; its interception points stay for the life of the process.
    {"ExceptWatch", cm::InitializeExceptWatch, nullptr},
    // The main thread's notify queue comes after the log, so that it is freed before the log
    // closes: the report of notifications still pending at shut-down must reach the log.
    {"cm/NotifyQueue", cm::InitializeNotifyQueue, cm::FinalizeNotifyQueue},
    // Its quit clock is made on the main thread's queue; its failure is logged.
    {"AppRemoteControl", InitializeAppRemoteControl, FinalizeAppRemoteControl},
};

}  // namespace

std::span<const cm::TModuleEntry> ProgramModules() {
    return Modules;
}

}  // namespace bootstrap
