// The application remote control.
#include "bootstrap/AppRemoteControl.h"

#include <vector>

#include "cm/ThreadPool/MessageLoop.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/Sync.h"
#include "diagnostics/Logs.h"
#include "catalogue/ProductInfoLoader.h"

namespace bootstrap {

namespace {

constexpr const char* RemoteUnit = "AppRemoteControl";
constexpr DWORD UserNameBufferSize = 1024;
constexpr DWORD StationNameBufferSize = 261;
// The rights a peer needs on a signal event made by another instance: wait on it, and reset it
// once its number has been posted (SYNCHRONIZE alone is the last resort).
constexpr DWORD EventPeerAccess = SYNCHRONIZE | EVENT_MODIFY_STATE;

std::unique_ptr<TAppRemoteControl> gInstance;

// True when this code runs in a library loaded into another program rather than in the executable.
bool RunningAsLibrary() {
    HMODULE own = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&RunningAsLibrary), &own);
    return own != ::GetModuleHandleA(nullptr);
}

uint32_t SystemMajorVersion() { return LOBYTE(LOWORD(::GetVersion())); }

std::string CurrentUserName() {
    char name[UserNameBufferSize] = {};
    DWORD size = UserNameBufferSize;
    return ::GetUserNameA(name, &size) ? std::string(name) : std::string();
}

std::string ProcessWindowStationName() {
    const HWINSTA station = ::GetProcessWindowStation();
    if (station == nullptr) cm::RaiseLastSystemError("Failed to get window station of process");
    char name[StationNameBufferSize] = {};
    DWORD needed = 0;
    if (!::GetUserObjectInformationA(station, UOI_NAME, name, sizeof name, &needed))
        cm::RaiseLastSystemError("Failed to get name of window station 0x0%x",
                                 {reinterpret_cast<uintptr_t>(station)});
    return name;
}

// A marker mutex, not owned and never acquired: its existence is the marker. Asks only for the
// rights the open security attributes grant, so that the marker of another instance is opened
// (and reported as existing) rather than refused.
HANDLE CreateMarker(const std::string& name, bool& alreadyExisted) {
    ::SetLastError(0);
    const HANDLE mutex = ::CreateMutexExA(cm::OpenSecurityAttributes(), name.c_str(), 0, cm::OpenObjectAccess);
    alreadyExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
    return mutex;
}

// A manual-reset signal event, not signalled when made; opened when another instance made it.
HANDLE CreateSignalEvent(const std::string& name) {
    HANDLE event = ::CreateEventExA(cm::OpenSecurityAttributes(), name.c_str(), CREATE_EVENT_MANUAL_RESET,
                                    cm::OpenObjectAccess);
    if (event == nullptr) event = ::OpenEventA(EventPeerAccess, FALSE, name.c_str());
    if (event == nullptr) event = ::OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
    return event;
}

}  // namespace

TRemoteControlNames RemoteControlNames(const std::string& caption, const std::string& applicationName,
                                       const std::string& userName, const std::string& windowStation,
                                       uint32_t windowsMajorVersion) {
    if (windowsMajorVersion == 0) windowsMajorVersion = SystemMajorVersion();
    const std::string base = RemoteCompanyWord + caption + "_" + cm::LowerCaseAscii(applicationName);
    TRemoteControlNames names;
    names.Mutexes[0] = base + "_Mutex" + "_" + userName + "_" + windowStation;
    names.Mutexes[1] = cm::GlobalName(base + "_Mutex", windowsMajorVersion);
    for (int k = 1; k < RemoteEventCount; ++k)
        names.Events[k] = cm::GlobalName(base + "_Event_" + std::to_string(k), windowsMajorVersion);
    return names;
}

std::string DefaultApplicationName() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return cm::ExtractBaseName(path);
}

TAppRemoteControl::TAppRemoteControl(const std::string& applicationName, uint32_t windowsMajorVersion) {
    try {
        Create(applicationName, windowsMajorVersion);
    } catch (const std::exception& e) {
        ReportFailedCreation(e.what());
    } catch (...) {
        ReportFailedCreation("Unknown exception");
    }
}

void TAppRemoteControl::ReportFailedCreation(const std::string& message) noexcept {
    InitializationFailed = true;
    try {
        cm::LogTitled("Failed to initialize application control object.", '-');
        cm::LogWrite(message);
    } catch (...) {
    }
}

void TAppRemoteControl::Create(const std::string& applicationName, uint32_t windowsMajorVersion) {
    ApplicationName = applicationName.empty() ? DefaultApplicationName() : applicationName;
    const std::string caption = cm::ProductInfo("")->ProductCaption;
    const std::string user = CurrentUserName();
    const std::string station = ProcessWindowStationName();
    Names = RemoteControlNames(caption, ApplicationName, user, station, windowsMajorVersion);

    for (int i = 0; i < RemoteMutexCount; ++i) Mutexes[i].reset(CreateMarker(Names.Mutexes[i], AlreadyExisted[i]));

    Events[0].reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    cm::CheckSystemCall(Events[0].valid(), "Unable to create/open event object.");
    for (int k = 1; k < RemoteEventCount; ++k) {
        Events[k].reset(CreateSignalEvent(Names.Events[k]));
        cm::CheckSystemCall(Events[k].valid(), "Unable to create/open event object.");
    }

    Window.reset(cm::AllocateMessageWindow(cm::WindowMethod<&TAppRemoteControl::WindowProc>(this)));
    cm::StartMethodThread(Thread, false, [this](cm::TMethodThread&) { ControlLoop(); });
    cm::RegisterThreadName(Thread->ThreadId, "Application Control Thread (" + ApplicationName + ")");
}

TAppRemoteControl::~TAppRemoteControl() {
    QuitClock.reset();
    try {
        Stop();
    } catch (...) {
        // The control thread could not be woken: Stop left it suspended, and it is abandoned.
    }
}

void TAppRemoteControl::ControlLoop() {
    // The waiting set: the index of each event alongside its handle. An event that cannot be
    // reset leaves the set, or the wait would return at once for ever.
    std::vector<HANDLE> handles;
    std::vector<int> indexes;
    for (int i = 0; i < RemoteEventCount; ++i) {
        if (Events[i]) {
            handles.push_back(Events[i].get());
            indexes.push_back(i);
        }
    }
    while (!handles.empty()) {
        // Waiting without limit is this thread's whole job: no deadlock watch.
        const int got = cm::WaitForObjects(std::span<const HANDLE>(handles), false, cm::WaitInfinite, 0);
        if (Stopped) return;
        if (got < 0 || got >= static_cast<int>(handles.size())) continue;
        cm::PostMessageGuarded(Window.get(), RemoteSignalMessage, static_cast<WPARAM>(indexes[got]), 0);
        // Events are manual-reset, so every instance waiting on one was released when it was set;
        // left set, it would release this wait again at once, spinning and flooding the window.
        if (!::ResetEvent(handles[got])) {
            handles.erase(handles.begin() + got);
            indexes.erase(indexes.begin() + got);
        }
    }
}

void TAppRemoteControl::WindowProc(cm::TWindowMessage& message) noexcept {
    if (message.Msg != RemoteSignalMessage) {
        message.Result = ::DefWindowProcA(message.Window, message.Msg, message.WParam, message.LParam);
        return;
    }
    message.Result = cm::GuardWindowProc([&]() -> LRESULT {
        const int index = static_cast<int>(message.WParam & 0xFF);
        if (index >= RemoteEventCount) return 0;
        if (Handlers[index]) {
            const TRemoteHandler handler = Handlers[index];  // it may register another meanwhile
            handler(*this);
        }
        if (index == RemoteQuitSignal) {
            QuitClock = cm::CreateClock(RemoteQuitClockMs, true, [](cm::TClock&) { ::PostQuitMessage(0); });
        }
        return 0;
    });
}

void TAppRemoteControl::Stop() {
    if (Stopped.exchange(true)) return;
    DWORD wakeError = 0;
    if (Thread) {
        if (RunningAsLibrary()) {
            // The host may be inside its loader lock here, where a thread cannot end: it is
            // suspended, and abandoned (never waited for) when the object goes.
            try {
                Thread->Suspend();
            } catch (...) {
            }
        } else {
            if (::SetEvent(Events[0].get())) {
                Thread.reset();
            } else {
                wakeError = ::GetLastError();
                // A thread that cannot be woken would be waited for in vain: it is suspended, so
                // that it is abandoned (never resumed, never waited for) with its object.
                try {
                    Thread->Suspend();
                } catch (...) {
                }
            }
        }
    }
    // The window goes even when the thread could not be woken: it is bound to this object.
    Window.reset();
    const auto wakeHandle = reinterpret_cast<uintptr_t>(Events[0].get());
    for (auto& event : Events) event.reset();
    for (auto& mutex : Mutexes) mutex.reset();
    for (auto& handler : Handlers) handler = nullptr;
    if (wakeError != 0) cm::RaiseSystemError("Failed to set event object 0x0%x", {wakeHandle}, wakeError);
}

void TAppRemoteControl::RegisterHandler(int index, TRemoteHandler handler) {
    CM_ASSERT(RemoteUnit, index >= 0 && index < RemoteEventCount);
    Handlers[index] = std::move(handler);
}

TAppRemoteControl* AppRemoteControl() { return gInstance.get(); }

void InitializeAppRemoteControl() { gInstance = std::make_unique<TAppRemoteControl>(""); }

void FinalizeAppRemoteControl() { gInstance.reset(); }

}  // namespace bootstrap
