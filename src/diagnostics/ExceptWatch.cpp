// The exception watch: the reports, the code mapping, the vectored handler that reports system
// exceptions and turns faults of the program's code into C++ exceptions, and the wrapped throw
// routine. The personality wrappers are per architecture (ExceptWatch_x86.cpp, _x64.cpp).
#include "diagnostics/ExceptWatch.h"

#include <cxxabi.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "cm/EventLog/EventLog.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/SystemWrappers.h"
#include "diagnostics/CallTrace.h"
#include "diagnostics/ExceptWatchArch.h"
#include "diagnostics/Logs.h"

namespace cm {

namespace {

constexpr const char* NoMessage = "No Message";
constexpr const char* UnknownClass = "Unknown Class";
constexpr uint32_t ErrorSeverity = 0xC0000000;       // the top bits of an error code
constexpr uint32_t GccCodeMask = 0xF0FFFFFF;          // the GCC codes differ in bits 24-27 only
constexpr uint32_t NotFamilyNt = 0x80000000;          // GetVersion: set on the non-NT family
constexpr uint32_t StackOverflowCode = 0xC00000FD;
constexpr SIZE_T OverflowReporterStackBytes = 256 * 1024;  // the stack-overflow reporter's stack
constexpr int AddressDigits = CallTraceAddressDigits;  // 8 on x86, 16 on x64
// The class of a C++ exception of this runtime ("GNUCC++" + 0), and of one rethrown from an
// exception_ptr (+ 1), whose header points at the primary exception.
constexpr _Unwind_Exception_Class GnuCppClass = 0x474E5543432B2B00ull;
constexpr _Unwind_Exception_Class GnuCppDependentClass = 0x474E5543432B2B01ull;

// ---- Per-thread values in system slots (readable inside the system's dispatch, no runtime) ----

class TThreadValue {
public:
    TThreadValue() : Slot(::TlsAlloc()) {}
    void* Get() const {
        const DWORD lastError = ::GetLastError();  // TlsGetValue clears it
        void* value = ::TlsGetValue(Slot);
        ::SetLastError(lastError);
        return value;
    }
    void Set(void* value) const { ::TlsSetValue(Slot, value); }

private:
    DWORD Slot;
};

// The latest throw of the thread: its object and the return address of the raising call, whose
// call instruction the handler reports of that object show as the exception address.
const TThreadValue& ThrownObject() {
    static const TThreadValue value;
    return value;
}
const TThreadValue& ThrowAddress() {
    static const TThreadValue value;
    return value;
}

// Set on the installing thread while the probe exception runs: the wrappers note that they were
// reached instead of reporting.
struct TProbe {
    uint32_t Reached = 0;
    bool TypeFound = false;
};
struct TWatchProbe {};
const TThreadValue& ProbeValue() {
    static const TThreadValue value;
    return value;
}

// The fault the vectored handler left for CorvaneRaisePendingFault on this thread.
struct TPendingFault {
    EXCEPTION_RECORD Record;
};
const TThreadValue& PendingFaultValue() {
    static const TThreadValue value;
    return value;
}

struct TWatchState {
    std::atomic<uint32_t> Installed{0};
    std::atomic<bool> Started{false};
    uintptr_t ImageStart = 0;  // the program's image: faults there become exceptions
    uintptr_t ImageEnd = 0;
    LPTOP_LEVEL_EXCEPTION_FILTER PreviousFilter = nullptr;
};
TWatchState& State() {
    static TWatchState state;
    return state;
}

bool IsGccCode(uint32_t code) { return (code & GccCodeMask) == GccThrowCode; }

// ---- Exception objects ----

struct TObjectText {
    std::string ClassName = UnknownClass;
    std::string Message = NoMessage;
    bool Abort = false;
    const EFault* Fault = nullptr;
};

// Whether an object of type `type` would be caught as Target; adjusts object to the Target part.
template <class Target>
bool CatchesAs(const std::type_info& type, const void*& object) {
    void* adjusted = const_cast<void*>(object);
    if (!typeid(Target).__do_catch(&type, &adjusted, 1)) return false;
    object = adjusted;
    return true;
}

// Class name and message of a C++ exception object; what cannot be read keeps the defaults.
TObjectText DescribeObject(const void* object, const std::type_info* type) {
    TObjectText text;
    if (object == nullptr || type == nullptr) return text;
    text.ClassName = ExceptionObjectClassName(*type);
    const void* abort = object;
    text.Abort = CatchesAs<EAbort>(*type, abort);
    const void* fault = object;
    if (CatchesAs<EFault>(*type, fault)) text.Fault = static_cast<const EFault*>(fault);
    const void* standard = object;
    if (CatchesAs<std::exception>(*type, standard)) text.Message = static_cast<const std::exception*>(standard)->what();
    return text;
}

// The header the runtime keeps before every exception object (the C++ ABI's __cxa_exception,
// and __cxa_dependent_exception of the same size whose first word is the primary object). Read
// only for exceptions of class GnuCppClass/GnuCppDependentClass; the start-up probe checks it.
struct TCxaException {
    void* TypeOrPrimary;
    void (*Destructor)(void*);
    void (*UnexpectedHandler)();
    void (*TerminateHandler)();
    TCxaException* NextException;
    int HandlerCount;
    int HandlerSwitchValue;
    const unsigned char* ActionRecord;
    const unsigned char* LanguageSpecificData;
    _Unwind_Ptr CatchTemp;
    void* AdjustedPtr;
    _Unwind_Exception UnwindHeader;
};

const TCxaException* HeaderOf(const _Unwind_Exception* ue) {
    return reinterpret_cast<const TCxaException*>(reinterpret_cast<const char*>(ue) -
                                                  offsetof(TCxaException, UnwindHeader));
}

// The object and its type of a C++ exception of this runtime; false for any other.
bool CppException(_Unwind_Exception_Class exceptionClass, const _Unwind_Exception* ue, const void*& object,
                  const std::type_info*& type) {
    if (exceptionClass == GnuCppClass) {
        object = ue + 1;
        type = static_cast<const std::type_info*>(HeaderOf(ue)->TypeOrPrimary);
        return true;
    }
    if (exceptionClass == GnuCppDependentClass) {
        object = HeaderOf(ue)->TypeOrPrimary;
        type = static_cast<const std::type_info*>((static_cast<const TCxaException*>(object) - 1)->TypeOrPrimary);
        return true;
    }
    return false;
}

// ---- Code mapping ----

enum class TFaultKind {
    DivByZero, RangeError, IntOverflow, InvalidOp, ZeroDivide, Overflow, Underflow,
    AccessViolation, Privilege, ControlC, StackOverflow, External
};

struct TCodeMapping {
    uint32_t Code;
    TFaultKind Kind;
    const char* Message;
};

constexpr TCodeMapping CodeMappings[] = {
    {0xC0000094, TFaultKind::DivByZero, "Division by zero"},
    {0xC000008C, TFaultKind::RangeError, "Range check error"},
    {0xC0000095, TFaultKind::IntOverflow, "Integer overflow"},
    {0xC000008F, TFaultKind::InvalidOp, "Invalid floating point operation"},
    {0xC0000090, TFaultKind::InvalidOp, "Invalid floating point operation"},
    {0xC0000092, TFaultKind::InvalidOp, "Invalid floating point operation"},
    {0xC000008E, TFaultKind::ZeroDivide, "Floating point division by zero"},
    {0xC0000091, TFaultKind::Overflow, "Floating point overflow"},
    {0xC000008D, TFaultKind::Underflow, "Floating point underflow"},
    {0xC0000093, TFaultKind::Underflow, "Floating point underflow"},
    {0xC0000005, TFaultKind::AccessViolation, nullptr},
    {0xC0000096, TFaultKind::Privilege, "Privileged instruction"},
    {0xC000013A, TFaultKind::ControlC, "Control-C hit"},
    {0xC00000FD, TFaultKind::StackOverflow, "Stack overflow"},
};

std::string AddressText(uintptr_t address) { return HexDigits(address, AddressDigits); }

// Upper-case hexadecimal without leading zeros (at least one digit).
std::string HexText(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

// The file name (no directory) of the module owning committed memory at address, or empty.
std::string ModuleNameAt(uintptr_t address) {
    MEMORY_BASIC_INFORMATION info{};
    if (::VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0) return {};
    if (info.State != MEM_COMMIT || info.AllocationBase == nullptr) return {};
    char path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::string name(path, length);
    const size_t slash = name.find_last_of("\\/:");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string AccessViolationMessage(const EXCEPTION_RECORD& record) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
    const bool write = record.NumberParameters >= 1 && record.ExceptionInformation[0] != 0;
    const uintptr_t target = record.NumberParameters >= 2 ? record.ExceptionInformation[1] : 0;
    const std::string kind = write ? "Write" : "Read";
    const std::string module = ModuleNameAt(address);
    if (!module.empty())
        return "Access violation at address " + AddressText(address) + " in module '" + module + "'. " + kind +
               " of address " + AddressText(target);
    return "Access violation at address " + AddressText(address) + ". " + kind + " of address " + AddressText(target);
}

template <class T>
std::unique_ptr<EFault> Make(std::string message, const EXCEPTION_RECORD& record) {
    return std::make_unique<T>(std::move(message), record.ExceptionCode,
                               reinterpret_cast<uintptr_t>(record.ExceptionAddress));
}

// ---- Output ----

// The report into the log (forced) and, when one is registered, into the exception event log,
// one event per line. Raises what the log raises.
void OutputReport(const std::string& text) {
    LogWrite(text, LogForced);
    if (TEventLog* eventLog = ExceptionEventLog()) {
        try {
            WriteText(*eventLog, text, true, DefaultEventNumberValue, "", 1);
        } catch (const std::exception& e) {
            LogWrite(std::string("Error writing exception to event log: ") + e.what(), LogForced);
        }
    }
}

void OutputError(const char* prefix, const char* message) noexcept {
    try {
        LogWrite(std::string(prefix) + message, LogForced);
    } catch (...) {
    }
}

// ---- The vectored handler and the ends of a process nobody can save ----

// The report of a stack overflow: the handler report's first lines, without the call trace.
void StackOverflowReport(const EXCEPTION_RECORD& record) noexcept;
[[noreturn]] void EndProcessAfterFault();

// A thread of its own, started with the watch, that reports a stack overflow of another thread
// and ends the process: the overflowing thread has no stack left to do either.
struct TOverflowReporter {
    HANDLE Wake = nullptr;  // set by the overflowing thread once Record is filled
    std::atomic<bool> Taken{false};
    EXCEPTION_RECORD Record{};
};

TOverflowReporter& OverflowReporter() {
    static TOverflowReporter reporter;
    return reporter;
}

DWORD WINAPI OverflowReporterThread(void*) {
    TOverflowReporter& reporter = OverflowReporter();
    ::WaitForSingleObject(reporter.Wake, INFINITE);
    StackOverflowReport(reporter.Record);
    EndProcessAfterFault();
}

// Starts the reporter; without it (no thread could be made) an overflow ends the process silently.
void StartOverflowReporter() {
    TOverflowReporter& reporter = OverflowReporter();
    HANDLE wake = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (wake == nullptr) return;
    reporter.Wake = wake;
    HANDLE thread = ::CreateThread(nullptr, OverflowReporterStackBytes, &OverflowReporterThread, nullptr,
                                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        reporter.Wake = nullptr;
        ::CloseHandle(wake);
        return;
    }
    ::CloseHandle(thread);
}

// The first lines of a handler report: the title, the class with the code, flags, address and
// ids, a blank line and the message.
std::string HandlerReportHead(const std::string& className, uint32_t code, uint32_t flags, uintptr_t address,
                              const std::string& message) {
    return LogTitleLine("Exception", '-') + "\r\n" + className + "   Code=0x" + HexDigits(code, 8) + "   Flags=0x" +
           HexText(flags) + "   Addr=0x" + AddressText(address) + "   PID=" + std::to_string(::GetCurrentProcessId()) +
           "   TID=" + ThreadIdText() + "   Build=" + std::to_string(LogBuildNumber) + "\r\n\r\n" + message + "\r\n";
}

void StackOverflowReport(const EXCEPTION_RECORD& record) noexcept {
    if (NoExceptionReports() > 0) return;
    TExceptionReportsOff reportsOff;
    try {
        OutputReport(HandlerReportHead("EStackOverflow", record.ExceptionCode, record.ExceptionFlags,
                                       reinterpret_cast<uintptr_t>(record.ExceptionAddress), "Stack overflow"));
    } catch (...) {
    }
}

bool InProgramImage(uintptr_t address) {
    const TWatchState& s = State();
    return address >= s.ImageStart && address < s.ImageEnd;
}

[[noreturn]] void EndProcessAfterFault() {
    // Not ExitProcess: the fault may have left a lock of the loader or the heap taken, on which
    // the detach work of the libraries would wait forever. The report is already on disk.
    ::TerminateProcess(::GetCurrentProcess(), ExceptWatchFatalExitCode);
    std::abort();
}

LONG CALLBACK AnyExceptionHandler(EXCEPTION_POINTERS* pointers) {
    EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    const uint32_t code = record->ExceptionCode;
    // The x64 runtime's C++ throw and unwinds: reported by the personality wrapper. Warnings and
    // information (debugger notifications, breakpoints, guard pages) are no errors of the program.
    if (IsGccCode(code) || (code & ErrorSeverity) != ErrorSeverity) return EXCEPTION_CONTINUE_SEARCH;
    if ((State().Installed.load() & ipAnyException) == 0) return EXCEPTION_CONTINUE_SEARCH;
    // A stack overflow first, whoever's code overflowed: the thread runs on the little stack
    // left for this moment (a few KB under Wine, where nothing is kept back), too little for any
    // report. The reporter thread writes a short one and ends the process; this thread waits.
    if (code == StackOverflowCode) {
        TOverflowReporter& reporter = OverflowReporter();
        if (reporter.Wake == nullptr) EndProcessAfterFault();
        if (!reporter.Taken.exchange(true)) {
            reporter.Record = *record;
            ::SetEvent(reporter.Wake);
        }
        for (;;) ::Sleep(INFINITE);
    }
    ExceptionHandlerReport(record, pointers->ContextRecord);

    // Only a fault of the program's own code becomes an exception: that code is built so that
    // every faulting instruction can be unwound from. Faults elsewhere are left to the handlers
    // of the code that faulted (system libraries guard themselves), and to the unhandled
    // exception filter below when nobody handles them.
    if (!InProgramImage(reinterpret_cast<uintptr_t>(record->ExceptionAddress))) return EXCEPTION_CONTINUE_SEARCH;
    // A noncontinuable exception cannot be resumed at the raising routine.
    if ((record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0) EndProcessAfterFault();
    auto* pending = static_cast<TPendingFault*>(PendingFaultValue().Get());
    if (pending == nullptr) {
        // Made at a thread's first fault of its own code and kept for its later ones (a record per
        // such thread, never freed): the raise reads it after this handler has returned.
        pending = static_cast<TPendingFault*>(::HeapAlloc(::GetProcessHeap(), 0, sizeof(TPendingFault)));
        if (pending == nullptr) EndProcessAfterFault();
        PendingFaultValue().Set(pending);
    }
    pending->Record = *record;
    pending->Record.ExceptionRecord = nullptr;
    watch::RedirectToFaultRaise(*pointers->ContextRecord);
    return EXCEPTION_CONTINUE_EXECUTION;
}

LONG WINAPI UnhandledExceptionEnd(EXCEPTION_POINTERS* pointers) {
    const uint32_t code = pointers->ExceptionRecord->ExceptionCode;
    const LPTOP_LEVEL_EXCEPTION_FILTER previous = State().PreviousFilter;
    // The runtime's own filter lets an uncaught C++ throw of x64 return into the runtime, which
    // then ends it through std::terminate.
    if (IsGccCode(code) || (code & ErrorSeverity) != ErrorSeverity)
        return previous != nullptr ? previous(pointers) : EXCEPTION_CONTINUE_SEARCH;
    EndProcessAfterFault();
}

// An exception that nothing catches (a fault turned into one included) or one that leaves a
// function that may not raise: the raised or handler report is written; no crash dialog.
[[noreturn]] void TerminateAfterReport() { EndProcessAfterFault(); }

[[gnu::noinline]] void ThrowProbe() { throw TWatchProbe(); }

bool IsNtFamily() { return (::GetVersion() & NotFamilyNt) == 0; }

void WriteFailureLine(const char* line) noexcept {
    try {
        LogWrite(line, LogForced);
    } catch (...) {
    }
}

}  // namespace

// ---- Public ----

std::string ExceptionObjectClassName(const std::type_info& type) {
    const char* mangled = type.name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = (status == 0 && demangled != nullptr) ? demangled : mangled;
    std::free(demangled);
    const size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

std::unique_ptr<EFault> CreateFaultException(const EXCEPTION_RECORD& record) {
    const uint32_t code = record.ExceptionCode;
    for (const TCodeMapping& m : CodeMappings) {
        if (m.Code != code) continue;
        switch (m.Kind) {
            case TFaultKind::DivByZero: return Make<EDivByZero>(m.Message, record);
            case TFaultKind::RangeError: return Make<ERangeError>(m.Message, record);
            case TFaultKind::IntOverflow: return Make<EIntOverflow>(m.Message, record);
            case TFaultKind::InvalidOp: return Make<EInvalidOp>(m.Message, record);
            case TFaultKind::ZeroDivide: return Make<EZeroDivide>(m.Message, record);
            case TFaultKind::Overflow: return Make<EOverflow>(m.Message, record);
            case TFaultKind::Underflow: return Make<EUnderflow>(m.Message, record);
            case TFaultKind::AccessViolation: return Make<EAccessViolation>(AccessViolationMessage(record), record);
            case TFaultKind::Privilege: return Make<EPrivilege>(m.Message, record);
            case TFaultKind::ControlC: return Make<EControlC>(m.Message, record);
            case TFaultKind::StackOverflow: return Make<EStackOverflow>(m.Message, record);
            case TFaultKind::External: break;
        }
    }
    return Make<EExternalException>("External exception " + HexText(code), record);
}

void ExceptionRaisedReport(const void* object, const std::type_info* type, const void* stackPosition) noexcept {
    if (NoExceptionReports() > 0) return;
    TExceptionReportsOff reportsOff;
    try {
        TObjectText text;
        try {
            text = DescribeObject(object, type);
        } catch (...) {
            text = TObjectText();
        }
        if (text.Abort) return;
        // A fault's exception: the fault was reported when it was dispatched.
        if (text.Fault != nullptr && text.Fault->Dispatched) return;
        OutputReport(LogTitleLine("Raised Exception", '-') + "\r\n" + text.ClassName + " " + LogProcessIds() +
                     "\r\n\r\n" + text.Message + "\r\n\r\n" + CallTraceText(nullptr, stackPosition) + "\r\n\r\n");
    } catch (const std::exception& e) {
        OutputError("Error logging raised exception: ", e.what());
    } catch (...) {
        OutputError("Error logging raised exception: ", "Unknown exception");
    }
}

void ExceptionHandlerReport(const EXCEPTION_RECORD* record, const CONTEXT* context) noexcept {
    if (NoExceptionReports() > 0) return;
    TExceptionReportsOff reportsOff;
    try {
        if (record == nullptr || context == nullptr) {
            OutputReport(LogTitleLine("Exception", '-') + "\r\n" +
                         (record == nullptr ? "No exception record available!" : "No exception context available!") +
                         "\r\n");
            return;
        }
        uint32_t code = record->ExceptionCode;
        uintptr_t address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
        TObjectText text;
        try {
            if (code == ProgramExceptionCode) {
                text = DescribeObject(
                    record->NumberParameters >= 2 ? reinterpret_cast<const void*>(record->ExceptionInformation[1])
                                                  : nullptr,
                    record->NumberParameters >= 3 ? reinterpret_cast<const std::type_info*>(record->ExceptionInformation[2])
                                                  : nullptr);
                if (text.Abort) return;
                // A fault's exception on its way: shown as the fault it was.
                if (text.Fault != nullptr && text.Fault->Dispatched) {
                    code = text.Fault->ExceptionCode;
                    address = text.Fault->ExceptionAddress;
                }
            } else {
                const std::unique_ptr<EFault> fault = CreateFaultException(*record);
                text.ClassName = ExceptionObjectClassName(typeid(*fault));
                text.Message = fault->what();
            }
        } catch (...) {
            text = TObjectText();
        }
        const void* first = nullptr;
        const void* start = nullptr;
        watch::ContextTraceStart(*context, first, start);
        OutputReport(HandlerReportHead(text.ClassName, code, record->ExceptionFlags, address, text.Message) + "\r\n" +
                     CallTraceText(first, start) + "\r\n");
    } catch (const std::exception& e) {
        OutputError("Error logging exception: ", e.what());
    } catch (...) {
        OutputError("Error logging exception: ", "Unknown exception");
    }
}

void InstallExceptWatch(uint32_t failing) {
    TWatchState& s = State();
    if (s.Started.exchange(true)) return;
    if (!IsNtFamily()) return;
    uint32_t installed = 0;

    const auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    s.ImageStart = reinterpret_cast<uintptr_t>(base);
    s.ImageEnd = s.ImageStart + nt->OptionalHeader.SizeOfImage;

    // any-exception: first in the vectored handlers' list, so that a fault becomes an exception
    // before anything else sees it.
    if ((failing & ipAnyException) == 0 && ::AddVectoredExceptionHandler(1, &AnyExceptionHandler) != nullptr) {
        installed |= ipAnyException;
        // A stack overflow is reported by a thread of its own. The installing thread (the
        // program's main thread) also keeps stack back for the dispatch of the overflow, where the
        // system can; the program's other threads do so as they start (cm/ThreadPool).
        StartOverflowReporter();
        ReserveExceptionStack();
    }
    else
        WriteFailureLine("Failed to hook any-exception handler!\r\n");

    // on-exception and exception-raising: present when the program was linked with the wrappers.
    // A probe exception shows whether each was reached, and that the runtime's exception header
    // has the layout the reports read the object's type from.
    TProbe probe;
    ProbeValue().Set(&probe);
    try {
        ThrowProbe();
    } catch (const TWatchProbe&) {
    }
    ProbeValue().Set(nullptr);
    if ((failing & ipOnException) == 0 && (probe.Reached & ipOnException) != 0 && probe.TypeFound)
        installed |= ipOnException;
    else
        WriteFailureLine("Failed to hook on-exception handler!\r\n");
    if ((failing & ipExceptionRaising) == 0 && (probe.Reached & ipExceptionRaising) != 0)
        installed |= ipExceptionRaising;
    else
        WriteFailureLine("Failed to hook exception-raising handler!\r\n");
    s.Installed = installed;

    s.PreviousFilter = ::SetUnhandledExceptionFilter(&UnhandledExceptionEnd);
    std::set_terminate(&TerminateAfterReport);
}

void InitializeExceptWatch() { InstallExceptWatch(0); }

uint32_t InstalledInterceptionPoints() { return State().Installed.load(); }

namespace watch {

void PersonalityConsulted(_Unwind_Exception_Class exceptionClass, const _Unwind_Exception* ue, bool unwinding,
                          uintptr_t ip, uintptr_t stack) noexcept {
    const void* object = nullptr;
    const std::type_info* type = nullptr;
    if (auto* probe = static_cast<TProbe*>(ProbeValue().Get())) {
        probe->Reached |= ipOnException;
        if (CppException(exceptionClass, ue, object, type) && type != nullptr && *type == typeid(TWatchProbe))
            probe->TypeFound = true;
        return;
    }
    if ((State().Installed.load() & ipOnException) == 0 || NoExceptionReports() > 0) return;
    if (!CppException(exceptionClass, ue, object, type)) return;
    // The exception address of a program exception is where it was raised; an object thrown
    // elsewhere (another thread, an older throw) shows the frame consulted.
    uintptr_t address = ip;
    if (ThrownObject().Get() == object) {
        const auto returnAddress = reinterpret_cast<TCodeAddress>(ThrowAddress().Get());
        const TCodeAddress site = ReadCallSite(returnAddress);
        address = site != 0 ? site : returnAddress;
    }

    EXCEPTION_RECORD record{};
    record.ExceptionCode = ProgramExceptionCode;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE | (unwinding ? EXCEPTION_UNWINDING : 0);
    record.ExceptionAddress = reinterpret_cast<void*>(address);
    record.NumberParameters = 3;
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(object);
    record.ExceptionInformation[2] = reinterpret_cast<ULONG_PTR>(type);
    CONTEXT context{};
#if defined(_M_X64) || defined(__x86_64__)
    context.Rip = ip;
    context.Rsp = stack;
#else
    context.Eip = ip;
    context.Ebp = stack;
#endif
    ExceptionHandlerReport(&record, &context);
}

}  // namespace watch

}  // namespace cm

extern "C" {

[[noreturn]] void __real___cxa_throw(void* object, std::type_info* type, void(_GLIBCXX_CDTOR_CALLABI* destroy)(void*));

// The throw routine as every throw of the program calls it (linked with -Wl,--wrap=__cxa_throw):
// the raised report, then the runtime's routine unchanged.
[[noreturn]] void __wrap___cxa_throw(void* object, std::type_info* type, void(_GLIBCXX_CDTOR_CALLABI* destroy)(void*)) {
    if (auto* probe = static_cast<cm::TProbe*>(cm::ProbeValue().Get())) {
        probe->Reached |= cm::ipExceptionRaising;
    } else if ((cm::State().Installed.load() & cm::ipExceptionRaising) != 0) {
        cm::ExceptionRaisedReport(object, type, __builtin_frame_address(0));
    }
    // Noted after the report, whose own exceptions pass here too. The return address only: the
    // raising call before it is looked up when a report needs it.
    cm::ThrownObject().Set(object);
    cm::ThrowAddress().Set(__builtin_return_address(0));
    __real___cxa_throw(object, type, destroy);
}

[[noreturn]] void CorvaneRaisePendingFault() {
    const auto* pending = static_cast<const cm::TPendingFault*>(cm::PendingFaultValue().Get());
    std::unique_ptr<cm::EFault> fault = cm::CreateFaultException(pending->Record);
    fault->Dispatched = true;
    fault->Raise();
    __builtin_unreachable();  // Raise throws
}

}
