// The shared log's throughput: entries per second from 1 and from 4 processes writing one log
// (named mutex, append at the end, size check) against the same entries appended to a plain
// file without any lock. Each child times its own writes, so process start-up is not counted.
// Prints "BENCH log_vs_plain_<n>proc <log rate / plain rate> -" (no target: a measure only).
#include "BenchName.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/SystemWrappers.h"
#include "cm/Packets/Packets.h"
#include "diagnostics/Logs.h"
#include "catalogue/ProductInfoLoader.h"

namespace {

constexpr int kEntriesPerProcess = 2000;
constexpr int kRounds = 3;
const std::string kEntry(100, 'x');

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Child: waits for the start event, writes, returns the elapsed microseconds as its exit code.
int Child(const std::string& mode, const std::string& eventName, const std::string& plainPath) {
    cm::InitializePackets();
    cm::InitializeProductInformation();
    cm::InitializeLogs(&cm::ProductCaptionBesideExecutable);
    cm::UniqueFileHandle plain;
    if (mode == "plain")
        plain.reset(CreateFileA(plainPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    cm::UniqueHandle go(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    WaitForSingleObject(go.get(), INFINITE);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const std::string line = kEntry + "\r\n";
    for (int i = 0; i < kEntriesPerProcess; ++i) {
        if (mode == "log") {
            cm::LogWrite(kEntry, cm::LogForced);
        } else {
            DWORD written = 0;
            WriteFile(plain.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        }
    }
    QueryPerformanceCounter(&end);
    cm::FinalizeLogs();
    return static_cast<int>(Seconds(start, end) * 1e6);
}

// Entries per second of one round: all entries over the slowest child's time.
double Round(const std::string& exe, const std::string& directory, const std::string& mode, int processes) {
    DeleteFileA((directory + "\\Logs\\LogBench.log").c_str());
    DeleteFileA((directory + "\\plain.log").c_str());
    const std::string eventName = "corvane_log_bench_" + std::to_string(GetCurrentProcessId());
    cm::UniqueHandle go(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    std::vector<cm::UniqueHandle> children;
    for (int p = 0; p < processes; ++p) {
        std::string commandLine = "\"" + exe + "\" child " + mode + " " + eventName + " \"" + directory + "\\plain.log\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return 0;
        cm::UniqueHandle thread(info.hThread);
        children.emplace_back(info.hProcess);
    }
    Sleep(1500);  // every child is waiting on the event by now
    SetEvent(go.get());
    DWORD slowest = 1;
    for (const cm::UniqueHandle& child : children) {
        WaitForSingleObject(child.get(), INFINITE);
        DWORD micros = 0;
        GetExitCodeProcess(child.get(), &micros);
        slowest = std::max(slowest, micros);
    }
    return processes * kEntriesPerProcess / (slowest / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "child") return Child(argv[2], argv[3], argv[4]);

    // Runs copies of itself from a directory of its own, which then holds the Logs directory.
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    const std::string directory = std::string(temp, length) + "corvane_log_bench_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(directory.c_str(), nullptr);
    const std::string exe = directory + "\\LogBench.exe";
    CopyFileA(cm::GetModuleFileNameChecked(nullptr).c_str(), exe.c_str(), FALSE);

    std::vector<std::string> results;
    for (int processes : {1, 4}) {
        double best[2] = {0, 0};
        for (int round = 0; round < kRounds; ++round) {
            best[0] = std::max(best[0], Round(exe, directory, "log", processes));
            best[1] = std::max(best[1], Round(exe, directory, "plain", processes));
        }
        std::printf("%d process(es): log %.0f entries/s, plain append %.0f entries/s\n", processes, best[0], best[1]);
        char line[128];
        std::snprintf(line, sizeof line, "BENCH %s %.3f -", BenchName("log_vs_plain_" + std::to_string(processes) + "proc").c_str(), best[1] > 0 ? best[0] / best[1] : 0.0);
        results.push_back(line);
    }
    cm::DeleteDirectoryTree(directory);
    for (const std::string& line : results) std::printf("%s\n", line.c_str());
    return 0;
}
