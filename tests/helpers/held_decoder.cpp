// held_decoder: stands in for the decoder resource in tests that watch the bootstrap while it
// extracts. "held_decoder d IN OUT" waits (at most 30 s) until a file named "go" appears beside
// IN, then copies IN to OUT unchanged (the test's payload is the package itself) and ends with 0.
#include <string>

#include "cm/Objects/WinApi.h"

int main(int argc, char** argv) {
    if (argc != 4 || std::string(argv[1]) != "d")
        return 2;
    std::string in = argv[2];
    const std::string go = in.substr(0, in.find_last_of('\\') + 1) + "go";
    for (int waited = 0; waited < 30000 && GetFileAttributesA(go.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 20)
        Sleep(20);
    return CopyFileA(argv[2], argv[3], FALSE) ? 0 : 1;
}
