// What the packer shows while it works: a progress bar on a terminal (bytes done, percent, MB/s,
// time left), nothing else otherwise; the caller prints its summary line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace pack {

enum class TProgressMode { Bar, Lines, Quiet };

class TProgress {
public:
    explicit TProgress(TProgressMode mode) : FMode(mode) {}
    // Starts a step of total bytes (shown as its label).
    void Begin(const char* label, uint64_t total);
    // Bytes of the step done so far; redraws at most ten times a second.
    void Update(uint64_t done);
    // Ends the step (the bar at 100 %, then a new line).
    void End();
    TProgressMode Mode() const { return FMode; }

private:
    void Draw(uint64_t done, bool final);

    TProgressMode FMode;
    const char* FLabel = "";
    uint64_t FTotal = 0;
    std::chrono::steady_clock::time_point FStart, FLastDraw;
    bool FActive = false;
};

// True while a bar is drawn on the current line of standard error (a message must start a new one).
bool ProgressLineOpen();

// Bar on a terminal (standard error), Lines otherwise, Quiet when asked.
TProgressMode DefaultProgressMode(bool quiet);

}  // namespace pack
