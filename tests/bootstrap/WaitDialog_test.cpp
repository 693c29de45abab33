// The wait dialog in real windows (under Xvfb). Every window is read from the test's thread, the
// dialog's owner, never from the dialog thread itself.
#include "bootstrap/WaitDialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <vector>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Strings.h"
#include "support/MessageOf.h"

namespace bootstrap {
namespace {

using cm::test::MessageOf;

const std::string ExtractingText = "Extracting setup files...";

std::string ClassOf(HWND window) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[256] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

struct DialogSearch {
    std::vector<HWND> Visible;
    std::vector<HWND> All;
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    if (ClassOf(window) == WaitDialogClassName) {
        search->All.push_back(window);
        if (::IsWindowVisible(window)) search->Visible.push_back(window);
    }
    return TRUE;
}

DialogSearch FindDialogs() {
    DialogSearch search;
    ::EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&search));
    return search;
}

// The one visible dialog window; fails the test when there is not exactly one.
HWND FindDialog() {
    const DialogSearch search = FindDialogs();
    EXPECT_EQ(search.Visible.size(), 1u);
    return search.Visible.empty() ? nullptr : search.Visible.front();
}

HWND Child(HWND dialog, const char* className) { return ::FindWindowExA(dialog, nullptr, className, nullptr); }

// A child's rectangle in the dialog's client coordinates.
RECT ClientRectOf(HWND dialog, HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int BarPosition(HWND dialog) {
    return static_cast<int>(::SendMessageA(Child(dialog, PROGRESS_CLASSA), PBM_GETPOS, 0, 0));
}

// Posted messages reach the dialog thread shortly; a value must be reached and then stay.
bool Settles(const std::function<bool()>& condition) {
    for (int i = 0; i < 200 && !condition(); ++i) ::Sleep(10);
    ::Sleep(100);
    return condition();
}

// Copies the screen area of the window through a screen DC and GetDIBits into a 24-bit BMP.
void SaveScreenshot(HWND window, const std::string& path) {
    RECT r{};
    ::GetWindowRect(window, &r);
    ::InflateRect(&r, 20, 20);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    ::SelectObject(memory, old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<char> pixels(static_cast<size_t>(stride) * height);
    const int lines = ::GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                                  DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    ASSERT_EQ(lines, height);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    EXPECT_TRUE(out.good()) << path;
}

// <build>\artifacts, beside the tests directory that holds this executable.
std::string ArtifactsDirectory() {
    char module[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, module, MAX_PATH);
    const std::string dir = cm::ExtractPathPart(cm::RemoveTrailingBackslash(cm::ExtractPathPart(module))) + "artifacts";
    ::CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

TEST(TWaitDialog, ShowsItsWindowsCentredAndUnmovable) {
    TWaitDialog dialog(0, ExtractingText, 1000);
    ASSERT_EQ(TWaitDialog::Current(), &dialog);
    HWND window = FindDialog();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window, dialog.DialogHandle());
    EXPECT_NE(::GetWindowThreadProcessId(window, nullptr), ::GetCurrentThreadId());

    EXPECT_EQ(TextOf(window), "Please Wait...");
    const auto style = static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE));
    EXPECT_EQ(style & WaitDialogStyle, WaitDialogStyle);
    EXPECT_EQ(style & (WS_SYSMENU | WS_THICKFRAME), 0u);
    RECT r{};
    ::GetWindowRect(window, &r);
    EXPECT_EQ(r.right - r.left, 400);
    EXPECT_EQ(r.bottom - r.top, 120);
    EXPECT_EQ(r.left, (::GetSystemMetrics(SM_CXFULLSCREEN) - 400) / 2);
    EXPECT_EQ(r.top, (::GetSystemMetrics(SM_CYFULLSCREEN) - 120) / 2);

    // Owned by the hidden window of the same class and title.
    HWND owner = ::GetWindow(window, GW_OWNER);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(ClassOf(owner), WaitDialogClassName);
    EXPECT_EQ(TextOf(owner), "Please Wait...");
    EXPECT_FALSE(::IsWindowVisible(owner));

    RECT client{};
    ::GetClientRect(window, &client);
    const int w = client.right, h = client.bottom;
    struct Control {
        const char* ClassName;
        std::string Text;
        RECT Expected;
    };
    const Control controls[] = {
        {"Button", "&Cancel", {w - 81, h - 33, w - 81 + 73, h - 33 + 25}},
        {"Static", ExtractingText, {8, 8, 8 + w - 16, 8 + 13}},
        {PROGRESS_CLASSA, "", {8, 28, 8 + w - 16, 28 + 17}},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.ClassName);
        HWND child = Child(window, c.ClassName);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(TextOf(child), c.Text);
        const RECT got = ClientRectOf(window, child);
        EXPECT_EQ(got.left, c.Expected.left);
        EXPECT_EQ(got.top, c.Expected.top);
        EXPECT_EQ(got.right, c.Expected.right);
        EXPECT_EQ(got.bottom, c.Expected.bottom);
    }
    EXPECT_FALSE(::IsWindowEnabled(Child(window, "Button")));

    LOGFONTA font{};
    ASSERT_NE(::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(Child(window, "Static"), WM_GETFONT, 0, 0)),
                           sizeof font, &font), 0);
    EXPECT_STREQ(font.lfFaceName, "Tahoma");
    EXPECT_EQ(font.lfHeight, -11);
    EXPECT_EQ(font.lfWeight, 400);

    PBRANGE range{};
    ::SendMessageA(Child(window, PROGRESS_CLASSA), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 1000);
    EXPECT_EQ(BarPosition(window), 0);

    // Wait cursor everywhere but over the button, whose default handling is left alone.
    EXPECT_EQ(::SendMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), HTCLIENT), TRUE);

    ::SetWindowPos(window, nullptr, 5, 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::MoveWindow(window, 30, 40, 400, 120, TRUE);
    RECT after{};
    ::GetWindowRect(window, &after);
    EXPECT_EQ(after.left, r.left);
    EXPECT_EQ(after.top, r.top);

    dialog.SetPosition(400);
    EXPECT_TRUE(Settles([&] { return BarPosition(window) == 400; }));
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    ::Sleep(200);
    SaveScreenshot(window, ArtifactsDirectory() + "\\wait_dialog.bmp");
}

TEST(TWaitDialog, BarFollowsPositionAboveTheUpdateThreshold) {
    struct Move {
        bool IsStep;  // Step(delta) or SetPosition(value)
        int32_t Value;
        int32_t ExpectedBar;
    };
    struct Case {
        const char* Name;
        uint8_t Options;
        int32_t Maximum;
        std::vector<Move> Moves;
    };
    const Case cases[] = {
        {"maximum 1000: only changes of 3 or more reach the bar", 0, 1000,
         {{true, 1, 0}, {true, 1, 0}, {true, 1, 3}, {true, 2, 3}, {true, 1, 6}, {false, 100, 100}}},
        {"maximum 4: threshold 0, every step reaches the bar", 0, 4, {{true, 1, 1}, {true, 1, 2}, {true, 2, 4}}},
        {"a smaller position is ignored", 0, 100, {{false, 50, 50}, {false, 20, 50}, {true, 0, 50}, {false, 51, 51}}},
        {"option 2 lets it move backwards", WaitDialogAllowBackwards, 100, {{false, 50, 50}, {false, 20, 20}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TWaitDialog dialog(c.Options, ExtractingText, c.Maximum);
        HWND window = FindDialog();
        ASSERT_NE(window, nullptr);
        for (size_t i = 0; i < c.Moves.size(); ++i) {
            SCOPED_TRACE(i);
            const Move& m = c.Moves[i];
            if (m.IsStep)
                dialog.Step(m.Value);
            else
                dialog.SetPosition(m.Value);
            EXPECT_TRUE(Settles([&] { return BarPosition(window) == m.ExpectedBar; })) << BarPosition(window);
        }
    }
}

// Closing by the system menu or Alt+F4 (WM_CLOSE) is the Cancel button, ignored while it is
// disabled: the windows are destroyed only by their owner.
TEST(TWaitDialog, EscapeCAClickAndACloseCancelWithoutClosing) {
    struct Case {
        const char* Name;
        uint8_t Options;
        UINT Message;
        WPARAM Key;
        bool ExpectCancelled;
    };
    const Case cases[] = {
        {"Escape, button disabled", 0, WM_KEYDOWN, VK_ESCAPE, true},
        {"C, button disabled", 0, WM_KEYDOWN, 'C', true},
        {"Escape, button enabled", WaitDialogCancelEnabled, WM_KEYDOWN, VK_ESCAPE, true},
        {"another key", WaitDialogCancelEnabled, WM_KEYDOWN, 'X', false},
        {"click on the enabled button", WaitDialogCancelEnabled, WM_COMMAND, 0, true},
        {"system menu close, button disabled", 0, WM_SYSCOMMAND, SC_CLOSE, false},
        {"Alt+F4, button disabled", 0, WM_CLOSE, 0, false},
        {"system menu close, button enabled", WaitDialogCancelEnabled, WM_SYSCOMMAND, SC_CLOSE, true},
        {"Alt+F4, button enabled", WaitDialogCancelEnabled, WM_CLOSE, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TWaitDialog dialog(c.Options, ExtractingText, 10);
        HWND window = FindDialog();
        ASSERT_NE(window, nullptr);
        HWND button = Child(window, "Button");
        EXPECT_EQ(::IsWindowEnabled(button) != FALSE, (c.Options & WaitDialogCancelEnabled) != 0);
        if (c.Message == WM_COMMAND)
            ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        else
            ::PostMessageA(window, c.Message, c.Key, 0);
        EXPECT_EQ(Settles([&] { return dialog.Cancelled(); }), c.ExpectCancelled);
        // Cancelling only disables the button; the dialog stays.
        EXPECT_EQ(::IsWindowEnabled(button) != FALSE, (c.Options & WaitDialogCancelEnabled) && !c.ExpectCancelled);
        EXPECT_TRUE(::IsWindowVisible(window));
    }
}

TEST(TWaitDialog, DestroyRemovesEveryWindowAndAnotherDialogCanFollow) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        {
            TWaitDialog dialog(0, ExtractingText, 10);
            EXPECT_EQ(FindDialogs().All.size(), 2u);
        }
        EXPECT_EQ(TWaitDialog::Current(), nullptr);
        EXPECT_TRUE(FindDialogs().All.empty());
    }
}

TEST(TWaitDialog, DestroyBringsTheMainWindowsActivePopupToTheForeground) {
    HWND main = ::CreateWindowExA(0, "STATIC", "Main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, nullptr,
                                  nullptr, ::GetModuleHandleA(nullptr), nullptr);
    HWND popup = ::CreateWindowExA(0, "STATIC", "Popup", WS_POPUP | WS_CAPTION | WS_VISIBLE, 50, 50, 200, 100, main,
                                   nullptr, ::GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(main, nullptr);
    ASSERT_NE(popup, nullptr);
    ::SetForegroundWindow(popup);
    ASSERT_EQ(::GetLastActivePopup(main), popup);
    // Another window of the thread, not a main window by its style, holds the foreground.
    HWND other = ::CreateWindowExA(0, "STATIC", "Other", WS_POPUP | WS_VISIBLE, 400, 400, 100, 50, nullptr, nullptr,
                                   ::GetModuleHandleA(nullptr), nullptr);
    {
        TWaitDialog dialog(0, ExtractingText, 10);
        ::SetForegroundWindow(other);
        ASSERT_EQ(::GetForegroundWindow(), other);
    }
    EXPECT_EQ(::GetForegroundWindow(), popup);
    ::DestroyWindow(other);
    ::DestroyWindow(popup);
    ::DestroyWindow(main);
}

LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) return FALSE;
    return ::DefWindowProcA(window, message, wParam, lParam);
}

TEST(TWaitDialog, WindowCreationFailureRaisesInsteadOfWaitingForever) {
    // A class of the same name whose windows refuse to be created takes the dialog's place.
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    ::UnregisterClassA(WaitDialogClassName, instance);
    WNDCLASSA cls{};
    cls.lpfnWndProc = RefuseCreation;
    cls.hInstance = instance;
    cls.lpszClassName = WaitDialogClassName;
    ASSERT_NE(::RegisterClassA(&cls), 0);

    const DWORD start = ::GetTickCount();
    const std::string message = MessageOf<cm::EWin32Error>([] { TWaitDialog dialog(0, ExtractingText, 10); });
    EXPECT_EQ(message.rfind("Cannot create wait dialog owner window: ", 0), 0u) << message;
    EXPECT_LT(::GetTickCount() - start, 5000u);
    EXPECT_EQ(TWaitDialog::Current(), nullptr);
    ::UnregisterClassA(WaitDialogClassName, instance);

    // The real class comes back with the next dialog.
    TWaitDialog dialog(0, ExtractingText, 10);
    EXPECT_NE(FindDialog(), nullptr);
}

}  // namespace
}  // namespace bootstrap
