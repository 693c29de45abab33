// cm/Lists: TCustomList, a contiguous array of fixed-size records kept sorted (bisection,
// duplicate policy) or unsorted (linear search). Concrete lists (cm/Lists/TypedLists.h) supply
// how records are freed, copied, hashed, ordered and compared. Portable: no operating system.
#pragma once

#include <cstdint>
#include <string>

#include "cm/Objects/Errors.h"

namespace cm {

class TStream;

// The unit name that assertions of the containers carry.
inline constexpr const char* ListsUnit = "cm/Lists";

// Raised for an index outside a list: the class name, ": " and "List index out of bounds (%d)".
class EListError : public Exception {
public:
    using Exception::Exception;
};

// Maps a key of length bytes to a 32-bit value (FirstWordHash, StringHash in HashTable.h).
using THashFunction = uint32_t (*)(const void* key, int32_t length);

enum TDuplicates : uint8_t { dupIgnore = 0, dupAccept = 1, dupError = 2 };

// Container flags (a set of them is passed as uint16_t). The three duplicate bits are consumed at
// construction.
enum TListFlags : uint16_t {
    lfSorted = 0x0001,
    lfDuplicatesError = 0x0002,
    lfDuplicatesAccept = 0x0004,
    lfDuplicatesIgnore = 0x0008,
    lfOwnsObjects = 0x0010,
    lfOwnsViews = 0x0020,
    lfItemStore = 0x0080,
    lfOrderVariant = 0x0100,   // case-insensitive keys in string-keyed containers
    lfReserved = 0x0600,
};

class TCustomList {
public:
    static constexpr uint32_t ListSignature = 0x56AB84FD;
    static constexpr const char* OverwriteDetected = " <- memory overwrite detected";
    static constexpr const char* DeadObjectDetected = " <- memory overwrite or call to dead object detected";
    static constexpr const char* RedundantDestruction = " <- memory overwrite or redundant object destruction detected";

    TCustomList(const TCustomList&) = delete;
    TCustomList& operator=(const TCustomList&) = delete;
    // Checks the signature (assertion on a mismatch, in which case nothing is freed), zeroes it
    // and frees the storage. Records are freed by the concrete list's destructor before this runs.
    virtual ~TCustomList() noexcept(false);

    // The record operations, in slot order.
    virtual void FreeItem(void* item) = 0;
    virtual void CopyItem(const void* source, void* dest) = 0;
    virtual int HashItem(THashFunction hashFunction, const void* item);   // 0 here
    virtual int CompareItems(const void* a, const void* b) = 0;
    virtual bool SameItem(const void* a, const void* b) = 0;
    virtual int32_t ItemSize() const = 0;

    const char* ClassName() const { return FClassName; }
    uint32_t Signature() const { return FSignature; }
    int32_t Count() const { return FCount; }
    int32_t Capacity() const { return FCapacity; }
    uint16_t Flags() const { return FFlags; }
    TDuplicates Duplicates() const { return FDuplicates; }
    bool Sorted() const { return (FFlags & lfSorted) != 0; }
    bool IsEmpty() const { return FCount == 0; }
    // The record at index, unchecked (0 <= index < Count).
    void* ItemAt(int32_t index) const { return FItems + static_cast<size_t>(index) * FItemSize; }

    // FreeItem on every record, then Count and Capacity 0.
    void Clear();
    // Frees the record and closes the gap; raises EListError for a bad index. The storage is
    // released when the list becomes empty.
    void Delete(int32_t index);
    void DeleteFirst() { Delete(0); }
    void DeleteLast() { Delete(FCount - 1); }
    // Opens an uninitialised record at index (0..Count, else EListError) and returns it; the
    // caller fills it. Grows by Capacity above 64, by 16 from 9 to 64, by 4 up to 8.
    void* InsertSlot(int32_t index);
    // Bisection by CompareItems (sorted lists). True when key is present; index is then the first
    // equal record when duplicates are accepted, else an equal record; otherwise the insert place.
    bool Find(const void* key, int32_t& index);
    // Sorted: the first hit of the bisection; unsorted: the first SameItem from 0; else -1.
    int32_t IndexOf(const void* key);
    // Deletes every record equal to key; returns how many.
    int32_t RemoveAll(const void* key);
    // Moves record from to index to (both 0..Count-1), shifting those between.
    void Move(int32_t from, int32_t to);
    // Copies source's records in at index at (0..Count, else EListError), without re-sorting.
    // source must be another list of the same class and, when this one is sorted, sorted with
    // the same 0x0100 setting (assertions).
    void InsertList(TCustomList& source, int32_t at);
    void AssignList(TCustomList& source);
    // Moves source's records to the end of this unsorted list and leaves source empty.
    // Raises ": Cannot add multiple items to a sorted list." for a sorted list.
    void AddList(TCustomList& source);
    // Same class (assertion); equal counts and SameItem pairwise.
    bool Equals(TCustomList& other);
    // The count as a compact integer, then Count * ItemSize raw bytes.
    void SaveToStream(TStream& stream);
    // Clears, then reads the form above. A count that the rest of the stream cannot hold raises
    // EStreamError "Stream read error" before any memory is reserved.
    void LoadFromStream(TStream& stream);
    // Resizes the storage to n records (n >= Count, assertion).
    void SetCapacity(int32_t n);

    // Raises the assertion naming this class followed by detail when the signature is wrong.
    void CheckSignature(const char* detail) const;

protected:
    // flags: lf* bits; 0x0200 and 0x0400 must be clear and at most one duplicate bit set
    // (assertions). className names the class in messages.
    TCustomList(const char* className, int32_t itemSize, uint16_t flags);

    // For the concrete list's destructor: frees every record unless the signature is already wrong
    // (the base destructor then reports it).
    void FreeItemsOnDestroy();

    [[noreturn]] void IndexError(int32_t index) const;
    [[noreturn]] void Error(const char* text) const;   // class name + ": " + text
    void CheckIndex(int32_t index) const { if (index < 0 || index >= FCount) IndexError(index); }
    void Grow();
    void ReleaseStorage();

    uint32_t FSignature = ListSignature;
    int32_t FCount = 0;
    int32_t FCapacity = 0;
    int32_t FItemSize;
    uint8_t* FItems = nullptr;
    uint16_t FFlags;
    TDuplicates FDuplicates;
    const char* FClassName;
};

// The capacity InsertSlot grows a full list of the given capacity to.
constexpr int32_t GrownCapacity(int32_t capacity) {
    return capacity + (capacity > 64 ? capacity : capacity > 8 ? 16 : 4);
}

}  // namespace cm
