// The infrastructure's thread classes: TSafeThread, whose body can never end the process by an
// unhandled error, and TMethodThread, which runs a function of another object as its body.
// Threads are Win32 threads. Win32 only.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

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

}  // namespace cm
