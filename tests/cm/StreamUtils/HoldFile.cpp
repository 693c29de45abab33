// Test helper: HoldFile <path> <milliseconds> <ready-marker>
// Opens (creating when missing) the file with no sharing, creates the ready marker so that the
// test knows the file is held, keeps the file open for the given time, then exits with 0.
// Exits with 1 on bad arguments, 2 when the file cannot be opened, 3 when the marker cannot be made.
#include <cstdlib>

#include "cm/Objects/WinApi.h"

int main(int argc, char** argv) {
    if (argc != 4) return 1;
    HANDLE file = ::CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    HANDLE marker = ::CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return 3;
    ::CloseHandle(marker);
    ::Sleep(static_cast<DWORD>(std::atoi(argv[2])));
    ::CloseHandle(file);
    return 0;
}
