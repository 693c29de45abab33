// The root of the system's object classes, and the binary GUID. Portable.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace cm {

// The root of the system's object classes: what owning containers free.
class TObject {
public:
    virtual ~TObject() = default;
};

// A GUID in its binary layout (16 bytes).
struct TGuid {
    uint32_t D1;
    uint16_t D2;
    uint16_t D3;
    uint8_t D4[8];
    friend bool operator==(const TGuid& a, const TGuid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
};
static_assert(sizeof(TGuid) == 16);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case).
std::string GuidToString(const TGuid& guid);
// Parses the braced form (either case); false when malformed.
bool StringToGuid(const std::string& text, TGuid& guid);
// GUID order: the four little-endian 32-bit words in turn, as signed values.
int CompareGuids(const TGuid& a, const TGuid& b);

}  // namespace cm
