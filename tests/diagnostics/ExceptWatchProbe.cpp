// A program that starts the log and the exception watch as the product's programs do, and then
// does what its arguments say; the watch tests run copies of it from their own directories, each
// with its own Logs directory.
//   <failing>        the interception points (bits of TInterceptionPoint) whose installation is
//                    made to fail through the test seam; 0 for none
//   then, in order:  throw    raise and catch cm::Exception("probe exception")
//                    divide   an integer division by zero, caught
//                    thread   a thread of the system's own whose body faults and catches nothing
// Exit code 0 after the last action, unless the watch ends the process.
#include <cstdlib>
#include <cstring>
#include <string>

#include "cm/Objects/Errors.h"
#include "diagnostics/ExceptWatch.h"
#include "diagnostics/Logs.h"

namespace {

[[gnu::noinline]] void Raise() { throw cm::Exception("probe exception"); }

// The quotient is stored: a division whose result nobody uses is left out, fault and all.
volatile int gQuotient = 0;
[[gnu::noinline]] void Divide(volatile int* a, volatile int* b) { gQuotient = *a / *b; }

DWORD WINAPI FaultingThread(void*) {
    volatile uintptr_t address = 0x30;
    return static_cast<DWORD>(*reinterpret_cast<volatile int*>(address));
}

}  // namespace

int main(int argc, char** argv) {
    cm::InitializeLogs(nullptr);
    cm::InstallExceptWatch(argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0)) : 0);
    for (int i = 2; i < argc; ++i) {
        const std::string action = argv[i];
        if (action == "throw") {
            try {
                Raise();
            } catch (const cm::Exception&) {
            }
        } else if (action == "divide") {
            volatile int one = 1, zero = 0;
            try {
                Divide(&one, &zero);
            } catch (const cm::EFault&) {
            }
        } else if (action == "thread") {
            HANDLE thread = ::CreateThread(nullptr, 0, &FaultingThread, nullptr, 0, nullptr);
            ::WaitForSingleObject(thread, INFINITE);
            ::CloseHandle(thread);
        }
    }
    cm::FinalizeLogs();
    return 0;
}
