#include "bootstrap/PhaseTimes.h"

#include <cstdint>
#include <string>

#include "cm/Objects/WinApi.h"

#include <psapi.h>
#include "diagnostics/Logs.h"

namespace bootstrap {

namespace {

struct TPhase {
    const char* Name;
    int64_t Counter;
};
// Room for the entry, every start-up module (the packet units alone are some twenty) and every
// step, with a wide margin: a phase beyond it is not recorded.
constexpr int MaxPhases = 128;
TPhase Phases[MaxPhases] = {};
int PhaseCount = 0;

struct TBackgroundWork {
    const char* Name;
    double Milliseconds;
};
constexpr int MaxBackgroundWork = 4;
TBackgroundWork BackgroundWork[MaxBackgroundWork] = {};
int BackgroundWorkCount = 0;

int64_t FileTimeTicks(const FILETIME& t) {
    return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

void MarkPhase(const char* name) noexcept {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    if (PhaseCount < MaxPhases) Phases[PhaseCount++] = {name, now.QuadPart};
}

void NoteBackgroundWork(const char* name, double milliseconds) noexcept {
    if (BackgroundWorkCount < MaxBackgroundWork) BackgroundWork[BackgroundWorkCount++] = {name, milliseconds};
}

void LogPhases() noexcept {
    if (!cm::LogEnabled() || PhaseCount == 0) return;
    try {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        // The first phase starts when the process was created (file-time units of 100 ns).
        FILETIME created{}, exited{}, kernel{}, user{}, nowTime{};
        ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
        ::GetSystemTimeAsFileTime(&nowTime);
        LARGE_INTEGER now{};
        ::QueryPerformanceCounter(&now);
        const double sinceCreation = static_cast<double>(FileTimeTicks(nowTime) - FileTimeTicks(created)) / 1e4;
        const double toMs = 1000.0 / static_cast<double>(frequency.QuadPart);
        double previous = static_cast<double>(now.QuadPart) * toMs - sinceCreation;
        std::string text = "Setup phases (ms):";
        for (int i = 0; i < PhaseCount; ++i) {
            const double at = static_cast<double>(Phases[i].Counter) * toMs;
            text += " " + std::string(Phases[i].Name) + " " + std::to_string(static_cast<int64_t>(at - previous + 0.5)) + ",";
            previous = at;
        }
        text.pop_back();
        cm::LogWrite(text);
        if (BackgroundWorkCount > 0) {
            text = "Setup background work (ms):";
            for (int i = 0; i < BackgroundWorkCount; ++i)
                text += " " + std::string(BackgroundWork[i].Name) + " " +
                        std::to_string(static_cast<int64_t>(BackgroundWork[i].Milliseconds + 0.5)) + ",";
            text.pop_back();
            cm::LogWrite(text);
        }
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        if (::K32GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory))
            cm::LogWrite("Setup peak memory (bytes): working set " + std::to_string(memory.PeakWorkingSetSize) +
                         ", committed " + std::to_string(memory.PeakPagefileUsage));
    } catch (...) {
        // Timing is information only.
    }
}

}  // namespace bootstrap
