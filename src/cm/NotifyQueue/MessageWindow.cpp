// Hidden message windows bound to a method of their owner.
//
// Each window gets a binding record (the owner's method) from a process-wide pool; the record's
// address sits in the window's extra bytes, and the class's one procedure forwards every message
// to it. The record is the window's trampoline: no code is generated, so no memory has to be
// writable and executable at once. Destroying the window returns the record to the pool.
#include "cm/NotifyQueue/MessageWindow.h"

#include <memory>
#include <vector>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Sync.h"

namespace cm {

namespace {

struct TWindowBinding {
    TWindowMethod Method;
    TWindowBinding* NextFree = nullptr;
};

// Guards the pool and the class registration.
SRWLOCK gLock = SRWLOCK_INIT;
std::vector<std::unique_ptr<TWindowBinding>> gBindings;  // every record made; records are never freed
TWindowBinding* gFreeBindings = nullptr;

constexpr int BindingOffset = 0;  // the record's address in the window's extra bytes

LRESULT CALLBACK MessageWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, BindingOffset, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* binding = reinterpret_cast<TWindowBinding*>(::GetWindowLongPtrA(window, BindingOffset));
    if (binding == nullptr || binding->Method.Code == nullptr) return ::DefWindowProcA(window, msg, wParam, lParam);
    TWindowMessage message{window, msg, wParam, lParam, 0};
    binding->Method.Code(binding->Method.Object, message);
    return message.Result;
}

HINSTANCE OwnInstance() {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&MessageWindowProc), &module);
    return module;
}

// Under gLock; checked on every use. A class of this name registered by other code of the process (or left by an
// unloaded copy of this module) with another procedure would receive our windows' messages:
// it is replaced.
void RegisterMessageWindowClass() {
    const HINSTANCE instance = OwnInstance();
    WNDCLASSA existing{};
    if (::GetClassInfoA(instance, MessageWindowClassName, &existing)) {
        if (existing.lpfnWndProc == &MessageWindowProc) return;
        ::UnregisterClassA(MessageWindowClassName, instance);
    }
    WNDCLASSA cls{};
    cls.lpfnWndProc = &MessageWindowProc;
    cls.cbWndExtra = sizeof(void*);
    cls.hInstance = instance;
    cls.lpszClassName = MessageWindowClassName;
    // A class that could not be unregistered still has windows: it stays (ours are among them).
    if (::RegisterClassA(&cls) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        RaiseLastSystemError("Failed to register window class '%s'", {MessageWindowClassName});
}

TWindowBinding* TakeBinding(TWindowMethod method) {
    TSrwExclusiveLock lock(gLock);
    RegisterMessageWindowClass();
    TWindowBinding* binding = gFreeBindings;
    if (binding) {
        gFreeBindings = binding->NextFree;
    } else {
        gBindings.push_back(std::make_unique<TWindowBinding>());
        binding = gBindings.back().get();
    }
    binding->Method = method;
    binding->NextFree = nullptr;
    return binding;
}

void ReturnBinding(TWindowBinding* binding) noexcept {
    TSrwExclusiveLock lock(gLock);
    binding->Method = {};
    binding->NextFree = gFreeBindings;
    gFreeBindings = binding;
}

}  // namespace

HWND AllocateMessageWindow(TWindowMethod method) {
    TWindowBinding* binding = TakeBinding(method);
    // Message-only: the window carries the program's own notifications and nothing else.
    // Broadcasts do not reach it, so a program that broadcasts (as setups do after changing the
    // environment) never waits on a thread of ours that is busy with something else.
    const HWND window = ::CreateWindowExA(0, MessageWindowClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                          OwnInstance(), binding);
    if (window == nullptr) {
        const DWORD error = ::GetLastError();
        ReturnBinding(binding);
        RaiseSystemError("Failed to create message window", {}, error);
    }
    return window;
}

void DeallocateMessageWindow(HWND window) noexcept {
    if (window == nullptr) return;
    auto* binding = reinterpret_cast<TWindowBinding*>(::GetWindowLongPtrA(window, BindingOffset));
    // Unbound first: the messages of the destruction itself go to the default procedure, not to
    // an owner that is going away.
    ::SetWindowLongPtrA(window, BindingOffset, 0);
    ::DestroyWindow(window);
    if (binding) ReturnBinding(binding);
}

}  // namespace cm
