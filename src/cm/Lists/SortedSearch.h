// The binary search of the sorted lists (the custom list and the string list). Portable.
#pragma once

#include <cstdint>

namespace cm {

// Searches count sorted items; compare(i) orders item i against the key (< 0, 0, > 0). Returns
// whether an item matches. index gets the insertion point: the first position whose item is not
// below the key. With firstHitOnly the search ends at the first match it meets, and index is that
// match (any of several equal items); without it, the search goes on to the first of them.
template <class Compare>
bool SortedSearch(int32_t count, Compare&& compare, bool firstHitOnly, int32_t& index) {
    bool found = false;
    int32_t lo = 0, hi = count - 1;
    while (lo <= hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        const int c = compare(mid);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                if (firstHitOnly) lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

}  // namespace cm
