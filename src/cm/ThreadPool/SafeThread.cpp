// TSafeThread, TMethodThread and StartMethodThread.
#include <process.h>

#include "cm/ThreadPool/SafeThread.h"
#include <atomic>

#include "cm/Objects/Errors.h"
#include "cm/Objects/SystemWrappers.h"

namespace cm {

namespace {

std::atomic<void (*)(const std::string&) noexcept> ThreadErrorHook{nullptr};
std::atomic<void (*)(const std::string&) noexcept> DispatchWarningHook{nullptr};

// Reports a body that raised through the installed hook. Never raises: the thread must end with
// its exit code even when nothing can be reported.
void LogThreadError(const std::string& message) noexcept {
    if (auto hook = ThreadErrorHook.load()) hook(message);
}

// Lets a suspended thread run: resumes until its suspend count is 0. Returns false when the
// system refuses.
bool ResumeFully(HANDLE thread) {
    for (;;) {
        const DWORD previous = ::ResumeThread(thread);
        if (previous == static_cast<DWORD>(-1)) return false;
        if (previous <= 1) return true;
    }
}

}  // namespace

TThreadReportHooks SetThreadReportHooks(const TThreadReportHooks& hooks) {
    TThreadReportHooks previous;
    previous.ThreadError = ThreadErrorHook.exchange(hooks.ThreadError);
    previous.Warning = DispatchWarningHook.exchange(hooks.Warning);
    return previous;
}

TThreadReportHooks ThreadReportHooks() {
    TThreadReportHooks hooks;
    hooks.ThreadError = ThreadErrorHook.load();
    hooks.Warning = DispatchWarningHook.load();
    return hooks;
}

TSafeThread::TSafeThread(bool createSuspended, bool hardExit) : HardExit(hardExit), StartSuspended(createSuspended) {
    // _beginthreadex rather than CreateThread: the C runtime sets up its per-thread state for
    // the new thread. Always suspended, so that no body runs before the object is complete.
    unsigned id = 0;
    const uintptr_t handle = ::_beginthreadex(nullptr, 0, &TSafeThread::ThreadProc, this, CREATE_SUSPENDED, &id);
    if (handle == 0) RaiseLastSystemError("Failed to create thread");
    Handle.reset(reinterpret_cast<HANDLE>(handle));
    ThreadId = id;
    Suspended = true;
}

TSafeThread::~TSafeThread() { StopThread(); }

void TSafeThread::DoFinish() {}

void TSafeThread::AfterConstruction() {
    if (!StartSuspended) Resume();
}

void TSafeThread::Resume() {
    const DWORD previous = ::ResumeThread(Handle.get());
    if (previous == static_cast<DWORD>(-1)) RaiseLastSystemError("Failed to resume thread 0x0%x", {Handle.get()});
    if (previous <= 1) {
        Started = true;
        if (previous == 1) Suspended = false;
    }
}

void TSafeThread::Suspend() {
    Suspended = true;
    if (::SuspendThread(Handle.get()) == static_cast<DWORD>(-1))
        RaiseLastSystemError("Failed to suspend thread 0x0%x", {Handle.get()});
}

int32_t TSafeThread::WaitFor() {
    WaitForObject(Handle.get(), WaitInfinite, WaitWarnDeadlock | WaitDeliverSentMessages);
    DWORD code = 0;
    CheckSystemCallFmt(::GetExitCodeThread(Handle.get(), &code) != FALSE, "Failed to get exit code of thread 0x0%x",
                       {Handle.get()});
    return static_cast<int32_t>(code);
}

void TSafeThread::StopThread() noexcept {
    if (!Handle) return;
    if (::GetCurrentThreadId() == ThreadId) {
        // A thread destroying its own object cannot wait for itself; ThreadProc learns that the
        // object is gone and touches it no more.
        if (DestroyedFlag) *DestroyedFlag = true;
        return;
    }
    if (!Started) {
        Discarded = true;
        Terminate();
        ResumeFully(Handle.get());
    } else if (!Finished) {
        Terminate();
        if (Suspended) {
            // Suspended in the middle of its body: let run to notice Terminated, a body that does
            // not poll it would be waited for forever. It is abandoned instead, still suspended:
            // never resumed, never waited for.
            Handle.reset();
            Suspended = false;
            return;
        }
    }
    Suspended = false;
    // Waited for even when Finished is set: the thread still runs DoFinish and its exit on this
    // object after setting it.
    try {
        WaitForObject(Handle.get(), WaitInfinite, WaitWarnDeadlock | WaitDeliverSentMessages);
    } catch (...) {
        ::WaitForSingleObject(Handle.get(), INFINITE);
    }
    Handle.reset();
}

unsigned __stdcall TSafeThread::ThreadProc(void* self) {
    auto* thread = static_cast<TSafeThread*>(self);
    ReserveExceptionStack();
    // A step may free the thread's own object (its destructor then sets this flag on this
    // thread): from then on nothing of the object is touched.
    bool destroyed = false;
    thread->DestroyedFlag = &destroyed;
    const bool hardExit = thread->HardExit;
    bool failed = false;
    // An error of a step is logged and becomes the thread's exit code; the thread goes on.
    auto guarded = [&](auto&& step) {
        try {
            step();
        } catch (const std::exception& e) {
            LogThreadError(e.what());
            failed = true;
        } catch (...) {
            // Not of the error class: reported as well rather than ended silently with code 0.
            LogThreadError("Unknown exception");
            failed = true;
        }
        if (failed && !destroyed) thread->ReturnValue = static_cast<int32_t>(ThreadErrorExitCode);
    };
    guarded([thread] {
        if (!thread->Discarded) thread->Execute();
    });
    if (!destroyed) {
        thread->Finished = true;
        guarded([thread] { thread->DoFinish(); });
    }
    const auto exitCode = destroyed ? (failed ? ThreadErrorExitCode : 0u) : static_cast<unsigned>(thread->ReturnValue);
    if (!destroyed) thread->DestroyedFlag = nullptr;
    if (hardExit) {
        // Forced termination skips the runtime's and the DLLs' thread detach work, as asked.
        ::TerminateThread(::GetCurrentThread(), exitCode);
    }
    return exitCode;
}

TMethodThread::TMethodThread(TThreadMethod method, bool createSuspended, bool hardExit)
    : TSafeThread(createSuspended, hardExit), ThreadMethod(std::move(method)) {}

TMethodThread::~TMethodThread() { StopThread(); }

void TMethodThread::Execute() {
    if (!ThreadMethod) return;
    try {
        ThreadMethod(*this);
    } catch (...) {
    }
}

void StartMethodThread(std::unique_ptr<TMethodThread>& thread, bool hardExit, TThreadMethod method) {
    thread = MakeThread<TMethodThread>(std::move(method), true, hardExit);
    thread->Resume();
}

}  // namespace cm
