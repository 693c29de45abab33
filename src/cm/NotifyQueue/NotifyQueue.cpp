// Notify queues, their timers and the clocks.
#include "cm/NotifyQueue/NotifyQueue.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

#include "cm/Objects/Errors.h"
#include "cm/Objects/ExceptionReports.h"
#include "cm/Objects/Strings.h"
#include "cm/ThreadPool/MessageLoop.h"

namespace cm {

namespace {

std::atomic<void (*)(const std::string&) noexcept> gWarningHook{nullptr};
std::atomic<void (*)(const std::string&, char, bool) noexcept> gTitledHook{nullptr};
std::atomic<void (*)(const std::string&, bool) noexcept> gWriteHook{nullptr};

std::atomic<int> gClockCount{0};

std::unique_ptr<TNotifyQueue> gMainQueue;  // the module's queue of the main thread

void Warn(const std::string& text) noexcept {
    if (auto hook = gWarningHook.load()) hook(text);
}

// The calling thread's queue, in a system thread-local slot (as the thread classes keep their
// per-thread state: see MessageLoop.cpp).
DWORD QueueSlot() {
    static const DWORD slot = ::TlsAlloc();
    return slot;
}
TNotifyQueue* SlotQueue() noexcept {
    const DWORD lastError = ::GetLastError();
    auto* queue = static_cast<TNotifyQueue*>(::TlsGetValue(QueueSlot()));
    ::SetLastError(lastError);
    return queue;
}

// Raises unless the calling thread owns the queue.
void CheckOwner(const TNotifyQueue& queue, const char* operation) {
    if (queue.OwnerThreadId == 0)
        throw Exception(Format("Notify queue operation cannot be performed before a thread is attached: %s", {operation}));
    if (queue.OwnerThreadId != ::GetCurrentThreadId())
        throw Exception(Format("Notify queue operation can be performed from main thread only: %s", {operation}));
}

// True when size bytes at address can be read without a fault.
bool Readable(const void* address, size_t size) noexcept {
    constexpr DWORD ReadableProtection = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                         PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    auto at = reinterpret_cast<uintptr_t>(address);
    const uintptr_t end = at + size;
    if (address == nullptr || end < at) return false;
    while (at < end) {
        MEMORY_BASIC_INFORMATION info{};
        if (::VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) == 0) return false;
        if (info.State != MEM_COMMIT || (info.Protect & PAGE_GUARD) || !(info.Protect & ReadableProtection))
            return false;
        at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

// True when a zero-terminated text of at most MaxClassNameLength characters can be read at text:
// the type name of a dead object's stale type information may run into unmapped memory.
constexpr size_t MaxClassNameLength = 1024;
bool ReadableText(const char* text) noexcept {
    constexpr uintptr_t SmallestPage = 4096;  // a page readable at its start is readable to its end
    for (size_t i = 0; i <= MaxClassNameLength; ++i) {
        if ((i == 0 || reinterpret_cast<uintptr_t>(text + i) % SmallestPage == 0) && !Readable(text + i, 1))
            return false;
        if (text[i] == '\0') return true;
    }
    return false;
}

// The class name of an object that may be gone ("TMyClass", namespaces dropped). Every step of
// the run-time type lookup is checked for readable memory first: a freed object yields false,
// not a fault. False also for nullptr.
bool ReadClassName(const TObject* object, std::string& name) noexcept {
    try {
        if (!Readable(object, sizeof(void*))) return false;
        const auto* vtable = *reinterpret_cast<const void* const* const*>(object);
        // The type information pointer sits just before the first virtual slot.
        if (!Readable(vtable - 2, 3 * sizeof(void*))) return false;
        const auto* info = static_cast<const std::type_info*>(vtable[-1]);
        if (!Readable(info, sizeof(std::type_info))) return false;
        const char* mangled = info->name();
        if (!ReadableText(mangled)) return false;
        int status = 0;
        char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
        name = (status == 0 && demangled) ? demangled : mangled;
        std::free(demangled);
        const size_t colon = name.rfind("::");
        if (colon != std::string::npos) name.erase(0, colon + 2);
        return true;
    } catch (...) {
        return false;
    }
}

// Undelivered notifications of one list: a forced title and count line, then (reports of faults
// off, as reading a class may touch a dead object) one ordinary line per item that has a class.
void ReportUndelivered(TNotifyQueueList& list, const std::string& name) noexcept {
    if (list.IsEmpty()) return;
    const auto titled = gTitledHook.load();
    const auto write = gWriteHook.load();
    if (titled) titled("Notify Queue Warning", '-', true);
    if (write)
        write("Shutting down with " + std::to_string(list.Count()) + " undelivered notifications in " + name + ".",
              true);
    TExceptionReportsOff reportsOff;
    for (int32_t i = 0; i < list.Count(); ++i) {
        std::string className;
        if (ReadClassName(static_cast<TNotifyItem*>(list.ItemAt(i))->Argument, className) && write)
            write("  " + className, false);
    }
}

std::string ReceiverText(const TObject* receiver) {
    if (receiver == nullptr) return "(unavailable)";
    std::string name;
    return ReadClassName(receiver, name) ? name : "(unknown)";
}

void ReportDeliveryFailure(TNotifyQueue& queue, const TNotifyItem& item, const std::string& message) {
    const std::string text = "Failed to notify object at 0x" +
                             HexDigits(reinterpret_cast<uintptr_t>(item.Receiver), 2 * sizeof(void*)) +
                             ", class is " + ReceiverText(item.Receiver) + "\r\n" + message;
    try {
        if (queue.EventLog && queue.EventLog->Active)
            queue.EventLog->WriteEvent("Notify Event Failed: <str>", TEventArgs{message}, DefaultEventNumberValue, 1, 0);
    } catch (...) {
    }
    Warn(text);
    if (queue.OnError) queue.OnError(text);
}

// Calls the item's handler with a copy of the item; false when it was skipped (no Receiver).
bool Deliver(TNotifyQueue& queue, TNotifyItem item) {
    if (item.Receiver == nullptr) return false;
    try {
        item.Handler.Code(item.Handler.Object, item);
    } catch (const std::exception& e) {
        ReportDeliveryFailure(queue, item, e.what());
    } catch (...) {
        ReportDeliveryFailure(queue, item, "Unknown exception");
    }
    return true;
}

void ProcessLevel(TNotifyQueue& queue, int level) {
    CheckOwner(queue, "Process queue");
    TNotifyQueueList& batch = queue.Temporary[level];
    try {
        {
            TFastMutexLock lock(queue.Lock);
            queue.WakePending = false;
            if (!queue.Primary[level].IsEmpty()) batch.AddList(queue.Primary[level]);
        }
        while (!batch.IsEmpty() && !queue.Stopping) {
            const TNotifyItem item = *static_cast<TNotifyItem*>(batch.ItemAt(0));
            batch.DeleteFirst();
            Deliver(queue, item);
        }
    } catch (const std::exception& e) {
        Warn(std::string("Failed to process notify queue\r\n") + e.what());
    }
}

// Signals the wake event; under the queue's lock (WakeQueue's body).
void WakeLocked(TNotifyQueue& queue) {
    if (queue.WakePending || queue.Stopping) return;
    if (queue.Mode == NotifyLoopMode) {
        queue.WakeEvent.Signal();
    } else {
        queue.LastPostTick = queue.TickSource();
        // Numbered only once posted: a failed post leaves no gap that would read as a lost message.
        const uint32_t number = queue.PostedCount + 1;
        PostMessageGuarded(queue.Window.get(), WM_USER, number, 0);
        queue.PostedCount = number;
    }
    queue.WakePending = true;
}

void RefuseInWindowMode(const TNotifyQueue& queue, const char* message) {
    if (queue.Mode != NotifyLoopMode) throw Exception(message);
}

// Due timers fire, each rescheduled one interval from now before its handler runs. A handler may
// add or remove timers: entries are read by index afresh each turn.
void FireDueTimers(TNotifyQueue& queue) {
    const uint32_t now = queue.TickSource();
    for (int32_t i = 0; i < queue.Timers.Count() && !queue.Stopping; ++i) {
        auto& entry = queue.Timers.Item(i);
        if (entry.Interval == 0 || static_cast<int32_t>(now - entry.Due) < 0) continue;
        entry.Due = now + entry.Interval;
        const TTimerHandler handler = entry.Handler;
        try {
            handler.Code(handler.Object);
        } catch (const std::exception& e) {
            Warn(std::string("Failed to process notify timer\r\n") + e.what());
        }
    }
}

// Milliseconds until the earliest due timer (0 when one is due, INFINITE without timers).
DWORD NextTimerWait(TNotifyQueue& queue) {
    const uint32_t now = queue.TickSource();
    DWORD wait = INFINITE;
    for (int32_t i = 0; i < queue.Timers.Count(); ++i) {
        const auto& entry = queue.Timers.Item(i);
        if (entry.Interval == 0) continue;
        const int32_t left = static_cast<int32_t>(entry.Due - now);
        if (left <= 0) return 0;
        wait = std::min<DWORD>(wait, static_cast<DWORD>(left));
    }
    return wait;
}

}  // namespace

const char* NotifyPriorityName(int priority) {
    static const char* const names[NotifyPriorityCount] = {"Low", "Normal", "High"};
    CM_ASSERT(NotifyQueueUnit, priority >= 0 && priority < NotifyPriorityCount);
    return names[priority];
}

TNotifyLogHooks SetNotifyLogHooks(const TNotifyLogHooks& hooks) {
    TNotifyLogHooks previous;
    previous.Warning = gWarningHook.exchange(hooks.Warning);
    previous.Titled = gTitledHook.exchange(hooks.Titled);
    previous.Write = gWriteHook.exchange(hooks.Write);
    return previous;
}

TNotifyLogHooks NotifyLogHooks() {
    TNotifyLogHooks hooks;
    hooks.Warning = gWarningHook.load();
    hooks.Titled = gTitledHook.load();
    hooks.Write = gWriteHook.load();
    return hooks;
}

uint32_t SystemTickCount() { return ::GetTickCount(); }

// ---- TNotifyQueue ----

TNotifyQueue::TNotifyQueue() : EventLog(&DefaultEventLog()) {}

TNotifyQueue::~TNotifyQueue() noexcept {
    if (Window) {
        ::KillTimer(Window.get(), NotifyWindowTimerId);
        Window.reset();
    }
    for (int level = NotifyLow; level <= NotifyHigh; ++level) {
        const std::string name = NotifyPriorityName(level);
        ReportUndelivered(Temporary[level], "Temporary Queue (" + name + ")");
        ReportUndelivered(Primary[level], "Primary Queue (" + name + ")");
    }
    if (ExternalThread && ExternalEvent) {
        ExternalThread->Terminate();
        try {
            ExternalEvent->Signal();
            ExternalThread->WaitFor();
        } catch (...) {
        }
        ExternalThread.reset();
    }
    if (SlotQueue() == this) ::TlsSetValue(QueueSlot(), nullptr);
}

void TNotifyQueue::WindowProc(TWindowMessage& message) noexcept {
    if (message.Msg != WM_TIMER && message.Msg != WM_USER) {
        message.Result = ::DefWindowProcA(message.Window, message.Msg, message.WParam, message.LParam);
        return;
    }
    try {
        if (message.Msg == WM_TIMER) {
            TFastMutexLock lock(Lock);
            const uint32_t now = TickSource();
            if (ReceivedCount < PostedCount && now - LastPostTick > NotifyLateWakeUpMs) {
                Warn("Notify Queue Warning: Posted message has not arrived in " + std::to_string(NotifyLateWakeUpMs / 1000) +
                     " seconds.");
                LastPostTick = now;
            }
        } else {
            const auto number = static_cast<uint32_t>(message.WParam);
            TFastMutexLock lock(Lock);
            const uint32_t expected = ReceivedCount + 1;
            if (number < expected)
                Warn("Notify Queue Warning: Posted messages arriving out of order.");
            else if (number > expected)
                Warn("Notify Queue Warning: " + std::to_string(number - expected) + " posted message(s) has been lost.");
            ReceivedCount = number;
        }
        ProcessExternalQueue(*this);
        ProcessQueues(*this);
    } catch (const std::exception& e) {
        Warn(std::string("Failed to process notify queue\r\n") + e.what());
    } catch (...) {
    }
}

void AttachThread(TNotifyQueue& queue) {
    CM_ASSERT(NotifyQueueUnit, queue.OwnerThreadId == 0);
    CM_ASSERT(NotifyQueueUnit, SlotQueue() == nullptr);
    ::TlsSetValue(QueueSlot(), &queue);
    queue.OwnerThreadId = ::GetCurrentThreadId();
}

TNotifyQueue& CurrentNotifyQueue() {
    TNotifyQueue* queue = SlotQueue();
    CM_ASSERT(NotifyQueueUnit, queue != nullptr);
    return *queue;
}

TNotifyQueue* FindCurrentNotifyQueue() noexcept { return SlotQueue(); }

void SetMode(TNotifyQueue& queue, uint8_t mode) {
    if (mode == queue.Mode) return;
    CM_ASSERT(NotifyQueueUnit, mode == NotifyWindowMode);
    CheckOwner(queue, "Set mode");
    if (ClockCount() > 0) throw Exception("Notify queue: Cannot set mode after timers have been created");
    if (queue.ExternalEvent) throw Exception("Notify queue: Cannot set mode after external event has been created");
    auto listsEmpty = [&queue] {
        for (int level = 0; level < NotifyPriorityCount; ++level)
            if (!queue.Primary[level].IsEmpty() || !queue.Temporary[level].IsEmpty()) return false;
        return true;
    };
    {
        TFastMutexLock lock(queue.Lock);
        if (!listsEmpty()) throw Exception("Notify queue: Cannot set mode after messages have been posted");
    }
    UniqueMessageWindow window(AllocateMessageWindow(WindowMethod<&TNotifyQueue::WindowProc>(&queue)));
    if (::SetTimer(window.get(), NotifyWindowTimerId, NotifyWindowTimerMs, nullptr) == 0)
        throw Exception("Out of timer resources.");
    // The mode changes together with the window, under the lock, so that no other thread wakes
    // a window-mode queue without a window. A notification that came in since the check above
    // must not wait behind a wake-up that was sent the old way.
    TFastMutexLock lock(queue.Lock);
    if (!listsEmpty()) {
        ::KillTimer(window.get(), NotifyWindowTimerId);
        throw Exception("Notify queue: Cannot set mode after messages have been posted");
    }
    queue.Window = std::move(window);
    queue.Mode = NotifyWindowMode;
}

void WakeQueue(TNotifyQueue& queue) {
    TFastMutexLock lock(queue.Lock);
    WakeLocked(queue);
}

void PostNotification(TNotifyQueue& queue, int priority, TObject* receiver, TNotifyHandler handler,
                      TObject* argument) {
    CM_ASSERT(NotifyQueueUnit, priority >= 0 && priority < NotifyPriorityCount);
    CM_ASSERT(NotifyQueueUnit, handler.Code != nullptr);
    TFastMutexLock lock(queue.Lock);
    queue.Primary[priority].Add(receiver, handler, argument);
    WakeLocked(queue);
}

void AddExternalNotification(TNotifyQueue& queue, TObject* receiver, TNotifyHandler handler, TObject* argument) {
    CheckOwner(queue, "Add external notification");
    CM_ASSERT(NotifyQueueUnit, handler.Code != nullptr);
    queue.External.Add(receiver, handler, argument);
}

void CancelNotifications(TNotifyQueue& queue, TObject* receiver) {
    CheckOwner(queue, "Cancel notifications");
    if (receiver == nullptr) return;
    auto cancel = [receiver](TNotifyQueueList& list) {
        for (int32_t i = 0; i < list.Count(); ++i) {
            auto* item = static_cast<TNotifyItem*>(list.ItemAt(i));
            if (item->Receiver == receiver) item->Receiver = nullptr;
        }
    };
    cancel(queue.External);
    for (auto& list : queue.Temporary) cancel(list);
    TFastMutexLock lock(queue.Lock);
    for (auto& list : queue.Primary) cancel(list);
}

void ProcessExternalQueue(TNotifyQueue& queue) {
    CheckOwner(queue, "Process external queue");
    try {
        int skipped = 0;
        for (int32_t i = 0; i < queue.External.Count() && !queue.Stopping; ++i) {
            const TNotifyItem item = *static_cast<TNotifyItem*>(queue.External.ItemAt(i));
            if (!Deliver(queue, item)) ++skipped;
        }
        if (skipped > 0) {
            for (int32_t i = queue.External.Count() - 1; i >= 0; --i)
                if (static_cast<TNotifyItem*>(queue.External.ItemAt(i))->Receiver == nullptr) queue.External.Delete(i);
        }
    } catch (const std::exception& e) {
        Warn(std::string("Failed to process external notify queue\r\n") + e.what());
    }
}

void ProcessQueues(TNotifyQueue& queue) {
    for (int level = NotifyHigh; level >= NotifyLow && !queue.Stopping; --level) {
        {
            // A notification of a higher level that came in meanwhile gets a pass of its own soon,
            // instead of waiting behind this level's batch.
            TFastMutexLock lock(queue.Lock);
            for (int above = level + 1; above <= NotifyHigh; ++above) {
                if (!queue.Primary[above].IsEmpty()) {
                    WakeLocked(queue);
                    break;
                }
            }
        }
        ProcessLevel(queue, level);
    }
}

void AddTimer(TNotifyQueue& queue, uint32_t intervalMs, TTimerHandler handler) {
    CheckOwner(queue, "Add timer");
    RefuseInWindowMode(queue, "Notify loop must be enabled before adding timer");
    CM_ASSERT(NotifyQueueUnit, intervalMs != 0);
    const uint32_t due = queue.TickSource() + intervalMs;
    for (int32_t i = 0; i < queue.Timers.Count(); ++i) {
        auto& entry = queue.Timers.Item(i);
        if (entry.Interval == 0) {
            entry = {handler, intervalMs, due};
            return;
        }
    }
    queue.Timers.Add(handler, intervalMs, due);
    queue.WakeEvent.Signal();
}

void ResetTimer(TNotifyQueue& queue, TTimerHandler handler) {
    CheckOwner(queue, "Reset timer");
    RefuseInWindowMode(queue, "Notify loop must be enabled before removing timer");
    const uint32_t now = queue.TickSource();
    const auto key = shapes::NotifyTimerList::KeyRecord(handler);
    for (int32_t i = 0; i < queue.Timers.Count(); ++i) {
        auto& entry = queue.Timers.Item(i);
        if (entry.Interval != 0 && shapes::NotifyTimerList::Same(entry, key, 0)) entry.Due = now + entry.Interval;
    }
}

void RemoveTimer(TNotifyQueue& queue, TTimerHandler handler) {
    CheckOwner(queue, "Remove timer");
    RefuseInWindowMode(queue, "Notify loop must be enabled before removing timer");
    const auto key = shapes::NotifyTimerList::KeyRecord(handler);
    for (int32_t i = 0; i < queue.Timers.Count(); ++i) {
        auto& entry = queue.Timers.Item(i);
        if (entry.Interval != 0 && shapes::NotifyTimerList::Same(entry, key, 0)) entry = {{}, 0, 0};
    }
}

void RunNotifyLoop(TNotifyQueue& queue) {
    CheckOwner(queue, "Run notify loop");
    RefuseInWindowMode(queue, "Notify loop cannot run in window mode");
    bool quit = false;
    int quitCode = 0;
    while (!queue.LoopStopRequested && !quit) {
        const HANDLE wake = queue.WakeEvent.Handle.get();
        const DWORD result =
            ::MsgWaitForMultipleObjectsEx(1, &wake, NextTimerWait(queue), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result == WAIT_FAILED) RaiseLastSystemError("Wait operation failed");
        MSG msg;
        while (!quit && ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(msg.wParam);
                break;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        if (queue.LoopStopRequested || quit) break;
        FireDueTimers(queue);
        ProcessExternalQueue(queue);
        ProcessQueues(queue);
    }
    queue.LoopStopRequested = false;
    // The quit belongs to the thread's outermost loop as well.
    if (quit) ::PostQuitMessage(quitCode);
}

void StopNotifyLoop(TNotifyQueue& queue) {
    queue.LoopStopRequested = true;
    queue.WakeEvent.Signal();
}

// ---- Clocks ----

TClock::TClock() { ++gClockCount; }

TClock::~TClock() { --gClockCount; }

void TClock::SetEnabled(bool enabled) {
    if (enabled == FEnabled) return;
    FEnabled = enabled;
    Update();
}

void TClock::SetInterval(uint32_t intervalMs) {
    if (intervalMs == FInterval) return;
    FInterval = intervalMs;
    Update();
}

void TClock::SetOnTick(TClockEvent onTick) {
    FOnTick = std::move(onTick);
    Update();
}

void TClock::Update() {}

void TClock::Restart() {}

void TClock::Tick() {
    if (FEnabled && FOnTick) FOnTick(*this);
}

int ClockCount() { return gClockCount.load(); }

TNotifyClock::TNotifyClock(TNotifyQueue& queue) : Queue(&queue), Link(new TClockLink{this}) {
    TNotifyClock::Update();
}

TNotifyClock::~TNotifyClock() {
    FEnabled = false;
    try {
        TNotifyClock::Update();
        delete Link;
    } catch (...) {
        // Freed on another thread than the queue's owner: the timer slot stays until the queue
        // goes, calling the link, which no longer leads here.
        Link->Clock.store(nullptr);
    }
}

TTimerHandler TNotifyClock::TimerHandler() const {
    return {[](void* link) {
                if (TClock* clock = static_cast<TClockLink*>(link)->Clock.load()) clock->Tick();
            },
            Link};
}

void TNotifyClock::Update() {
    RemoveTimer(*Queue, TimerHandler());
    if (FInterval != 0 && FEnabled && FOnTick) AddTimer(*Queue, FInterval, TimerHandler());
}

void TNotifyClock::Restart() {
    if (FEnabled)
        ResetTimer(*Queue, TimerHandler());
    else
        SetEnabled(true);
}

TWindowsClock::TWindowsClock() {
    Window.reset(AllocateMessageWindow(WindowMethod<&TWindowsClock::WindowProc>(this)));
    TWindowsClock::Update();
}

TWindowsClock::~TWindowsClock() {
    FEnabled = false;
    ::KillTimer(Window.get(), NotifyWindowTimerId);
    Window.reset();
}

void TWindowsClock::Update() {
    ::KillTimer(Window.get(), NotifyWindowTimerId);
    if (FInterval != 0 && FEnabled && FOnTick) {
        if (::SetTimer(Window.get(), NotifyWindowTimerId, FInterval, nullptr) == 0) throw Exception("Out of timer resources.");
    }
}

void TWindowsClock::Restart() {
    SetEnabled(false);
    SetEnabled(true);
}

void TWindowsClock::WindowProc(TWindowMessage& message) noexcept {
    if (message.Msg != WM_TIMER) {
        message.Result = ::DefWindowProcA(message.Window, message.Msg, message.WParam, message.LParam);
        return;
    }
    try {
        Tick();
    } catch (...) {
        // A tick's failure is discarded: the clock keeps ticking.
    }
}

std::unique_ptr<TClock> CreateClock(uint32_t intervalMs, bool enabled, TClockEvent onTick) {
    TNotifyQueue& queue = CurrentNotifyQueue();
    std::unique_ptr<TClock> clock;
    if (queue.Mode == NotifyLoopMode)
        clock = std::make_unique<TNotifyClock>(queue);
    else if (queue.Mode == NotifyWindowMode)
        clock = std::make_unique<TWindowsClock>();
    else
        throw Exception("Cannot create clock: Unknown notify queue mode");
    clock->SetInterval(intervalMs);
    clock->SetOnTick(std::move(onTick));
    clock->SetEnabled(enabled);
    return clock;
}

// ---- Module ----

void InitializeNotifyQueue() {
    auto queue = std::make_unique<TNotifyQueue>();
    AttachThread(*queue);
    // A refused mode frees the queue here, which detaches it again.
    if (!IsConsoleProgram()) SetMode(*queue, NotifyWindowMode);
    gMainQueue = std::move(queue);
}

void FinalizeNotifyQueue() { gMainQueue.reset(); }

}  // namespace cm
