// held_decoder: stands in for the decoder resource in tests that watch the bootstrap while it
// extracts. "held_decoder d IN OUT" waits (at most 30 s) until a file named "go" appears beside
// IN, then copies IN to OUT unchanged (the test's payload is the package itself) and ends with 0.
// With CORVANE_HELD_DECODER_REPORT set, it first writes there the names of the entries of IN's
// directory as it found them when it started, one a line.
#include <string>

#include "cm/Objects/WinApi.h"

int main(int argc, char** argv) {
    if (argc != 4 || std::string(argv[1]) != "d")
        return 2;
    std::string in = argv[2];
    const std::string directory = in.substr(0, in.find_last_of('\\') + 1);
    const std::string go = directory + "go";
    char report[MAX_PATH + 1] = {};
    if (GetEnvironmentVariableA("CORVANE_HELD_DECODER_REPORT", report, sizeof report) > 0) {
        std::string names;
        WIN32_FIND_DATAA entry{};
        HANDLE find = FindFirstFileA((directory + "*").c_str(), &entry);
        for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &entry) != FALSE) {
            const std::string name = entry.cFileName;
            if (name != "." && name != "..") names += name + "\n";
        }
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
        // Written beside the report and renamed, so that a reader never sees half of it.
        const std::string partial = std::string(report) + ".partial";
        HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, names.data(), static_cast<DWORD>(names.size()), &written, nullptr);
        CloseHandle(file);
        MoveFileExA(partial.c_str(), report, MOVEFILE_REPLACE_EXISTING);
    }
    for (int waited = 0; waited < 30000 && GetFileAttributesA(go.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 20)
        Sleep(20);
    return CopyFileA(argv[2], argv[3], FALSE) ? 0 : 1;
}
