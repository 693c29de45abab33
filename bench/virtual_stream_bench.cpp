// Growing a TVirtualStream to 256 MB by 4 KB writes against a std::vector<char> grown the same
// way. Each contender runs in a fresh child process so that the process's peak commit
// (PeakPagefileUsage on Windows, VmHWM on the host) is its own. Prints at the end:
//   BENCH virtual_stream_vs_vector_time <stream time / vector time> 1.0
//   BENCH virtual_stream_peak_commit_ratio <stream peak / 256 MB> <vector peak / 256 MB>
// and, for information, the growth by exact SetSize steps (one copy per 64 KB) at 32 MB.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

double PeakCommitBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    // Wine does not count committed private pages in PeakPagefileUsage; the working set it does.
    return static_cast<double>(std::max(counters.PeakPagefileUsage, counters.PeakWorkingSetSize));
#else
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    double kb = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atof(line + 6);
    std::fclose(status);
    return kb * 1024;
#endif
}

// Runs one contender; returns seconds. The content is checked so the writes cannot be dropped.
double RunPhase(const std::string& mode) {
    std::vector<char> chunk(WriteSize, 'v');
    auto start = std::chrono::steady_clock::now();
    long checksum = 0;
    if (mode == "vstream") {
        cm::TVirtualStream s;
        for (int32_t done = 0; done < TotalSize; done += WriteSize) s.WriteBuffer(chunk.data(), WriteSize);
        checksum = static_cast<const char*>(s.Memory())[TotalSize - 1];
    } else if (mode == "exact") {
        cm::TVirtualStream s;
        for (int32_t done = 0; done < ExactStepSize; done += WriteSize) {
            s.SetSize(done + WriteSize);
            std::memcpy(static_cast<char*>(s.Memory()) + done, chunk.data(), WriteSize);
        }
        checksum = static_cast<const char*>(s.Memory())[ExactStepSize - 1];
    } else {
        std::vector<char> v;
        int32_t total = mode == "vector32" ? ExactStepSize : TotalSize;
        for (int32_t done = 0; done < total; done += WriteSize) v.insert(v.end(), chunk.begin(), chunk.end());
        checksum = v[static_cast<size_t>(total) - 1];
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (checksum != 'v') std::abort();
    return seconds;
}

struct Figures {
    double seconds = 0;
    double peak = 0;
};

#ifdef _WIN32
Figures RunChild(const std::string& mode) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string result = std::string(dir) + "virtual_stream_bench_" + mode + ".txt";
    std::string command = "\"" + std::string(exe) + "\" --child " + mode + " \"" + result + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return {};
    cm::UniqueHandle process(info.hProcess), thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    Figures f;
    if (FILE* file = std::fopen(result.c_str(), "r")) {
        if (std::fscanf(file, "%lf %lf", &f.seconds, &f.peak) != 2) f = {};
        std::fclose(file);
    }
    DeleteFileA(result.c_str());
    return f;
}
#else
Figures RunChild(const std::string& mode) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        double seconds = RunPhase(mode);
        char text[64];
        int n = std::snprintf(text, sizeof text, "%f %f", seconds, PeakCommitBytes());
        if (write(fds[1], text, static_cast<size_t>(n)) != n) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    char text[64] = {};
    ssize_t n = read(fds[0], text, sizeof text - 1);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    Figures f;
    if (n <= 0 || std::sscanf(text, "%lf %lf", &f.seconds, &f.peak) != 2) f = {};
    return f;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        double seconds = RunPhase(argv[2]);
        FILE* file = std::fopen(argv[3], "w");
        if (!file) return 1;
        std::fprintf(file, "%f %f\n", seconds, PeakCommitBytes());
        std::fclose(file);
        return 0;
    }
    Figures stream = RunChild("vstream");
    Figures vector = RunChild("vector");
    Figures exact = RunChild("exact");
    Figures vector32 = RunChild("vector32");
    const double mb = 1048576.0;
    std::printf("virtual stream: %.3f s, peak %.1f MB\n", stream.seconds, stream.peak / mb);
    std::printf("vector:         %.3f s, peak %.1f MB\n", vector.seconds, vector.peak / mb);
    std::printf("32 MB by exact SetSize steps: %.3f s (vector %.3f s, ratio %.1f)\n", exact.seconds,
                vector32.seconds, vector32.seconds > 0 ? exact.seconds / vector32.seconds : 0.0);
    if (stream.seconds <= 0 || vector.seconds <= 0) {
        std::printf("a contender failed to run\n");
        return 1;
    }
    std::printf("BENCH virtual_stream_vs_vector_time %.3f 1.0\n", stream.seconds / vector.seconds);
    std::printf("BENCH virtual_stream_peak_commit_ratio %.3f %.3f\n", stream.peak / TotalSize, vector.peak / TotalSize);
    return 0;
}
