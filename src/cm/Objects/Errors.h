// The program's exception family and the system error message form.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "cm/Objects/Format.h"

namespace cm {

// Base of the family: carries a formatted English message. Messages of nested failures are
// stacked outermost first, one line (CR LF) per level.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    const std::string& message() const noexcept { return Message; }

private:
    std::string Message;
};

// A failed system call: adds the Windows error code that caused it.
class EWin32Error : public Exception {
public:
    EWin32Error(std::string message, uint32_t errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
    uint32_t ErrorCode;
};

// The silent abort: callers stop what they do without reporting.
class EAbort : public Exception {
public:
    using Exception::Exception;
};

// A broken precondition (a programming error, not a user-facing failure).
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// The operating system's message text for an error code, trailing blanks, line ends and dots removed.
// Never raises; an unknown code gives a generic text naming the code.
std::string SystemErrorText(uint32_t code);

// The system error message form: Format(format, args) + ": " + system text + " (" + code + ")".
// The format is filled before the system text is appended, so a '%' in the system text is kept as is.
std::string SystemErrorMessage(std::string_view format, FormatArgs args, uint32_t code);

// Raises EWin32Error with ErrorCode = code and the system error message form.
[[noreturn]] void RaiseSystemError(std::string_view format, FormatArgs args, uint32_t code);

// The same with the calling thread's last error code (Win32 GetLastError; errno on the host).
[[noreturn]] void RaiseLastSystemError(std::string_view format, FormatArgs args = {});

// When ok is false: RaiseLastSystemError with the message (no arguments).
void CheckSystemCall(bool ok, std::string_view message);
void CheckSystemCallFmt(bool ok, std::string_view format, FormatArgs args);

// Only inside a catch block. Raises a new exception of the current one's kind (EAbort stays EAbort,
// EWin32Error keeps its ErrorCode, every other kind becomes Exception) whose message is
// message + CR LF + the current exception's message (just message when the current exception
// is not of the family).
[[noreturn]] void ReraiseWithContext(std::string_view message);
[[noreturn]] void ReraiseWithContextFmt(std::string_view format, FormatArgs args);

// "Assertion failure" naming the unit and the line; raises EAssertionFailed.
[[noreturn]] void AssertionFailure(const char* unit, int line, const char* condition);

}  // namespace cm

// Checks a precondition of the named unit ("cm/Objects", "cm/Lists", ...).
#define CM_ASSERT(unit, condition) \
    do { if (!(condition)) ::cm::AssertionFailure(unit, __LINE__, #condition); } while (0)
