// Hidden message windows whose messages go to a method of their owner: the notify queue, the
// clocks and the application remote control each keep one. Win32 only.
#pragma once

#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"

namespace cm {

// One message as the owner's method receives it; Result is what the window procedure returns.
struct TWindowMessage {
    HWND Window;
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

// A method of the owner: code and object. The code must not raise (the message comes from the
// system's dispatch, which C++ exceptions cannot cross): run the work through GuardWindowProc
// or catch inside.
struct TWindowMethod {
    void (*Code)(void* object, TWindowMessage& message) noexcept = nullptr;
    void* Object = nullptr;
};

// Binds a member function to an object: WindowMethod<&TClass::Procedure>(object).
template <auto Method, class C>
TWindowMethod WindowMethod(C* object) {
    return {[](void* self, TWindowMessage& message) noexcept { (static_cast<C*>(self)->*Method)(message); }, object};
}

// The window class of the message windows (registered by the first AllocateMessageWindow).
constexpr const char* MessageWindowClassName = "TavrelMessageWindow";

// Creates a message-only window (parent HWND_MESSAGE: never shown, never enumerated, reached by
// no broadcast) on the calling thread, whose every message goes to method through a binding of
// its own. The class is
// registered on first use, and registered again when a class of that name exists with another
// procedure. Raises EWin32Error "Failed to register window class '%s'" or
// "Failed to create message window".
HWND AllocateMessageWindow(TWindowMethod method);

// Destroys the window (on its thread) and returns its binding for reuse; messages that arrive
// meanwhile go to the default window procedure. A null window does nothing. Never raises.
void DeallocateMessageWindow(HWND window) noexcept;

namespace detail {
struct MessageWindowTraits {
    using Type = HWND;
    static HWND Invalid() { return nullptr; }
    static void Close(HWND window) { DeallocateMessageWindow(window); }
};
}  // namespace detail

// A window of AllocateMessageWindow; reset it on the thread that made it.
using UniqueMessageWindow = UniqueResource<detail::MessageWindowTraits>;

}  // namespace cm
