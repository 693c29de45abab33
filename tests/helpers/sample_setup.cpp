// sample_setup: stands in for a product's real setup program at the tail of a package.
// Reports what it received and ends with the code that "/exit=N" asks for (0 without one).
// Report file (when CORVANE_SAMPLE_REPORT names one), one "key=value" line each:
//   cmdline    the raw command line it was started with
//   self       its own full path
//   subsystem  the subsystem field of its own loaded image (2 GUI, 3 console)
//   entry      one line per name in its own directory
//   infotime   the last-write time of info.dat beside it (a file time, decimal), when present
//   waitdialog "present" when a wait dialog window exists anywhere, else "absent"
//   broadcast  with "/broadcast=send" or "/broadcast=timeout": the milliseconds that announcing a
//              change of the environment to every window took (WM_SETTINGCHANGE "Environment",
//              through SendMessage, or SendMessageTimeout with SMTO_ABORTIFHUNG and 30 s), as
//              setups do after changing PATH
// Without a report file it shows the command line in a console line on standard output.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cm/Objects/WinApi.h"

int main() {
    const char* commandLine = GetCommandLineA();
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);

    int exitCode = 0;
    if (const char* p = std::strstr(commandLine, "/exit=")) exitCode = static_cast<int>(std::strtol(p + 6, nullptr, 10));

    char reportPath[MAX_PATH] = {};
    if (GetEnvironmentVariableA("CORVANE_SAMPLE_REPORT", reportPath, MAX_PATH) == 0) {
        std::printf("Setup received: %s\n", commandLine);
        std::fflush(stdout);
        return exitCode;
    }

    std::string report = std::string("cmdline=") + commandLine + "\n" + "self=" + self + "\n";
    auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    report += "subsystem=" + std::to_string(nt->OptionalHeader.Subsystem) + "\n";

    std::string dir(self);
    dir.resize(dir.find_last_of('\\') + 1);
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((dir + "*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (std::strcmp(fd.cFileName, ".") != 0 && std::strcmp(fd.cFileName, "..") != 0)
                report += std::string("entry=") + fd.cFileName + "\n";
        } while (FindNextFileA(find, &fd));
        FindClose(find);
    }
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExA((dir + "info.dat").c_str(), GetFileExInfoStandard, &info)) {
        const unsigned long long time =
            (static_cast<unsigned long long>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
        report += "infotime=" + std::to_string(time) + "\n";
    }
    if (const char* p = std::strstr(commandLine, "/broadcast=")) {
        const auto start = std::chrono::steady_clock::now();
        const auto environment = reinterpret_cast<LPARAM>("Environment");
        if (std::strncmp(p + 11, "timeout", 7) == 0) {
            DWORD_PTR result = 0;
            SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, environment, SMTO_ABORTIFHUNG, 30000, &result);
        } else {
            SendMessageA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, environment);
        }
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        report += "broadcast=" + std::to_string(took.count()) + "\n";
    }
    report += std::string("waitdialog=") + (FindWindowA("ProgressWndClass", nullptr) ? "present" : "absent") + "\n";
    if (FILE* f = std::fopen(reportPath, "wb")) {
        std::fwrite(report.data(), 1, report.size(), f);
        std::fclose(f);
    }
    return exitCode;
}
