// Synchronisation wrappers (events, mutexes, critical sections), the guarded wait that warns
// instead of hanging silently, and the naming and security helpers every named kernel object of
// the product uses. Win32 only.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "cm/Objects/Handles.h"
#include "cm/Objects/Object.h"
#include "cm/Objects/WinApi.h"

namespace cm {

// ---- Warning hook ----

// A process-wide procedure slot taking one message. Empty at start; the log fills it at start-up
// with its warning-with-trace entry. The guarded waits and PostMessageGuarded warn through it.
using TWarningHook = void (*)(const std::string& message);

// Sets the slot (nullptr empties it) and returns the previous procedure. Meant to be set once at
// start-up before other threads run; reading and writing the slot are nevertheless atomic.
TWarningHook SetWarningHook(TWarningHook hook);
TWarningHook GetWarningHook();
// Calls the installed procedure with the message; does nothing when the slot is empty. Whatever
// the procedure raises is swallowed: warnings never stop a wait.
void CallWarningHook(const std::string& message) noexcept;

// ---- Named objects ----

// "Global\" + name when the system's major version is greater than 4, else the name unchanged.
std::string GlobalName(const std::string& name);
// The same rule for an explicit major version.
std::string GlobalName(const std::string& name, uint32_t majorVersion);

// What the open security attributes grant everyone: waiting (synchronise), setting, resetting,
// releasing and querying the object's state (modify and query state, 0x0003) and reading its
// access list. Neither the access list, the owner nor the object's deletion: a null access list
// would let any user of the machine take the product's named objects over.
constexpr DWORD OpenObjectAccess = SYNCHRONIZE | READ_CONTROL | 0x0003;

// Security attributes (not inherited) whose descriptor (revision 1) carries an access list with
// one entry granting everyone OpenObjectAccess, so that processes of other users and sessions may
// open the object. Made once per process on first use and kept until the process ends; nullptr
// when it cannot be made.
SECURITY_ATTRIBUTES* OpenSecurityAttributes();
// The descriptor of those attributes alone; nullptr when it cannot be made.
PSECURITY_DESCRIPTOR OpenSecurityDescriptor();

// ---- Guarded waits ----

// Wait flags; combine with |.
enum TWaitFlag : uint32_t {
    WaitWarnDeadlock = 1,   // an infinite wait is cut into slices; each slice that ends unsignalled warns
    WaitWarnAbandoned = 2,  // an abandoned object warns (it is still returned as acquired)
    WaitTimeoutResult = 4,  // a time-out returns -1 instead of raising
    // Messages that other threads and programs send to the caller's windows are delivered while
    // it waits (posted ones stay queued): a thread that owns windows must never keep a sender
    // waiting, a broadcast above all. Not with waitAll or objectToSignal.
    WaitDeliverSentMessages = 8,
};
using TWaitFlags = uint32_t;

constexpr int32_t WaitInfinite = -1;
constexpr uint32_t DeadlockWarningSliceMs = 20000;  // the product's slice of a watched infinite wait
constexpr uint32_t PostMessageWarningMs = 10000;    // PostMessageGuarded warns after this long a full queue
constexpr int FastMutexSpinCount = 1000;            // non-blocking tries of TFastMutex::Enter

// The slice length of watched infinite waits, process-wide. The product keeps
// DeadlockWarningSliceMs; tests shorten it. Returns the previous value.
uint32_t SetDeadlockWarningSlice(uint32_t ms);
uint32_t DeadlockWarningSlice();

// Waits for 1 to 64 handles (all of them when waitAll, else any one) with a time-out in ms
// (WaitInfinite = -1 for none).
// When objectToSignal is given, it is signalled and the single handle waited for in one atomic
// call (SignalObjectAndWait); later slices only wait. That form takes exactly one handle.
// With WaitWarnDeadlock and an infinite time-out, the wait runs in slices of
// DeadlockWarningSlice() ms, warning "Wait State Warning (possible deadlock)" after each slice
// that ends unsignalled and "Wait State Ended (deadlock condition avoided)" once the wait ends
// after at least one such warning. Blocks until the wait ends; warnings never end it.
// Returns the index of the signalled or abandoned object (an abandoned mutex is owned by the
// caller from then on; with WaitWarnAbandoned the hook gets "Wait State Warning (wait abandoned)",
// plus CR LF "Abandoned object index is <i>" when several handles were given), or -1 on time-out
// with WaitTimeoutResult.
// Raises: "No objects to wait for specified." for no handles; "Wait operation timed out after %dms"
// on time-out without WaitTimeoutResult; EWin32Error "Wait operation failed" when the system wait
// fails and "Wait operation failed with an unknown error" for any other result. More than 64
// handles, or objectToSignal with more than one handle, is an assertion failure ("cm/Objects").
int WaitForObjects(std::span<const HANDLE> handles, bool waitAll, int32_t timeoutMs, TWaitFlags flags,
                   HANDLE objectToSignal = nullptr);
inline int WaitForObjects(std::initializer_list<HANDLE> handles, bool waitAll, int32_t timeoutMs,
                          TWaitFlags flags, HANDLE objectToSignal = nullptr) {
    return WaitForObjects(std::span<const HANDLE>(handles.begin(), handles.size()), waitAll, timeoutMs,
                          flags, objectToSignal);
}

// WaitForObjects on the one handle; true when it was signalled or abandoned (false only on a
// time-out with WaitTimeoutResult). Raises as WaitForObjects.
bool WaitForObject(HANDLE handle, int32_t timeoutMs, TWaitFlags flags);

// Posts a window message, retrying every 1 ms while the target's queue is full (error 1816, or a
// failure with no error code); warns "Message cannot be posted (possible deadlock)" through the
// hook every 10,000 ms of retrying. Blocks until posted. Raises EWin32Error
// "Failed to post message 0x0%x to window 0x0%x." for any other failure.
void PostMessageGuarded(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- Wrappers ----

// A Win32 event; Handle owns the event's handle and closes it on destruction. A named event is
// created or opened asking for OpenObjectAccess only (all its operations need), so that an event
// made by another process under the open security attributes can be opened.
class TWinEvent : public TObject {
public:
    // security may be nullptr; an empty name makes an unnamed event.
    // Raises EWin32Error "Failed to create event object" (unnamed) or
    // "Failed to create event object: '%s'" (named).
    TWinEvent(SECURITY_ATTRIBUTES* security, const std::string& name, bool manualReset, bool initialState);
    ~TWinEvent() override = default;
    TWinEvent(const TWinEvent&) = delete;
    TWinEvent& operator=(const TWinEvent&) = delete;

    // Raises EWin32Error "Failed to set event object 0x0%x".
    void Signal();
    // Raises EWin32Error "Failed to reset event object 0x0%x".
    void Reset();
    // Waits for the event alone; false only on time-out. Raises EWin32Error "Error waiting for event"
    // for a failed wait.
    bool Wait(int32_t timeoutMs);

    UniqueHandle Handle;
    bool AlreadyExisted = false;  // the named event existed before this creation
};

// A Win32 mutex, created not owned; Handle owns the mutex's handle and closes it on destruction.
// A named mutex is created or opened asking for OpenObjectAccess only, as a named event.
class TWinMutex : public TObject {
public:
    // security may be nullptr; an empty name makes an unnamed mutex.
    // Raises EWin32Error "Failed to create mutex object" (unnamed) or
    // "Failed to create mutex object: '%s'" (named).
    TWinMutex(SECURITY_ATTRIBUTES* security, const std::string& name);
    ~TWinMutex() override = default;
    TWinMutex(const TWinMutex&) = delete;
    TWinMutex& operator=(const TWinMutex&) = delete;

    // WaitForObject on the mutex: true when acquired (also when abandoned).
    bool Wait(int32_t timeoutMs, TWaitFlags flags);
    // Raises EWin32Error "Failed to release mutex object 0x0%x" (for example when not owned).
    void Release();

    UniqueHandle Handle;
    bool AlreadyExisted = false;  // the named mutex existed before this creation
};

// A critical section for short, frequently entered sections. Re-entrant on the owning thread.
class TFastMutex : public TObject {
public:
    TFastMutex();
    ~TFastMutex() override;
    TFastMutex(const TFastMutex&) = delete;
    TFastMutex& operator=(const TFastMutex&) = delete;

    // Tries FastMutexSpinCount times without blocking, yielding the processor to another ready
    // thread after each failed try, then blocks until entered.
    void Enter();
    void Leave();

private:
    CRITICAL_SECTION Section;
};

// Holds a TFastMutex for its lifetime.
class TFastMutexLock {
public:
    explicit TFastMutexLock(TFastMutex& mutex) : Mutex(mutex) { Mutex.Enter(); }
    ~TFastMutexLock() { Mutex.Leave(); }
    TFastMutexLock(const TFastMutexLock&) = delete;
    TFastMutexLock& operator=(const TFastMutexLock&) = delete;

private:
    TFastMutex& Mutex;
};

// Holds a slim reader/writer lock exclusively for its lifetime.
class TSrwExclusiveLock {
public:
    explicit TSrwExclusiveLock(SRWLOCK& lock) : Lock(lock) { ::AcquireSRWLockExclusive(&Lock); }
    ~TSrwExclusiveLock() { ::ReleaseSRWLockExclusive(&Lock); }
    TSrwExclusiveLock(const TSrwExclusiveLock&) = delete;
    TSrwExclusiveLock& operator=(const TSrwExclusiveLock&) = delete;

private:
    SRWLOCK& Lock;
};

// Releases an owned mutex (by handle) when it goes; the release's failure is ignored.
class TMutexRelease {
public:
    explicit TMutexRelease(HANDLE mutex) : Mutex(mutex) {}
    ~TMutexRelease() { ::ReleaseMutex(Mutex); }
    TMutexRelease(const TMutexRelease&) = delete;
    TMutexRelease& operator=(const TMutexRelease&) = delete;

private:
    HANDLE Mutex;
};

}  // namespace cm
