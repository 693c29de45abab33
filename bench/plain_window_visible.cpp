// The yardstick of wait_dialog_bench.sh: the least Win32 program that shows a window. Prints the
// system time (100 ns units since 1601) at which its window is up.
#include <cstdio>

#include "cm/Objects/WinApi.h"

int main() {
    WNDCLASSA cls{};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = ::GetModuleHandleA(nullptr);
    cls.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = "PlainWindow";
    ::RegisterClassA(&cls);
    HWND window = ::CreateWindowExA(0, "PlainWindow", "Plain", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 120,
                                    nullptr, nullptr, cls.hInstance, nullptr);
    if (!window) return 1;
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    std::printf("%llu\n", (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    std::fflush(stdout);
    // Keep it up a moment, so that a watcher from outside sees it too.
    const DWORD until = ::GetTickCount() + 300;
    MSG msg;
    while (::GetTickCount() < until) {
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        ::Sleep(5);
    }
    ::DestroyWindow(window);
    return 0;
}
