// cm/Lists: TCustomList.
#include "cm/Lists/CustomList.h"
#include "cm/Lists/SortedSearch.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <typeinfo>

#include "cm/StreamUtils/StreamUtils.h"

namespace cm {

TCustomList::TCustomList(const char* className, int32_t itemSize, uint16_t flags)
    : FItemSize(itemSize), FFlags(flags), FDuplicates(dupIgnore), FClassName(className) {
    CM_ASSERT(ListsUnit, (flags & lfReserved) == 0);
    CM_ASSERT(ListsUnit, itemSize > 0);
    const uint16_t policy = flags & (lfDuplicatesError | lfDuplicatesAccept | lfDuplicatesIgnore);
    CM_ASSERT(ListsUnit, (policy & (policy - 1)) == 0);
    if (policy & lfDuplicatesIgnore)
        FDuplicates = dupIgnore;
    else if (policy & lfDuplicatesError)
        FDuplicates = dupError;
    else if (policy & lfDuplicatesAccept)
        FDuplicates = dupAccept;
    FFlags = static_cast<uint16_t>(flags & ~(lfDuplicatesError | lfDuplicatesAccept | lfDuplicatesIgnore));
}

TCustomList::~TCustomList() noexcept(false) {
    CheckSignature(RedundantDestruction);
    // Written through volatile: a store into an object that is ending may otherwise be dropped.
    *static_cast<volatile uint32_t*>(&FSignature) = 0;
    std::free(FItems);
}

int TCustomList::HashItem(THashFunction, const void*) { return 0; }

void TCustomList::CheckSignature(const char* detail) const {
    if (FSignature != ListSignature)
        AssertionFailure(ListsUnit, __LINE__, (std::string(FClassName) + detail).c_str());
}

void TCustomList::FreeItemsOnDestroy() {
    if (FSignature != ListSignature)
        return;
    for (int32_t i = 0; i < FCount; ++i)
        FreeItem(ItemAt(i));
    FCount = 0;
}

void TCustomList::IndexError(int32_t index) const {
    throw EListError(std::string(FClassName) + ": " + Format("List index out of bounds (%d)", {index}));
}

void TCustomList::Error(const char* text) const {
    throw Exception(std::string(FClassName) + ": " + text);
}

void TCustomList::ReleaseStorage() {
    std::free(FItems);
    FItems = nullptr;
    FCapacity = 0;
}

void TCustomList::SetCapacity(int32_t n) {
    CM_ASSERT(ListsUnit, n >= FCount);
    if (n == FCapacity)
        return;
    if (n == 0) {
        ReleaseStorage();
        return;
    }
    void* block = std::realloc(FItems, static_cast<size_t>(n) * static_cast<size_t>(FItemSize));
    if (!block)
        throw std::bad_alloc();
    FItems = static_cast<uint8_t*>(block);
    FCapacity = n;
}

void TCustomList::Grow() { SetCapacity(GrownCapacity(FCapacity)); }

void TCustomList::Clear() {
    CheckSignature(OverwriteDetected);
    for (int32_t i = 0; i < FCount; ++i)
        FreeItem(ItemAt(i));
    FCount = 0;
    ReleaseStorage();
}

void TCustomList::Delete(int32_t index) {
    CheckSignature(OverwriteDetected);
    CheckIndex(index);
    FreeItem(ItemAt(index));
    --FCount;
    if (FCount == 0) {
        ReleaseStorage();
        return;
    }
    std::memmove(ItemAt(index), ItemAt(index + 1), static_cast<size_t>(FCount - index) * FItemSize);
}

void* TCustomList::InsertSlot(int32_t index) {
    CheckSignature(OverwriteDetected);
    if (index < 0 || index > FCount)
        IndexError(index);
    if (FCount == FCapacity)
        Grow();
    if (index < FCount)
        std::memmove(ItemAt(index + 1), ItemAt(index), static_cast<size_t>(FCount - index) * FItemSize);
    ++FCount;
    return ItemAt(index);
}

bool TCustomList::Find(const void* key, int32_t& index) {
    CheckSignature(DeadObjectDetected);
    return SortedSearch(FCount, [&](int32_t i) { return CompareItems(ItemAt(i), key); }, FDuplicates != dupAccept, index);
}

int32_t TCustomList::IndexOf(const void* key) {
    CheckSignature(DeadObjectDetected);
    if (Sorted()) {
        int32_t index;
        return SortedSearch(FCount, [&](int32_t i) { return CompareItems(ItemAt(i), key); }, true, index) ? index : -1;
    }
    for (int32_t i = 0; i < FCount; ++i)
        if (SameItem(ItemAt(i), key))
            return i;
    return -1;
}

int32_t TCustomList::RemoveAll(const void* key) {
    CheckSignature(DeadObjectDetected);
    int32_t removed = 0;
    if (!Sorted()) {
        for (int32_t i = FCount - 1; i >= 0; --i)
            if (SameItem(ItemAt(i), key)) {
                Delete(i);
                ++removed;
            }
        return removed;
    }
    int32_t index;
    if (!Find(key, index))
        return 0;
    while (index < FCount && CompareItems(ItemAt(index), key) == 0) {
        Delete(index);
        ++removed;
    }
    for (int32_t i = index - 1; i >= 0; --i)
        if (CompareItems(ItemAt(i), key) == 0) {
            Delete(i);
            ++removed;
        }
    return removed;
}

void TCustomList::Move(int32_t from, int32_t to) {
    CheckSignature(DeadObjectDetected);
    CheckIndex(from);
    CheckIndex(to);
    if (from == to)
        return;
    // Records are plain bytes (the concrete lists hold trivially copyable records).
    uint8_t saved[256];
    uint8_t* buffer = FItemSize <= static_cast<int32_t>(sizeof saved) ? saved : new uint8_t[FItemSize];
    std::memcpy(buffer, ItemAt(from), FItemSize);
    if (from < to)
        std::memmove(ItemAt(from), ItemAt(from + 1), static_cast<size_t>(to - from) * FItemSize);
    else
        std::memmove(ItemAt(to + 1), ItemAt(to), static_cast<size_t>(from - to) * FItemSize);
    std::memcpy(ItemAt(to), buffer, FItemSize);
    if (buffer != saved)
        delete[] buffer;
}

void TCustomList::InsertList(TCustomList& source, int32_t at) {
    CheckSignature(DeadObjectDetected);
    source.CheckSignature(DeadObjectDetected);
    CM_ASSERT(ListsUnit, &source != this);
    CM_ASSERT(ListsUnit, typeid(source) == typeid(*this));
    if (Sorted())
        CM_ASSERT(ListsUnit, source.Sorted() && (source.FFlags & lfOrderVariant) == (FFlags & lfOrderVariant));
    if (at < 0 || at > FCount)
        IndexError(at);
    const int32_t n = source.FCount;
    if (n == 0)
        return;
    if (FCount + n > FCapacity)
        SetCapacity(FCount + n);
    if (at < FCount)
        std::memmove(ItemAt(at + n), ItemAt(at), static_cast<size_t>(FCount - at) * FItemSize);
    for (int32_t i = 0; i < n; ++i)
        CopyItem(source.ItemAt(i), ItemAt(at + i));   // list records are plain values: cannot fail
    FCount += n;
}

void TCustomList::AssignList(TCustomList& source) {
    Clear();
    InsertList(source, 0);
}

void TCustomList::AddList(TCustomList& source) {
    CheckSignature(DeadObjectDetected);
    source.CheckSignature(DeadObjectDetected);
    if (Sorted())
        Error("Cannot add multiple items to a sorted list.");
    CM_ASSERT(ListsUnit, &source != this);
    CM_ASSERT(ListsUnit, typeid(source) == typeid(*this));
    const int32_t n = source.FCount;
    if (n == 0)
        return;
    if (FCount + n > FCapacity)
        SetCapacity(FCount + n);
    std::memcpy(ItemAt(FCount), source.FItems, static_cast<size_t>(n) * FItemSize);
    FCount += n;
    source.FCount = 0;
    source.ReleaseStorage();
}

bool TCustomList::Equals(TCustomList& other) {
    CheckSignature(DeadObjectDetected);
    other.CheckSignature(DeadObjectDetected);
    CM_ASSERT(ListsUnit, typeid(other) == typeid(*this));
    if (other.FCount != FCount)
        return false;
    for (int32_t i = 0; i < FCount; ++i)
        if (!SameItem(ItemAt(i), other.ItemAt(i)))
            return false;
    return true;
}

void TCustomList::SaveToStream(TStream& stream) {
    CheckSignature(DeadObjectDetected);
    WriteCompactInt(stream, FCount);
    stream.WriteBuffer(FItems, FCount * FItemSize);
}

void TCustomList::LoadFromStream(TStream& stream) {
    Clear();
    const int32_t count = ReadCompactInt(stream);
    const int64_t bytes = static_cast<int64_t>(count) * FItemSize;
    const int64_t remaining = static_cast<int64_t>(stream.Size()) - stream.Position();
    if (count < 0 || bytes > remaining)
        throw EStreamError("Stream read error");
    if (count == 0)
        return;
    SetCapacity(count);
    stream.ReadBuffer(FItems, static_cast<int32_t>(bytes));
    FCount = count;
}

}  // namespace cm
