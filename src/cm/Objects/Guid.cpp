// GUID text and order.
#include <cstdio>
#include <cstring>

#include "cm/Objects/Object.h"

namespace cm {

std::string GuidToString(const TGuid& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.D1),
                  g.D2, g.D3, g.D4[0], g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5], g.D4[6], g.D4[7]);
    return text;
}

bool StringToGuid(const std::string& text, TGuid& guid) {
    if (text.size() != 38 || text[0] != '{' || text[37] != '}')
        return false;
    uint8_t bytes[16];
    int n = 0;
    for (size_t i = 1; i < 37;) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (text[i++] != '-')
                return false;
            continue;
        }
        int value = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = text[i++];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
                            : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        bytes[n++] = static_cast<uint8_t>(value);
    }
    guid.D1 = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    guid.D2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    guid.D3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(guid.D4, bytes + 8, 8);
    return true;
}

int CompareGuids(const TGuid& a, const TGuid& b) {
    for (int i = 0; i < 4; ++i) {
        int32_t wa, wb;
        std::memcpy(&wa, reinterpret_cast<const uint8_t*>(&a) + 4 * i, 4);
        std::memcpy(&wb, reinterpret_cast<const uint8_t*>(&b) + 4 * i, 4);
        if (wa != wb)
            return wa < wb ? -1 : 1;
    }
    return 0;
}

}  // namespace cm
