// RunProcess: the general process launcher of cm/Objects.
#include "cm/Objects/Process.h"

#include <cstring>
#include <string_view>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/Sync.h"
#include "cm/Objects/SystemWrappers.h"

namespace cm {
namespace {

// Error mode while starting with NoErrorDialogs: fail critical errors, no fault dialog, no
// open-file error box (SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX).
constexpr UINT NoErrorDialogsMode = 0x8003;

// The language runtime's inherited-handle block in STARTUPINFO's reserved fields: an int32 count,
// one flag byte per handle, then the handles as pointer-sized values. 0xC1 marks a handle as open
// (FOPEN), a device (FDEV) and text mode (FTEXT).
constexpr int32_t RuntimeHandleCount = 3;
constexpr uint8_t RuntimeHandleFlags = 0xC1;
// The C runtime reads each handle slot as a pointer-sized integer: 19 bytes on x86, 31 on x64.
constexpr size_t RuntimeHandleSlotSize = sizeof(intptr_t);
constexpr size_t RuntimeBlockSize = 4 + RuntimeHandleCount + RuntimeHandleSlotSize * RuntimeHandleCount;
static_assert(sizeof(void*) != 4 || RuntimeBlockSize == 19);

constexpr std::string_view CommandInterpreterName = "cmd.exe";
constexpr std::string_view CommandInterpreterPrefix = "cmd /c ";

// Windows 2000 (major version 5) introduced the below- and above-normal priority classes.
constexpr DWORD FirstVersionWithIntermediatePriorities = 5;

struct OptionFlag {
    uint32_t Option;
    DWORD Flag;
};

constexpr OptionFlag CreationFlagTable[] = {
    {NewConsole, CREATE_NEW_CONSOLE},
    {NewProcessGroup, CREATE_NEW_PROCESS_GROUP},
    {Suspended, CREATE_SUSPENDED},
    {UnicodeEnvironment, CREATE_UNICODE_ENVIRONMENT},
    {BreakawayFromJob, CREATE_BREAKAWAY_FROM_JOB},
    {NormalPriority, NORMAL_PRIORITY_CLASS},
    {IdlePriority, IDLE_PRIORITY_CLASS},
    {HighPriority, HIGH_PRIORITY_CLASS},
    {RealtimePriority, REALTIME_PRIORITY_CLASS},
};

DWORD WindowsMajorVersion() {
    return LOBYTE(LOWORD(::GetVersion()));
}

DWORD CreationFlags(uint32_t options) {
    DWORD flags = 0;
    for (const OptionFlag& entry : CreationFlagTable)
        if (options & entry.Option) flags |= entry.Flag;
    if (options & (BelowNormalPriority | AboveNormalPriority)) {
        const bool intermediate = WindowsMajorVersion() >= FirstVersionWithIntermediatePriorities;
        if (options & BelowNormalPriority) flags |= intermediate ? BELOW_NORMAL_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS;
        if (options & AboveNormalPriority) flags |= intermediate ? ABOVE_NORMAL_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS;
    }
    return flags;
}

// ANSI (code page of the system) to UTF-16; the process is started with the wide call so that
// the desktop name, which only STARTUPINFOW carries as the caller gave it, travels the same way.
std::wstring Widen(std::string_view text) {
    if (text.empty()) return {};
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    CheckSystemCall(length > 0, "Failed to convert text to Unicode");
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// Sets the process error mode for its lifetime and puts the previous mode back at the end,
// also when the start raises.
class ErrorModeScope {
public:
    explicit ErrorModeScope(bool active) : active_(active) {
        if (active_) previous_ = ::SetErrorMode(NoErrorDialogsMode);
    }
    ~ErrorModeScope() {
        if (active_) ::SetErrorMode(previous_);
    }
    ErrorModeScope(const ErrorModeScope&) = delete;
    ErrorModeScope& operator=(const ErrorModeScope&) = delete;

private:
    bool active_;
    UINT previous_ = 0;
};

// One CreateProcess call and what it left behind.
struct StartAttempt {
    bool Made = false;
    bool Succeeded = false;
    DWORD ErrorCode = 0;
    std::string Message;
};

// The prepared arguments shared by both attempts.
struct StartRequest {
    STARTUPINFOW* StartupInfo;
    bool Inherit;
    DWORD Flags;
    void* Environment;
    HANDLE UserToken;
    std::wstring CurrentDirectory;
};

struct StartedProcess {
    UniqueHandle Process;
    UniqueHandle Thread;
    DWORD ProcessId = 0;
    DWORD ThreadId = 0;
};

// Starts one process. On failure the attempt carries the last error and nothing is left open.
StartAttempt TryStart(const StartRequest& request, const std::string& applicationName, const std::string& commandLine,
                      StartedProcess& started) {
    StartAttempt attempt;
    attempt.Made = true;
    attempt.Message = "Failed to create process: " + applicationName + "; " + commandLine;

    std::wstring wideApplication = Widen(applicationName);
    // CreateProcessW may write into the command line, so it gets a buffer of its own; with
    // neither an application nor a command line it is given one blank rather than nothing.
    std::wstring wideCommandLine =
        applicationName.empty() && commandLine.empty() ? std::wstring(L" ") : Widen(commandLine);

    PROCESS_INFORMATION info{};
    const wchar_t* application = wideApplication.empty() ? nullptr : wideApplication.c_str();
    wchar_t* command = wideCommandLine.empty() ? nullptr : wideCommandLine.data();
    const wchar_t* directory = request.CurrentDirectory.empty() ? nullptr : request.CurrentDirectory.c_str();
    BOOL ok;
    if (request.UserToken)
        ok = ::CreateProcessAsUserW(request.UserToken, application, command, nullptr, nullptr, request.Inherit,
                                    request.Flags, request.Environment, directory, request.StartupInfo, &info);
    else
        ok = ::CreateProcessW(application, command, nullptr, nullptr, request.Inherit, request.Flags,
                              request.Environment, directory, request.StartupInfo, &info);
    attempt.ErrorCode = ::GetLastError();
    started.Process.reset(info.hProcess);
    started.Thread.reset(info.hThread);
    if (ok) {
        attempt.Succeeded = true;
        started.ProcessId = info.dwProcessId;
        started.ThreadId = info.dwThreadId;
    } else {
        started = StartedProcess{};
    }
    return attempt;
}

}  // namespace

int32_t RunProcess(const std::string& commandLine, bool wait, uint32_t options, const std::string& currentDirectory,
                   PROCESS_INFORMATION* processInfo, void* environment, const StdHandleTriple* stdHandles,
                   HANDLE userToken, const std::string& applicationName, const std::string& desktop) {
    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof startupInfo;
    std::wstring wideDesktop = Widen(desktop);
    if (!wideDesktop.empty()) startupInfo.lpDesktop = wideDesktop.data();

    if (options & (HideWindow | ShowMaximized)) {
        startupInfo.dwFlags |= STARTF_USESHOWWINDOW;
        startupInfo.wShowWindow = (options & ShowMaximized) ? SW_SHOWMAXIMIZED : SW_HIDE;
    }
    if (stdHandles) {
        startupInfo.dwFlags |= STARTF_USESTDHANDLES;
        startupInfo.hStdInput = stdHandles->Input;
        startupInfo.hStdOutput = stdHandles->Output;
        startupInfo.hStdError = stdHandles->Error;
    }

    // The child's language runtime takes its standard streams from this block when present.
    uint8_t runtimeBlock[RuntimeBlockSize] = {};
    if (options & PassStdHandlesToRuntime) {
        HANDLE handles[RuntimeHandleCount];
        if (startupInfo.dwFlags & STARTF_USESTDHANDLES) {
            handles[0] = startupInfo.hStdInput;
            handles[1] = startupInfo.hStdOutput;
            handles[2] = startupInfo.hStdError;
        } else {
            handles[0] = ::GetStdHandle(STD_INPUT_HANDLE);
            handles[1] = ::GetStdHandle(STD_OUTPUT_HANDLE);
            handles[2] = ::GetStdHandle(STD_ERROR_HANDLE);
        }
        std::memcpy(runtimeBlock, &RuntimeHandleCount, 4);
        std::memset(runtimeBlock + 4, RuntimeHandleFlags, RuntimeHandleCount);
        for (int i = 0; i < RuntimeHandleCount; ++i) {
            const intptr_t value = reinterpret_cast<intptr_t>(handles[i]);
            std::memcpy(runtimeBlock + 4 + RuntimeHandleCount + RuntimeHandleSlotSize * i, &value, RuntimeHandleSlotSize);
        }
        startupInfo.cbReserved2 = RuntimeBlockSize;
        startupInfo.lpReserved2 = runtimeBlock;
    }

    StartRequest request{&startupInfo, (options & InheritHandles) != 0, CreationFlags(options), environment,
                         userToken, Widen(currentDirectory)};
    StartedProcess started;
    StartAttempt last;
    {
        ErrorModeScope errorMode((options & NoErrorDialogs) != 0);

        const bool redirects = commandLine.find_first_of("<>") != std::string::npos;
        const bool shellAtOnce =
            (options & AlwaysShell) || ((options & ShellFallback) && applicationName.empty() && redirects);
        if (!shellAtOnce) last = TryStart(request, applicationName, commandLine, started);
        if (shellAtOnce || (!last.Succeeded && (options & ShellFallback))) {
            const std::string interpreter = CombinePath(SystemDirectory(), CommandInterpreterName);
            last = TryStart(request, interpreter, std::string(CommandInterpreterPrefix) + QuoteString(commandLine),
                            started);
        }
    }
    if (!last.Succeeded) {
        if (!last.Made) throw Exception("CreateProcess was not called");
        RaiseSystemError("%s", {last.Message}, last.ErrorCode);
    }

    int32_t exitCode = -1;
    if (wait) {
        // The process may broadcast (setups do, after changing the environment): the caller's
        // windows answer meanwhile.
        try {
            WaitForObject(started.Process.get(), WaitInfinite, WaitDeliverSentMessages);
        } catch (const EWin32Error& e) {
            RaiseSystemError("Failed to wait for process %u", {static_cast<unsigned>(started.ProcessId)}, e.ErrorCode);
        }
        DWORD code = 0;
        CheckSystemCallFmt(::GetExitCodeProcess(started.Process.get(), &code) != FALSE,
                           "Failed to get exit code of process %u", {static_cast<unsigned>(started.ProcessId)});
        exitCode = static_cast<int32_t>(code);
    }
    if (processInfo) {
        processInfo->hProcess = started.Process.release();
        processInfo->hThread = started.Thread.release();
        processInfo->dwProcessId = started.ProcessId;
        processInfo->dwThreadId = started.ThreadId;
    }
    return exitCode;
}

}  // namespace cm
