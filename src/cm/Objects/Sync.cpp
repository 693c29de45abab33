// Synchronisation wrappers and guarded waits.
#include "cm/Objects/Sync.h"

#include <atomic>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Handles.h"

namespace cm {

namespace {

constexpr const char* SyncUnit = "cm/Objects";
constexpr const char* GlobalPrefix = "Global\\";
// The first major version whose object namespace has sessions (and so a "Global\" namespace).
constexpr uint32_t FirstSessionMajorVersion = 5;
// PostMessage fails with this code while the target's message queue is full.
constexpr DWORD ErrorNotEnoughQuota = 1816;
// The high bit of GetVersion is set on the non-NT family, which has no security descriptors.
constexpr DWORD VersionNonNtBit = 0x80000000;

std::atomic<TWarningHook> gWarningHook{nullptr};
std::atomic<uint32_t> gDeadlockSlice{DeadlockWarningSliceMs};

uintptr_t HandleValue(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }

struct TOpenSecurity {
    // Room for the list header, one allowed entry and the everyone identifier (12 bytes).
    alignas(DWORD) BYTE Acl[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE]{};
    alignas(DWORD) BYTE Everyone[SECURITY_MAX_SID_SIZE]{};
    SECURITY_DESCRIPTOR Descriptor{};
    SECURITY_ATTRIBUTES Attributes{};
    bool Valid = false;
};

// Made once per process; a local static so that concurrent first users see one result.
TOpenSecurity& OpenSecurity() {
    static TOpenSecurity security = [] {
        TOpenSecurity s;
        if ((GetVersion() & VersionNonNtBit) != 0) return s;
        if (!InitializeSecurityDescriptor(&s.Descriptor, SECURITY_DESCRIPTOR_REVISION)) return s;
        // Everyone may use the object, nobody may change its access list or owner through this
        // list. (A null list would grant every access to everyone; an empty one would grant none.)
        DWORD sidSize = sizeof s.Everyone;
        if (!CreateWellKnownSid(WinWorldSid, nullptr, s.Everyone, &sidSize)) return s;
        auto* acl = reinterpret_cast<PACL>(s.Acl);
        if (!InitializeAcl(acl, sizeof s.Acl, ACL_REVISION)) return s;
        if (!AddAccessAllowedAce(acl, ACL_REVISION, OpenObjectAccess, s.Everyone)) return s;
        if (!SetSecurityDescriptorDacl(&s.Descriptor, TRUE, acl, FALSE)) return s;
        s.Attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
        s.Attributes.lpSecurityDescriptor = &s.Descriptor;
        s.Attributes.bInheritHandle = FALSE;
        s.Valid = true;
        return s;
    }();
    return security;
}

// A wait for any of handles during which the messages sent to this thread's windows are
// delivered; the time-out counts from the start, however many were delivered.
DWORD WaitDeliveringSentMessages(std::span<const HANDLE> handles, DWORD timeout) {
    const ULONGLONG start = GetTickCount64();
    const DWORD count = static_cast<DWORD>(handles.size());
    for (;;) {
        DWORD remaining = timeout;
        if (timeout != INFINITE) {
            const ULONGLONG elapsed = GetTickCount64() - start;
            remaining = elapsed >= timeout ? 0 : static_cast<DWORD>(timeout - elapsed);
        }
        const DWORD result = MsgWaitForMultipleObjectsEx(count, handles.data(), remaining, QS_SENDMESSAGE, 0);
        if (result != WAIT_OBJECT_0 + count) return result;
        // Peeking delivers every message sent to the thread; it takes none of the posted ones.
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// One system wait. objectToSignal is consumed by the first call that uses it, so that later
// slices of the same guarded wait only wait.
DWORD WaitOnce(std::span<const HANDLE> handles, bool waitAll, DWORD timeout, HANDLE& objectToSignal,
               bool deliverSent) {
    if (deliverSent) return WaitDeliveringSentMessages(handles, timeout);
    if (objectToSignal != nullptr) {
        HANDLE toSignal = objectToSignal;
        objectToSignal = nullptr;
        return SignalObjectAndWait(toSignal, handles[0], timeout, FALSE);
    }
    if (handles.size() == 1) return WaitForSingleObject(handles[0], timeout);
    return WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), waitAll ? TRUE : FALSE,
                                  timeout);
}

}  // namespace

TWarningHook SetWarningHook(TWarningHook hook) { return gWarningHook.exchange(hook); }

TWarningHook GetWarningHook() { return gWarningHook.load(); }

void CallWarningHook(const std::string& message) noexcept {
    TWarningHook hook = gWarningHook.load();
    if (hook == nullptr) return;
    try {
        hook(message);
    } catch (...) {
        // A warning never changes the outcome of what it warns about: a wait that acquired a
        // mutex must return with it, not leave the caller owning it unawares.
    }
}

std::string GlobalName(const std::string& name, uint32_t majorVersion) {
    return majorVersion >= FirstSessionMajorVersion ? GlobalPrefix + name : name;
}

std::string GlobalName(const std::string& name) { return GlobalName(name, LOBYTE(LOWORD(GetVersion()))); }

SECURITY_ATTRIBUTES* OpenSecurityAttributes() {
    TOpenSecurity& s = OpenSecurity();
    return s.Valid ? &s.Attributes : nullptr;
}

PSECURITY_DESCRIPTOR OpenSecurityDescriptor() {
    TOpenSecurity& s = OpenSecurity();
    return s.Valid ? &s.Descriptor : nullptr;
}

uint32_t SetDeadlockWarningSlice(uint32_t ms) { return gDeadlockSlice.exchange(ms); }

uint32_t DeadlockWarningSlice() { return gDeadlockSlice.load(); }

int WaitForObjects(std::span<const HANDLE> handles, bool waitAll, int32_t timeoutMs, TWaitFlags flags,
                   HANDLE objectToSignal) {
    if (handles.empty()) throw Exception("No objects to wait for specified.");
    CM_ASSERT(SyncUnit, handles.size() <= MAXIMUM_WAIT_OBJECTS);
    CM_ASSERT(SyncUnit, objectToSignal == nullptr || handles.size() == 1);
    const bool deliverSent = (flags & WaitDeliverSentMessages) != 0;
    CM_ASSERT(SyncUnit, !deliverSent || (!waitAll && objectToSignal == nullptr));

    const bool infinite = timeoutMs < 0;
    DWORD result;
    if ((flags & WaitWarnDeadlock) != 0 && infinite) {
        bool warned = false;
        for (;;) {
            result = WaitOnce(handles, waitAll, DeadlockWarningSlice(), objectToSignal, deliverSent);
            if (result != WAIT_TIMEOUT) break;
            warned = true;
            CallWarningHook("Wait State Warning (possible deadlock)");
        }
        if (warned) CallWarningHook("Wait State Ended (deadlock condition avoided)");
    } else {
        result = WaitOnce(handles, waitAll, infinite ? INFINITE : static_cast<DWORD>(timeoutMs), objectToSignal,
                          deliverSent);
    }

    const DWORD count = static_cast<DWORD>(handles.size());
    if (result == WAIT_FAILED) RaiseLastSystemError("Wait operation failed");
    if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0);
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count) {
        const int index = static_cast<int>(result - WAIT_ABANDONED_0);
        if ((flags & WaitWarnAbandoned) != 0) {
            std::string message = "Wait State Warning (wait abandoned)";
            if (count > 1) message += "\r\nAbandoned object index is " + std::to_string(index);
            CallWarningHook(message);
        }
        return index;
    }
    if (result == WAIT_TIMEOUT) {
        if ((flags & WaitTimeoutResult) != 0) return -1;
        throw Exception(Format("Wait operation timed out after %dms", {timeoutMs}));
    }
    RaiseLastSystemError("Wait operation failed with an unknown error");
}

bool WaitForObject(HANDLE handle, int32_t timeoutMs, TWaitFlags flags) {
    return WaitForObjects(std::span<const HANDLE>(&handle, 1), false, timeoutMs, flags) >= 0;
}

void PostMessageGuarded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD started = GetTickCount();
    while (!PostMessageA(window, message, wParam, lParam)) {
        const DWORD error = GetLastError();
        if (error != 0 && error != ErrorNotEnoughQuota)
            RaiseSystemError("Failed to post message 0x0%x to window 0x0%x.", {message, HandleValue(window)}, error);
        Sleep(1);
        // Unsigned subtraction stays right across the 49-day wrap of the tick count.
        if (GetTickCount() - started >= PostMessageWarningMs) {
            CallWarningHook("Message cannot be posted (possible deadlock)");
            started = GetTickCount();
        }
    }
}

// ---- TWinEvent ----

TWinEvent::TWinEvent(SECURITY_ATTRIBUTES* security, const std::string& name, bool manualReset, bool initialState) {
    if (name.empty()) {
        Handle.reset(CreateEventA(security, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr));
    } else {
        const DWORD flags = (manualReset ? CREATE_EVENT_MANUAL_RESET : 0) | (initialState ? CREATE_EVENT_INITIAL_SET : 0);
        Handle.reset(CreateEventExA(security, name.c_str(), flags, OpenObjectAccess));
    }
    if (!Handle) {
        if (name.empty()) RaiseLastSystemError("Failed to create event object");
        RaiseLastSystemError("Failed to create event object: '%s'", {name});
    }
    AlreadyExisted = GetLastError() == ERROR_ALREADY_EXISTS;
}

void TWinEvent::Signal() {
    if (!SetEvent(Handle.get())) RaiseLastSystemError("Failed to set event object 0x0%x", {HandleValue(Handle.get())});
}

void TWinEvent::Reset() {
    if (!ResetEvent(Handle.get())) RaiseLastSystemError("Failed to reset event object 0x0%x", {HandleValue(Handle.get())});
}

bool TWinEvent::Wait(int32_t timeoutMs) {
    const DWORD result = WaitForSingleObject(Handle.get(), timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0) return true;
    if (result == WAIT_TIMEOUT) return false;
    RaiseLastSystemError("Error waiting for event");
}

// ---- TWinMutex ----

TWinMutex::TWinMutex(SECURITY_ATTRIBUTES* security, const std::string& name) {
    Handle.reset(name.empty() ? CreateMutexA(security, FALSE, nullptr)
                              : CreateMutexExA(security, name.c_str(), 0, OpenObjectAccess));
    if (!Handle) {
        if (name.empty()) RaiseLastSystemError("Failed to create mutex object");
        RaiseLastSystemError("Failed to create mutex object: '%s'", {name});
    }
    AlreadyExisted = GetLastError() == ERROR_ALREADY_EXISTS;
}

bool TWinMutex::Wait(int32_t timeoutMs, TWaitFlags flags) { return WaitForObject(Handle.get(), timeoutMs, flags); }

void TWinMutex::Release() {
    if (!ReleaseMutex(Handle.get())) RaiseLastSystemError("Failed to release mutex object 0x0%x", {HandleValue(Handle.get())});
}

// ---- TFastMutex ----

TFastMutex::TFastMutex() { InitializeCriticalSection(&Section); }

TFastMutex::~TFastMutex() { DeleteCriticalSection(&Section); }

void TFastMutex::Enter() {
    // Sections guarded by this mutex are a few instructions long: giving the processor to the
    // owner usually frees the section sooner than sleeping on the kernel event would.
    for (int i = 0; i < FastMutexSpinCount; ++i) {
        if (TryEnterCriticalSection(&Section)) return;
        SwitchToThread();
    }
    EnterCriticalSection(&Section);
}

void TFastMutex::Leave() { LeaveCriticalSection(&Section); }

}  // namespace cm
