#include "bootstrap/PhaseTimes.h"

#include <cstdint>
#include <string>

#include "cm/Objects/WinApi.h"

#include <psapi.h>
#include "diagnostics/Logs.h"

namespace bootstrap {

namespace {

struct TNamedTime {
    const char* Name;
    double Value;
};
// A fixed number of entries, filled without allocation; an entry beyond it is not recorded.
template <int Capacity>
struct TTimeList {
    TNamedTime Items[Capacity] = {};
    int Count = 0;
    void Add(const char* name, double value) noexcept {
        if (Count < Capacity) Items[Count++] = {name, value};
    }
};
// Room for the entry, every start-up module (the packet units alone are some twenty) and every
// step, with a wide margin. Value: the performance counter at the phase's end.
TTimeList<128> Phases;
// Value: milliseconds.
TTimeList<4> BackgroundWork;

// Appends " <name> <ms>," to an entry.
void AppendTime(std::string& text, const char* name, double milliseconds) {
    text += " " + std::string(name) + " " + std::to_string(static_cast<int64_t>(milliseconds + 0.5)) + ",";
}

int64_t FileTimeTicks(const FILETIME& t) {
    return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

void MarkPhase(const char* name) noexcept {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    Phases.Add(name, static_cast<double>(now.QuadPart));
}

void NoteBackgroundWork(const char* name, double milliseconds) noexcept {
    BackgroundWork.Add(name, milliseconds);
}

void LogPhases() noexcept {
    if (!cm::LogEnabled() || Phases.Count == 0) return;
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
        for (int i = 0; i < Phases.Count; ++i) {
            const double at = Phases.Items[i].Value * toMs;
            AppendTime(text, Phases.Items[i].Name, at - previous);
            previous = at;
        }
        text.pop_back();
        cm::LogWrite(text);
        if (BackgroundWork.Count > 0) {
            text = "Setup background work (ms):";
            for (int i = 0; i < BackgroundWork.Count; ++i)
                AppendTime(text, BackgroundWork.Items[i].Name, BackgroundWork.Items[i].Value);
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
