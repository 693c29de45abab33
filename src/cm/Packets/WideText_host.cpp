// Wide-string field text on the host: Latin-1 (see FieldConversions.h).
#include "cm/Packets/FieldConversions.h"

namespace cm {

std::string WideToNarrow(const std::u16string& value) {
    std::string text(value.size(), '?');
    for (size_t i = 0; i < value.size(); ++i)
        if (value[i] < 0x100) text[i] = static_cast<char>(value[i]);
    return text;
}

std::u16string NarrowToWide(const std::string& value) {
    std::u16string text(value.size(), u'\0');
    for (size_t i = 0; i < value.size(); ++i) text[i] = static_cast<uint8_t>(value[i]);
    return text;
}

}  // namespace cm
