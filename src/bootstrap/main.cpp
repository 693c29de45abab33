// The bootstrap's program entry: starts the modules in order, runs the main sequence and ends
// with its exit code; the modules are finalised in reverse order.
#include "bootstrap/PhaseTimes.h"
#include "bootstrap/ProgramModules.h"
#include "bootstrap/SetupCore.h"
#include "cm/Objects/WinApi.h"

int main() {
    // What the system did before the entry: the image and its libraries loaded, the runtime started.
    bootstrap::MarkPhase("entry");
    int32_t exitCode;
    try {
        // Started first: the check of a large payload is the longest work before the first
        // write, and overlaps the start-up this way.
        auto payloadCheck = std::make_unique<bootstrap::TPayloadCheck>(GetModuleHandleA(nullptr));
        cm::TModuleRunner modules(bootstrap::ProgramModules(),
                                  [](const cm::TModuleEntry& module) noexcept { bootstrap::MarkPhase(module.Name); });
        bootstrap::SetupCore core(GetModuleHandleA(nullptr), std::move(payloadCheck));
        exitCode = core.Run();
    } catch (const std::exception& e) {
        // Start-up failed before the main sequence could report anything itself.
        exitCode = bootstrap::SetupCore::ReportStartupFailure(GetModuleHandleA(nullptr), e.what());
    }
    // The stored exit code also wins over the runtime's own exit; returning it as well keeps
    // the outcome right should the exit detour be unavailable.
    return exitCode;
}
