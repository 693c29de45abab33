#include "cm/Lists/StringListEx.h"
#include "cm/Lists/SortedSearch.h"

#include <algorithm>
#include <utility>

#include "cm/Objects/Format.h"

namespace cm {

namespace {

constexpr const char* UnitName = "cm/Lists";
constexpr std::string_view LineBreak = "\r\n";
constexpr int32_t SmallCapacityLimit = 8;     // up to here the capacity grows by 4
constexpr int32_t MediumCapacityLimit = 64;   // up to here by 16, above by a quarter
constexpr int32_t SmallCapacityDelta = 4;
constexpr int32_t MediumCapacityDelta = 16;
constexpr int32_t MinReservedRoom = 16;

constexpr unsigned char FoldAscii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

template <bool Fold>
int CompareBytes(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if constexpr (Fold) {
            ca = FoldAscii(ca);
            cb = FoldAscii(cb);
        }
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace

int CompareStrCase(std::string_view a, std::string_view b) { return CompareBytes<false>(a, b); }
int CompareStrNoCase(std::string_view a, std::string_view b) { return CompareBytes<true>(a, b); }

std::vector<std::string> SplitTextLines(std::string_view text) {
    std::vector<std::string> lines;
    const size_t n = text.size();
    size_t start = 0;
    while (start < n) {
        size_t end = start;
        while (end < n && text[end] != '\r' && text[end] != '\n') ++end;
        lines.emplace_back(text.substr(start, end - start));
        if (end + 1 < n && text[end] == '\r' && text[end + 1] == '\n') start = end + 2;
        else start = end + 1;
    }
    return lines;
}

// ---- TStrings ----

void TStrings::Error(std::string_view message) const {
    throw EStringListError(std::string(ClassName()) + ": " + std::string(message));
}

void TStrings::IndexError(int32_t index) const {
    Error(Format("List index out of bounds (%d)", {index}));
}

int32_t TStrings::AddObject(const std::string& s, TObject* object) {
    int32_t index = Count();
    InsertObject(index, s, object);
    return index;
}

int32_t TStrings::IndexOf(std::string_view s) const {
    for (int32_t i = 0, n = Count(); i < n; ++i)
        if (CompareStrNoCase(Get(i), s) == 0) return i;
    return -1;
}

int32_t TStrings::IndexOfObject(const TObject* object) const {
    for (int32_t i = 0, n = Count(); i < n; ++i)
        if (GetObject(i) == object) return i;
    return -1;
}

void TStrings::AddStrings(const TStrings& source) {
    CM_ASSERT(UnitName, &source != this);
    BeginUpdate();
    try {
        for (int32_t i = 0, n = source.Count(); i < n; ++i) AddObject(source.Get(i), source.GetObject(i));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::Assign(const TStrings& source) {
    if (&source == this) return;
    BeginUpdate();
    try {
        Clear();
        AddStrings(source);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TStrings::Text() const {
    const int32_t n = Count();
    size_t size = 0;
    for (int32_t i = 0; i < n; ++i) size += Get(i).size() + LineBreak.size();
    std::string text;
    text.reserve(size);
    for (int32_t i = 0; i < n; ++i) {
        text += Get(i);
        text += LineBreak;
    }
    return text;
}

void TStrings::SetText(std::string_view text) {
    BeginUpdate();
    try {
        Clear();
        for (std::string& line : SplitTextLines(text)) AddObject(line, nullptr);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::SaveToStream(TStream& stream) const {
    std::string text = Text();
    stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

void TStrings::LoadFromStream(TStream& stream) {
    // What remains is measured first, so nothing is allocated beyond what the stream holds.
    int32_t position = stream.Position();
    int32_t size = stream.Size();
    int32_t remaining = (position >= 0 && size > position) ? size - position : 0;
    std::string text(static_cast<size_t>(remaining), '\0');
    stream.ReadBuffer(text.data(), remaining);
    SetText(text);
}

void TStrings::BeginUpdate() {
    if (FUpdateCount == 0) SetUpdateState(true);
    ++FUpdateCount;
}

void TStrings::EndUpdate() {
    CM_ASSERT(UnitName, FUpdateCount > 0);
    if (--FUpdateCount == 0) SetUpdateState(false);
}

// ---- TStringListEx ----

TStringListEx::TStringListEx(uint32_t flags)
    : FSorted((flags & slSorted) != 0),
      FDuplicates((flags & slDupIgnore) ? dupIgnore
                  : (flags & slDupError) ? dupError
                  : (flags & slDupAccept) ? dupAccept
                                          : dupIgnore),
      FCaseSensitive((flags & slCaseSensitive) != 0),
      FOwnsObjects((flags & slOwnsObjects) != 0) {}

TStringListEx::~TStringListEx() {
    if (FOwnsObjects)
        for (TStringItem& item : FItems) delete std::exchange(item.Object, nullptr);
}

int TStringListEx::CompareStrings(std::string_view a, std::string_view b) const {
    return FCaseSensitive ? CompareStrCase(a, b) : CompareStrNoCase(a, b);
}

void TStringListEx::CheckIndex(int32_t index) const {
    if (index < 0 || index >= Count()) IndexError(index);
}

void TStringListEx::FreeObject(TObject* object) {
    if (FOwnsObjects) delete object;
}

void TStringListEx::SetCapacity(int32_t capacity) {
    if (capacity < Count()) Error(Format("List capacity out of bounds (%d)", {capacity}));
    if (capacity == FCapacity) return;
    std::vector<TStringItem> items;
    items.reserve(static_cast<size_t>(capacity));
    for (TStringItem& item : FItems) items.push_back(std::move(item));
    FItems.swap(items);
    FCapacity = capacity;
}

void TStringListEx::ReserveRoom(int32_t n) {
    if (FCapacity >= n) return;
    int64_t capacity = MinReservedRoom;
    while (capacity < n) capacity *= 2;
    SetCapacity(static_cast<int32_t>(std::min<int64_t>(capacity, INT32_MAX)));
}

void TStringListEx::Grow() {
    int32_t delta = FCapacity > MediumCapacityLimit  ? FCapacity / 4
                    : FCapacity > SmallCapacityLimit ? MediumCapacityDelta
                                                     : SmallCapacityDelta;
    SetCapacity(FCapacity + delta);
}

void TStringListEx::InsertItem(int32_t index, std::string s, TObject* object) {
    if (Count() == FCapacity) Grow();
    FItems.insert(FItems.begin() + index, TStringItem{std::move(s), object});
}

const std::string& TStringListEx::Get(int32_t index) const {
    CheckIndex(index);
    return FItems[static_cast<size_t>(index)].String;
}

void TStringListEx::Put(int32_t index, const std::string& s) {
    if (FSorted) Error("Operation not allowed on sorted string list");
    CheckIndex(index);
    FItems[static_cast<size_t>(index)].String = s;
}

TObject* TStringListEx::GetObject(int32_t index) const {
    CheckIndex(index);
    return FItems[static_cast<size_t>(index)].Object;
}

void TStringListEx::PutObject(int32_t index, TObject* object) {
    CheckIndex(index);
    TObject* old = std::exchange(FItems[static_cast<size_t>(index)].Object, object);
    if (old != object) FreeObject(old);
}

void TStringListEx::InsertObject(int32_t index, const std::string& s, TObject* object) {
    if (FSorted) Error("Operation not allowed on sorted string list");
    if (index < 0 || index > Count()) IndexError(index);
    InsertItem(index, s, object);
}

void TStringListEx::Delete(int32_t index) {
    CheckIndex(index);
    TObject* object = FItems[static_cast<size_t>(index)].Object;
    FItems.erase(FItems.begin() + index);
    if (FItems.empty()) SetCapacity(0);
    FreeObject(object);
}

void TStringListEx::Clear() {
    std::vector<TStringItem> items;
    items.swap(FItems);
    FCapacity = 0;
    if (FOwnsObjects)
        for (TStringItem& item : items) delete item.Object;
}

int32_t TStringListEx::AddObject(const std::string& s, TObject* object) {
    int32_t index = Count();
    if (FSorted && Find(s, index)) {
        if (FDuplicates == dupIgnore) return index;
        if (FDuplicates == dupError) Error("String list does not allow duplicates");
    }
    InsertItem(index, s, object);
    return index;
}

void TStringListEx::Exchange(int32_t index1, int32_t index2) {
    if (FSorted) Error("Operation not allowed on sorted string list");
    CheckIndex(index1);
    CheckIndex(index2);
    std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]);
}

bool TStringListEx::Find(std::string_view s, int32_t& index) const {
    return SortedSearch(
        Count(), [&](int32_t i) { return CompareStrings(FItems[static_cast<size_t>(i)].String, s); },
        FDuplicates != dupAccept, index);
}

int32_t TStringListEx::IndexOf(std::string_view s) const {
    if (FSorted) {
        int32_t index;
        return Find(s, index) ? index : -1;
    }
    for (int32_t i = 0, n = Count(); i < n; ++i)
        if (CompareStrings(FItems[static_cast<size_t>(i)].String, s) == 0) return i;
    return -1;
}

// Raises "String list does not allow duplicates" when adding source's strings to this list
// would double a string under the list's ordering; changes nothing.
void TStringListEx::CheckNoDuplicatesAfterAdding(const TStrings& source) const {
    std::vector<std::string_view> all;
    all.reserve(FItems.size() + static_cast<size_t>(source.Count()));
    for (const TStringItem& item : FItems) all.push_back(item.String);
    for (int32_t i = 0, n = source.Count(); i < n; ++i) all.push_back(source.Get(i));
    std::sort(all.begin(), all.end(), [this](std::string_view a, std::string_view b) { return CompareStrings(a, b) < 0; });
    for (size_t i = 1; i < all.size(); ++i)
        if (CompareStrings(all[i - 1], all[i]) == 0) Error("String list does not allow duplicates");
}

// Both lists are sorted by the same ordering. A source string equal to the last string taken
// (from either list) is skipped or refused unless duplicates are accepted, so the copy's equal
// entries come first and a source with duplicates of its own cannot double a string here.
void TStringListEx::MergeSorted(const TStringListEx& source, TStringListMapObject mapObject, void* context) {
    std::vector<TStringItem> copy;
    copy.swap(FItems);
    const int32_t ownCount = static_cast<int32_t>(copy.size());
    const int32_t ownCapacity = std::exchange(FCapacity, 0);
    try {
        ReserveRoom(ownCount + source.Count());
    } catch (...) {
        FItems.swap(copy);
        FCapacity = ownCapacity;
        throw;
    }
    size_t i = 0, j = 0;
    const size_t n1 = copy.size();
    const size_t n2 = source.FItems.size();
    while (i < n1 || j < n2) {
        if (j >= n2 || (i < n1 && CompareStrings(copy[i].String, source.FItems[j].String) <= 0)) {
            FItems.push_back(std::move(copy[i++]));
            continue;
        }
        const TStringItem& item = source.FItems[j++];
        if (FDuplicates != dupAccept && !FItems.empty() && CompareStrings(FItems.back().String, item.String) == 0)
            continue;  // duplicates an error were refused before the merge started
        FItems.push_back(TStringItem{item.String, mapObject ? mapObject(context, item.Object) : item.Object});
    }
}

void TStringListEx::AddStringsMapped(const TStrings& source, TStringListMapObject mapObject, void* context) {
    CM_ASSERT(UnitName, &source != this);
    const int32_t n = source.Count();
    if (n == 0) return;
    BeginUpdate();
    try {
        if (FSorted && FDuplicates == dupError) CheckNoDuplicatesAfterAdding(source);
        const auto* sortedSource = dynamic_cast<const TStringListEx*>(&source);
        if (FSorted && sortedSource && sortedSource->FSorted && sortedSource->FCaseSensitive == FCaseSensitive) {
            MergeSorted(*sortedSource, mapObject, context);
        } else {
            ReserveRoom(Count() + n);
            for (int32_t i = 0; i < n; ++i) {
                TObject* object = source.GetObject(i);
                if (!FSorted) {
                    InsertItem(Count(), source.Get(i), mapObject ? mapObject(context, object) : object);
                    continue;
                }
                // The place is found before mapping, so a skipped duplicate is never mapped.
                int32_t index;
                if (Find(source.Get(i), index) && FDuplicates == dupIgnore) continue;
                InsertItem(index, source.Get(i), mapObject ? mapObject(context, object) : object);
            }
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStringListEx::QuickSort(int32_t l, int32_t r, const TStringListSortCompare& compare) {
    int32_t i;
    do {
        i = l;
        int32_t j = r;
        int32_t p = l + (r - l) / 2;
        do {
            // The bounds keep an inconsistent compare from walking off the range.
            while (i < r && compare(*this, i, p) < 0) ++i;
            while (j > l && compare(*this, j, p) > 0) --j;
            if (i <= j) {
                if (i != j) std::swap(FItems[static_cast<size_t>(i)], FItems[static_cast<size_t>(j)]);
                if (p == i) p = j;
                else if (p == j) p = i;
                ++i;
                --j;
            }
        } while (i <= j);
        if (l < j) QuickSort(l, j, compare);
        l = i;
    } while (i < r);
}

void TStringListEx::CustomSort(const TStringListSortCompare& compare) {
    if (FSorted || Count() <= 1) return;
    BeginUpdate();
    try {
        QuickSort(0, Count() - 1, compare);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStringListEx::Sort() {
    CustomSort([](TStringListEx& list, int32_t a, int32_t b) {
        return list.CompareStrings(list.FItems[static_cast<size_t>(a)].String, list.FItems[static_cast<size_t>(b)].String);
    });
}

void TStringListEx::SurroundItems(std::string_view prefix, std::string_view suffix) {
    if (prefix.empty() && suffix.empty()) return;
    for (TStringItem& item : FItems) {
        std::string s;
        s.reserve(prefix.size() + item.String.size() + suffix.size());
        s.append(prefix).append(item.String).append(suffix);
        item.String = std::move(s);
    }
    if (FSorted && !suffix.empty())
        std::stable_sort(FItems.begin(), FItems.end(), [this](const TStringItem& a, const TStringItem& b) {
            return CompareStrings(a.String, b.String) < 0;
        });
}

bool TStringListEx::SameStrings(const TStrings& other) const {
    if (other.Count() != Count()) return false;
    for (int32_t i = 0, n = Count(); i < n; ++i) {
        const TStringItem& item = FItems[static_cast<size_t>(i)];
        if (item.Object != other.GetObject(i) || item.String != other.Get(i)) return false;
    }
    return true;
}

std::string IndentText(std::string_view text, int32_t indent, std::string_view prefix, std::string_view suffix) {
    if (indent <= 0 && prefix.empty() && suffix.empty()) return std::string(text);
    const std::string blanks(static_cast<size_t>(std::max(indent, 0)), ' ');
    std::string result;
    for (const std::string& line : SplitTextLines(text)) {
        result.append(prefix).append(blanks).append(line).append(suffix).append(LineBreak);
    }
    return result;
}

}  // namespace cm
