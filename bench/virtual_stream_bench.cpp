// Growing a TVirtualStream to 256 MB by 4 KB writes against a std::vector<char> grown the same
// way. Each contender runs in fresh child processes so that every figure is its own: one run is
// timed, another one measures memory while a second thread samples the process's committed
// private memory (a VirtualQuery walk on Windows, VmData of /proc/self/status on the host, which
// counts the private writable mappings Linux charges to commit). Committed memory is what the
// system has promised the process, touched or not; the resident peak (PeakWorkingSetSize on
// Windows, VmHWM on the host) only counts touched pages, so it cannot see two fully committed
// blocks of which one is still untouched. Wine's PeakPagefileUsage is no peak of commit at all
// (it reports resident anonymous memory), hence the walk. Both figures are counted above what the
// process held before the contender started, in units of the 256 MB written. Prints at the end:
//   BENCH virtual_stream_vs_vector_time <stream time / vector time> 1.0
//   BENCH virtual_stream_peak_commit_ratio <stream commit peak / 256 MB> <vector's>
//   BENCH virtual_stream_peak_resident_ratio <stream resident peak / 256 MB> <vector's>
// and, for information, the growth by exact SetSize steps (a capacity change per 64 KB) at 32 MB.
// Build it without sanitizers for figures that mean anything on the host.
#include "BenchName.h"
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cm/StreamUtils/VirtualStream.h"

#ifdef _WIN32
#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"
// After windows.h, which it needs.
#include <psapi.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr int32_t TotalSize = 256 * 1048576;
constexpr int32_t ExactStepSize = 32 * 1048576;
constexpr int32_t WriteSize = 4096;

#ifdef _WIN32
// Committed private pages of the process: heap, stacks and VirtualAlloc blocks; not images or
// mapped files.
double CommittedBytes() {
    double total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (const char* address = nullptr;
         VirtualQuery(address, &info, sizeof info) == sizeof info;
         address = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += static_cast<double>(info.RegionSize);
        if (static_cast<const char*>(info.BaseAddress) + info.RegionSize <= address) break;
    }
    return total;
}

// Current and peak working set.
void ResidentBytes(double& current, double& peak) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    current = peak = 0;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return;
    current = static_cast<double>(counters.WorkingSetSize);
    peak = static_cast<double>(counters.PeakWorkingSetSize);
}
#else
double StatusField(const char* name) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    double kb = 0;
    size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, name, length) == 0) kb = std::atof(line + length);
    std::fclose(status);
    return kb * 1024;
}

double CommittedBytes() { return StatusField("VmData:"); }

void ResidentBytes(double& current, double& peak) {
    current = StatusField("VmRSS:");
    peak = StatusField("VmHWM:");
}
#endif

struct Figures {
    double seconds = 0;
    double commit = 0;    // peak above the start, sampled runs only
    double resident = 0;  // peak above the start
};

// Runs one contender; the content is checked so the writes cannot be dropped. With sampled, a
// second thread records the committed peak meanwhile (and the time means nothing).
Figures RunPhase(const std::string& mode, bool sampled) {
    std::vector<char> chunk(WriteSize, 'v');
    double baseCommit = CommittedBytes(), baseResident = 0, unused = 0;
    ResidentBytes(baseResident, unused);
    std::atomic<bool> done{false};
    double peakCommit = baseCommit;
    std::thread sampler;
    if (sampled)
        sampler = std::thread([&] {
            while (!done.load(std::memory_order_relaxed)) peakCommit = std::max(peakCommit, CommittedBytes());
        });

    auto start = std::chrono::steady_clock::now();
    long checksum = 0;
    if (mode == "vstream") {
        cm::TVirtualStream s;
        for (int32_t written = 0; written < TotalSize; written += WriteSize) s.WriteBuffer(chunk.data(), WriteSize);
        checksum = static_cast<const char*>(s.Memory())[TotalSize - 1];
    } else if (mode == "exact") {
        cm::TVirtualStream s;
        for (int32_t written = 0; written < ExactStepSize; written += WriteSize) {
            s.SetSize(written + WriteSize);
            std::memcpy(static_cast<char*>(s.Memory()) + written, chunk.data(), WriteSize);
        }
        checksum = static_cast<const char*>(s.Memory())[ExactStepSize - 1];
    } else {
        std::vector<char> v;
        int32_t total = mode == "vector32" ? ExactStepSize : TotalSize;
        for (int32_t written = 0; written < total; written += WriteSize) v.insert(v.end(), chunk.begin(), chunk.end());
        checksum = v[static_cast<size_t>(total) - 1];
    }
    Figures f;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (sampled) {
        done = true;
        sampler.join();
        f.commit = peakCommit - baseCommit;
    }
    double peakResident = 0;
    ResidentBytes(unused, peakResident);
    f.resident = peakResident - baseResident;
    if (checksum != 'v') std::abort();
    return f;
}

std::string FormatFigures(const Figures& f) {
    char text[128];
    std::snprintf(text, sizeof text, "%f %f %f", f.seconds, f.commit, f.resident);
    return text;
}

Figures ParseFigures(const char* text) {
    Figures f;
    if (std::sscanf(text, "%lf %lf %lf", &f.seconds, &f.commit, &f.resident) != 3) f = {};
    return f;
}

#ifdef _WIN32
Figures RunChild(const std::string& mode, bool sampled) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string result = std::string(dir) + "virtual_stream_bench_" + mode + ".txt";
    std::string command = "\"" + std::string(exe) + "\" --child " + mode + (sampled ? " sampled" : " timed") +
                          " \"" + result + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return {};
    cm::UniqueHandle process(info.hProcess), thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    Figures f;
    if (FILE* file = std::fopen(result.c_str(), "r")) {
        char text[128] = {};
        if (std::fgets(text, sizeof text, file)) f = ParseFigures(text);
        std::fclose(file);
    }
    DeleteFileA(result.c_str());
    return f;
}
#else
Figures RunChild(const std::string& mode, bool sampled) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string text = FormatFigures(RunPhase(mode, sampled));
        if (write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    char text[128] = {};
    ssize_t n = read(fds[0], text, sizeof text - 1);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return n > 0 ? ParseFigures(text) : Figures{};
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
        std::string text = FormatFigures(RunPhase(argv[2], std::strcmp(argv[3], "sampled") == 0));
        FILE* file = std::fopen(argv[4], "w");
        if (!file) return 1;
        std::fprintf(file, "%s\n", text.c_str());
        std::fclose(file);
        return 0;
    }
    Figures stream = RunChild("vstream", false);
    Figures vector = RunChild("vector", false);
    Figures streamMemory = RunChild("vstream", true);
    Figures vectorMemory = RunChild("vector", true);
    Figures exact = RunChild("exact", false);
    Figures vector32 = RunChild("vector32", false);
    const double mb = 1048576.0;
    std::printf("virtual stream: %.3f s, committed peak %.1f MB, resident peak %.1f MB\n", stream.seconds,
                streamMemory.commit / mb, streamMemory.resident / mb);
    std::printf("vector:         %.3f s, committed peak %.1f MB, resident peak %.1f MB\n", vector.seconds,
                vectorMemory.commit / mb, vectorMemory.resident / mb);
    std::printf("32 MB by exact SetSize steps: %.3f s (vector %.3f s, ratio %.2f)\n", exact.seconds,
                vector32.seconds, vector32.seconds > 0 ? exact.seconds / vector32.seconds : 0.0);
    if (stream.seconds <= 0 || vector.seconds <= 0 || streamMemory.seconds <= 0 || vectorMemory.seconds <= 0) {
        std::printf("a contender failed to run\n");
        return 1;
    }
    std::printf("BENCH %s %.3f 1.0\n", BenchName("virtual_stream_vs_vector_time").c_str(), stream.seconds / vector.seconds);
    std::printf("BENCH %s %.3f %.3f\n", BenchName("virtual_stream_peak_commit_ratio").c_str(), streamMemory.commit / TotalSize, vectorMemory.commit / TotalSize);
    std::printf("BENCH %s %.3f %.3f\n", BenchName("virtual_stream_peak_resident_ratio").c_str(), streamMemory.resident / TotalSize, vectorMemory.resident / TotalSize);
    return 0;
}
