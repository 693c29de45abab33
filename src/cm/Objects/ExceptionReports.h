// The per-thread switch of exception reports, NoExceptionReports of the exception watch
// (diagnostics/ExceptWatch.h, which includes this header): while a thread's counter is above 0,
// the watch writes no report of an exception raised or dispatched on that thread. The watch's
// report routines raise it while they run, so that an exception inside a report is not reported;
// code that expects to fault (reading the class of an object that may be gone) turns reports off
// around itself. A fault there is still raised as its exception class. It lives here, below the
// diagnostics, so that the shared layer can use it without depending on the log. Win32 only.
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
