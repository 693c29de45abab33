// The guarded message loop of threads that own windows.
#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <typeinfo>

#include "cm/ThreadPool/SafeThread.h"
#include "cm/ThreadPool/MessageLoop.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/Format.h"
#include "cm/Objects/Strings.h"

namespace cm {

namespace {

constexpr UINT DeviceChangeMessage = WM_DEVICECHANGE;  // never dispatched by the loop
constexpr int32_t HandlingEventKind = 3;
constexpr int32_t DoneEventKind = 4;

// A warning through the installed report hook (none: dropped).
void ReportWarning(const std::string& text) noexcept {
    if (auto hook = ThreadReportHooks().Warning) hook(text);
}

// The exception a window procedure of this thread kept for the loop (see GuardWindowProc).
thread_local std::exception_ptr PendingDispatchError;
// Dispatches of MessageLoop in progress on this thread: only inside one is a kept error reported
// by the loop. Kept in a system thread-local slot, as the log keeps its writer frame: a compiler
// thread_local counter here was seen to corrupt a neighbouring heap block in the x64 build under
// Wine (cause not found; the slot shows no such effect).
DWORD DispatchDepthSlot() {
    static const DWORD slot = ::TlsAlloc();
    return slot;
}
intptr_t LoopDispatchDepth() {
    const DWORD lastError = ::GetLastError();  // TlsGetValue clears it
    const auto depth = reinterpret_cast<intptr_t>(::TlsGetValue(DispatchDepthSlot()));
    ::SetLastError(lastError);
    return depth;
}
void AddLoopDispatchDepth(intptr_t delta) {
    ::TlsSetValue(DispatchDepthSlot(), reinterpret_cast<void*>(LoopDispatchDepth() + delta));
}

// The class name of the exception without its namespace ("EWin32Error").
std::string ExceptionClassName(const std::exception& e) {
    const char* mangled = typeid(e).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = (status == 0 && demangled) ? demangled : mangled;
    std::free(demangled);
    const size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

// A C++ throw carries no faulting address; the window procedure that raised is the code the
// report points at (the loop itself for a message without a window).
const void* FaultAddress(HWND window) {
    if (window) {
        if (const LONG_PTR proc = ::GetWindowLongPtrA(window, GWLP_WNDPROC)) return reinterpret_cast<const void*>(proc);
    }
    return reinterpret_cast<const void*>(&MessageLoop);
}

// Shows the dispatch error text in a message box titled "Application Error", or as a line on the
// console in a console program.
void ShowDispatchError(const std::exception& e, HWND window) {
    const std::string text = DispatchErrorText(e, FaultAddress(window));
    if (IsConsoleProgram()) {
        std::fprintf(stdout, "%s\n", text.c_str());
        std::fflush(stdout);
    } else {
        ::MessageBoxA(nullptr, text.c_str(), "Application Error", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    }
}

void HandleDispatchError(const MSG& msg, uint32_t options) {
    try {
        throw;
    } catch (const EAbort&) {
        return;
    } catch (const std::exception& e) {
        // The window and both parameters are pointer-sized and print whole: 8 digits on x86, 16 on
        // x64 (a parameter often carries an address); the message number is 32 bits everywhere.
        constexpr int PointerDigits = static_cast<int>(2 * sizeof(void*));
        ReportWarning("Message Dispatch Error\r\n    hWnd   = 0x" +
                      HexDigits(reinterpret_cast<uintptr_t>(msg.hwnd), PointerDigits) +
                      "\r\n    msg    = 0x" + HexDigits(msg.message, 8) +
                      "\r\n    wParam = 0x" + HexDigits(static_cast<uintptr_t>(msg.wParam), PointerDigits) +
                      "\r\n    lParam = 0x" + HexDigits(static_cast<uintptr_t>(msg.lParam), PointerDigits) + "\r\n" +
                      e.what());
        if (options & MessageLoopShow) ShowDispatchError(e, msg.hwnd);
        if (options & MessageLoopReraise) throw;
    }
}

}  // namespace

bool IsConsoleProgram() {
    const auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

std::string DispatchErrorText(const std::exception& e, const void* faultAddress) {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(faultAddress), &module);
    char path[MAX_PATH] = {};
    if (module) ::GetModuleFileNameA(module, path, MAX_PATH);
    const auto offset = reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(faultAddress) -
                                                      reinterpret_cast<uintptr_t>(module));
    const std::string message = e.what();
    const char* stop = (!message.empty() && message.back() != '.') ? "." : "";
    return Format("Exception %s in module %s at %p.\n%s%s",
                  {ExceptionClassName(e), ExtractNamePart(path), offset, message, stop});
}

void KeepDispatchException(std::exception_ptr error) noexcept {
    if (LoopDispatchDepth() == 0) {
        // No loop of this thread will report it (a thread without MessageLoop, or a message sent
        // from another thread while this one waits for messages): it is logged here and now.
        try {
            std::rethrow_exception(error);
        } catch (const EAbort&) {
        } catch (const std::exception& e) {
            ReportWarning(std::string("Message Dispatch Error\r\n") + e.what());
        } catch (...) {
            ReportWarning("Message Dispatch Error\r\nUnknown exception");
        }
        return;
    }
    // The first error of a dispatch wins; a nested dispatch's error is not overwritten.
    if (!PendingDispatchError) PendingDispatchError = std::move(error);
}

void MessageLoop(uint32_t options, TEventLog* eventLog) {
    TEventLog& log = eventLog ? *eventLog : DefaultEventLog();
    MSG msg{};
    for (;;) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) break;
        if (got == -1) RaiseLastSystemError("Failed to get message");
        if (msg.message == DeviceChangeMessage) continue;
        const TEventArgs args{static_cast<uint32_t>(msg.message)};
        log.WriteEvent("Handling message <dw>", args, DefaultEventNumberValue, HandlingEventKind, 0);
        try {
            PendingDispatchError = nullptr;
            // Neither call raises (window procedures keep their errors), so no unwinding can skip
            // the decrement.
            AddLoopDispatchDepth(1);
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
            AddLoopDispatchDepth(-1);
            if (PendingDispatchError) std::rethrow_exception(std::exchange(PendingDispatchError, nullptr));
        } catch (...) {
            log.WriteEvent("Done", args, DefaultEventNumberValue, DoneEventKind, -1);
            HandleDispatchError(msg, options);
            continue;
        }
        log.WriteEvent("Done", args, DefaultEventNumberValue, DoneEventKind, -1);
    }
}

}  // namespace cm
