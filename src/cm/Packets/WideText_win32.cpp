// Wide-string field text on Windows: the system's ANSI code page, as every 8-bit string of the
// system (see FieldConversions.h).
#include "cm/Objects/WinApi.h"
#include "cm/Packets/FieldConversions.h"

namespace cm {

std::string WideToNarrow(const std::u16string& value) {
    if (value.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(value.data());
    const int length = static_cast<int>(value.size());
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, "?", nullptr);
    if (size <= 0) return std::string(value.size(), '?');
    std::string text(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide, length, text.data(), size, "?", nullptr);
    return text;
}

std::u16string NarrowToWide(const std::string& value) {
    if (value.empty()) return {};
    const int length = static_cast<int>(value.size());
    const int size = ::MultiByteToWideChar(CP_ACP, 0, value.data(), length, nullptr, 0);
    if (size <= 0) return std::u16string(value.size(), u'?');
    std::u16string text(static_cast<size_t>(size), u'\0');
    ::MultiByteToWideChar(CP_ACP, 0, value.data(), length, reinterpret_cast<wchar_t*>(text.data()), size);
    return text;
}

}  // namespace cm
