#include "cm/Objects/Errors.h"
#include "cm/Objects/WinApi.h"

namespace cm {

std::string SystemErrorText(uint32_t code) {
    char* buffer = nullptr;
    // Inserts are ignored: texts such as "%1 is not a valid Win32 application" stay readable.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (length != 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty()) text = "System error " + std::to_string(code);
    return text;
}

void RaiseLastSystemError(std::string_view format, FormatArgs args) {
    RaiseSystemError(format, args, GetLastError());
}

}  // namespace cm
