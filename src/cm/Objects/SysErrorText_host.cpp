// Host build: system texts come from the C library.
#include <cerrno>
#include <cstring>

#include "cm/Objects/Errors.h"

namespace cm {

std::string SystemErrorText(uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

void RaiseLastSystemError(std::string_view format, FormatArgs args) {
    RaiseSystemError(format, args, static_cast<uint32_t>(errno));
}

}  // namespace cm
