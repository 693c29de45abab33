#include "bootstrap/ProgramModules.h"

#include <iterator>
#include <vector>

#include "bootstrap/AppRemoteControl.h"
#include "cm/NotifyQueue/NotifyQueue.h"
#include "diagnostics/ExceptWatch.h"
#include "diagnostics/Logs.h"
#include "catalogue/PacketModules.h"
#include "catalogue/ProductInfoLoader.h"
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

// Each module after the modules it uses; the packet modules (cm::PacketModules) come first.
constexpr cm::TModuleEntry LaterModules[] = {
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
    static const std::vector<cm::TModuleEntry> modules = [] {
        const std::span<const cm::TModuleEntry> packets = cm::PacketModules();
        std::vector<cm::TModuleEntry> all(packets.begin(), packets.end());
        all.insert(all.end(), std::begin(LaterModules), std::end(LaterModules));
        return all;
    }();
    return modules;
}

}  // namespace bootstrap
