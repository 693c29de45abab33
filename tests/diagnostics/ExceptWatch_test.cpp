// The exception watch in this process (log and watch started once for the whole run, "Level"
// left as the machine has it), and through copies of except_watch_probe for what ends or
// changes a process: a failed interception point, a fault that nothing handles.
#include "diagnostics/ExceptWatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cm/EventLog/EventLog.h"
#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/SystemWrappers.h"
#include "cm/ThreadPool/MessageLoop.h"
#include "cm/ThreadPool/SafeThread.h"
#include "diagnostics/Logs.h"
#include "support/ProcessStart.h"

namespace cm {
namespace {

class WatchEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        InitializeLogs(nullptr);
        InitializeExceptWatch();
    }
    void TearDown() override { FinalizeLogs(); }
};
[[maybe_unused]] const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new WatchEnvironment);

constexpr int AddressDigits = 2 * sizeof(void*);

std::string ReadShared(const std::string& path) {
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string text;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    return text;
}

// What this process appends to its log from the moment of construction. The log trims itself
// when it grows beyond its limit (it keeps its newest part), which the test program's log, kept
// from run to run, does now and then in the middle of a test: the text is then found after the
// last bytes the log had at construction.
class TLogTail {
public:
    TLogTail() {
        const std::string all = ReadShared(LogFilePath());
        Start = all.size();
        Anchor = all.substr(all.size() - std::min(all.size(), AnchorSize));
    }
    std::string Text() const {
        const std::string all = ReadShared(LogFilePath());
        if (all.size() >= Start && all.compare(Start - Anchor.size(), Anchor.size(), Anchor) == 0) return all.substr(Start);
        const size_t at = Anchor.empty() ? std::string::npos : all.rfind(Anchor);
        return at == std::string::npos ? all : all.substr(at + Anchor.size());
    }

private:
    static constexpr size_t AnchorSize = 256;  // holds a title's time stamp: unique in the log
    size_t Start = 0;
    std::string Anchor;
};

// One report as written, checked against its whole layout.
struct TReport {
    bool Raised = false;
    bool Whole = false;
    std::string ClassName, Code, Flags, Address, ThreadId, Message;
};

const std::string TitleTime = R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3})";
const std::string Trace = R"(\(\$CALLTRACE:[0-9A-F]+:[0-9A-F,*]*\))";
const std::regex RaisedLayout("^-{10}Raised Exception-{14}" + TitleTime +
                              "-{16}\r\n(\\S+) PID=(\\d+) TID=(\\d+)(?: \\[[^\\]\r\n]*\\])? Build=1552\r\n\r\n"
                              "([^\r\n]*)\r\n\r\n" + Trace + "\r\n\r\n\r\n$");
const std::regex HandlerLayout("^-{10}Exception-{21}" + TitleTime + "-{16}\r\n(\\S+)   Code=0x([0-9A-F]{8})"
                               "   Flags=0x([0-9A-F]+)   Addr=0x([0-9A-F]{" + std::to_string(AddressDigits) +
                               "})   PID=(\\d+)   TID=(\\d+)(?: \\[[^\\]\r\n]*\\])?   Build=1552\r\n\r\n"
                               "([^\r\n]*)\r\n\r\n" + Trace + "\r\n\r\n$");

// The reports of a log text: each title line starts one, which runs to the next entry.
std::vector<TReport> ParseReports(const std::string& text) {
    // Title lines start a line: searched for with the line end before them (one put before the
    // text for its first line), the position found in the framed text is the title's in text.
    const std::string framed = "\r\n" + text;
    std::vector<size_t> starts;
    for (size_t at = framed.find("\r\n----------"); at != std::string::npos; at = framed.find("\r\n----------", at + 2))
        starts.push_back(at);
    std::vector<TReport> reports;
    for (size_t i = 0; i < starts.size(); ++i) {
        const std::string entry =
            text.substr(starts[i], (i + 1 < starts.size() ? starts[i + 1] : text.size()) - starts[i]);
        TReport report;
        report.Raised = entry.compare(10, 16, "Raised Exception") == 0;
        if (!report.Raised && entry.compare(10, 9, "Exception") != 0) continue;  // another entry
        std::smatch m;
        if (report.Raised && std::regex_match(entry, m, RaisedLayout)) {
            report.Whole = true;
            report.ClassName = m[1];
            report.ThreadId = m[3];
            report.Message = m[4];
        } else if (!report.Raised && std::regex_match(entry, m, HandlerLayout)) {
            report.Whole = true;
            report.ClassName = m[1];
            report.Code = m[2];
            report.Flags = m[3];
            report.Address = m[4];
            report.ThreadId = m[6];
            report.Message = m[7];
        } else {
            report.Message = entry;  // shown when a test fails
        }
        reports.push_back(report);
    }
    return reports;
}

std::string ThisThreadId() { return std::to_string(::GetCurrentThreadId()); }

[[gnu::noinline]] void Raise(const std::string& message) { throw Exception(message); }
[[gnu::noinline]] void RaiseAbort() { throw EAbort("quiet"); }
// The quotient is stored: a division whose result nobody uses is left out, fault and all.
volatile int gQuotient = 0;
[[gnu::noinline]] void Divide(volatile int* a, volatile int* b) { gQuotient = *a / *b; }
// The address passes through a volatile: a constant one is refused by the compiler's bounds checks.
[[gnu::noinline]] int ReadAt(uintptr_t address) {
    volatile uintptr_t at = address;
    return *reinterpret_cast<volatile int*>(at);
}
// A fault in a frame with a clean-up: the clean-up runs as for any exception.
struct TSetOnExit {
    bool& Flag;
    ~TSetOnExit() { Flag = true; }
};
[[gnu::noinline]] void WriteAt(uintptr_t address, bool& cleanedUp) {
    TSetOnExit guard{cleanedUp};
    volatile uintptr_t at = address;
    *reinterpret_cast<volatile int*>(at) = 1;
}

TEST(ExceptWatch, AllPointsInstalledAtStartUp) {
    EXPECT_EQ(InstalledInterceptionPoints(), ipAnyException | ipOnException | ipExceptionRaising);
}

// One raised report, and handler reports that read the same whatever raised the object.
TEST(ExceptWatch, ProgramExceptionRaisedAndCaught) {
    TLogTail tail;
    try {
        Raise("raised and caught");
    } catch (const Exception&) {
    }
    int raised = 0, handler = 0;
    for (const TReport& r : ParseReports(tail.Text())) {
        ASSERT_TRUE(r.Whole) << r.Message;
        EXPECT_EQ(r.ClassName, "Exception");
        EXPECT_EQ(r.Message, "raised and caught");
        EXPECT_EQ(r.ThreadId, ThisThreadId());
        if (r.Raised) {
            ++raised;
        } else {
            ++handler;
            EXPECT_EQ(r.Code, "0EEDFADE");
            EXPECT_TRUE(r.Flags == "1" || r.Flags == "3") << r.Flags;
        }
    }
    EXPECT_EQ(raised, 1);
    EXPECT_GE(handler, 1);
}

TEST(ExceptWatch, SilentAbortGivesNoReport) {
    TLogTail tail;
    try {
        RaiseAbort();
    } catch (const EAbort&) {
    }
    EXPECT_EQ(tail.Text(), "");
}

// The reports are forced entries: with "Level" absent (logging not enabled) they are written.
TEST(ExceptWatch, ReportsWithoutLevel) {
    if (LogEnabled()) GTEST_SKIP() << "\"Level\" is set on this machine";
    TLogTail tail;
    try {
        Raise("without level");
    } catch (const Exception&) {
    }
    EXPECT_FALSE(ParseReports(tail.Text()).empty());
}

// A fault of the program's code is reported with the code mapping and raised as the mapped
// class at the faulting instruction: caught by the caller, clean-ups run, no raised report.
TEST(ExceptWatch, FaultsAreReportedAndRaisedAsTheirClass) {
    const std::string module = "'" + ExtractNamePart(GetModuleFileNameChecked(nullptr)) + "'";
    const std::string zeros(AddressDigits - 2, '0');
    struct Case {
        const char* Name;
        const char* ClassName;
        uint32_t Code;
        std::string Message;  // a regular expression
    };
    const Case cases[] = {
        {"divide", "EDivByZero", 0xC0000094, "Division by zero"},
        {"read", "EAccessViolation", 0xC0000005,
         "Access violation at address [0-9A-F]{" + std::to_string(AddressDigits) + "} in module " + module +
             "\\. Read of address " + zeros + "10"},
        {"write", "EAccessViolation", 0xC0000005,
         "Access violation at address [0-9A-F]{" + std::to_string(AddressDigits) + "} in module " + module +
             "\\. Write of address " + zeros + "20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TLogTail tail;
        std::string caughtClass, caughtMessage;
        uint32_t caughtCode = 0;
        bool cleanedUp = false;
        try {
            volatile int one = 1, zero = 0;
            if (std::string(c.Name) == "divide") Divide(&one, &zero);
            if (std::string(c.Name) == "read") ReadAt(0x10);
            if (std::string(c.Name) == "write") WriteAt(0x20, cleanedUp);
        } catch (const EFault& e) {
            caughtClass = ExceptionObjectClassName(typeid(e));
            caughtMessage = e.what();
            caughtCode = e.ExceptionCode;
        }
        EXPECT_EQ(caughtClass, c.ClassName);
        EXPECT_TRUE(std::regex_match(caughtMessage, std::regex(c.Message))) << caughtMessage;
        EXPECT_EQ(caughtCode, c.Code);
        if (std::string(c.Name) == "write") {
            EXPECT_TRUE(cleanedUp);
        }

        const std::vector<TReport> reports = ParseReports(tail.Text());
        ASSERT_FALSE(reports.empty());
        // The dispatch's report first; the frames consulted for the raised object show the same.
        for (const TReport& r : reports) {
            ASSERT_TRUE(r.Whole) << r.Message;
            EXPECT_FALSE(r.Raised);
            EXPECT_EQ(r.ClassName, c.ClassName);
            EXPECT_EQ(r.Code, HexDigits(c.Code, 8));
            EXPECT_EQ(r.Message, caughtMessage);
        }
    }
}

// Reports off on one thread: its faults leave no entry (and still raise); another thread reports.
TEST(ExceptWatch, ReportsOffOnOneThreadOnly) {
    TLogTail tail;
    std::string quietThread, loudThread;
    bool quietCaught = false, loudCaught = false;
    std::thread quiet([&] {
        quietThread = ThisThreadId();
        TExceptionReportsOff off;
        try {
            ReadAt(0x50);
        } catch (const EAccessViolation&) {
            quietCaught = true;
        }
        try {
            Raise("quiet");
        } catch (const Exception&) {
        }
    });
    quiet.join();
    std::thread loud([&] {
        loudThread = ThisThreadId();
        try {
            ReadAt(0x60);
        } catch (const EAccessViolation&) {
            loudCaught = true;
        }
    });
    loud.join();
    EXPECT_TRUE(quietCaught);
    EXPECT_TRUE(loudCaught);
    int loudReports = 0;
    for (const TReport& r : ParseReports(tail.Text())) {
        ASSERT_TRUE(r.Whole) << r.Message;
        EXPECT_NE(r.ThreadId, quietThread);
        if (r.ThreadId == loudThread) ++loudReports;
    }
    EXPECT_GE(loudReports, 1);
}

TEST(ExceptWatch, MissingRecordOrContext) {
    EXCEPTION_RECORD record{};
    record.ExceptionCode = 0xC0000005;
    CONTEXT context{};
    struct Case {
        const EXCEPTION_RECORD* Record;
        const CONTEXT* Context;
        const char* Line;
    };
    for (const Case& c : {Case{nullptr, &context, "No exception record available!"},
                          Case{&record, nullptr, "No exception context available!"}}) {
        TLogTail tail;
        ExceptionHandlerReport(c.Record, c.Context);
        const std::string text = tail.Text();
        EXPECT_TRUE(std::regex_match(text, std::regex("-{10}Exception-{21}" + TitleTime + "-{16}\r\n" + c.Line + "\r\n\r\n")))
            << text;
    }
}

TEST(ExceptWatch, CodeMappingOfOtherCodes) {
    struct Case {
        uint32_t Code;
        const char* ClassName;
        const char* Message;
    };
    const Case cases[] = {
        {0xC000008C, "ERangeError", "Range check error"},
        {0xC0000095, "EIntOverflow", "Integer overflow"},
        {0xC0000092, "EInvalidOp", "Invalid floating point operation"},
        {0xC000008E, "EZeroDivide", "Floating point division by zero"},
        {0xC0000091, "EOverflow", "Floating point overflow"},
        {0xC000008D, "EUnderflow", "Floating point underflow"},
        {0xC0000096, "EPrivilege", "Privileged instruction"},
        {0xC000013A, "EControlC", "Control-C hit"},
        {0xC00000FD, "EStackOverflow", "Stack overflow"},
        {0xC0000006, "EExternalException", "External exception C0000006"},
        {0xE0001234, "EExternalException", "External exception E0001234"},
    };
    for (const Case& c : cases) {
        EXCEPTION_RECORD record{};
        record.ExceptionCode = c.Code;
        const std::unique_ptr<EFault> fault = CreateFaultException(record);
        EXPECT_EQ(ExceptionObjectClassName(typeid(*fault)), c.ClassName);
        EXPECT_STREQ(fault->what(), c.Message);
    }
    // Memory that no module owns: the short form.
    EXCEPTION_RECORD record{};
    record.ExceptionCode = 0xC0000005;
    record.ExceptionAddress = reinterpret_cast<void*>(0x1000);
    record.NumberParameters = 2;
    record.ExceptionInformation[1] = 0xABC;
    const std::string zeros(AddressDigits - 4, '0');
    EXPECT_STREQ(CreateFaultException(record)->what(),
                 ("Access violation at address " + zeros + "1000. Read of address " + zeros + "0ABC").c_str());
}

// A sink registered as the exception event log gets each report line by line.
class TRecordingEventLog : public TEventLog {
public:
    struct TEvent {
        std::string Format;
        std::string Text;
        int32_t Number, Kind;
    };
    void WriteEvent(const std::string& format, const TEventArgs& args, int32_t number, int32_t kind, int32_t) override {
        if (Fail) throw Exception("event sink is down");
        Events.push_back({format, args.size() == 1 ? std::get<std::string>(args[0]) : "<args>", number, kind});
    }
    std::vector<TEvent> Events;
    bool Fail = false;
};

TEST(ExceptWatch, ExceptionEventLog) {
    TRecordingEventLog sink;
    SetExceptionEventLog(&sink);
    TLogTail tail;
    try {
        Raise("to the event log");
    } catch (const Exception&) {
    }
    sink.Fail = true;
    try {
        Raise("sink failing");
    } catch (const Exception&) {
    }
    SetExceptionEventLog(nullptr);

    // The first report, line by line.
    const std::string text = tail.Text();
    const std::string first = text.substr(0, text.find("\r\n\r\n\r\n") + 4);
    std::string lines;
    for (const auto& e : sink.Events) {
        EXPECT_EQ(e.Format, "<text>");
        EXPECT_EQ(e.Number, -1);
        EXPECT_EQ(e.Kind, 1);
        EXPECT_EQ(e.Text.find_first_of("\r\n"), std::string::npos);
        lines += e.Text + "\r\n";
    }
    EXPECT_EQ(lines.substr(0, first.size()), first);
    EXPECT_NE(text.find("\r\nError writing exception to event log: event sink is down\r\n"), std::string::npos);
}

// A fault in a thread body ends the body as any error does: "Thread Error", the thread's error code.
TEST(ExceptWatch, FaultInThreadBody) {
    class TFaultingThread : public TSafeThread {
    public:
        TFaultingThread() : TSafeThread(false, false) {}
        ~TFaultingThread() override { StopThread(); }
        void Execute() override { ReadAt(0x70); }
    };
    TLogTail tail;
    auto thread = MakeThread<TFaultingThread>();
    EXPECT_EQ(static_cast<uint32_t>(thread->WaitFor()), ThreadErrorExitCode);
    const std::string text = tail.Text();
    const size_t entry = text.find("Thread Error");
    ASSERT_NE(entry, std::string::npos) << text;
    EXPECT_NE(text.find("Access violation at address ", entry), std::string::npos) << text;
}

constexpr UINT FaultMessage = WM_APP + 1;

LRESULT CALLBACK FaultingWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message != FaultMessage) return ::DefWindowProcA(window, message, w, l);
    return GuardWindowProc([] {
        ReadAt(0x80);
        return LRESULT{0};
    });
}

// A fault in a guarded window procedure is a dispatch error of the loop.
TEST(ExceptWatch, FaultInWindowProcedure) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &FaultingWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ExceptWatchTestWindow";
    ::RegisterClassA(&windowClass);
    HWND window = ::CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    if (window == nullptr) GTEST_SKIP() << "no window here";
    TLogTail tail;
    ::PostMessageA(window, FaultMessage, 0, 0);
    ::PostQuitMessage(0);
    MessageLoop(0);
    ::DestroyWindow(window);
    const std::string text = tail.Text();
    const size_t entry = text.find("Message Dispatch Error");
    ASSERT_NE(entry, std::string::npos) << text;
    EXPECT_NE(text.find("Access violation at address ", entry), std::string::npos) << text;
}

// Reports of several threads at once are whole, never interleaved. The log is trimmed on the way
// (it holds about 2 MB): the reports left in it are checked, and a sink counts every report.
TEST(ExceptWatch, ConcurrentReportsAreWhole) {
    class TCountingEventLog : public TEventLog {
    public:
        void WriteEvent(const std::string&, const TEventArgs& args, int32_t, int32_t, int32_t) override {
            const std::string& line = std::get<std::string>(args.at(0));
            if (line.compare(0, 26, "----------Raised Exception") == 0) ++Raised;
        }
        std::atomic<int> Raised{0};
    } sink;
    SetExceptionEventLog(&sink);
    constexpr int Threads = 4, PerThread = 1000;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < PerThread; ++i) {
                try {
                    Raise("thread " + std::to_string(t) + " exception " + std::to_string(i));
                } catch (const Exception&) {
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    SetExceptionEventLog(nullptr);
    EXPECT_EQ(sink.Raised.load(), Threads * PerThread);

    const std::string all = ReadShared(LogFilePath());
    // The cut of a trim may fall inside an entry: the check starts at the first title after it.
    const size_t firstTitle = all.find("\r\n----------");
    ASSERT_NE(firstTitle, std::string::npos);
    int whole = 0;
    std::vector<bool> lastSeen(Threads, false);
    for (const TReport& r : ParseReports(all.substr(firstTitle + 2))) {
        ASSERT_TRUE(r.Whole) << r.Message;
        ++whole;
        for (int t = 0; t < Threads; ++t)
            if (r.Message == "thread " + std::to_string(t) + " exception " + std::to_string(PerThread - 1))
                lastSeen[t] = true;
    }
    EXPECT_GE(whole, Threads * PerThread / 4);
    for (int t = 0; t < Threads; ++t) EXPECT_TRUE(lastSeen[t]) << "thread " << t;
}

// ---- Runs of except_watch_probe ----

struct TProbeRun {
    DWORD ExitCode = 0xFFFFFFFF;
    std::string Log;
};

TProbeRun RunProbe(const std::string& name, const std::string& arguments) {
    char buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    const std::string testDirectory = ExtractPathPart(std::string(buffer, length));
    const std::string directory = AddTrailingBackslash(GetTempDirectory()) + "except_watch_" + std::to_string(::GetCurrentProcessId()) +
                                  "_" + name + "\\";
    ::CreateDirectoryA(directory.c_str(), nullptr);
    const std::string exe = directory + "except_watch_probe.exe";
    ::DeleteFileA((directory + "Logs\\except_watch_probe.log").c_str());
    EXPECT_TRUE(::CopyFileA((testDirectory + "except_watch_probe.exe").c_str(), exe.c_str(), FALSE));
    std::string commandLine = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    TProbeRun run;
    if (!test::CreateProcessRetrying(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info)) {
        ADD_FAILURE() << "cannot start " << commandLine;
        return run;
    }
    EXPECT_EQ(::WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
    ::GetExitCodeProcess(info.hProcess, &run.ExitCode);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    run.Log = ReadShared(directory + "Logs\\except_watch_probe.log");
    try {
        DeleteDirectoryTree(directory, "*.*", false, false);
    } catch (...) {
    }
    return run;
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// A point that cannot be installed writes its failure line once (an empty line follows); the
// other points still report.
TEST(ExceptWatch, FailedInterceptionPoint) {
    struct Case {
        uint32_t Failing;
        const char* Line;
        bool Raised, ProgramHandler, Fault;
        DWORD ExitCode;  // the division by zero is no exception without the vectored handler
    };
    const Case cases[] = {
        {ipAnyException, "Failed to hook any-exception handler!\r\n\r\n", true, true, false, ExceptWatchFatalExitCode},
        {ipOnException, "Failed to hook on-exception handler!\r\n\r\n", true, false, true, 0},
        {ipExceptionRaising, "Failed to hook exception-raising handler!\r\n\r\n", false, true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Line);
        const TProbeRun run = RunProbe("seam" + std::to_string(c.Failing), std::to_string(c.Failing) + " throw divide");
        EXPECT_EQ(run.ExitCode, c.ExitCode);
        EXPECT_EQ(CountOf(run.Log, "Failed to hook"), 1u) << run.Log;
        EXPECT_EQ(CountOf(run.Log, c.Line), 1u) << run.Log;
        EXPECT_EQ(CountOf(run.Log, "Raised Exception") > 0, c.Raised) << run.Log;
        EXPECT_EQ(CountOf(run.Log, "Code=0x0EEDFADE") > 0, c.ProgramHandler) << run.Log;
        EXPECT_EQ(CountOf(run.Log, "EDivByZero   Code=0xC0000094") > 0, c.Fault) << run.Log;
    }
}

// A fault that no frame can handle (a thread of the system's own) ends the process with the
// fatal-error code after its report, without a crash dialog.
TEST(ExceptWatch, UnhandledFaultEndsTheProcess) {
    const TProbeRun run = RunProbe("unhandled", "0 thread");
    EXPECT_EQ(run.ExitCode, ExceptWatchFatalExitCode);
    EXPECT_NE(run.Log.find("EAccessViolation   Code=0xC0000005"), std::string::npos) << run.Log;
    EXPECT_EQ(CountOf(run.Log, "Failed to hook"), 0u) << run.Log;
}

}  // namespace
}  // namespace cm
