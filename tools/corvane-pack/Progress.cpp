#include "Progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define CORVANE_ISATTY _isatty
#define CORVANE_FILENO _fileno
#else
#include <unistd.h>
#define CORVANE_ISATTY isatty
#define CORVANE_FILENO fileno
#endif

namespace pack {

namespace {

constexpr int BarWidth = 30;
constexpr auto RedrawInterval = std::chrono::milliseconds(100);
constexpr double Megabyte = 1e6;

bool LineOpen = false;

}  // namespace

bool ProgressLineOpen() { return LineOpen; }

TProgressMode DefaultProgressMode(bool quiet) {
    if (quiet) return TProgressMode::Quiet;
    return CORVANE_ISATTY(CORVANE_FILENO(stderr)) ? TProgressMode::Bar : TProgressMode::Lines;
}

void TProgress::Begin(const char* label, uint64_t total) {
    FLabel = label;
    FTotal = total;
    FStart = FLastDraw = std::chrono::steady_clock::now();
    FActive = true;
    if (FMode == TProgressMode::Bar) Draw(0, false);
}

void TProgress::Update(uint64_t done) {
    if (!FActive || FMode != TProgressMode::Bar) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - FLastDraw < RedrawInterval) return;
    FLastDraw = now;
    Draw(done, false);
}

void TProgress::End() {
    if (!FActive) return;
    FActive = false;
    if (FMode == TProgressMode::Bar) {
        Draw(FTotal, true);
        std::fputc('\n', stderr);
        LineOpen = false;
        std::fflush(stderr);
    }
}

void TProgress::Draw(uint64_t done, bool final) {
    if (done > FTotal) done = FTotal;
    const double fraction = FTotal ? static_cast<double>(done) / static_cast<double>(FTotal) : 1.0;
    const int filled = static_cast<int>(fraction * BarWidth);
    char bar[BarWidth + 1];
    for (int i = 0; i < BarWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[BarWidth] = '\0';
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / Megabyte / seconds : 0;
    char left[32] = "--:--";
    if (final) {
        std::snprintf(left, sizeof left, "%d:%02d", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
    } else if (rate > 0) {
        const int remaining = static_cast<int>(static_cast<double>(FTotal - done) / Megabyte / rate);
        std::snprintf(left, sizeof left, "%d:%02d", remaining / 60, remaining % 60);
    }
    std::fprintf(stderr, "\r%-11s [%s] %3d%%  %7.1f/%.1f MB  %6.1f MB/s  %s %s  ", FLabel, bar,
                 static_cast<int>(fraction * 100), static_cast<double>(done) / Megabyte,
                 static_cast<double>(FTotal) / Megabyte, rate, left, final ? "total" : "left");
    std::fflush(stderr);
    LineOpen = true;
}

}  // namespace pack
