// Test support (Windows): every process a test starts goes through here.
//
// Wine refuses a process start now and then with ERROR_INTERNAL_ERROR (1359), seen on loaded
// machines: the new process's loader ended before it had reported to Wine's server that it runs
// (the server then has neither a running process nor an exit code for it, and the start reports
// the internal error). A second start of the same program works. Only that error is retried, a
// bounded number of times, each retry said on the standard error stream; every other failure is
// the test's.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Process.h"
#include "cm/Objects/WinApi.h"

namespace cm::test {

constexpr int ProcessStartTries = 3;
constexpr DWORD ProcessStartRetryPauseMs = 250;

namespace detail {
inline void SayRetry(const char* what, int attempt) {
    std::fprintf(stderr, "process start: %s refused with ERROR_INTERNAL_ERROR, try %d of %d\n", what, attempt + 1,
                 ProcessStartTries);
    std::fflush(stderr);
    ::Sleep(ProcessStartRetryPauseMs);
}
}  // namespace detail

// CreateProcessA, started again while it fails with ERROR_INTERNAL_ERROR.
inline BOOL CreateProcessRetrying(const char* application, char* commandLine, SECURITY_ATTRIBUTES* processAttributes,
                                  SECURITY_ATTRIBUTES* threadAttributes, BOOL inheritHandles, DWORD flags,
                                  void* environment, const char* currentDirectory, STARTUPINFOA* startup,
                                  PROCESS_INFORMATION* information) {
    for (int attempt = 1;; ++attempt) {
        if (::CreateProcessA(application, commandLine, processAttributes, threadAttributes, inheritHandles, flags,
                             environment, currentDirectory, startup, information))
            return TRUE;
        if (::GetLastError() != ERROR_INTERNAL_ERROR || attempt == ProcessStartTries) return FALSE;
        detail::SayRetry(commandLine != nullptr ? commandLine : application, attempt);
    }
}

// start() (one process start through cm::RunProcess, or anything that raises its EWin32Error),
// called again while it raises ERROR_INTERNAL_ERROR. Returns what start returns.
template <class Start>
auto StartRetrying(Start&& start) -> decltype(start()) {
    for (int attempt = 1;; ++attempt) {
        try {
            return start();
        } catch (const EWin32Error& e) {
            if (e.ErrorCode != ERROR_INTERNAL_ERROR || attempt == ProcessStartTries) throw;
            detail::SayRetry(e.what(), attempt);
        }
    }
}

// cm::RunProcess through StartRetrying.
inline int32_t RunProcessRetrying(const std::string& commandLine, bool wait, uint32_t options,
                                  const std::string& currentDirectory = {}, PROCESS_INFORMATION* processInfo = nullptr,
                                  void* environment = nullptr, const StdHandleTriple* stdHandles = nullptr,
                                  HANDLE userToken = nullptr, const std::string& applicationName = {},
                                  const std::string& desktop = {}) {
    return StartRetrying([&] {
        return RunProcess(commandLine, wait, options, currentDirectory, processInfo, environment, stdHandles,
                          userToken, applicationName, desktop);
    });
}

}  // namespace cm::test
