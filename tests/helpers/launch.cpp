// launch: starts a command line, waits for it and prints its exact 32-bit exit code, which a
// Unix shell under Wine would cut to 8 bits.
//   launch COMMAND LINE...      -> prints "exit code: N" (signed decimal) on standard error
// The child inherits the standard handles.
#include <cstdio>
#include <string>

#include "cm/Objects.h"
#include "support/ProcessStart.h"

int main() {
    std::string commandLine = GetCommandLineA();
    cm::RemoveFirstArgument(commandLine, true);
    if (commandLine.empty()) {
        std::fprintf(stderr, "usage: launch COMMAND LINE...\n");
        return 2;
    }
    try {
        int32_t code = cm::test::RunProcessRetrying(commandLine, true, cm::InheritHandles);
        std::fprintf(stderr, "exit code: %ld\n", static_cast<long>(code));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "launch: %s\n", e.what());
        return 1;
    }
}
