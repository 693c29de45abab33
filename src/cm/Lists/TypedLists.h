// cm/Lists: the typed lists and maps. Every class is one instantiation of TTypedContainer over a
// record shape: the shape names the class, its base (TCustomList or TCustomHashTable), its record,
// how a record is ordered, compared, hashed and freed, and which typed operations it offers.
// Portable: no operating system (a view list is given its unmapper; the mapped-file stream
// gives the system's).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "cm/Lists/CustomList.h"
#include "cm/Objects/Object.h"
#include "cm/Lists/HashTable.h"

namespace cm {

// Byte-wise order of two strings; caseInsensitive folds ASCII letters only (to upper case).
int CompareStringKeys(std::string_view a, std::string_view b, bool caseInsensitive);
bool SameStringKeys(std::string_view a, std::string_view b, bool caseInsensitive);

// Typed operations a shape offers beside those of its base.
enum TTypedOps : unsigned {
    opInsert = 0x01,    // Insert (Index, fields...): unsorted lists only (assertion)
    opObjectAt = 0x02,  // ObjectAt (Index)
    opObjectOf = 0x04,  // ObjectOf (Key) -> object or nullptr
    opIndexOf = 0x08,   // IndexOf (Key)
    opFind = 0x10,      // Find (Key, out Index)
    opViewAt = 0x20,    // ViewAt (Index)
    opKeyAt = 0x40,     // KeyAt (Index)
    opValueAt = 0x80,   // ValueAt (Index)
};

template <class Shape>
class TTypedContainer final : public Shape::Base {
    using Base = typename Shape::Base;
    static constexpr bool IsList = std::is_same_v<Base, TCustomList>;
    static constexpr bool Offers(unsigned op) { return (Shape::Ops & op) != 0; }

public:
    using Record = typename Shape::Record;
    using Key = typename Shape::Key;
    static_assert(!IsList || std::is_trivially_copyable_v<Record>, "list records are moved as plain bytes");
    static_assert(alignof(Record) <= 8);

    // A list: flags as TCustomList's.
    explicit TTypedContainer(uint16_t flags) requires IsList : Base(Shape::Name, sizeof(Record), flags) {}
    // A hash table of 1 shl shift buckets.
    TTypedContainer(TDuplicates duplicates, uint16_t flags, int shift, THashFunction hashFunction) requires(!IsList)
        : Base(Shape::Name, sizeof(Record), duplicates, flags, shift, hashFunction) {}
    ~TTypedContainer() override { this->FreeItemsOnDestroy(); }

    void FreeItem(void* item) override {
        Record* r = static_cast<Record*>(item);
        Shape::Free(*r, this->Flags());
        std::destroy_at(r);
    }
    void CopyItem(const void* source, void* dest) override {
        std::construct_at(static_cast<Record*>(dest), *static_cast<const Record*>(source));
    }
    int HashItem(THashFunction hashFunction, const void* item) override {
        return static_cast<int>(Shape::Hash(hashFunction, *static_cast<const Record*>(item)));
    }
    int CompareItems(const void* a, const void* b) override {
        return Shape::Compare(*static_cast<const Record*>(a), *static_cast<const Record*>(b), this->Flags());
    }
    bool SameItem(const void* a, const void* b) override {
        return Shape::Same(*static_cast<const Record*>(a), *static_cast<const Record*>(b), this->Flags());
    }
    int32_t ItemSize() const override { return sizeof(Record); }

    // Clears, then takes copies of all of source's records (objects are shared, not duplicated).
    void Assign(TTypedContainer& source) {
        if constexpr (IsList)
            this->AssignList(source);
        else
            Base::Assign(source);
    }

    // The record at index; raises the list's index error outside 0..Count-1.
    Record& Item(int32_t index) requires IsList {
        this->CheckIndex(index);
        return *static_cast<Record*>(this->ItemAt(index));
    }

    // Lists: the keyed add. Sorted: an equal record present is kept and its index returned
    // (duplicates ignored), refused with ": List does not allow duplicates." (error), or the new
    // record goes before the first equal one (accepted); absent keys go to their place. Unsorted:
    // appended. Returns the record's index.
    template <class... Fields>
    int32_t Add(Fields&&... fields) requires IsList {
        const Record record{std::forward<Fields>(fields)...};
        int32_t index = this->Count();
        if (this->Sorted() && Base::Find(&record, index)) {
            if (this->Duplicates() == dupIgnore)
                return index;
            if (this->Duplicates() == dupError)
                this->Error("List does not allow duplicates.");
        }
        std::construct_at(static_cast<Record*>(this->InsertSlot(index)), record);
        return index;
    }

    // Hash tables: adds the record unless an equal one is present and duplicates are not
    // accepted; then raises ": Hashtable does not allow duplicates." (error) or does nothing
    // (ignore, returning nullptr). Returns the new record.
    template <class... Fields>
    Record* Add(Fields&&... fields) requires(!IsList) {
        Record record{std::forward<Fields>(fields)...};
        if (this->Duplicates() != dupAccept && Base::FindEntry(&record)) {
            if (this->Duplicates() == dupError)
                this->Error("Hashtable does not allow duplicates.");
            return nullptr;
        }
        Record* entry = std::construct_at(static_cast<Record*>(this->NewEntry()), std::move(record));
        this->Link(entry);
        return entry;
    }

    // Hash tables: the record whose key equals key, or nullptr (the base's FindEntry gives the link).
    Record* FindEntry(const Key& key) requires(!IsList) {
        const Record probe = Shape::KeyRecord(key);
        auto link = Base::FindEntry(&probe);
        return link ? static_cast<Record*>(Base::RecordOf(*link)) : nullptr;
    }

    void Insert(int32_t index, const Record& record) requires(IsList && Offers(opInsert)) {
        CM_ASSERT(ListsUnit, !this->Sorted());
        std::construct_at(static_cast<Record*>(this->InsertSlot(index)), record);
    }
    template <class... Fields>
    void Insert(int32_t index, Fields&&... fields) requires(IsList && Offers(opInsert) && sizeof...(Fields) > 1) {
        Insert(index, Record{std::forward<Fields>(fields)...});
    }

    int32_t IndexOf(const void* key) requires IsList { return Base::IndexOf(key); }
    int32_t IndexOf(const Key& key) requires(IsList && Offers(opIndexOf | opObjectOf)) {
        const Record probe = Shape::KeyRecord(key);
        return Base::IndexOf(&probe);
    }
    bool Find(const void* key, int32_t& index) requires IsList { return Base::Find(key, index); }
    bool Find(const Key& key, int32_t& index) requires(IsList && Offers(opFind)) {
        const Record probe = Shape::KeyRecord(key);
        return Base::Find(&probe, index);
    }

    auto* ObjectAt(int32_t index) requires(IsList && Offers(opObjectAt)) { return Item(index).Object; }
    auto* ObjectOf(const Key& key) requires(Offers(opObjectOf)) {
        if constexpr (IsList) {
            const int32_t index = IndexOf(key);
            return index >= 0 ? Item(index).Object : nullptr;
        } else {
            Record* r = FindEntry(key);
            return r ? r->Object : nullptr;
        }
    }
    void* ViewAt(int32_t index) requires(IsList && Offers(opViewAt)) { return Item(index).View; }
    int32_t KeyAt(int32_t index) requires(IsList && Offers(opKeyAt)) { return Item(index).Key; }
    int32_t ValueAt(int32_t index) requires(IsList && Offers(opValueAt)) { return Item(index).Value; }
};

// ---- Record shapes -------------------------------------------------------------------------------

namespace shapes {

inline int CompareInts(int32_t a, int32_t b) { return a < b ? -1 : a > b ? 1 : 0; }
template <class T>
inline void FreeOwnedObject(T* object, uint16_t flags) {
    if ((flags & lfOwnsObjects) && object)
        delete object;
}

struct IntegerList {
    static constexpr const char* Name = "TIntegerList";
    using Base = TCustomList;
    static constexpr unsigned Ops = 0;
    struct Record { int32_t Value; };
    using Key = int32_t;
    static Record KeyRecord(Key k) { return {k}; }
    static int Compare(const Record& a, const Record& b, uint16_t) { return CompareInts(a.Value, b.Value); }
    static bool Same(const Record& a, const Record& b, uint16_t) { return a.Value == b.Value; }
    static uint32_t Hash(THashFunction h, const Record& r) { return h(&r.Value, 4); }
    static void Free(Record&, uint16_t) {}
};

template <class Obj>
struct IntegerListEx {
    static constexpr const char* Name = "TIntegerListEx";
    using Base = TCustomList;
    static constexpr unsigned Ops = opInsert | opObjectAt | opObjectOf;
    struct Record { int32_t Key; Obj* Object; };
    using Key = int32_t;
    static Record KeyRecord(Key k) { return {k, nullptr}; }
    static int Compare(const Record& a, const Record& b, uint16_t) { return CompareInts(a.Key, b.Key); }
    static bool Same(const Record& a, const Record& b, uint16_t) { return a.Key == b.Key; }
    static uint32_t Hash(THashFunction h, const Record& r) { return h(&r.Key, 4); }
    static void Free(Record& r, uint16_t flags) { FreeOwnedObject(r.Object, flags); }
};

template <class Obj>
struct IntegerPairListEx {
    static constexpr const char* Name = "TIntegerPairListEx";
    using Base = TCustomList;
    static constexpr unsigned Ops = 0;
    struct Record { int32_t Key1; int32_t Key2; Obj* Object; };
    using Key = std::pair<int32_t, int32_t>;
    static Record KeyRecord(const Key& k) { return {k.first, k.second, nullptr}; }
    static int Compare(const Record& a, const Record& b, uint16_t) {
        const int c = CompareInts(a.Key1, b.Key1);
        return c != 0 ? c : CompareInts(a.Key2, b.Key2);
    }
    static bool Same(const Record& a, const Record& b, uint16_t) { return a.Key1 == b.Key1 && a.Key2 == b.Key2; }
    // Both keys, which lead the record.
    static uint32_t Hash(THashFunction h, const Record& r) { return h(&r, 8); }
    static void Free(Record& r, uint16_t flags) { FreeOwnedObject(r.Object, flags); }
};

template <class Unmapper>
struct IntegerViewList {
    static constexpr const char* Name = "TIntegerViewList";
    using Base = TCustomList;
    static constexpr unsigned Ops = opInsert | opIndexOf | opViewAt;
    struct Record { int32_t Key; void* View; };
    using Key = int32_t;
    static Record KeyRecord(Key k) { return {k, nullptr}; }
    static int Compare(const Record& a, const Record& b, uint16_t) { return CompareInts(a.Key, b.Key); }
    static bool Same(const Record& a, const Record& b, uint16_t) { return a.Key == b.Key; }
    static uint32_t Hash(THashFunction h, const Record& r) { return h(&r.Key, 4); }
    static void Free(Record& r, uint16_t flags) {
        if ((flags & lfOwnsViews) && r.View)
            Unmapper::Unmap(r.View);
    }
};

struct Pointer64IntegerList {
    static constexpr const char* Name = "TPointer64IntegerList";
    using Base = TCustomList;
    static constexpr unsigned Ops = 0;
    // Reserved is written with the record by the stream form; it is kept zero.
    struct Record { int64_t Pointer; int32_t Value; int32_t Reserved = 0; };
    using Key = int64_t;
    static Record KeyRecord(Key k) { return {k, 0, 0}; }
    // High halves as signed, then low halves as unsigned: the signed 64-bit order.
    static int Compare(const Record& a, const Record& b, uint16_t) { return a.Pointer < b.Pointer ? -1 : a.Pointer > b.Pointer ? 1 : 0; }
    static bool Same(const Record& a, const Record& b, uint16_t) { return a.Pointer == b.Pointer; }
    static uint32_t Hash(THashFunction h, const Record& r) { return h(&r.Pointer, 8); }
    static void Free(Record&, uint16_t) {}
};

struct IntegerMap {
    static constexpr const char* Name = "TIntegerMap";
    using Base = TCustomList;
    static constexpr unsigned Ops = opFind | opIndexOf | opKeyAt | opValueAt;
    struct Record { int32_t Key; int32_t Value; };
    using Key = int32_t;
    static Record KeyRecord(Key k) { return {k, 0}; }
    static int Compare(const Record& a, const Record& b, uint16_t) { return CompareInts(a.Key, b.Key); }
    static bool Same(const Record& a, const Record& b, uint16_t) { return a.Key == b.Key; }
    static uint32_t Hash(THashFunction h, const Record& r) { return h(&r.Key, 4); }
    static void Free(Record&, uint16_t) {}
};

template <class Obj>
struct GuidListExHashTable {
    static constexpr const char* Name = "TGuidListEx_HashTable";
    using Base = TCustomHashTable;
    static constexpr unsigned Ops = opObjectOf;
    struct Record { TGuid Guid; Obj* Object; };
    using Key = TGuid;
    static Record KeyRecord(const Key& k) { return {k, nullptr}; }
    static int Compare(const Record& a, const Record& b, uint16_t) { return CompareGuids(a.Guid, b.Guid); }
    static bool Same(const Record& a, const Record& b, uint16_t) { return a.Guid == b.Guid; }
    static uint32_t Hash(THashFunction h, const Record& r) { return h(&r.Guid, 16); }
    static void Free(Record& r, uint16_t flags) { FreeOwnedObject(r.Object, flags); }
};

// String-keyed tables: flag 0x0100 makes the keys case-insensitive (ASCII letters).
struct StringKeyed {
    using Base = TCustomHashTable;
    using Key = std::string_view;
    template <class R>
    static int Compare(const R& a, const R& b, uint16_t flags) { return CompareStringKeys(a.Name, b.Name, flags & lfOrderVariant); }
    template <class R>
    static bool Same(const R& a, const R& b, uint16_t flags) { return SameStringKeys(a.Name, b.Name, flags & lfOrderVariant); }
    template <class R>
    static uint32_t Hash(THashFunction h, const R& r) { return h(r.Name.data(), static_cast<int32_t>(r.Name.size())); }
};

struct StringIntegerIntegerMapHashTable : StringKeyed {
    static constexpr const char* Name = "TStringIntegerIntegerMap_HashTable";
    static constexpr unsigned Ops = 0;
    struct Record { std::string Name; int32_t Value1; int32_t Value2; };
    static Record KeyRecord(Key k) { return {std::string(k), 0, 0}; }
    static void Free(Record&, uint16_t) {}
};

template <class Obj>
struct StringInt64ObjectMapHashTable : StringKeyed {
    static constexpr const char* Name = "TStringInt64ObjectMap_HashTable";
    static constexpr unsigned Ops = opObjectOf;
    struct Record { std::string Name; int64_t Value; Obj* Object; };
    static Record KeyRecord(Key k) { return {std::string(k), 0, nullptr}; }
    static void Free(Record& r, uint16_t flags) { FreeOwnedObject(r.Object, flags); }
};

}  // namespace shapes

// The typed classes. The ...Of forms hold objects of another class than TObject.
template <class Obj>
using TIntegerListExOf = TTypedContainer<shapes::IntegerListEx<Obj>>;
template <class Obj>
using TIntegerPairListExOf = TTypedContainer<shapes::IntegerPairListEx<Obj>>;
template <class Unmapper>
using TIntegerViewListWith = TTypedContainer<shapes::IntegerViewList<Unmapper>>;
template <class Obj>
using TGuidListEx_HashTableOf = TTypedContainer<shapes::GuidListExHashTable<Obj>>;
template <class Obj>
using TStringInt64ObjectMap_HashTableOf = TTypedContainer<shapes::StringInt64ObjectMapHashTable<Obj>>;

using TIntegerList = TTypedContainer<shapes::IntegerList>;
using TIntegerListEx = TIntegerListExOf<TObject>;
using TIntegerPairListEx = TIntegerPairListExOf<TObject>;
using TPointer64IntegerList = TTypedContainer<shapes::Pointer64IntegerList>;
using TIntegerMap = TTypedContainer<shapes::IntegerMap>;
using TGuidListEx_HashTable = TGuidListEx_HashTableOf<TObject>;
using TStringIntegerIntegerMap_HashTable = TTypedContainer<shapes::StringIntegerIntegerMapHashTable>;
using TStringInt64ObjectMap_HashTable = TStringInt64ObjectMap_HashTableOf<TObject>;

}  // namespace cm
