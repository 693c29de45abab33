// Notification round trips: a thread posts one notification to a queue owned by the main thread
// and waits until it has been delivered, then posts the next. Measured for a loop-mode queue
// (RunNotifyLoop) and a window-mode queue (the thread's message loop), against the plain round
// trip the window mode is built on: PostThreadMessage to the main thread, GetMessage there.
// Prints "BENCH notify_<mode>_vs_plain <queue rate / plain rate> <target>": at least 0.5 for
// window mode (the queue adds its lists, its lock and the wake-up bookkeeping to each message);
// the loop mode is a measure only.
#include "BenchName.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "cm/ThreadPool/MessageLoop.h"
#include "cm/NotifyQueue/NotifyQueue.h"

namespace {

constexpr int kRoundTrips = 20000;
constexpr int kRounds = 5;
constexpr UINT kPlainMessage = WM_APP + 1;

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The delivered side of a queue round: counts deliveries, wakes the poster, ends the owner's loop
// after the last one.
struct TReceiver : cm::TObject {
    cm::TNotifyQueue* Queue = nullptr;
    HANDLE Delivered = nullptr;
    int Count = 0;
    void Take(cm::TNotifyItem&) {
        ::SetEvent(Delivered);
        if (++Count == kRoundTrips) {
            if (Queue->Mode == cm::NotifyLoopMode)
                cm::StopNotifyLoop(*Queue);
            else
                ::PostQuitMessage(0);
        }
    }
};

// Round trips per second through a queue of the given mode, owned by the calling thread.
double QueueRound(uint8_t mode) {
    cm::TNotifyQueue queue;
    cm::AttachThread(queue);
    cm::SetMode(queue, mode);
    TReceiver receiver;
    receiver.Queue = &queue;
    receiver.Delivered = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    std::thread poster([&] {
        for (int i = 0; i < kRoundTrips; ++i) {
            cm::PostNotification(queue, cm::NotifyNormal, &receiver, cm::NotifyMethod<&TReceiver::Take>(&receiver));
            ::WaitForSingleObject(receiver.Delivered, INFINITE);
        }
    });
    if (mode == cm::NotifyLoopMode)
        cm::RunNotifyLoop(queue);
    else
        cm::MessageLoop(0);
    poster.join();
    QueryPerformanceCounter(&end);
    ::CloseHandle(receiver.Delivered);
    return kRoundTrips / Seconds(start, end);
}

// Round trips per second of the plain thread message and GetMessage loop.
double PlainRound() {
    const DWORD owner = ::GetCurrentThreadId();
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread has a message queue from here on
    const HANDLE delivered = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    std::thread poster([&] {
        for (int i = 0; i < kRoundTrips; ++i) {
            ::PostThreadMessageA(owner, kPlainMessage, static_cast<WPARAM>(i), 0);
            ::WaitForSingleObject(delivered, INFINITE);
        }
    });
    for (int received = 0; received < kRoundTrips && ::GetMessageA(&msg, nullptr, 0, 0) > 0;) {
        if (msg.message == kPlainMessage) {
            ::SetEvent(delivered);
            ++received;
        }
    }
    poster.join();
    QueryPerformanceCounter(&end);
    ::CloseHandle(delivered);
    return kRoundTrips / Seconds(start, end);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    std::vector<double> loopRatios, windowRatios;
    for (int round = 0; round < kRounds; ++round) {
        // Side by side in each round, so that the machine's load hits all three alike.
        const double plain = PlainRound();
        const double loop = QueueRound(cm::NotifyLoopMode);
        const double window = QueueRound(cm::NotifyWindowMode);
        std::printf("round %d: plain %.0f/s, loop mode %.0f/s, window mode %.0f/s\n", round + 1, plain, loop, window);
        loopRatios.push_back(loop / plain);
        windowRatios.push_back(window / plain);
    }
    std::printf("BENCH %s %.3f -\n", BenchName("notify_loop_vs_plain").c_str(), Median(loopRatios));
    std::printf("BENCH %s %.3f 0.5\n", BenchName("notify_window_vs_plain").c_str(), Median(windowRatios));
    return 0;
}
