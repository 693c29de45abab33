// The exception watch: a forced log entry for every exception of the process. A "Raised
// Exception" report when the program's code throws an object, an "Exception" report each time
// the unwinder consults one of the program's frames for it, and an "Exception" report for every
// processor or system exception (access violation, division by zero, ...). Faults in the
// program's own code are turned into C++ exceptions of the classes below, so that they unwind,
// clean up and end as errors of the exception family do. Win32 only.
//
// The interception points of this toolchain (mingw-w64 GCC, runtime linked statically):
//   any-exception      a vectored exception handler: every exception the system dispatches;
//   on-exception       the C++ personality routine (__gxx_personality_v0 on x86, whose DWARF
//                      unwinding never involves the system; __gxx_personality_seh0 on x64),
//                      wrapped at link time (-Wl,--wrap): consulted for each frame of the
//                      program that has handlers or clean-ups, in both passes;
//   exception-raising  the runtime's throw routine __cxa_throw, wrapped at link time.
// A C++ exception reports code ProgramExceptionCode, as an exception raised by the program's own
// code always does; on x64 its passage through the system's dispatcher (code GccThrowCode) is
// not reported a second time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <typeinfo>

#include "cm/Objects/Errors.h"
#include "cm/Objects/ExceptionReports.h"  // NoExceptionReports, ExceptionReportsOff/On, TExceptionReportsOff
#include "cm/Objects/WinApi.h"

namespace cm {

// The code a C++ exception of the program carries in its reports.
constexpr uint32_t ProgramExceptionCode = 0x0EEDFADE;
// The system exception by which the x64 runtime carries a C++ throw through the dispatcher (and
// its siblings 0x21474343, 0x22474343 for unwinding): never reported as a system exception.
constexpr uint32_t GccThrowCode = 0x20474343;
// The exit code of a process that a fault ends because nothing could handle it (a fault outside
// a frame that can unwind, a stack overflow): the program's fatal-error code.
constexpr uint32_t ExceptWatchFatalExitCode = 6;

// ---- The exceptions of processor and system faults ----

// Base of the fault classes: the system's exception code and the faulting address. Dispatched is
// set on an object the watch raised for a fault it has already reported.
class EFault : public Exception {
public:
    EFault(std::string message, uint32_t code, uintptr_t address)
        : Exception(std::move(message)), ExceptionCode(code), ExceptionAddress(address) {}
    // Throws a copy of this object as its own class.
    [[noreturn]] virtual void Raise() const = 0;
    uint32_t ExceptionCode;
    uintptr_t ExceptionAddress;
    bool Dispatched = false;
};

#define CM_FAULT_CLASS(Name)                                    \
    class Name : public EFault {                                \
    public:                                                     \
        using EFault::EFault;                                   \
        [[noreturn]] void Raise() const override { throw *this; } \
    };
CM_FAULT_CLASS(EDivByZero)
CM_FAULT_CLASS(ERangeError)
CM_FAULT_CLASS(EIntOverflow)
CM_FAULT_CLASS(EInvalidOp)
CM_FAULT_CLASS(EZeroDivide)
CM_FAULT_CLASS(EOverflow)
CM_FAULT_CLASS(EUnderflow)
CM_FAULT_CLASS(EAccessViolation)
CM_FAULT_CLASS(EPrivilege)
CM_FAULT_CLASS(EControlC)
CM_FAULT_CLASS(EStackOverflow)
CM_FAULT_CLASS(EExternalException)
#undef CM_FAULT_CLASS

// The exception of the code mapping for a system exception record: the class by the code, the
// message by the code ("Division by zero", ...; an access violation names the module that owns
// the faulting address when it can, the access kind and the target; any other code "External
// exception %x"). Raises only what allocation raises.
std::unique_ptr<EFault> CreateFaultException(const EXCEPTION_RECORD& record);

// The class name of a C++ exception object of the given type, without namespaces ("EAbort").
std::string ExceptionObjectClassName(const std::type_info& type);

// ---- The watch ----

enum TInterceptionPoint : uint32_t {
    ipAnyException = 1,     // the vectored handler
    ipOnException = 2,      // the personality routine
    ipExceptionRaising = 4, // the throw routine
};

// Module start-up: installs the interception points in the order any-exception, on-exception,
// exception-raising, on the NT family only. A point that cannot be installed writes its failure
// line with LogWrite and LogForced ("Failed to hook on-exception handler!\r\n", ...); the others
// are still tried. Also makes a fault that nothing can handle end the process with
// ExceptWatchFatalExitCode instead of a crash. Runs once; later calls do nothing. Never raises.
void InitializeExceptWatch();
// Test seam: InitializeExceptWatch as if the points in failing (TInterceptionPoint bits) could
// not be installed. Installs nothing once the watch is installed.
void InstallExceptWatch(uint32_t failing);
// The points installed (TInterceptionPoint bits).
uint32_t InstalledInterceptionPoints();

// The raised report of a C++ exception object of the given type, thrown with the stack at
// stackPosition. Nothing while NoExceptionReports() > 0, and nothing for EAbort. Never raises.
void ExceptionRaisedReport(const void* object, const std::type_info* type, const void* stackPosition) noexcept;
// The handler report of a system exception record and processor context (either may be null).
// A record with ProgramExceptionCode carries the object in its second information word and its
// std::type_info in the third. Nothing while NoExceptionReports() > 0. Never raises.
void ExceptionHandlerReport(const EXCEPTION_RECORD* record, const CONTEXT* context) noexcept;

}  // namespace cm
