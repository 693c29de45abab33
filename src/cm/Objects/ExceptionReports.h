// The per-thread switch of exception reports: while a thread's counter is above 0, the exception
// watch writes no report of an exception raised or dispatched on that thread. Code that expects
// to fault (reading the class of an object that may be gone) turns reports off around itself.
// Win32 only.
#pragma once

namespace cm {

// Raise and lower the calling thread's counter. Every ExceptionReportsOff is paired with an
// ExceptionReportsOn on all paths: prefer TExceptionReportsOff.
void ExceptionReportsOff() noexcept;
void ExceptionReportsOn() noexcept;
// The calling thread's counter (0 when reports are on).
int NoExceptionReports() noexcept;

// Keeps exception reports off on the calling thread for its lifetime.
class TExceptionReportsOff {
public:
    TExceptionReportsOff() noexcept { ExceptionReportsOff(); }
    ~TExceptionReportsOff() { ExceptionReportsOn(); }
    TExceptionReportsOff(const TExceptionReportsOff&) = delete;
    TExceptionReportsOff& operator=(const TExceptionReportsOff&) = delete;
};

}  // namespace cm
