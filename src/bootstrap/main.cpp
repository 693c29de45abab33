// The bootstrap's program entry: runs the main sequence and ends with its exit code.
#include "bootstrap/SetupCore.h"
#include "cm/Objects/WinApi.h"

int main() {
    bootstrap::SetupCore core(GetModuleHandleA(nullptr));
    // The stored exit code also wins over the runtime's own exit; returning it as well keeps
    // the outcome right should the exit detour be unavailable.
    return core.Run();
}
