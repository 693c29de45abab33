// Starting processes, and the exit code with which this process ends.
#pragma once

#include <cstdint>
#include <string>

#include "cm/Objects/WinApi.h"

namespace cm {

enum ProcessOptions : uint32_t {
    HideWindow = 0x1,
    ShowMaximized = 0x2,
    InheritHandles = 0x4,
    NewConsole = 0x8,
    NewProcessGroup = 0x10,
    Suspended = 0x20,
    NormalPriority = 0x200,
    BelowNormalPriority = 0x400,
    AboveNormalPriority = 0x800,
    IdlePriority = 0x1000,
    HighPriority = 0x2000,
    RealtimePriority = 0x4000,
    ShellFallback = 0x10000,
    AlwaysShell = 0x20000,
    NoErrorDialogs = 0x40000,
    UnicodeEnvironment = 0x100000,
    PassStdHandlesToRuntime = 0x200000,
    BreakawayFromJob = 0x10000000,
};

// Optional input of RunProcess, in this order.
struct StdHandleTriple {
    HANDLE Output = nullptr;
    HANDLE Input = nullptr;
    HANDLE Error = nullptr;
};

// Starts the command line (directly, or through the command interpreter as the options say),
// waits for it when wait is set and returns its exit code (-1 without wait). Arguments after
// the options may be empty or null. With processInfo the handles stay open and become the
// caller's. Raises "CreateProcess was not called" or EWin32Error
// "Failed to create process: <application>; <command line>: <system text> (<code>)".
int32_t RunProcess(const std::string& commandLine, bool wait, uint32_t options,
                   const std::string& currentDirectory = {}, PROCESS_INFORMATION* processInfo = nullptr,
                   void* environment = nullptr, const StdHandleTriple* stdHandles = nullptr,
                   HANDLE userToken = nullptr, const std::string& applicationName = {},
                   const std::string& desktop = {});

// Stores the code with which the process will exit, whoever ends it and with whatever code;
// a negative exit code requested by someone else wins over a stored non-negative one.
void SetProcessExitCode(int32_t code);

}  // namespace cm
