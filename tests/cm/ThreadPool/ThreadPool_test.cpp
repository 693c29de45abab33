#include "cm/ThreadPool/SafeThread.h"
#include "cm/ThreadPool/MessageLoop.h"
#include "cm/ThreadPool/ThreadPool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Strings.h"
#include "diagnostics/Logs.h"
#include "catalogue/ProductInfoLoader.h"
#include "support/MessageOf.h"

namespace cm {
namespace {

using test::MessageOf;

// The log file as far as it has grown since the start of the test that made this object.
class LogTail {
public:
    LogTail() : start_(Read().size()) {}
    std::string NewText() const {
        std::string text = Read();
        return text.size() > start_ ? text.substr(start_) : std::string();
    }

private:
    static std::string Read() {
        UniqueFileHandle file(::CreateFileA(LogFilePath().c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        if (!file) return {};
        std::string text(::GetFileSize(file.get(), nullptr), '\0');
        DWORD read = 0;
        ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
        text.resize(read);
        return text;
    }
    size_t start_;
};

class LogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { InitializeLogs(&ProductCaptionBesideExecutable); }
    void TearDown() override { FinalizeLogs(); }
};
const auto* const Environment = ::testing::AddGlobalTestEnvironment(new LogEnvironment);

// A thread whose body is a function of the test.
class TTestThread : public TSafeThread {
public:
    TTestThread(std::function<void(TTestThread&)> body, bool createSuspended, bool hardExit)
        : TSafeThread(createSuspended, hardExit), Body(std::move(body)) {}
    ~TTestThread() override { StopThread(); }
    void Execute() override { Body(*this); }
    void DoFinish() override { FinishedSeen = Finished; ++DoFinishCalls; }

    std::function<void(TTestThread&)> Body;
    std::atomic<int> DoFinishCalls{0};
    bool FinishedSeen = false;
};

TEST(TSafeThread, BodyOutcomeBecomesExitCodeAndErrorsAreLoggedForced) {
    struct Case {
        const char* Name;
        std::function<void(TTestThread&)> Body;
        bool HardExit;
        int32_t ExitCode;
        const char* Logged;  // the message line after the "Thread Error" title, or null for no entry
    };
    const Case cases[] = {
        {"returns", [](TTestThread&) {}, false, 0, nullptr},
        {"sets ReturnValue", [](TTestThread& t) { t.ReturnValue = 7; }, false, 7, nullptr},
        {"hard exit keeps ReturnValue", [](TTestThread& t) { t.ReturnValue = 9; }, true, 9, nullptr},
        {"raises Exception", [](TTestThread&) { throw Exception("Disk on fire"); }, false,
         static_cast<int32_t>(ThreadErrorExitCode), "Disk on fire"},
        {"raises EWin32Error", [](TTestThread&) { throw EWin32Error("Failed to read: denied (5)", 5); }, false,
         static_cast<int32_t>(ThreadErrorExitCode), "Failed to read: denied (5)"},
        {"raises a standard exception, hard exit", [](TTestThread&) { throw std::runtime_error("out of range"); },
         true, static_cast<int32_t>(ThreadErrorExitCode), "out of range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        LogTail log;
        auto thread = MakeThread<TTestThread>(c.Body, false, c.HardExit);
        EXPECT_EQ(thread->WaitFor(), c.ExitCode);
        EXPECT_TRUE(thread->Finished);
        EXPECT_TRUE(thread->FinishedSeen);
        EXPECT_EQ(thread->DoFinishCalls, 1);
        const std::string text = log.NewText();
        if (c.Logged) {
            // LogTitled ends its entry with an empty line; the message follows as an entry of its own.
            const size_t title = text.find("----------Thread Error-");
            ASSERT_NE(title, std::string::npos) << text;
            const size_t lineEnd = text.find("\r\n", title);
            ASSERT_NE(lineEnd, std::string::npos);
            const std::string expected = "\r\n\r\n" + std::string(c.Logged) + "\r\n";
            EXPECT_EQ(text.substr(lineEnd, expected.size()), expected) << text;
        } else {
            EXPECT_EQ(text.find("Thread Error"), std::string::npos) << text;
        }
    }
}

TEST(TSafeThread, DestroyingARunningThreadWaitsForItToNoticeTerminated) {
    std::atomic<bool> noticed{false};
    auto thread = MakeThread<TTestThread>(
        [&](TTestThread& t) {
            while (!t.Terminated) ::Sleep(1);
            ::Sleep(100);  // the object must stay alive while the body winds down
            noticed = true;
        },
        false, false);
    ::Sleep(20);
    thread.reset();
    EXPECT_TRUE(noticed);
}

TEST(TSafeThread, SuspendedThreadsRunOnlyWhenResumedAndEndWhenDestroyed) {
    std::atomic<int> runs{0};
    auto body = [&](TTestThread&) { ++runs; };
    {
        auto neverStarted = MakeThread<TTestThread>(body, true, false);
        EXPECT_TRUE(neverStarted->Suspended);
        ::Sleep(20);
    }
    EXPECT_EQ(runs, 0);

    auto resumed = MakeThread<TTestThread>(body, true, false);
    resumed->Resume();
    EXPECT_FALSE(resumed->Suspended);
    EXPECT_EQ(resumed->WaitFor(), 0);
    EXPECT_EQ(runs, 1);

    // Suspended in the middle of a body that never polls Terminated: destruction abandons it
    // at once, suspended; it never runs again.
    std::atomic<int> turns{0};
    auto paused = MakeThread<TTestThread>(
        [&](TTestThread&) {
            for (;;) {
                ++turns;
                ::Sleep(1);
            }
        },
        false, false);
    while (turns == 0) ::Sleep(1);
    paused->Suspend();
    const DWORD started = ::GetTickCount();
    paused.reset();
    EXPECT_LT(::GetTickCount() - started, 1000u);
    const int seen = turns;
    ::Sleep(100);
    EXPECT_EQ(turns, seen);
}

// A body that frees its own object: the thread touches the object no more. The object lives in
// a buffer of the test, filled with a marker when freed, so that a later write would show.
TEST(TSafeThread, ABodyMayFreeItsOwnObject) {
    for (const bool raises : {false, true}) {
        SCOPED_TRACE(raises ? "then raises" : "then returns");
        alignas(TTestThread) static unsigned char storage[sizeof(TTestThread)];
        constexpr unsigned char kFreed = 0xCD;
        TWinEvent freed(nullptr, "", true, false);
        auto* thread = new (storage) TTestThread(
            [&freed, raises](TTestThread& self) {
                // The closure lives in the object: what it needs afterwards is copied out first.
                TWinEvent* done = &freed;
                const bool raise = raises;
                self.~TTestThread();
                std::memset(storage, kFreed, sizeof storage);
                done->Signal();
                if (raise) throw Exception("after freeing");
            },
            false, false);
        UniqueHandle handle;
        {
            HANDLE duplicate = nullptr;
            ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), thread->Handle.get(), ::GetCurrentProcess(),
                                          &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS));
            handle.reset(duplicate);
        }
        thread->AfterConstruction();
        ASSERT_EQ(::WaitForSingleObject(handle.get(), 10000), WAIT_OBJECT_0);
        freed.Wait(WaitInfinite);
        DWORD code = 0;
        ::GetExitCodeThread(handle.get(), &code);
        EXPECT_EQ(code, raises ? ThreadErrorExitCode : 0u);
        size_t touched = 0;
        for (unsigned char byte : storage) touched += byte != kFreed;
        EXPECT_EQ(touched, 0u);
    }
}

TEST(TMethodThread, MethodErrorsAreSwallowedAndStartMethodThreadStoresTheThreadFirst) {
    LogTail log;
    std::unique_ptr<TMethodThread> thread;
    std::atomic<bool> sawItself{false};
    StartMethodThread(thread, false, [&](TMethodThread& self) {
        sawItself = thread.get() == &self;
        throw Exception("swallowed");
    });
    EXPECT_EQ(thread->WaitFor(), 0);
    EXPECT_TRUE(sawItself);
    EXPECT_EQ(log.NewText().find("Thread Error"), std::string::npos);
}

// ---- Message loop ----

class TRecordingEventLog : public TEventLog {
public:
    void WriteEvent(const std::string& format, const TEventArgs& args, int32_t eventNumber, int32_t kind,
                    int32_t extraValue) override {
        Events.push_back(format + " " + std::to_string(std::get<uint32_t>(args.at(0))) + " " +
                         std::to_string(eventNumber) + " " + std::to_string(kind) + " " + std::to_string(extraValue));
    }
    std::vector<std::string> Events;
};

constexpr UINT RaiseMessage = WM_USER + 1;
constexpr UINT AbortMessage = WM_USER + 2;
constexpr UINT PlainMessage = WM_USER + 3;
// Its dispatch waits until HoldRelease is set (at most 30 s), so that messages posted meanwhile
// are queued before the loop goes on.
constexpr UINT HoldMessage = WM_USER + 4;
HANDLE HoldRelease = nullptr;
constexpr const char* LoopWindowClass = "ThreadPoolTestWindow";

thread_local std::vector<UINT>* DispatchedMessages = nullptr;

LRESULT CALLBACK LoopWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardWindowProc([&]() -> LRESULT {
        if (DispatchedMessages && message >= WM_USER) DispatchedMessages->push_back(message);
        if (message == WM_DEVICECHANGE && DispatchedMessages) DispatchedMessages->push_back(message);
        if (message == RaiseMessage) throw Exception("Handler failed");
        if (message == AbortMessage) throw EAbort("");
        if (message == HoldMessage && HoldRelease) ::WaitForSingleObject(HoldRelease, 30000);
        return ::DefWindowProcA(window, message, wParam, lParam);
    });
}

struct LoopRun {
    HWND Window = nullptr;
    std::vector<UINT> Dispatched;
    TRecordingEventLog Events;
    int32_t ExitCode = 0;
};

// Runs MessageLoop(options) on a thread that owns a window; post() gets the window and posts
// what the loop should see, ending with WM_QUIT unless the loop is to end by raising.
void RunLoop(LoopRun& run, uint32_t options, const std::function<void(HWND)>& post) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = LoopWindowProc;
    cls.hInstance = ::GetModuleHandleA(nullptr);
    cls.lpszClassName = LoopWindowClass;
    ::RegisterClassA(&cls);
    TWinEvent ready(nullptr, "", true, false);
    auto body = [&](TTestThread&) {
        DispatchedMessages = &run.Dispatched;
        run.Window = ::CreateWindowExA(0, LoopWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       ::GetModuleHandleA(nullptr), nullptr);
        ready.Signal();
        if (!run.Window) return;
        MessageLoop(options, &run.Events);
        ::DestroyWindow(run.Window);
        DispatchedMessages = nullptr;
    };
    auto loop = MakeThread<TTestThread>(body, false, false);
    ready.Wait(WaitInfinite);
    ASSERT_NE(run.Window, nullptr);
    try {
        post(run.Window);
    } catch (const std::exception& e) {
        // The loop would otherwise wait for its quit message for ever.
        ::PostThreadMessageA(loop->ThreadId, WM_QUIT, 0, 0);
        ADD_FAILURE() << e.what();
    }
    run.ExitCode = loop->WaitFor();
}

TEST(MessageLoop, DeviceChangeIsNeverDispatchedAndOtherMessagesAreBracketedByEvents) {
    LoopRun run;
    RunLoop(run, 0, [&](HWND window) {
        // DBT_DEVNODES_CHANGED and DBT_CONFIGCHANGED: the forms carrying no pointer, which can be posted.
        PostMessageGuarded(window, WM_DEVICECHANGE, 0x0007, 0);
        PostMessageGuarded(window, PlainMessage, 0, 0);
        PostMessageGuarded(window, WM_DEVICECHANGE, 0x0018, 0);
        ::PostThreadMessageA(::GetWindowThreadProcessId(window, nullptr), WM_DEVICECHANGE, 7, 0);
        PostMessageGuarded(window, WM_QUIT, 0, 0);
    });
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Dispatched, std::vector<UINT>{PlainMessage});
    const std::string plain = std::to_string(PlainMessage);
    EXPECT_EQ(run.Events.Events,
              (std::vector<std::string>{"Handling message <dw> " + plain + " -1 3 0", "Done " + plain + " -1 4 -1"}));
}

TEST(MessageLoop, DispatchErrorsAreLoggedAndRaisedAgainOnlyWhenAsked) {
    {
        SCOPED_TRACE("options 0: logged, loop goes on; EAbort is silent");
        LogTail log;
        LoopRun run;
        RunLoop(run, 0, [&](HWND window) {
            PostMessageGuarded(window, AbortMessage, 1, 2);
            PostMessageGuarded(window, RaiseMessage, 0x2A, static_cast<LPARAM>(-1));
            PostMessageGuarded(window, PlainMessage, 0, 0);
            PostMessageGuarded(window, WM_QUIT, 0, 0);
        });
        EXPECT_EQ(run.ExitCode, 0);
        EXPECT_EQ(run.Dispatched, (std::vector<UINT>{AbortMessage, RaiseMessage, PlainMessage}));
        // Both failing dispatches still got their "Done" event.
        EXPECT_EQ(run.Events.Events.size(), 6u);
        const std::string text = log.NewText();
        // The window and the parameters are pointer-sized and print whole: -1 fills all the digits.
        constexpr int pointerDigits = static_cast<int>(2 * sizeof(void*));
        const std::string expected = "Message Dispatch Error\r\n    hWnd   = 0x" +
                                     HexDigits(reinterpret_cast<uintptr_t>(run.Window), pointerDigits) +
                                     "\r\n    msg    = 0x00000401\r\n    wParam = 0x" + HexDigits(0x2A, pointerDigits) +
                                     "\r\n    lParam = 0x" + std::string(pointerDigits, 'F') + "\r\nHandler failed\r\n";
        EXPECT_NE(text.find(expected), std::string::npos) << text;
        EXPECT_EQ(text.find("msg    = 0x00000402"), std::string::npos) << text;
    }
    {
        SCOPED_TRACE("re-raise: the loop ends and the thread reports the error");
        LogTail log;
        LoopRun run;
        UniqueHandle release(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        HoldRelease = release.get();
        RunLoop(run, MessageLoopReraise, [&](HWND window) {
            // The loop is held in its first dispatch until the message after the failing one is
            // queued: it cannot end, and take its window with it, between the two posts.
            PostMessageGuarded(window, HoldMessage, 0, 0);
            PostMessageGuarded(window, RaiseMessage, 0, 0);
            PostMessageGuarded(window, PlainMessage, 0, 0);
            ::SetEvent(release.get());
        });
        HoldRelease = nullptr;
        EXPECT_EQ(run.ExitCode, static_cast<int32_t>(ThreadErrorExitCode));
        EXPECT_EQ(run.Dispatched, (std::vector<UINT>{HoldMessage, RaiseMessage}));
        const std::string text = log.NewText();
        EXPECT_LT(text.find("Message Dispatch Error"), text.find("Thread Error")) << text;
    }
}

void AnyRoutine() {}

// A window procedure's error where no loop will report it is logged at once: on a thread that
// never runs MessageLoop, and for a message sent from another thread while the loop waits.
TEST(MessageLoop, ErrorsNoLoopReportsAreLoggedWhereTheyAreKept) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = LoopWindowProc;
    cls.hInstance = ::GetModuleHandleA(nullptr);
    cls.lpszClassName = LoopWindowClass;
    ::RegisterClassA(&cls);
    {
        LogTail log;
        HWND window = ::CreateWindowExA(0, LoopWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        ::GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        ::SendMessageA(window, RaiseMessage, 0, 0);
        ::SendMessageA(window, AbortMessage, 0, 0);
        ::DestroyWindow(window);
        const std::string text = log.NewText();
        EXPECT_NE(text.find("Message Dispatch Error\r\nHandler failed"), std::string::npos) << text;
    }
    {
        LogTail log;
        LoopRun run;
        RunLoop(run, 0, [](HWND window) {
            ::SendMessageA(window, RaiseMessage, 0, 0);  // from this thread, into the loop's wait
            ::PostMessageA(window, PlainMessage, 0, 0);
            ::PostMessageA(window, WM_QUIT, 0, 0);
        });
        EXPECT_EQ(run.ExitCode, 0);
        const std::string text = log.NewText();
        EXPECT_NE(text.find("Message Dispatch Error\r\nHandler failed"), std::string::npos) << text;
    }
}

TEST(MessageLoop, ShownDispatchErrorNamesClassModuleOffsetAndEndsTheMessageWithAStop) {
    const void* address = reinterpret_cast<const void*>(&AnyRoutine);
    const std::string offset =
        HexDigits(reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(::GetModuleHandleA(nullptr)),
                  static_cast<int>(2 * sizeof(void*)));  // the pointer's width
    struct Case {
        std::function<std::string()> Text;
        std::string Expected;
    };
    const Case cases[] = {
        {[&] { return DispatchErrorText(Exception("Handler failed"), address); },
         "Exception Exception in module cm_threadpool_test.exe at " + offset + ".\nHandler failed."},
        {[&] { return DispatchErrorText(EWin32Error("Access denied.", 5), address); },
         "Exception EWin32Error in module cm_threadpool_test.exe at " + offset + ".\nAccess denied."},
        {[&] { return DispatchErrorText(Exception(""), address); },
         "Exception Exception in module cm_threadpool_test.exe at " + offset + ".\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.Text(), c.Expected);
}

// ---- Thread pool ----

class TCountingItem : public TWorkItem {
public:
    explicit TCountingItem(bool fail = false) : Fail(fail) {}
    void Execute() override {
        ++Runs;
        if (Fail) throw Exception("Item failed");
    }
    bool Fail;
    std::atomic<int> Runs{0};
};

int WokenCount(TThreadPool& pool) {
    int count = 0;
    for (auto& worker : pool.Threads) count += worker->Woken ? 1 : 0;
    return count;
}

TEST(WakeWorkers, WakesAllOrOnlyAsManyAsQueuedItemsNeed) {
    struct Case {
        const char* Name;
        bool OnlyAsNeeded;
        int Queued;
        int Idle;
        int ExpectedWoken;
    };
    const Case cases[] = {
        {"one queued item wakes one of four", true, 1, 0, 1},
        {"three queued items in different queues wake three", true, 3, 0, 3},
        {"nothing queued wakes none", true, 0, 0, 0},
        {"an idle item lifts the limit", true, 0, 1, 4},
        {"all when not limited", false, 1, 0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::unique_ptr<TCountingItem>> items;
        {
            // Suspended workers cannot consume their wake-up, so the Woken flags show who was woken.
            TThreadPool pool(4, true);
            for (int i = 0; i < c.Queued + c.Idle; ++i) {
                items.push_back(std::make_unique<TCountingItem>());
                if (i < c.Queued)
                    pool.Queues[i % ThreadPoolQueueCount].push_back(items.back().get());
                else
                    pool.IdleList.push_back(items.back().get());
            }
            WakeWorkers(pool, c.OnlyAsNeeded);
            EXPECT_EQ(WokenCount(pool), c.ExpectedWoken);
            for (int i = 0; i < c.ExpectedWoken; ++i) EXPECT_TRUE(pool.Threads[i]->Woken) << i;
            // A pending wake-up is not sent twice.
            WakeWorkers(pool, c.OnlyAsNeeded);
            EXPECT_EQ(WokenCount(pool), c.ExpectedWoken);

            for (auto& worker : pool.Threads) worker->Resume();
            size_t completed = 0;
            while ((completed += pool.TakeCompleted().size()) < items.size()) pool.CompletedEvent.Wait(WaitInfinite);
        }
        for (auto& item : items) EXPECT_EQ(item->Runs, 1);
    }
}

TEST(TThreadPool, WorkersRunEveryItemOnceAndKeepItsError) {
    constexpr int ItemCount = 40;
    TThreadPool pool(3);
    std::vector<std::unique_ptr<TCountingItem>> items;
    for (int i = 0; i < ItemCount; ++i) items.push_back(std::make_unique<TCountingItem>(i == 17));
    for (int i = 0; i < ItemCount; ++i) pool.Add(items[i].get(), i % ThreadPoolQueueCount);

    size_t completed = 0;
    while (completed < items.size()) {
        pool.CompletedEvent.Wait(WaitInfinite);
        completed += pool.TakeCompleted().size();
    }
    ShutdownPool(pool);
    for (int i = 0; i < ItemCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i]->Runs, 1);
        EXPECT_EQ(items[i]->ErrorMessage, i == 17 ? "Item failed" : "");
        EXPECT_NE(items[i]->Thread, nullptr);
    }
    for (auto& worker : pool.Threads) EXPECT_TRUE(worker->Finished);
}

TEST(ShutdownPool, ASecondCallReturnsAtOnce) {
    TThreadPool pool(2, true);
    // Stopping already set: the call must not wait for the (suspended, so never ending) workers.
    pool.Stopping = true;
    const DWORD start = ::GetTickCount();
    ShutdownPool(pool);
    EXPECT_LT(::GetTickCount() - start, 1000u);
}

TEST(TThreadPool, DestroyingAPoolOfSuspendedWorkersEndsThem) {
    TCountingItem item;
    {
        TThreadPool pool(3, true);
        pool.Queues[0].push_back(&item);
        WakeWorkers(pool, true);
    }
    // Stopping is seen before the queue: the item is not run by a pool that is going.
    EXPECT_EQ(item.Runs, 0);
}

TEST(ShutdownPool, StopsSleepingWorkersAndADeadPoolIsAnAssertion) {
    TThreadPool pool(4);
    ShutdownPool(pool);
    for (auto& worker : pool.Threads) EXPECT_TRUE(worker->Finished);
    ShutdownPool(pool);

    pool.Guard = 0;
    const std::string message = MessageOf<EAssertionFailed>([&] { WakeWorkers(pool, false); });
    EXPECT_NE(message.find("memory overwrite or call to dead object detected"), std::string::npos) << message;
    EXPECT_NE(message.find("cm/ThreadPool"), std::string::npos) << message;
    pool.Guard = ThreadPoolGuard;
}

}  // namespace
}  // namespace cm
