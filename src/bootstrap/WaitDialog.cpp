#include "bootstrap/WaitDialog.h"

#include <commctrl.h>

#include <cstdlib>

#include "cm/ThreadPool/MessageLoop.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/SystemWrappers.h"

namespace bootstrap {

namespace {

constexpr const char* WaitDialogUnit = "WaitDialog";
constexpr int ButtonRightOffset = 81, ButtonBottomOffset = 33, ButtonWidth = 73, ButtonHeight = 25;
constexpr int Margin = 8, TextHeight = 13, BarTop = 28, BarHeight = 17;
constexpr WPARAM EscapeKey = 27;
constexpr WPARAM CKey = 67;

std::atomic<TWaitDialog*> LiveDialog{nullptr};

HWND CreateChecked(const char* className, const char* text, DWORD style, int x, int y, int width, int height,
                   HWND parent, HMENU id, const char* failure) {
    // Creation does not always set an error code when it fails (a refused WM_NCCREATE, no
    // display): clear it, so that the report does not show an older one.
    ::SetLastError(ERROR_SUCCESS);
    HWND window = ::CreateWindowExA(0, className, text, style, x, y, width, height, parent, id,
                                    ::GetModuleHandleA(nullptr), nullptr);
    cm::CheckSystemCall(window != nullptr, failure);
    return window;
}

struct MainWindowSearch {
    HWND Found = nullptr;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<MainWindowSearch*>(param);
    const auto style = static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE));
    if (::IsWindowVisible(window) && ::GetParent(window) == nullptr &&
        (style & MainWindowStyleMask) == MainWindowStyleMask) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

// Registers the progress bar's class. The common controls are loaded here, on the dialog's
// thread, not imported: loading them costs some 45 ms at every start under Wine, which the
// program's own thread spends on the payload check meanwhile, and the console build never needs
// them. The library stays loaded for the process: the progress bars' window procedure lives in it.
// Raises the loader's errors.
void RegisterProgressBarClass() {
    using TInitCommonControlsEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const HMODULE controls = cm::LoadLibraryChecked("comctl32.dll");
    // Through the generic function type, which the compiler accepts as a cast to any other.
    const auto init = reinterpret_cast<TInitCommonControlsEx>(
        reinterpret_cast<void (*)()>(cm::GetProcAddressChecked(controls, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    init(&classes);
}

}  // namespace

void BringMainWindowPopupToFront() {
    MainWindowSearch search;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindMainWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.Found) return;
    HWND popup = ::GetLastActivePopup(search.Found);
    if (popup && popup != search.Found && ::IsWindowVisible(popup) && ::IsWindowEnabled(popup))
        ::SetForegroundWindow(popup);
}

TWaitDialog* TWaitDialog::Current() { return LiveDialog; }

TWaitDialog::TWaitDialog(uint8_t options, const std::string& message, int32_t maximum)
    : Options(options), Message(message), Maximum(maximum), UpdateThreshold(maximum / WaitDialogUpdateDivisor) {
    TWaitDialog* expected = nullptr;
    if (!LiveDialog.compare_exchange_strong(expected, this))
        cm::AssertionFailure(WaitDialogUnit, __LINE__, "only one wait dialog at a time");
    Font.reset(::CreateFontA(WaitDialogFontHeight, 0, 0, 0, WaitDialogFontWeight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                         "Tahoma"));
    try {
        // Hard exit: the thread's windows are gone when its body ends, and under Wine the normal
        // exit of a thread that owned X windows was seen to hang in the thread's detach now and
        // then (about one run in ten of the dialog tests).
        cm::StartMethodThread(Thread, true, [this](cm::TMethodThread&) { ThreadBody(); });
        // The thread ends without signalling when it cannot make its windows: waiting for either
        // keeps the constructor from waiting forever.
        const int signalled = cm::WaitForObjects({WindowsReady.Handle.get(), Thread->Handle.get()}, false, cm::WaitInfinite,
                                                 cm::WaitWarnDeadlock);
        if (signalled != 0) {
            if (ThreadFailure) std::rethrow_exception(ThreadFailure);
            throw cm::Exception("The wait dialog thread ended before its windows were made");
        }
    } catch (...) {
        Thread.reset();
        Font.reset();
        LiveDialog = nullptr;
        throw;
    }
}

TWaitDialog::~TWaitDialog() {
    try {
        cm::PostMessageGuarded(DialogWindow, WM_QUIT, 0, 0);
    } catch (...) {
        // The loop must end all the same: the quit message also works as a thread message.
        ::PostThreadMessageA(Thread->ThreadId, WM_QUIT, 0, 0);
    }
    // The thread's end is waited for with the messages that other threads send to this thread
    // delivered meanwhile (cm/ThreadPool): the teardown of the dialog's windows (activation moving
    // on) may send to windows of this thread, and the two threads must not wait for each other.
    Thread.reset();
    // Deleted only now that no control can paint with it any more.
    Font.reset();
    BringMainWindowPopupToFront();
    LiveDialog = nullptr;
}

void TWaitDialog::Step(int32_t delta) { SetPosition(CurrentPosition + delta); }

void TWaitDialog::SetPosition(int32_t value) {
    if (value <= CurrentPosition && !(Options & WaitDialogAllowBackwards)) return;
    CurrentPosition = value;
    if (std::abs(static_cast<int64_t>(value) - LastSentPosition) >= UpdateThreshold) {
        LastSentPosition = value;
        cm::PostMessageGuarded(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
    }
}

void TWaitDialog::Cancel() {
    ::EnableWindow(CancelButton, FALSE);
    CancelledFlag = true;
}

void TWaitDialog::ThreadBody() {
    try {
        CreateWindows();
    } catch (...) {
        // TMethodThread swallows the error; the constructor raises it on the owner's thread.
        ThreadFailure = std::current_exception();
        OwnerWindow.reset();
        throw;
    }
    WindowsReady.Signal();
    cm::MessageLoop(0, nullptr);
    // The owned dialog and its controls go with their owner.
    OwnerWindow.reset();
}

void TWaitDialog::CreateWindows() {
    WNDCLASSA cls{};
    cls.lpfnWndProc = &TWaitDialog::WindowProc;
    cls.hInstance = ::GetModuleHandleA(nullptr);
    cls.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
    cls.hCursor = ::LoadCursorA(nullptr, IDC_WAIT);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = WaitDialogClassName;
    // A later dialog of the same process finds the class still registered.
    if (!::RegisterClassA(&cls) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        cm::RaiseLastSystemError("Cannot register window class '%s'", {WaitDialogClassName});

    OwnerWindow.reset(CreateChecked(WaitDialogClassName, WaitDialogTitle, 0, 0, 0, 0, 0, nullptr, nullptr,
                                    "Cannot create wait dialog owner window"));
    const int left = (::GetSystemMetrics(SM_CXFULLSCREEN) - WaitDialogWidth) / 2;
    const int top = (::GetSystemMetrics(SM_CYFULLSCREEN) - WaitDialogHeight) / 2;
    DialogWindow = CreateChecked(WaitDialogClassName, WaitDialogTitle, WaitDialogStyle, left, top, WaitDialogWidth,
                                 WaitDialogHeight, OwnerWindow.get(), nullptr, "Cannot create wait dialog window");
    RECT client{};
    ::GetClientRect(DialogWindow, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;

    CancelButton = CreateChecked("BUTTON", "&Cancel", WaitDialogButtonStyle, width - ButtonRightOffset,
                                 height - ButtonBottomOffset, ButtonWidth, ButtonHeight, DialogWindow,
                                 reinterpret_cast<HMENU>(IDCANCEL), "Cannot create wait dialog button");
    ::EnableWindow(CancelButton, (Options & WaitDialogCancelEnabled) ? TRUE : FALSE);
    TextWindow = CreateChecked("STATIC", Message.c_str(), WaitDialogTextStyle, Margin, Margin, width - 2 * Margin,
                               TextHeight, DialogWindow, nullptr, "Cannot create wait dialog message text");
    ::SendMessageA(CancelButton, WM_SETFONT, reinterpret_cast<WPARAM>(Font.get()), TRUE);
    ::SendMessageA(TextWindow, WM_SETFONT, reinterpret_cast<WPARAM>(Font.get()), TRUE);

    RegisterProgressBarClass();
    ProgressBar = CreateChecked(PROGRESS_CLASSA, "", WaitDialogBarStyle, Margin, BarTop, width - 2 * Margin,
                                BarHeight, DialogWindow, nullptr, "Cannot create wait dialog progress bar");
    ::SendMessageA(ProgressBar, PBM_SETRANGE32, 0, Maximum);
    ::SendMessageA(ProgressBar, PBM_SETPOS, 0, 0);
}

LRESULT CALLBACK TWaitDialog::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return cm::GuardWindowProc([&]() -> LRESULT {
        TWaitDialog* dialog = LiveDialog;
        if (dialog) {
            switch (message) {
            case WM_WINDOWPOSCHANGING:
                if (window == dialog->DialogWindow) reinterpret_cast<WINDOWPOS*>(lParam)->flags |= SWP_NOMOVE;
                break;
            case WM_SETCURSOR:
                if (reinterpret_cast<HWND>(wParam) != dialog->CancelButton) {
                    ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
                    return TRUE;
                }
                break;
            case WM_COMMAND:
                if (reinterpret_cast<HWND>(lParam) == dialog->CancelButton && HIWORD(wParam) == BN_CLICKED)
                    dialog->Cancel();
                break;
            case WM_KEYDOWN:
                if (wParam == EscapeKey || wParam == CKey) dialog->Cancel();
                break;
            case WM_CLOSE:
                // The system menu and Alt+F4 act as the Cancel button, and like it are ignored
                // while it is disabled. The windows are never destroyed from outside: the
                // owner's next step would post to a window that is gone.
                if (::IsWindowEnabled(dialog->CancelButton)) dialog->Cancel();
                return 0;
            default:
                break;
            }
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    });
}

}  // namespace bootstrap
