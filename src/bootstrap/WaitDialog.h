// The wait dialog: a small progress window with a message line, a progress bar and a Cancel
// button, run on a thread of its own with its own message loop so that the creating thread
// (which extracts and decodes without pumping messages) only moves the bar and reads the cancel
// state.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "cm/Objects/Handles.h"
#include "cm/Objects/Sync.h"
#include "cm/Objects/WinApi.h"

#include <commctrl.h>
#include "cm/ThreadPool/SafeThread.h"

namespace bootstrap {

// Options of TWaitDialog.
enum TWaitDialogOption : uint8_t {
    WaitDialogCancelEnabled = 0x01,  // the Cancel button is enabled
    WaitDialogAllowBackwards = 0x02, // the position may also move backwards
};

constexpr const char* WaitDialogClassName = "ProgressWndClass";
constexpr const char* WaitDialogTitle = "Please Wait...";
constexpr int WaitDialogWidth = 400;
constexpr int WaitDialogHeight = 120;
constexpr DWORD WaitDialogStyle = WS_VISIBLE | WS_CAPTION;
constexpr DWORD WaitDialogButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD WaitDialogTextStyle = WS_CHILD | WS_VISIBLE;
constexpr DWORD WaitDialogBarStyle = WS_CHILD | WS_VISIBLE | PBS_SMOOTH;
constexpr int WaitDialogFontHeight = -11;           // "Tahoma", character height 11
constexpr int WaitDialogFontWeight = 400;
constexpr int WaitDialogUpdateDivisor = 256;        // the bar is told of changes of maximum / 256 or more
constexpr DWORD MainWindowStyleMask = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

// At most one dialog exists at a time; Create and Destroy run on the owner's thread.
class TWaitDialog {
public:
    // Creates the windows on a dialog thread and returns once they exist (the dialog is shown).
    // The update threshold is maximum / 256. Raises the dialog thread's failure (EWin32Error for
    // a window that could not be created) when the thread ends without its windows; an existing
    // dialog is an assertion failure.
    TWaitDialog(uint8_t options, const std::string& message, int32_t maximum);
    // Ends the dialog thread (which destroys the windows) and waits for it, deletes the font,
    // then brings the last active pop-up of the calling thread's main window to the foreground.
    // Never raises.
    ~TWaitDialog();
    TWaitDialog(const TWaitDialog&) = delete;
    TWaitDialog& operator=(const TWaitDialog&) = delete;

    // SetPosition(position + delta).
    void Step(int32_t delta);
    // Ignored when value is not greater than the position (unless WaitDialogAllowBackwards).
    // Posts the new position to the bar when it is at least the threshold away from the last
    // one posted; never waits for the dialog thread. Raises PostMessageGuarded's errors.
    void SetPosition(int32_t value);
    // Disables the Cancel button and sets the cancelled flag. Called on the dialog thread.
    void Cancel();

    bool Cancelled() const { return CancelledFlag; }
    int32_t Position() const { return CurrentPosition; }
    HWND DialogHandle() const { return DialogWindow; }

    // The live dialog, or null.
    static TWaitDialog* Current();

private:
    void ThreadBody();
    void CreateWindows();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    uint8_t Options;
    std::unique_ptr<cm::TMethodThread> Thread;
    // Made and destroyed on the dialog's thread.
    cm::UniqueWindow OwnerWindow;
    cm::UniqueFont Font;
    HWND TextWindow = nullptr;
    HWND DialogWindow = nullptr;
    HWND CancelButton = nullptr;
    HWND ProgressBar = nullptr;
    std::string Message;
    int32_t CurrentPosition = 0;
    int32_t LastSentPosition = 0;
    int32_t Maximum;
    int32_t UpdateThreshold;
    std::atomic<bool> CancelledFlag{false};
    cm::TWinEvent WindowsReady{nullptr, "", true, false};
    std::exception_ptr ThreadFailure;  // why the dialog thread ended without its windows
};

// Among the top-level windows of the calling thread, the first visible one without a parent
// whose style holds all of MainWindowStyleMask is the main window; when its last active pop-up
// is another visible, enabled window, that pop-up is brought to the foreground.
void BringMainWindowPopupToFront();

}  // namespace bootstrap

static_assert(bootstrap::WaitDialogStyle == 0x10C00000 && bootstrap::WaitDialogButtonStyle == 0x50010001 &&
              bootstrap::WaitDialogTextStyle == 0x50000000 && bootstrap::WaitDialogBarStyle == 0x50000001 &&
              bootstrap::MainWindowStyleMask == 0x10CF0000,
              "the dialog's window styles are the product's");
