// Shows the wait dialog as the bootstrap does and prints the system time (100 ns units since
// 1601) at which it is up, keeps it up for 300 ms and closes it. Run by wait_dialog_bench.sh.
#include <cstdio>

#include "bootstrap/WaitDialog.h"

int main() {
    bootstrap::TWaitDialog dialog(0, "Extracting setup files...", 4);
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    std::printf("%llu\n", (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    std::fflush(stdout);
    // Keep it up a moment, so that a watcher from outside sees it too.
    ::Sleep(300);
    return 0;
}
