// The application remote control: lets the product's other processes find out that this
// application runs (two named marker mutexes, one per user session and window station, one
// machine-wide) and send it numbered signals (18 named events). A thread of its own waits on the
// events and forwards each signal number to a hidden window on the creating thread, where the
// handler registered for the number runs. Signal 1 also ends the creating thread's message loop
// at the first tick of a 50 ms clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cm/NotifyQueue/NotifyQueue.h"
#include "cm/Objects/Handles.h"
#include "cm/ThreadPool/SafeThread.h"

namespace bootstrap {

constexpr int RemoteMutexCount = 2;       // 0: session marker, 1: global marker
constexpr int RemoteEventCount = 19;      // 0: the private wake-up; 1 to 18: the signals
constexpr int RemoteQuitSignal = 1;
constexpr UINT RemoteSignalMessage = 0x0400;  // to the control window, the event index as first parameter
constexpr uint32_t RemoteQuitClockMs = 50;
constexpr const char* RemoteCompanyWord = "Tavrel";

// The names of one application's objects. Events[0] is empty: event 0 is unnamed.
struct TRemoteControlNames {
    std::string Mutexes[RemoteMutexCount];
    std::string Events[RemoteEventCount];
};

// The names for a product caption, an application name (lower-cased here), the user and window
// station names, and a Windows major version (the "Global\" prefix only above 4; 0 means the
// running system's).
TRemoteControlNames RemoteControlNames(const std::string& caption, const std::string& applicationName,
                                       const std::string& userName, const std::string& windowStation,
                                       uint32_t windowsMajorVersion);

// The running executable's file name without directory and extension.
std::string DefaultApplicationName();

class TAppRemoteControl;
// A handler of one signal number, called on the creating thread with the object as sender.
using TRemoteHandler = std::function<void(TAppRemoteControl& sender)>;

class TAppRemoteControl : public cm::TObject {
public:
    // Builds the names, creates the objects, the control window (on the calling thread) and the
    // control thread. An empty application name means DefaultApplicationName(); a
    // windowsMajorVersion of 0 means the system's. Never raises: a failure sets
    // InitializationFailed and is logged (title "Failed to initialize application control
    // object." and the failure's message, while logging is enabled); the object is usable as far
    // as its objects were made.
    explicit TAppRemoteControl(const std::string& applicationName, uint32_t windowsMajorVersion = 0);
    // Frees the quit clock, then Stop(). On the creating thread.
    ~TAppRemoteControl() override;
    TAppRemoteControl(const TAppRemoteControl&) = delete;
    TAppRemoteControl& operator=(const TAppRemoteControl&) = delete;

    // Idempotent. Ends the control thread (waits for it; when running as a library it is only
    // suspended, and abandoned at destruction), destroys the control window, closes the events
    // and mutexes and clears the handlers. On the creating thread. Raises
    // "Failed to set event object 0x0%x" when the control thread cannot be woken, after the rest
    // is done (that thread is then suspended and abandoned like a library's).
    void Stop();

    // Registers (or, with an empty handler, removes) the handler of signal index (0 to 18; an
    // assertion otherwise). On the creating thread.
    void RegisterHandler(int index, TRemoteHandler handler);

    std::atomic<bool> Stopped{false};  // written by the creating thread, read by the control thread
    bool InitializationFailed = false;
    cm::UniqueHandle Mutexes[RemoteMutexCount];
    cm::UniqueHandle Events[RemoteEventCount];
    cm::UniqueMessageWindow Window;
    std::unique_ptr<cm::TClock> QuitClock;
    std::unique_ptr<cm::TMethodThread> Thread;
    TRemoteHandler Handlers[RemoteEventCount];
    bool AlreadyExisted[RemoteMutexCount] = {};  // the marker existed before this object made it
    std::string ApplicationName;
    TRemoteControlNames Names;

    // The control window's procedure.
    void WindowProc(cm::TWindowMessage& message) noexcept;

private:
    void Create(const std::string& applicationName, uint32_t windowsMajorVersion);
    void ReportFailedCreation(const std::string& message) noexcept;
    void ControlLoop();
};

// The process-wide instance (nullptr outside the module's life).
TAppRemoteControl* AppRemoteControl();
// Module start-up (the instance, with an empty application name) and shut-down (frees it).
void InitializeAppRemoteControl();
void FinalizeAppRemoteControl();

}  // namespace bootstrap
