// The child program of Process_test: reports what it was started with, or ends in a chosen way.
//
//   cm_process_child <report file | -> <command> [arguments]
//
// A report goes to the named file, or with "-" to the standard output handle. Commands:
//   exit N                  returns N from main
//   sleep MS N              sleeps, then returns N
//   cmdline                 reports GetCommandLineA
//   cwd                     reports the current directory
//   show                    reports "<STARTF_USESHOWWINDOW set> <wShowWindow>"
//   desktop                 reports the startup information's desktop name
//   reserved                reports "<cbReserved2> <lpReserved2 as hex>"
//   env NAME                reports the variable's value
//   print TEXT              reports TEXT
//   stdio                   reads a line from stdin, writes "out:<line>" to stdout, "err:<line>" to stderr
//   setexit C... return R   SetProcessExitCode for each C, then returns R from main
//   setexit C... exitprocess E   ... then calls ExitProcess(E)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cm/Objects/Process.h"

namespace {

void Report(const char* target, const std::string& text) {
    if (std::strcmp(target, "-") == 0) {
        DWORD written;
        ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    HANDLE file = ::CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) std::exit(100);
    DWORD written;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 101;
    const char* target = argv[1];
    const std::string command = argv[2];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);

    if (command == "exit" && argc == 4) return std::atoi(argv[3]);
    if (command == "sleep" && argc == 5) {
        ::Sleep(static_cast<DWORD>(std::atoi(argv[3])));
        return std::atoi(argv[4]);
    }
    if (command == "cmdline") {
        Report(target, ::GetCommandLineA());
    } else if (command == "cwd") {
        char buffer[MAX_PATH];
        ::GetCurrentDirectoryA(MAX_PATH, buffer);
        Report(target, buffer);
    } else if (command == "show") {
        Report(target, std::to_string((startup.dwFlags & STARTF_USESHOWWINDOW) ? 1 : 0) + " " +
                           std::to_string(startup.wShowWindow));
    } else if (command == "desktop") {
        Report(target, startup.lpDesktop ? startup.lpDesktop : "(null)");
    } else if (command == "reserved") {
        std::string text = std::to_string(startup.cbReserved2) + " ";
        for (unsigned i = 0; i < startup.cbReserved2 && startup.lpReserved2; ++i) {
            char byte[3];
            std::snprintf(byte, sizeof byte, "%02X", startup.lpReserved2[i]);
            text += byte;
        }
        Report(target, text);
    } else if (command == "env" && argc == 4) {
        char buffer[256] = "(unset)";
        ::GetEnvironmentVariableA(argv[3], buffer, sizeof buffer);
        Report(target, buffer);
    } else if (command == "print" && argc == 4) {
        Report(target, argv[3]);
    } else if (command == "stdio") {
        char line[128] = "";
        if (!std::fgets(line, sizeof line, stdin)) return 102;
        line[std::strcspn(line, "\r\n")] = '\0';
        std::fprintf(stdout, "out:%s", line);
        std::fprintf(stderr, "err:%s", line);
    } else if (command == "setexit") {
        int i = 3;
        for (; i < argc && std::strcmp(argv[i], "return") != 0 && std::strcmp(argv[i], "exitprocess") != 0; ++i)
            cm::SetProcessExitCode(std::atoi(argv[i]));
        if (i + 1 >= argc) return 103;
        const int value = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "exitprocess") == 0) ::ExitProcess(static_cast<UINT>(value));
        return value;
    } else {
        return 104;
    }
    return 0;
}
