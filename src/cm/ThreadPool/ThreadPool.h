// The infrastructure's thread classes: TSafeThread, whose body can never end the process by an
// unhandled error; TMethodThread, which runs a function of another object as its body; the
// guarded message loop of threads that own windows; and the worker threads of the thread pool.
// Threads are Win32 threads. Win32 only.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cm/EventLog/EventLog.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Object.h"
#include "cm/Objects/Sync.h"
#include "cm/Objects/WinApi.h"

namespace cm {

// Exit code of a thread whose body raised (STATUS_NONCONTINUABLE_EXCEPTION).
constexpr uint32_t ThreadErrorExitCode = 0xC0000025;

// Where the thread classes and the message loop report what they catch: the shared log installs
// its writers at start-up (this layer knows no log); with none installed the reports are dropped.
// ThreadError gets the message of a body's error (a "Thread Error" entry); Warning the text of a
// dispatch error (a "Message Dispatch Error" warning). Neither may raise.
struct TThreadReportHooks {
    void (*ThreadError)(const std::string& message) noexcept = nullptr;
    void (*Warning)(const std::string& text) noexcept = nullptr;
};
// Sets the hooks (before other threads run, like the warning hook) and returns the previous ones.
TThreadReportHooks SetThreadReportHooks(const TThreadReportHooks& hooks);
TThreadReportHooks ThreadReportHooks();

// A thread object whose body errors are logged (forced "Thread Error" entry) and turned into
// exit code ThreadErrorExitCode instead of ending the process.
//
// C++ cannot call a descendant's Execute before the descendant is constructed, so the
// operating-system thread is always created suspended and let run by AfterConstruction; create
// threads with MakeThread<T>(...), which calls it. A descendant that adds members calls
// StopThread() first in its destructor, so that the body never runs on a half-destroyed object.
class TSafeThread : public TObject {
public:
    TSafeThread(const TSafeThread&) = delete;
    TSafeThread& operator=(const TSafeThread&) = delete;
    // StopThread(), then closes the handle.
    ~TSafeThread() override;

    // Called on the thread after the body has ended; does nothing here.
    virtual void DoFinish();
    // The body. Polls Terminated when it may run long.
    virtual void Execute() = 0;

    // Lets the thread run unless it was asked to start suspended. Called once, by MakeThread.
    void AfterConstruction();
    // Resumes the thread; clears Suspended when the previous suspend count was 1.
    // Raises EWin32Error "Failed to resume thread 0x0%x".
    void Resume();
    // Sets Suspended and suspends the thread. Raises EWin32Error "Failed to suspend thread 0x0%x".
    void Suspend();
    // Only sets Terminated; the body must poll it.
    void Terminate() { Terminated = true; }
    // Blocks without time-out (warning through the hook every slice) until the thread ends;
    // returns its exit code. Raises the wait errors of WaitForObject.
    int32_t WaitFor();

    UniqueHandle Handle;
    DWORD ThreadId = 0;
    std::atomic<bool> Terminated{false};
    bool Suspended = false;
    std::atomic<bool> Finished{false};
    int32_t ReturnValue = 0;
    bool HardExit = false;

protected:
    // Starts the operating-system thread suspended. Raises EWin32Error "Failed to create thread".
    TSafeThread(bool createSuspended, bool hardExit);

    // Ends the thread before the object goes: a running thread gets Terminate and is waited
    // for; a thread that never ran is resumed and leaves without running its body; a thread
    // suspended in the middle of its body is abandoned, suspended (never resumed nor waited for).
    // On the thread itself (a body freeing its own object) it returns at once, and the thread
    // touches the object no more. Idempotent; never raises.
    void StopThread() noexcept;

private:
    static unsigned __stdcall ThreadProc(void* self);

    bool StartSuspended;
    bool Started = false;       // the body may have begun: the thread was let run at least once
    bool* DestroyedFlag = nullptr;  // ThreadProc's flag, set when the object is freed on its own thread
    std::atomic<bool> Discarded{false};  // the object goes before the thread ran: skip the body
};

// Creates a thread object of class T (a TSafeThread descendant) and lets it run as its
// constructor arguments ask.
template <class T, class... Args>
std::unique_ptr<T> MakeThread(Args&&... args) {
    std::unique_ptr<T> thread(new T(std::forward<Args>(args)...));
    thread->AfterConstruction();
    return thread;
}

class TMethodThread;
// A method (code and object) taking the thread as its argument.
using TThreadMethod = std::function<void(TMethodThread&)>;

// Runs ThreadMethod as its body; every exception the method raises is swallowed.
class TMethodThread : public TSafeThread {
public:
    TMethodThread(TThreadMethod method, bool createSuspended, bool hardExit);
    ~TMethodThread() override;
    void Execute() override;

    TThreadMethod ThreadMethod;
};

// Creates a TMethodThread suspended, stores it in thread, then resumes it (so the variable is
// set before the method runs).
void StartMethodThread(std::unique_ptr<TMethodThread>& thread, bool hardExit, TThreadMethod method);

// ---- Message loop ----

enum TMessageLoopOption : uint32_t {
    MessageLoopShow = 1,     // show a dispatch error to the user
    MessageLoopReraise = 2,  // raise a dispatch error again, which ends the loop
};

// Runs the calling thread's message loop until WM_QUIT. WM_DEVICECHANGE is never dispatched.
// Each dispatched message is bracketed by the events "Handling message <dw>" (kind 3) and "Done"
// (kind 4, extra value -1) in eventLog, or in DefaultEventLog() when none is given.
// A dispatch error (an exception a window procedure of this thread kept with
// KeepDispatchException) other than EAbort is logged with LogWarning as "Message Dispatch Error",
// with the message's hWnd, msg, wParam and lParam in hex (msg with 8 digits, the pointer-sized
// others with the pointer's width: 8 on x86, 16 on x64) and the error's text, then shown and/or
// raised again as the options say. Raises EWin32Error "Failed to get message" when the system
// cannot deliver messages.
void MessageLoop(uint32_t options, TEventLog* eventLog = nullptr);

// True when the running executable's header names the console subsystem (read from the image in
// memory).
bool IsConsoleProgram();

// "Exception <class> in module <file name> at <offset in the module>.\n<message>", with a full
// stop added to a message that does not end with one: the text a shown dispatch error has. A C++
// throw carries no faulting address; the loop passes the raising window's procedure.
std::string DispatchErrorText(const std::exception& error, const void* faultAddress);

// A C++ exception cannot unwind through the system's dispatch code, so window procedures run
// their work through GuardWindowProc: an exception is kept for this thread's MessageLoop, which
// treats it as raised by the dispatch, and the procedure returns failResult. Outside a dispatch of
// MessageLoop (no loop on this thread, or a message sent while it waits) no loop would report it:
// it is logged at once as a "Message Dispatch Error" warning (EAbort excepted).
void KeepDispatchException(std::exception_ptr error) noexcept;
template <class F>
LRESULT GuardWindowProc(F&& body, LRESULT failResult = 0) noexcept {
    try {
        return body();
    } catch (...) {
        KeepDispatchException(std::current_exception());
        return failResult;
    }
}

// ---- Thread pool ----

class TThreadPool;
class TThreadPoolThread;

// A unit of work of the pool. The pool does not own items.
class TWorkItem : public TObject {
public:
    virtual void Execute() = 0;

    TThreadPoolThread* Thread = nullptr;  // the worker that ran the item
    std::string ErrorMessage;             // the message of the error the item raised, if any
};

// A worker of the pool: takes and runs items until the pool is Stopping.
class TThreadPoolThread : public TSafeThread {
public:
    TThreadPoolThread(TThreadPool* pool, bool createSuspended);
    ~TThreadPoolThread() override;
    void Execute() override;

    TThreadPool* Pool;
    TWinEvent WakeEvent{nullptr, "", false, false};  // auto-reset
    std::atomic<bool> Woken{false};  // a wake-up was sent and not yet consumed
};

constexpr uint32_t ThreadPoolGuard = 0x195C05AF;
constexpr int ThreadPoolQueueCount = 5;

// The least pool the workers need: five FIFO queues (0 is taken first), an idle list of items run
// only when every queue is empty, and a completed list with an event. Items are not owned.
class TThreadPool : public TObject {
public:
    // Starts workerCount workers (suspended when asked; Resume them through Threads).
    TThreadPool(int workerCount, bool startSuspended = false);
    // Stops the workers (suspended ones included), waits for each, frees them and clears Guard.
    ~TThreadPool() override;
    TThreadPool(const TThreadPool&) = delete;
    TThreadPool& operator=(const TThreadPool&) = delete;

    // Appends the item to the queue (0..4; an assertion otherwise) and wakes workers as needed.
    void Add(TWorkItem* item, int queue);
    // Appends the item to the idle list and wakes workers as needed.
    void AddIdle(TWorkItem* item);
    // The next item to run (nullptr when there is none); called by the workers.
    TWorkItem* TakeNextItem();
    // Receives an item a worker has run; signals CompletedEvent.
    void ItemCompleted(TWorkItem* item);
    // Removes and returns the completed items, in order of completion.
    std::vector<TWorkItem*> TakeCompleted();
    // Number of items in the five queues together.
    int QueuedCount();

    uint32_t Guard = ThreadPoolGuard;
    std::vector<std::unique_ptr<TThreadPoolThread>> Threads;
    std::atomic<bool> Stopping{false};
    std::deque<TWorkItem*> IdleList;
    std::deque<TWorkItem*> Queues[ThreadPoolQueueCount];
    TFastMutex Lock;  // guards the queues, the idle list and the completed list
    std::vector<TWorkItem*> Completed;
    TWinEvent CompletedEvent{nullptr, "", false, false};  // auto-reset
};

// Wakes sleeping workers: all of them, or with onlyAsNeeded and an empty idle list at most as
// many as there are queued items. A worker whose wake-up is still pending is skipped.
// A pool whose Guard is wrong is an assertion failure (cm/ThreadPool).
void WakeWorkers(TThreadPool& pool, bool onlyAsNeeded);

// Stops all workers and blocks until each has ended (in list order). Returns at once when the
// pool is already Stopping. Guard as WakeWorkers.
void ShutdownPool(TThreadPool& pool);

}  // namespace cm
