// The guarded message loop of threads that own windows: dispatch errors of window procedures
// are kept, logged through the thread report hooks and shown or raised again. Win32 only.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "cm/EventLog/EventLog.h"
#include "cm/Objects/WinApi.h"

namespace cm {

enum TMessageLoopOption : uint32_t {
    MessageLoopShow = 1,     // show a dispatch error to the user
    MessageLoopReraise = 2,  // raise a dispatch error again, which ends the loop
};

// Runs the calling thread's message loop until WM_QUIT. WM_DEVICECHANGE is never dispatched.
// Each dispatched message is bracketed by the events "Handling message <dw>" (kind 3) and "Done"
// (kind 4, extra value -1) in eventLog, or in DefaultEventLog() when none is given.
// A dispatch error (an exception a window procedure of this thread kept with
// KeepDispatchException) other than EAbort is logged with LogWarning as "Message Dispatch Error",
// with the message's hWnd, msg, wParam and lParam in hex (msg with 8 digits, the pointer-sized
// others with the pointer's width: 8 on x86, 16 on x64) and the error's text, then shown and/or
// raised again as the options say. Raises EWin32Error "Failed to get message" when the system
// cannot deliver messages.
void MessageLoop(uint32_t options, TEventLog* eventLog = nullptr);

// True when the running executable's header names the console subsystem (read from the image in
// memory).
bool IsConsoleProgram();

// "Exception <class> in module <file name> at <offset in the module>.\n<message>", with a full
// stop added to a message that does not end with one: the text a shown dispatch error has. A C++
// throw carries no faulting address; the loop passes the raising window's procedure.
std::string DispatchErrorText(const std::exception& error, const void* faultAddress);

// A C++ exception cannot unwind through the system's dispatch code, so window procedures run
// their work through GuardWindowProc: an exception is kept for this thread's MessageLoop, which
// treats it as raised by the dispatch, and the procedure returns failResult. Outside a dispatch of
// MessageLoop (no loop on this thread, or a message sent while it waits) no loop would report it:
// it is logged at once as a "Message Dispatch Error" warning (EAbort excepted).
void KeepDispatchException(std::exception_ptr error) noexcept;
template <class F>
LRESULT GuardWindowProc(F&& body, LRESULT failResult = 0) noexcept {
    try {
        return body();
    } catch (...) {
        KeepDispatchException(std::current_exception());
        return failResult;
    }
}

}  // namespace cm
