// The platform-independent helpers of cm/Objects/Sha256.
#include "cm/Objects/Sha256.h"

namespace cm {

TSha256Digest Sha256(std::string_view data) {
    TSha256 hash;
    hash.Update(data.data(), data.size());
    return hash.Finish();
}

std::string DigestToHex(const TSha256Digest& digest) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : digest) {
        text += Digits[b >> 4];
        text += Digits[b & 15];
    }
    return text;
}

}  // namespace cm
