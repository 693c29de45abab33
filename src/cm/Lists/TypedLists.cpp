// cm/Lists: key comparisons of the typed lists and maps.
#include "cm/Lists/TypedLists.h"

namespace cm {

static inline uint8_t FoldAscii(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 32) : c; }

int CompareStringKeys(std::string_view a, std::string_view b, bool caseInsensitive) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        uint8_t ca = static_cast<uint8_t>(a[i]), cb = static_cast<uint8_t>(b[i]);
        if (caseInsensitive) {
            ca = FoldAscii(ca);
            cb = FoldAscii(cb);
        }
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool SameStringKeys(std::string_view a, std::string_view b, bool caseInsensitive) {
    return a.size() == b.size() && CompareStringKeys(a, b, caseInsensitive) == 0;
}

}  // namespace cm
