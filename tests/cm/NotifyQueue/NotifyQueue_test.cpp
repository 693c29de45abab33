// Notify queues, timers, clocks and the hidden message windows, under Wine. Each test attaches a
// queue of its own to the test thread. What the queue reports is captured through its log hooks;
// one test reads the real log file.
#include "cm/ThreadPool/MessageLoop.h"
#include "cm/NotifyQueue/NotifyQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <new>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "cm/Objects/Errors.h"
#include "cm/Objects/ExceptionReports.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"
#include "diagnostics/Logs.h"
#include "catalogue/ProductInfoLoader.h"
#include "support/MessageOf.h"

namespace cm {
namespace {

using test::MessageOf;

class LogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { InitializeLogs(&ProductCaptionBesideExecutable); }
    void TearDown() override { FinalizeLogs(); }
};
const auto* const Environment = ::testing::AddGlobalTestEnvironment(new LogEnvironment);

// ---- What the queue reports ----

struct TReportLine {
    std::string Text;
    bool Forced;
    bool ReportsOff;  // exception reports were off on the writing thread
    friend bool operator==(const TReportLine&, const TReportLine&) = default;
};
std::ostream& operator<<(std::ostream& out, const TReportLine& line) {
    return out << '"' << line.Text << '"' << (line.Forced ? " forced" : "") << (line.ReportsOff ? " reports-off" : "");
}

std::mutex gReportLock;
std::vector<std::string> gWarnings;
std::vector<TReportLine> gLines;  // titles are recorded as "title:" + title + ":" + fill

void CaptureWarning(const std::string& text) noexcept {
    std::lock_guard lock(gReportLock);
    gWarnings.push_back(text);
}
void CaptureTitled(const std::string& title, char fill, bool forced) noexcept {
    std::lock_guard lock(gReportLock);
    gLines.push_back({"title:" + title + ":" + fill, forced, NoExceptionReports() > 0});
}
void CaptureWrite(const std::string& text, bool forced) noexcept {
    std::lock_guard lock(gReportLock);
    gLines.push_back({text, forced, NoExceptionReports() > 0});
}

// The test clock: queues of the tests read it instead of the system's tick count.
std::atomic<uint32_t> gNow{1000000};
uint32_t TestTicks() { return gNow.load(); }

// Captures the reports and lends the test thread a queue; the log's hooks come back afterwards.
class NotifyQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        gWarnings.clear();
        gLines.clear();
        previousHooks_ = SetNotifyLogHooks({&CaptureWarning, &CaptureTitled, &CaptureWrite});
        queue_ = std::make_unique<TNotifyQueue>();
        queue_->TickSource = &TestTicks;
        AttachThread(*queue_);
    }
    void TearDown() override {
        queue_.reset();
        SetNotifyLogHooks(previousHooks_);
        DrainMessages();
    }
    // Drops the test thread's pending messages (wake-ups a test left unanswered).
    static void DrainMessages() {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    std::vector<std::string> Warnings() {
        std::lock_guard lock(gReportLock);
        return gWarnings;
    }

    std::unique_ptr<TNotifyQueue> queue_;
    TNotifyLogHooks previousHooks_;
};

class TTestReceiver : public TObject {
public:
    void Record(TNotifyItem& item) { Delivered.push_back(item.Argument); }
    void Fail(TNotifyItem&) { throw Exception("Disk on fire"); }
    std::vector<TObject*> Delivered;
};
class TTestArgument : public TObject {};

int WakeUpMessagesWaiting(HWND window) {
    int count = 0;
    MSG msg;
    while (::PeekMessageA(&msg, window, WM_USER, WM_USER, PM_REMOVE)) ++count;
    return count;
}

// ---- Wake-ups ----

TEST_F(NotifyQueueTest, ASecondWakeUpWhileOneIsPendingSendsNothing) {
    for (const uint8_t mode : {NotifyLoopMode, NotifyWindowMode}) {
        SCOPED_TRACE(mode == NotifyLoopMode ? "loop mode" : "window mode");
        queue_.reset();
        queue_ = std::make_unique<TNotifyQueue>();
        AttachThread(*queue_);
        SetMode(*queue_, mode);
        WakeQueue(*queue_);
        EXPECT_TRUE(queue_->WakePending);
        if (mode == NotifyLoopMode) {
            EXPECT_TRUE(queue_->WakeEvent.Wait(0));  // consumes the auto-reset event
        }
        WakeQueue(*queue_);
        if (mode == NotifyLoopMode) {
            EXPECT_FALSE(queue_->WakeEvent.Wait(0));
        } else {
            EXPECT_EQ(queue_->PostedCount, 1u);
            EXPECT_EQ(WakeUpMessagesWaiting(queue_->Window.get()), 1);
        }
        // Processing consumes the pending wake-up; the next one is sent again.
        ProcessQueues(*queue_);
        EXPECT_FALSE(queue_->WakePending);
        WakeQueue(*queue_);
        if (mode == NotifyLoopMode) {
            EXPECT_TRUE(queue_->WakeEvent.Wait(0));
        } else {
            EXPECT_EQ(WakeUpMessagesWaiting(queue_->Window.get()), 1);
        }
        // A stopping queue sends none.
        ProcessQueues(*queue_);
        queue_->Stopping = true;
        WakeQueue(*queue_);
        EXPECT_FALSE(queue_->WakePending);
    }
}

TEST_F(NotifyQueueTest, WakeUpNumbersOutOfSequenceAreWarnedAbout) {
    struct Case {
        const char* Name;
        std::vector<WPARAM> Received;
        std::vector<std::string> Warned;
    };
    const Case cases[] = {
        {"in sequence", {1, 2, 3}, {}},
        {"one lost", {1, 2, 4}, {"Notify Queue Warning: 1 posted message(s) has been lost."}},
        {"three lost", {1, 5}, {"Notify Queue Warning: 3 posted message(s) has been lost."}},
        {"late after a later one",
         {1, 2, 4, 3},
         {"Notify Queue Warning: 1 posted message(s) has been lost.",
          "Notify Queue Warning: Posted messages arriving out of order."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TearDown();
        SetUp();
        SetMode(*queue_, NotifyWindowMode);
        for (const WPARAM number : c.Received) ::SendMessageA(queue_->Window.get(), WM_USER, number, 0);
        EXPECT_EQ(Warnings(), c.Warned);
        EXPECT_EQ(queue_->ReceivedCount, c.Received.back());
    }
}

TEST_F(NotifyQueueTest, AWakeUpMessageMissingForTenSecondsIsWarnedAtMostEveryTenSeconds) {
    SetMode(*queue_, NotifyWindowMode);
    WakeQueue(*queue_);  // posted, never pumped: it does not arrive
    const std::string late = "Notify Queue Warning: Posted message has not arrived in 10 seconds.";
    struct Step {
        uint32_t Advance;  // ms since the previous step
        bool Warns;
    };
    const Step steps[] = {{1000, false}, {9000, false}, {1, true}, {1000, false}, {9000, false}, {1, true}, {10001, true}};
    int warned = 0;
    for (const Step& step : steps) {
        gNow += step.Advance;
        ::SendMessageA(queue_->Window.get(), WM_TIMER, NotifyWindowTimerId, 0);
        warned += step.Warns;
        EXPECT_EQ(Warnings(), std::vector<std::string>(warned, late)) << "at +" << step.Advance;
    }
    // Once the message arrives, the timer has nothing to warn about.
    ::SendMessageA(queue_->Window.get(), WM_USER, queue_->PostedCount, 0);
    gNow += 60000;
    ::SendMessageA(queue_->Window.get(), WM_TIMER, NotifyWindowTimerId, 0);
    EXPECT_EQ(Warnings().size(), static_cast<size_t>(warned));
}

// ---- Delivery ----

TEST_F(NotifyQueueTest, LevelsAreServedHighFirstAndALaterHigherOneGetsAWakeUp) {
    TTestReceiver receiver;
    TTestArgument low, normal, high, lateHigh;
    PostNotification(*queue_, NotifyLow, &receiver, NotifyMethod<&TTestReceiver::Record>(&receiver), &low);
    PostNotification(*queue_, NotifyNormal, &receiver, NotifyMethod<&TTestReceiver::Record>(&receiver), &normal);
    PostNotification(*queue_, NotifyHigh, &receiver, NotifyMethod<&TTestReceiver::Record>(&receiver), &high);
    // The Normal notification posts a High one: it is not served before Low in this pass, but the
    // queue wakes itself for it.
    struct TPoster : TObject {
        TNotifyQueue* Queue;
        TTestReceiver* Receiver;
        TObject* Argument;
        void Post(TNotifyItem& item) {
            Receiver->Record(item);
            PostNotification(*Queue, NotifyHigh, Receiver, NotifyMethod<&TTestReceiver::Record>(Receiver), Argument);
        }
    } poster;
    poster.Queue = queue_.get();
    poster.Receiver = &receiver;
    poster.Argument = &lateHigh;
    PostNotification(*queue_, NotifyNormal, &poster, NotifyMethod<&TPoster::Post>(&poster), &normal);
    EXPECT_TRUE(queue_->WakeEvent.Wait(0));

    ProcessQueues(*queue_);
    EXPECT_EQ(receiver.Delivered, (std::vector<TObject*>{&high, &normal, &normal, &low}));
    EXPECT_TRUE(queue_->WakeEvent.Wait(0));
    ProcessQueues(*queue_);
    EXPECT_EQ(receiver.Delivered.back(), &lateHigh);
}

TEST_F(NotifyQueueTest, AFailingHandlerIsLoggedWithItsFailureTextAndDeliveryGoesOn) {
    TTestReceiver receiver;
    TTestArgument first, failing, last;
    std::vector<std::string> errors;
    queue_->OnError = [&errors](const std::string& text) { errors.push_back(text); };
    PostNotification(*queue_, NotifyNormal, &receiver, NotifyMethod<&TTestReceiver::Record>(&receiver), &first);
    PostNotification(*queue_, NotifyNormal, &receiver, NotifyMethod<&TTestReceiver::Fail>(&receiver), &failing);
    PostNotification(*queue_, NotifyNormal, nullptr, NotifyMethod<&TTestReceiver::Record>(&receiver), &failing);
    PostNotification(*queue_, NotifyNormal, &receiver, NotifyMethod<&TTestReceiver::Record>(&receiver), &last);
    ProcessQueues(*queue_);

    // The cancelled item (no receiver) is skipped; the others are delivered around the failure.
    EXPECT_EQ(receiver.Delivered, (std::vector<TObject*>{&first, &last}));
    const std::string text = "Failed to notify object at 0x" +
                             HexDigits(reinterpret_cast<uintptr_t>(&receiver), 2 * sizeof(void*)) +
                             ", class is TTestReceiver\r\nDisk on fire";
    EXPECT_EQ(Warnings(), std::vector<std::string>{text});
    EXPECT_EQ(errors, std::vector<std::string>{text});
}

TEST_F(NotifyQueueTest, StandingNotificationsRunOnEveryWakeUpUntilCancelled) {
    TTestReceiver standing, other;
    TTestArgument argument;
    AddExternalNotification(*queue_, &standing, NotifyMethod<&TTestReceiver::Record>(&standing), &argument);
    AddExternalNotification(*queue_, &other, NotifyMethod<&TTestReceiver::Record>(&other), &argument);
    SetMode(*queue_, NotifyWindowMode);
    for (WPARAM n = 1; n <= 2; ++n) ::SendMessageA(queue_->Window.get(), WM_USER, n, 0);
    EXPECT_EQ(standing.Delivered.size(), 2u);
    CancelNotifications(*queue_, &standing);
    ::SendMessageA(queue_->Window.get(), WM_TIMER, NotifyWindowTimerId, 0);
    EXPECT_EQ(standing.Delivered.size(), 2u);
    EXPECT_EQ(other.Delivered.size(), 3u);
    EXPECT_EQ(queue_->External.Count(), 1);  // the cancelled one is dropped
}

// Notifications from several threads reach the owner thread, each thread's in order per level,
// in either mode.
TEST_F(NotifyQueueTest, NotificationsFromFourThreadsAreAllDeliveredOnTheOwnerInOrderPerLevel) {
    constexpr int Threads = 4;
    constexpr int PerThread = 300;
    struct TStamp : TObject {
        int Thread = 0;
        int Sequence = 0;
    };
    struct TCollector : TObject {
        TNotifyQueue* Queue = nullptr;
        DWORD Owner = 0;
        uint8_t Mode = 0;
        int OffOwner = 0;
        std::map<std::pair<int, int>, std::vector<int>> Seen;  // (thread, level) -> sequences
        int Count = 0;
        void Take(TNotifyItem& item) {
            const auto* stamp = static_cast<TStamp*>(item.Argument);
            if (::GetCurrentThreadId() != Owner) ++OffOwner;
            Seen[{stamp->Thread, stamp->Sequence % NotifyPriorityCount}].push_back(stamp->Sequence);
            if (++Count == Threads * PerThread) {
                if (Mode == NotifyLoopMode)
                    StopNotifyLoop(*Queue);
                else
                    ::PostQuitMessage(0);
            }
        }
    };
    for (const uint8_t mode : {NotifyLoopMode, NotifyWindowMode}) {
        SCOPED_TRACE(mode == NotifyLoopMode ? "loop mode" : "window mode");
        TearDown();
        SetUp();
        queue_->TickSource = &SystemTickCount;
        SetMode(*queue_, mode);
        std::vector<TStamp> stamps(Threads * PerThread);
        TCollector collector;
        collector.Queue = queue_.get();
        collector.Owner = ::GetCurrentThreadId();
        collector.Mode = mode;
        std::vector<std::thread> posters;
        for (int t = 0; t < Threads; ++t) {
            posters.emplace_back([&, t] {
                for (int s = 0; s < PerThread; ++s) {
                    TStamp& stamp = stamps[t * PerThread + s];
                    stamp.Thread = t;
                    stamp.Sequence = s;
                    PostNotification(*queue_, s % NotifyPriorityCount, &collector,
                                     NotifyMethod<&TCollector::Take>(&collector), &stamp);
                }
            });
        }
        if (mode == NotifyLoopMode)
            RunNotifyLoop(*queue_);
        else
            MessageLoop(0);
        for (auto& poster : posters) poster.join();
        EXPECT_EQ(collector.Count, Threads * PerThread);
        EXPECT_EQ(collector.OffOwner, 0);
        for (const auto& [key, sequences] : collector.Seen) {
            EXPECT_TRUE(std::is_sorted(sequences.begin(), sequences.end())) << "thread " << key.first << " level " << key.second;
        }
        EXPECT_TRUE(Warnings().empty()) << Warnings().front();
    }
}

// ---- Owner thread and mode ----

TEST_F(NotifyQueueTest, OwnerOnlyOperationsAreRefusedElsewhereAndBeforeAttachment) {
    TNotifyQueue unattached;
    const TTimerHandler handler{[](void*) {}, nullptr};
    struct Case {
        const char* Operation;
        std::function<void(TNotifyQueue&)> Call;
    };
    const Case cases[] = {
        {"Add timer", [&](TNotifyQueue& q) { AddTimer(q, 10, handler); }},
        {"Reset timer", [&](TNotifyQueue& q) { ResetTimer(q, handler); }},
        {"Remove timer", [&](TNotifyQueue& q) { RemoveTimer(q, handler); }},
        {"Set mode", [](TNotifyQueue& q) { SetMode(q, NotifyWindowMode); }},
        {"Process queue", [](TNotifyQueue& q) { ProcessQueues(q); }},
        {"Process external queue", [](TNotifyQueue& q) { ProcessExternalQueue(q); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Operation);
        EXPECT_EQ(MessageOf([&] { c.Call(unattached); }),
                  std::string("Notify queue operation cannot be performed before a thread is attached: ") + c.Operation);
        std::string fromOther;
        std::thread([&] { fromOther = MessageOf([&] { c.Call(*queue_); }); }).join();
        EXPECT_EQ(fromOther, std::string("Notify queue operation can be performed from main thread only: ") + c.Operation);
    }
}

TEST_F(NotifyQueueTest, WindowModeIsRefusedOnceClocksExternalEventsOrNotificationsExist) {
    struct Case {
        const char* Name;
        std::function<std::function<void()>(TNotifyQueue&)> Arrange;  // returns the undo
        const char* Message;
    };
    TTestReceiver receiver;
    const Case cases[] = {
        {"a clock exists",
         [](TNotifyQueue&) {
             auto clock = std::shared_ptr<TClock>(CreateClock(100, false, nullptr));
             return [clock]() mutable { clock.reset(); };
         },
         "Notify queue: Cannot set mode after timers have been created"},
        {"an external event exists",
         [](TNotifyQueue& q) {
             q.ExternalEvent = std::make_unique<TWinEvent>(nullptr, "", false, false);
             return [&q] { q.ExternalEvent.reset(); };
         },
         "Notify queue: Cannot set mode after external event has been created"},
        {"a notification is pending",
         [&receiver](TNotifyQueue& q) {
             PostNotification(q, NotifyLow, &receiver, NotifyMethod<&TTestReceiver::Record>(&receiver));
             return [&q] { ProcessQueues(q); };
         },
         "Notify queue: Cannot set mode after messages have been posted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        auto undo = c.Arrange(*queue_);
        EXPECT_EQ(MessageOf([&] { SetMode(*queue_, NotifyWindowMode); }), c.Message);
        EXPECT_EQ(queue_->Mode, NotifyLoopMode);
        EXPECT_EQ(queue_->Window.get(), nullptr);
        undo();
    }
    SetMode(*queue_, NotifyWindowMode);
    EXPECT_NE(queue_->Window.get(), nullptr);
    EXPECT_EQ(MessageOf([&] { AddTimer(*queue_, 10, {[](void*) {}, nullptr}); }),
              "Notify loop must be enabled before adding timer");
    EXPECT_EQ(MessageOf([&] { RemoveTimer(*queue_, {[](void*) {}, nullptr}); }),
              "Notify loop must be enabled before removing timer");
}

// ---- Timers and clocks ----

TEST_F(NotifyQueueTest, AddTimerReusesTheSlotARemovedTimerFreed) {
    int a = 0, b = 0, c = 0;
    auto bump = [](void* counter) { ++*static_cast<int*>(counter); };
    AddTimer(*queue_, 100, {bump, &a});
    AddTimer(*queue_, 200, {bump, &b});
    RemoveTimer(*queue_, {bump, &a});
    ASSERT_EQ(queue_->Timers.Count(), 2);
    EXPECT_EQ(queue_->Timers.Item(0).Interval, 0u);
    AddTimer(*queue_, 300, {bump, &c});
    ASSERT_EQ(queue_->Timers.Count(), 2);
    EXPECT_EQ(queue_->Timers.Item(0).Handler.Object, &c);
    EXPECT_EQ(queue_->Timers.Item(0).Due, gNow + 300);
    gNow += 150;
    ResetTimer(*queue_, {bump, &b});
    EXPECT_EQ(queue_->Timers.Item(1).Due, gNow + 200);
}

// Clocks tick through the queue's loop (loop mode) or the thread's message loop (window mode);
// a tick that raises does not stop the clock.
TEST_F(NotifyQueueTest, CreateClockTicksInEitherMode) {
    for (const uint8_t mode : {NotifyLoopMode, NotifyWindowMode}) {
        SCOPED_TRACE(mode == NotifyLoopMode ? "loop mode" : "window mode");
        TearDown();
        SetUp();
        queue_->TickSource = &SystemTickCount;
        SetMode(*queue_, mode);
        int ticks = 0;
        TNotifyQueue* queue = queue_.get();
        auto clock = CreateClock(20, true, [&ticks, queue, mode](TClock&) {
            if (++ticks == 3) {
                if (mode == NotifyLoopMode)
                    StopNotifyLoop(*queue);
                else
                    ::PostQuitMessage(0);
            }
            if (ticks == 1) throw Exception("first tick fails");
        });
        EXPECT_EQ(ClockCount(), 1);
        if (mode == NotifyLoopMode) {
            EXPECT_NE(dynamic_cast<TNotifyClock*>(clock.get()), nullptr);
            RunNotifyLoop(*queue_);
        } else {
            EXPECT_NE(dynamic_cast<TWindowsClock*>(clock.get()), nullptr);
            MessageLoop(0);
        }
        EXPECT_EQ(ticks, 3);
        clock.reset();
        EXPECT_EQ(ClockCount(), 0);
        if (mode == NotifyLoopMode) {
            // A freed clock leaves a free slot, not a live timer.
            for (int32_t i = 0; i < queue_->Timers.Count(); ++i) EXPECT_EQ(queue_->Timers.Item(i).Interval, 0u);
        }
    }
}

// A loop-mode clock freed on another thread cannot free its timer slot (the timers are the
// owner's); the slot must then call nothing, not whatever object next lives at the clock's
// address (here another clock, made in the same storage).
TEST_F(NotifyQueueTest, AClockFreedOnAnotherThreadLeavesATimerThatCallsNothing) {
    alignas(std::max_align_t) unsigned char storage[std::max(sizeof(TNotifyClock), sizeof(TWindowsClock))];
    auto* freed = new (storage) TNotifyClock(*queue_);
    freed->SetInterval(10);
    freed->SetOnTick([](TClock&) {});
    freed->SetEnabled(true);
    std::thread([freed] { freed->~TNotifyClock(); }).join();

    int laterTicks = 0;
    auto* later = new (storage) TWindowsClock();
    later->SetInterval(3600000);  // its own timer stays quiet during the test
    later->SetOnTick([&laterTicks](TClock&) { ++laterTicks; });
    later->SetEnabled(true);

    gNow += 1000;  // the freed clock's slot is due
    TTestReceiver stopper;
    PostNotification(*queue_, NotifyHigh, &stopper, {[](void* queue, TNotifyItem&) {
                                                        StopNotifyLoop(*static_cast<TNotifyQueue*>(queue));
                                                    },
                                                    queue_.get()});
    RunNotifyLoop(*queue_);
    EXPECT_EQ(laterTicks, 0);
    later->~TWindowsClock();
}

// ---- Shut-down report ----

TEST_F(NotifyQueueTest, DestroyingAQueueReportsItsUndeliveredNotifications) {
    TTestReceiver receiver;
    TTestArgument argument;
    const TNotifyHandler record = NotifyMethod<&TTestReceiver::Record>(&receiver);
    const TReportLine title{"title:Notify Queue Warning:-", true, false};
    const TReportLine className{"  TTestArgument", false, true};
    struct Case {
        const char* Name;
        std::vector<std::pair<int, TObject*>> Pending;  // level, argument
        std::vector<TReportLine> Report;
    };
    const Case cases[] = {
        {"three High",
         {{NotifyHigh, &argument}, {NotifyHigh, &argument}, {NotifyHigh, &argument}},
         {title, {"Shutting down with 3 undelivered notifications in Primary Queue (High).", true, false}, className,
          className, className}},
        {"Low then Normal; an argument without class is not listed",
         {{NotifyNormal, &argument}, {NotifyLow, nullptr}, {NotifyLow, &argument}},
         {title, {"Shutting down with 2 undelivered notifications in Primary Queue (Low).", true, false}, className,
          title, {"Shutting down with 1 undelivered notifications in Primary Queue (Normal).", true, false}, className}},
        {"nothing pending", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TearDown();
        SetUp();
        for (const auto& [level, arg] : c.Pending) PostNotification(*queue_, level, &receiver, record, arg);
        queue_.reset();
        EXPECT_EQ(gLines, c.Report);
        EXPECT_EQ(NoExceptionReports(), 0);
    }
}

// The report through the log itself: its forced lines are written whatever "Level" says.
TEST(NotifyQueueLog, TheUndeliveredReportReachesTheLog) {
    const auto readLog = [] {
        UniqueFileHandle file(::CreateFileA(LogFilePath().c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        std::string text(file ? ::GetFileSize(file.get(), nullptr) : 0, '\0');
        DWORD read = 0;
        if (file) ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
        text.resize(read);
        return text;
    };
    const size_t start = readLog().size();
    TTestReceiver receiver;
    {
        TNotifyQueue queue;
        AttachThread(queue);
        PostNotification(queue, NotifyHigh, &receiver, NotifyMethod<&TTestReceiver::Record>(&receiver));
    }
    const std::string text = readLog().substr(start);
    EXPECT_NE(text.find("----------Notify Queue Warning-"), std::string::npos) << text;
    EXPECT_NE(text.find("Shutting down with 1 undelivered notifications in Primary Queue (High).\r\n"), std::string::npos)
        << text;
}

// ---- Hidden windows and the exception-report switch ----

TEST(MessageWindow, EachWindowReachesItsOwnerAndTheClassIsReplacedWhenForeign) {
    struct TOwner {
        std::vector<UINT> Seen;
        void Proc(TWindowMessage& m) noexcept {
            if (m.Msg >= WM_APP) Seen.push_back(m.Msg);
            m.Result = m.Msg >= WM_APP ? 42 : ::DefWindowProcA(m.Window, m.Msg, m.WParam, m.LParam);
        }
    };
    // A class of that name with another procedure (as an unloaded copy of this code could leave).
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    ::UnregisterClassA(MessageWindowClassName, instance);
    WNDCLASSA foreign{};
    foreign.lpfnWndProc = &::DefWindowProcA;
    foreign.hInstance = instance;
    foreign.lpszClassName = MessageWindowClassName;
    ASSERT_NE(::RegisterClassA(&foreign), 0);

    TOwner first, second;
    const HWND a = AllocateMessageWindow(WindowMethod<&TOwner::Proc>(&first));
    const HWND b = AllocateMessageWindow(WindowMethod<&TOwner::Proc>(&second));
    EXPECT_EQ(::SendMessageA(a, WM_APP + 1, 0, 0), 42);
    EXPECT_EQ(::SendMessageA(b, WM_APP + 2, 0, 0), 42);
    EXPECT_FALSE(::IsWindowVisible(a));
    // Message-only: among the message-only windows, and out of reach of a broadcast (which would
    // otherwise wait for this thread).
    EXPECT_NE(::FindWindowExA(HWND_MESSAGE, nullptr, MessageWindowClassName, nullptr), nullptr);
    const UINT broadcast = ::RegisterWindowMessageA("CorvaneMessageWindowTestBroadcast");
    ::SendMessageTimeoutA(HWND_BROADCAST, broadcast, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    DeallocateMessageWindow(a);
    EXPECT_FALSE(::IsWindow(a));
    // The freed binding serves the next window; the remaining one is untouched.
    TOwner third;
    const HWND c = AllocateMessageWindow(WindowMethod<&TOwner::Proc>(&third));
    ::SendMessageA(c, WM_APP + 3, 0, 0);
    ::SendMessageA(b, WM_APP + 4, 0, 0);
    EXPECT_EQ(first.Seen, std::vector<UINT>{WM_APP + 1});
    EXPECT_EQ(second.Seen, (std::vector<UINT>{WM_APP + 2, WM_APP + 4}));
    EXPECT_EQ(third.Seen, std::vector<UINT>{WM_APP + 3});
    DeallocateMessageWindow(b);
    DeallocateMessageWindow(c);
}

TEST(ExceptionReports, TheSwitchIsPerThreadAndNests) {
    EXPECT_EQ(NoExceptionReports(), 0);
    {
        TExceptionReportsOff outer;
        {
            TExceptionReportsOff inner;
            EXPECT_EQ(NoExceptionReports(), 2);
        }
        EXPECT_EQ(NoExceptionReports(), 1);
        int other = -1;
        std::thread([&other] { other = NoExceptionReports(); }).join();
        EXPECT_EQ(other, 0);
    }
    EXPECT_EQ(NoExceptionReports(), 0);
}

}  // namespace
}  // namespace cm
