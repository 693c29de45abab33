// window_watch: starts a program and reports how long its first visible top-level window of a
// given class takes to appear, seen from outside the program (so every program is timed alike,
// its start-up included). Then it creates the file "go" in the program's bootstrap temporary
// directory (which releases a held decoder, when there is one) and waits for the program's end.
//   window_watch CLASS COMMAND_LINE      prints the milliseconds, or -1 after 30 s without one
#include <cstdio>
#include <string>

#include "cm/Objects.h"

namespace {

struct Find {
    DWORD ProcessId;
    const char* Class;
    bool Found = false;
};

BOOL CALLBACK FindProc(HWND window, LPARAM param) {
    auto* find = reinterpret_cast<Find*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    ::GetClassNameA(window, cls, sizeof cls);
    if (pid == find->ProcessId && ::IsWindowVisible(window) && std::string(cls) == find->Class) {
        find->Found = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_watch CLASS COMMAND_LINE\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    PROCESS_INFORMATION pi{};
    cm::RunProcess(argv[2], false, 0, {}, &pi);
    cm::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    double elapsed = -1;
    for (int spins = 0; spins < 30000; ++spins) {
        Find find{pi.dwProcessId, argv[1]};
        ::EnumWindows(FindProc, reinterpret_cast<LPARAM>(&find));
        if (find.Found) {
            ::QueryPerformanceCounter(&now);
            elapsed = static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
            break;
        }
        if (::WaitForSingleObject(process.get(), 1) == WAIT_OBJECT_0)
            break;
    }
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string go = std::string(temp) + "Tavrel_Setup_" + std::to_string(pi.dwProcessId) + "\\go";
    cm::UniqueFileHandle file(::CreateFileA(go.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    file.reset();
    ::WaitForSingleObject(process.get(), 30000);
    std::printf("%.3f\n", elapsed);
    return 0;
}
