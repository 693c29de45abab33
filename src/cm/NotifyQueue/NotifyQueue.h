// cm/NotifyQueue: per-thread queues of notifications (method calls queued for later delivery on
// the owning thread) in three priority levels, standing ("external") notifications run on every
// wake-up, loop-mode timers, and the clocks built on them. A queue runs in loop mode (its owner
// runs RunNotifyLoop and is woken through an event) or in window mode (its owner runs an
// ordinary message loop and is woken by numbered messages to a hidden window, whose numbers the
// queue checks for lost, late and reordered wake-ups). Win32 only.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cm/EventLog/EventLog.h"
#include "cm/Lists/TypedLists.h"
#include "cm/NotifyQueue/MessageWindow.h"
#include "cm/Objects/Object.h"
#include "cm/Objects/Sync.h"
#include "cm/Objects/WinApi.h"
#include "cm/ThreadPool/SafeThread.h"

namespace cm {

inline constexpr const char* NotifyQueueUnit = "cm/NotifyQueue";

enum TNotifyPriority : int { NotifyLow = 0, NotifyNormal = 1, NotifyHigh = 2 };
constexpr int NotifyPriorityCount = 3;
// "Low", "Normal", "High": the names the reports use.
const char* NotifyPriorityName(int priority);

enum TNotifyMode : uint8_t { NotifyLoopMode = 0, NotifyWindowMode = 1 };

constexpr UINT_PTR NotifyWindowTimerId = 1;       // the window-mode queue's and the windows clock's timer
constexpr uint32_t NotifyWindowTimerMs = 1000;    // the window-mode queue's check of late wake-ups
constexpr uint32_t NotifyLateWakeUpMs = 10000;    // a wake-up message missing this long is warned about

struct TNotifyItem;

// A method taking the notification item: code and object.
struct TNotifyHandler {
    void (*Code)(void* object, TNotifyItem& item) = nullptr;
    void* Object = nullptr;
};
// Binds a member function: NotifyMethod<&TClass::Handle>(object).
template <auto Method, class C>
TNotifyHandler NotifyMethod(C* object) {
    return {[](void* self, TNotifyItem& item) { (static_cast<C*>(self)->*Method)(item); }, object};
}

// One pending notification. An item whose Receiver is empty counts as cancelled and is skipped.
// Argument's class name is what the shut-down report lists.
struct TNotifyItem {
    TObject* Receiver;
    TNotifyHandler Handler;
    TObject* Argument;
};

// A method without arguments (the timers' handlers): code and object. Compared as a pair.
struct TTimerHandler {
    void (*Code)(void* object) = nullptr;
    void* Object = nullptr;
};
template <auto Method, class C>
TTimerHandler TimerMethod(C* object) {
    return {[](void* self) { (static_cast<C*>(self)->*Method)(); }, object};
}

namespace shapes {

struct NotifyQueueList {
    static constexpr const char* Name = "TNotifyQueueList";
    using Base = TCustomList;
    static constexpr unsigned Ops = 0;
    using Record = TNotifyItem;
    using Key = TObject*;
    static Record KeyRecord(Key k) { return {k, {}, nullptr}; }
    // Keyed by the first word, the receiver.
    static int Compare(const Record& a, const Record& b, uint16_t) {
        const auto x = reinterpret_cast<uintptr_t>(a.Receiver), y = reinterpret_cast<uintptr_t>(b.Receiver);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    static bool Same(const Record& a, const Record& b, uint16_t) { return a.Receiver == b.Receiver; }
    static uint32_t Hash(THashFunction h, const Record& r) { return h(&r.Receiver, sizeof r.Receiver); }
    static void Free(Record&, uint16_t) {}
};

struct NotifyTimerList {
    static constexpr const char* Name = "TNotifyTimerList";
    using Base = TCustomList;
    static constexpr unsigned Ops = 0;
    struct Record {
        TTimerHandler Handler;
        uint32_t Interval;  // 0: a free slot
        uint32_t Due;       // tick count at which the timer is due
    };
    using Key = TTimerHandler;
    static Record KeyRecord(const Key& k) { return {k, 0, 0}; }
    // Keyed by the handler's two words, compared in turn as unsigned numbers.
    static int Compare(const Record& a, const Record& b, uint16_t) {
        const uintptr_t a1 = reinterpret_cast<uintptr_t>(a.Handler.Code), b1 = reinterpret_cast<uintptr_t>(b.Handler.Code);
        if (a1 != b1) return a1 < b1 ? -1 : 1;
        const uintptr_t a2 = reinterpret_cast<uintptr_t>(a.Handler.Object), b2 = reinterpret_cast<uintptr_t>(b.Handler.Object);
        return a2 < b2 ? -1 : a2 > b2 ? 1 : 0;
    }
    static bool Same(const Record& a, const Record& b, uint16_t) { return Compare(a, b, 0) == 0; }
    static uint32_t Hash(THashFunction h, const Record& r) { return h(&r.Handler, sizeof r.Handler); }
    static void Free(Record&, uint16_t) {}
};

}  // namespace shapes

using TNotifyQueueList = TTypedContainer<shapes::NotifyQueueList>;
using TNotifyTimerList = TTypedContainer<shapes::NotifyTimerList>;

// Where the queue reports (this layer knows no log): the log installs its writers at start-up;
// with none installed the reports are dropped. Warning writes a forced warning entry; Titled a
// title line (forced or not); Write one entry (forced or not). None may raise.
struct TNotifyLogHooks {
    void (*Warning)(const std::string& text) noexcept = nullptr;
    void (*Titled)(const std::string& title, char fill, bool forced) noexcept = nullptr;
    void (*Write)(const std::string& text, bool forced) noexcept = nullptr;
};
// Sets the hooks (before other threads run) and returns the previous ones.
TNotifyLogHooks SetNotifyLogHooks(const TNotifyLogHooks& hooks);
TNotifyLogHooks NotifyLogHooks();

// The millisecond tick count a queue reads (GetTickCount by default; tests move time by hand).
using TNotifyTickSource = uint32_t (*)();
uint32_t SystemTickCount();

class TNotifyQueue : public TObject {
public:
    // Creates the lists, the lock and the wake event and takes the default event log. The queue
    // is unattached and in loop mode.
    TNotifyQueue();
    // Stops the window timer and destroys the hidden window (on the owner thread), reports every
    // undelivered notification in the log, stops the external thread, and detaches the queue from
    // the calling thread when it is that thread's queue. Never raises.
    ~TNotifyQueue() noexcept override;
    TNotifyQueue(const TNotifyQueue&) = delete;
    TNotifyQueue& operator=(const TNotifyQueue&) = delete;

    uint8_t Mode = NotifyLoopMode;
    TFastMutex Lock;  // guards the primary lists, WakePending, PostedCount, LastPostTick, ReceivedCount
    std::unique_ptr<TWinEvent> ExternalEvent;
    TWinEvent WakeEvent{nullptr, "", false, false};  // auto-reset: the loop-mode wake-up
    UniqueMessageWindow Window;
    std::unique_ptr<TSafeThread> ExternalThread;
    std::function<void(const std::string& text)> OnError;  // gets the failure text of a notification
    DWORD OwnerThreadId = 0;
    TNotifyQueueList Primary[NotifyPriorityCount]{TNotifyQueueList{0}, TNotifyQueueList{0}, TNotifyQueueList{0}};
    bool WakePending = false;
    std::atomic<bool> Stopping{false};
    uint32_t PostedCount = 0;
    uint32_t LastPostTick = 0;
    TNotifyQueueList External{0};
    TNotifyQueueList Temporary[NotifyPriorityCount]{TNotifyQueueList{0}, TNotifyQueueList{0}, TNotifyQueueList{0}};
    TNotifyTimerList Timers{0};
    uint32_t ReceivedCount = 0;
    TEventLog* EventLog;

    TNotifyTickSource TickSource = &SystemTickCount;
    std::atomic<bool> LoopStopRequested{false};  // RunNotifyLoop returns at its next pass

    // The hidden window's procedure (window mode).
    void WindowProc(TWindowMessage& message) noexcept;
};

// Attaches the queue to the calling thread for good. Preconditions (assertions): the queue has
// no owner and the thread has no queue.
void AttachThread(TNotifyQueue& queue);
// The calling thread's queue; a thread without one is an assertion failure.
TNotifyQueue& CurrentNotifyQueue();
// The calling thread's queue, or nullptr.
TNotifyQueue* FindCurrentNotifyQueue() noexcept;

// Switches to window mode (only mode 1 may be set; the current mode returns at once): creates
// the hidden window and its 1-second timer. Raises the owner-thread errors ("Set mode"),
// "Notify queue: Cannot set mode after timers have been created" while any clock exists,
// "Notify queue: Cannot set mode after external event has been created",
// "Notify queue: Cannot set mode after messages have been posted" while a list holds items,
// and "Out of timer resources." when the window timer cannot be started.
void SetMode(TNotifyQueue& queue, uint8_t mode);

// Sends one wake-up unless one is pending or the queue is stopping: signals the wake event
// (loop mode) or posts the next numbered WM_USER message to the hidden window (window mode,
// through PostMessageGuarded, which may block while the owner's message queue is full).
// Any thread. Raises the posting errors.
void WakeQueue(TNotifyQueue& queue);

// Adds a notification to the primary list of its level and wakes the queue. Any thread.
void PostNotification(TNotifyQueue& queue, int priority, TObject* receiver, TNotifyHandler handler,
                      TObject* argument = nullptr);

// Adds a standing notification, delivered on every wake-up until cancelled ("Add external
// notification"; owner thread only).
void AddExternalNotification(TNotifyQueue& queue, TObject* receiver, TNotifyHandler handler,
                             TObject* argument = nullptr);
// Cancels the receiver's notifications everywhere: their Receiver is cleared, so that they are
// skipped (and the standing ones dropped at the next pass). Owner thread only.
void CancelNotifications(TNotifyQueue& queue, TObject* receiver);

// Delivers the pending notifications on the owner thread, High first, while the queue is not
// stopping. A failing handler is logged (and sent to the event log and OnError); delivery goes
// on. Raises the owner-thread errors ("Process queue").
void ProcessQueues(TNotifyQueue& queue);
// Delivers every standing notification once ("Process external queue").
void ProcessExternalQueue(TNotifyQueue& queue);

// Loop-mode timers ("Add timer", "Reset timer", "Remove timer"; owner thread only). AddTimer
// reuses the first free slot and raises "Notify loop must be enabled before adding timer" in
// window mode; an interval of 0 is an assertion failure. ResetTimer restarts the handler's timers
// from now; RemoveTimer frees their slots; both raise
// "Notify loop must be enabled before removing timer" in window mode.
void AddTimer(TNotifyQueue& queue, uint32_t intervalMs, TTimerHandler handler);
void ResetTimer(TNotifyQueue& queue, TTimerHandler handler);
void RemoveTimer(TNotifyQueue& queue, TTimerHandler handler);

// The loop of a loop-mode owner ("Run notify loop"; owner thread only, loop mode only): waits for
// the wake event, a window message of the thread or the earliest due timer; dispatches the
// thread's window messages, fires the due timers (a failing timer handler is logged), delivers
// the standing and pending notifications. Returns when StopNotifyLoop was called or a WM_QUIT
// message arrives (which is posted again for an enclosing loop). Raises the owner-thread errors
// and "Notify loop cannot run in window mode".
void RunNotifyLoop(TNotifyQueue& queue);
// Asks the queue's RunNotifyLoop to return at its next pass. Any thread.
void StopNotifyLoop(TNotifyQueue& queue);

// ---- Clocks ----

class TClock;
using TClockEvent = std::function<void(TClock& sender)>;

// Periodic ticks. Setting a property to a different value calls Update (OnTick always does).
class TClock : public TObject {
public:
    ~TClock() override;
    TClock(const TClock&) = delete;
    TClock& operator=(const TClock&) = delete;

    bool Enabled() const { return FEnabled; }
    uint32_t Interval() const { return FInterval; }
    void SetEnabled(bool enabled);
    void SetInterval(uint32_t intervalMs);
    void SetOnTick(TClockEvent onTick);

    // Applies the settings; nothing here.
    virtual void Update();
    // Starts the current period anew; nothing here.
    virtual void Restart();
    // Calls OnTick(*this) when Enabled and OnTick is assigned.
    void Tick();

protected:
    TClock();

    bool FEnabled = false;
    uint32_t FInterval = 0;
    TClockEvent FOnTick;
};

// Number of clocks that exist in the process.
int ClockCount();

// What a notify clock's timer slot calls: the clock, or nothing once the clock is gone.
struct TClockLink {
    std::atomic<TClock*> Clock;
};

// A clock on the timers of a loop-mode queue (which must outlive it); ticks while the owner runs
// RunNotifyLoop. Owner thread only; freed on another thread, it cannot free its timer slot (the
// timers are the owner's alone): the slot is left to the queue and ticks nothing from then on.
class TNotifyClock : public TClock {
public:
    explicit TNotifyClock(TNotifyQueue& queue);
    ~TNotifyClock() override;
    void Update() override;
    void Restart() override;

    TNotifyQueue* Queue;

private:
    TTimerHandler TimerHandler() const;
    TClockLink* Link;  // the timer's handler object; kept for good when freed on another thread
};

// A clock on a window timer of a hidden window of its own; ticks while the creating thread
// dispatches messages. A tick's exception is discarded.
class TWindowsClock : public TClock {
public:
    // Raises the window creation errors.
    TWindowsClock();
    ~TWindowsClock() override;
    // Raises "Out of timer resources." when the window timer cannot be started.
    void Update() override;
    void Restart() override;
    void WindowProc(TWindowMessage& message) noexcept;

    UniqueMessageWindow Window;
};

// A clock for the calling thread's queue: a TNotifyClock in loop mode, a TWindowsClock in window
// mode. Raises "Cannot create clock: Unknown notify queue mode" for any other mode.
std::unique_ptr<TClock> CreateClock(uint32_t intervalMs, bool enabled, TClockEvent onTick);

// ---- Module ----

// Start-up: gives the calling (main) thread a queue, in window mode unless the program is a
// console program. Shut-down: frees it (its undelivered notifications are reported).
void InitializeNotifyQueue();
void FinalizeNotifyQueue();

}  // namespace cm
