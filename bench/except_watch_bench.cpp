// The cost of the exception watch (win32/win64). Built twice from this file: except_watch_bench
// links the watch (its throw and personality wrappers) and starts it; except_watch_bench_plain
// (CORVANE_BENCH_NO_WATCH) links no watch at all and only prints its throw-and-catch time. The
// watch build runs the plain one beside it, alternately with its own rounds, and prints:
//   BENCH except_watch_quiet_vs_none <time with the watch, reports off / time without> 1.2
//       (a cost: at most the target)
//   BENCH except_watch_reports_per_s <reports written per second, reports on> -  (a measure only)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchName.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/WinApi.h"
#ifndef CORVANE_BENCH_NO_WATCH
#include "cm/EventLog/EventLog.h"
#include "diagnostics/ExceptWatch.h"
#include "diagnostics/Logs.h"
#endif

namespace {

constexpr int ThrowsPerRound = 20000;
constexpr int Rounds = 5;
constexpr int ReportedThrows = 300;

// Three frames with clean-ups between the throw and the catch, as in the program's code.
[[gnu::noinline]] void Raise(int i) {
    std::string text = "bench " + std::to_string(i);
    throw cm::Exception(text);
}
[[gnu::noinline]] void Middle(int i) {
    std::string keep = "middle";
    Raise(i);
}
[[gnu::noinline]] int Outer(int i) {
    std::string keep = "outer";
    try {
        Middle(i);
    } catch (const cm::Exception& e) {
        return static_cast<int>(keep.size() + e.message().size());
    }
    return 0;
}

double Seconds() {
    LARGE_INTEGER now{}, frequency{};
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds for one round of throws and catches.
double Round(int throws) {
    volatile int sink = 0;
    const double start = Seconds();
    for (int i = 0; i < throws; ++i) sink = sink + Outer(i);
    return Seconds() - start;
}

#ifndef CORVANE_BENCH_NO_WATCH
// The plain build's time for one round, from its output.
double PlainRound() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path, length);
    exe = exe.substr(0, exe.find_last_of('\\') + 1) + "except_watch_bench_plain.exe";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) return 0;
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    PROCESS_INFORMATION info{};
    std::string commandLine = "\"" + exe + "\"";
    const bool started = ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                          &startup, &info);
    ::CloseHandle(write);
    std::string output;
    char buffer[256];
    DWORD got = 0;
    while (started && ::ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
    ::CloseHandle(read);
    if (!started) return 0;
    ::WaitForSingleObject(info.hProcess, INFINITE);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return std::atof(output.c_str());
}
#endif

}  // namespace

int main() {
#ifdef CORVANE_BENCH_NO_WATCH
    Round(ThrowsPerRound / 10);  // warm-up
    std::printf("%.6f\n", Round(ThrowsPerRound));
    return 0;
#else
    cm::InitializeLogs(nullptr);
    cm::InitializeExceptWatch();
    double bestQuiet = 1e9, bestPlain = 1e9;
    {
        cm::TExceptionReportsOff off;
        Round(ThrowsPerRound / 10);  // warm-up
        for (int r = 0; r < Rounds; ++r) {
            const double plain = PlainRound();
            if (plain > 0 && plain < bestPlain) bestPlain = plain;
            const double quiet = Round(ThrowsPerRound);
            if (quiet < bestQuiet) bestQuiet = quiet;
        }
    }
    // Reports on: each throw gives its raised report and one handler report per frame consulted.
    // Counted through a registered exception event log, which gets every report line by line.
    struct TCounter : cm::TEventLog {
        void WriteEvent(const std::string&, const cm::TEventArgs& args, int32_t, int32_t, int32_t) override {
            const std::string& line = std::get<std::string>(args.at(0));
            if (line.compare(0, 10, "----------") == 0) ++Reports;
        }
        long Reports = 0;
    } counter;
    cm::SetExceptionEventLog(&counter);
    const double reported = Round(ReportedThrows);
    cm::SetExceptionEventLog(nullptr);
    std::printf("throw+catch: %.2f us without the watch, %.2f us with it (reports off); %ld reports in %.3f s\n",
                bestPlain / ThrowsPerRound * 1e6, bestQuiet / ThrowsPerRound * 1e6, counter.Reports, reported);
    std::printf("BENCH %s %.3f 1.2\n", BenchName("except_watch_quiet_vs_none").c_str(), bestQuiet / bestPlain);
    std::printf("BENCH %s %.0f -\n", BenchName("except_watch_reports_per_s").c_str(),
                reported > 0 ? static_cast<double>(counter.Reports) / reported : 0.0);
    cm::FinalizeLogs();
    return 0;
#endif
}
