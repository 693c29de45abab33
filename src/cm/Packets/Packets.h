// cm/Packets: typed-field packets and their binary stream format.
//
// A packet's whole state is an ordered list of typed fields. Every packet class is described by a
// TPacketClass: its name, identifier (ClassGuid), parent class and a table of its own fields
// (name, coding, member location, default). One engine, driven by those tables, writes and reads
// both stream forms, copies, clears, compares, converts and dumps every class; a class is its
// table plus its identity.
//
// Full form (no context): FormatVersion 2, TotalSize (32 + body), FieldCount, Reserved 0,
// ClassGuid, then the body: the fields in index order. Compact form (with a context): a class
// reference (compact word; 0 introduces a 19-byte class record) followed by the body.
//
// Versioning: a class's FieldCount is its version; fields are only ever appended. A reader fills
// the fields the stored count covers and leaves the others as they were; the full form skips the
// fields of a newer writer through TotalSize.
//
// Readers are bounded: every stored length, count and size is checked against the data that
// remains (the packet's body when known, else the stream) before it is used, nesting is limited,
// and a count never reserves more than the data could hold.
//
// Portable: no operating system (packet files are in PacketFile.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "cm/Lists/CustomList.h"
#include "cm/Lists/StringListEx.h"
#include "cm/Objects/Object.h"
#include "cm/StreamUtils/Stream.h"
#include "cm/StreamUtils/VirtualStream.h"

namespace cm {

inline constexpr const char* PacketsUnit = "cm/Packets";

class TPacket;
class TCustomPacketList;
class TPacketWriteContext;
class TPacketReadContext;

// The kind of a field, as FieldKind reports it.
enum TFieldKind : int32_t { fkOther = 0, fkString = 1, fkInteger = 2, fkBoolean = 3, fkFloat = 4, fkObject = 5 };

// How a field is held and encoded. The member type each coding expects is checked at compile time
// by Field<> (see TFieldMember below).
enum class TFieldCoding : uint8_t {
    Int8, UInt8, Int16, UInt16, Int32, UInt32, Int64,  // little-endian, natural width
    CompactInt,       // int32 >= 0 as a compact integer
    Handle,           // TPacketHandle (a kernel handle): fixed field of 4 bytes, read back sign-extended
    Boolean,          // bool, one byte 0 or 1
    Double,           // IEEE double, 8 bytes
    DateTime,         // double counting days since 30 December 1899
    Fixed,            // enumeration or set: byte count n, then the n member bytes (read with ReadFixed)
    Guid,             // TGuid, 16 bytes
    Record,           // fixed-size record written raw with its natural width
    String,           // std::string: compact length, then the bytes
    WideString,       // std::u16string: compact length in code units, then 2 bytes per unit
    StringList,       // TStringListEx: compact count, then each line as a string
    StringListText,   // TStringListEx: the whole text (lines joined by CR LF) as one string
    Blob,             // TVirtualStream: int32 length (compact with a context), then the bytes
    Packet,           // TNestedPacket<T> (or std::unique_ptr<TPacket>), always present: a complete
                      // nested packet; of any registered class when the item class is TPacket
    OptionalPacket,   // TOptionalPacket<T> (or std::unique_ptr<TPacket>) or none: presence byte,
                      // then the packet
    PacketList,       // a TCustomPacketList descendant: int32 count, then the packets
    RecordList,       // a TCustomList descendant holding plain records: its own stream form
};

// A kernel handle held in a packet. Windows gives handles values that fit 32 bits sign-extended
// (so that 32- and 64-bit processes can exchange them): they travel as 4 bytes and are read back
// sign-extended, which keeps the pseudo-handles (-1, -2) what they are.
using TPacketHandle = intptr_t;

// One field of a class's table. Made by Field<> below, never by hand.
struct TFieldDef {
    const char* Name;
    TFieldCoding Coding;
    uint8_t Size;                   // member bytes of Fixed and Record fields
    void* (*Locate)(TPacket&);      // the member inside a packet of the class (or a descendant)
    int64_t DefaultInt;             // integers and booleans
    const char* DefaultText;        // strings (nullptr: empty)
    // Nested packets and packet lists: the class created and expected (TPacket: any registered
    // class, created as the stream names it). Registration refuses such a field without one, or
    // with one that cannot be created.
    const struct TPacketClass* ItemClass;
};

// A packet class as a runtime value: identity, field table and class-level data.
struct TPacketClass {
    const char* Name;
    TGuid Guid;
    const TPacketClass* Parent;  // nullptr only for TPacket itself
    const TFieldDef* Fields;     // own fields, in index order
    int32_t OwnFieldCount;
    TPacket* (*Construct)();     // the virtual constructor; nullptr for abstract classes
    // The three further per-field texts; nullptr means empty for every field.
    const char* const* Descriptions = nullptr;
    const char* const* DisplayNames = nullptr;
    const char* const* DisplayDescriptions = nullptr;

    mutable std::atomic<int32_t> ClassNumber{-1};  // set once by RegisterPacketClass
    mutable int32_t Instances = 0;                  // live instances (plain counter)

    int32_t FieldCount() const { return (Parent ? Parent->FieldCount() : 0) + OwnFieldCount; }
    int32_t InstanceCount() const { return Instances; }
    bool InheritsFrom(const TPacketClass& other) const;

    // Field metadata by index (ancestors answer first; unknown indices give empty / -1 / fkOther).
    const TFieldDef* FieldDef(int32_t index) const;
    std::string FieldName(int32_t index) const;
    std::string FieldDescription(int32_t index) const;
    std::string FieldDisplayName(int32_t index) const;
    std::string FieldDisplayDescription(int32_t index) const;
    int32_t FieldIndexByName(const std::string& name) const;  // byte-for-byte; -1 when absent
    TFieldKind FieldKind(int32_t index) const;
};

// Save flags and load flags.
enum TPacketSaveFlags : uint32_t { sfCompressed = 0x04, sfBuffered = 0x10 };
enum TPacketLoadFlags : uint32_t { lfCompressed = 0x01, lfRetryOpen = 0x02 };

// The full form's header.
constexpr int32_t PacketFormatVersion = 2;
constexpr int32_t PacketHeaderSize = 32;
// Bodies up to this size are fetched from a non-memory stream with one read and parsed in memory.
constexpr int32_t PacketReadBufferSize = 65536;
// Nested packets and packet lists deeper than this are refused as invalid data.
constexpr int32_t PacketMaxNesting = 64;
// What one read may build from its input. Every packet a read constructs is charged an estimate
// of its size, PacketBuildCost plus PacketFieldBuildCost per field; the charges of one read may
// not exceed PacketBuildBytesPerInputByte per byte of input plus PacketBuildAllowance, beyond
// which the read is refused ("Cannot load packet. %d bytes of data would build more than %d bytes
// of packets"). Without it a lying compact stream of N bytes builds one packet per byte, hundreds
// of bytes each. Honest data stays far below: a packet costs tens of bytes of input at least.
constexpr int64_t PacketBuildCost = 256;
constexpr int64_t PacketFieldBuildCost = 16;
constexpr int64_t PacketBuildBytesPerInputByte = 64;
constexpr int64_t PacketBuildAllowance = 1 << 20;
// A write context numbers at most this many classes (the compact word holds 15 bits).
constexpr int32_t PacketContextMaxClasses = 32767;

#pragma pack(push, 1)
struct TPacketHeader {
    int32_t FormatVersion;
    int32_t TotalSize;
    int32_t FieldCount;
    int32_t Reserved;
    TGuid ClassGuid;
};
#pragma pack(pop)
static_assert(sizeof(TPacketHeader) == PacketHeaderSize);

// What GetFieldAsObject returns: the owned object (still owned by the packet) and what it is.
struct TFieldObject {
    TFieldCoding Coding;
    void* Object;  // nullptr for an absent optional packet

    TPacket* AsPacket() const;                 // Packet / OptionalPacket
    TCustomPacketList* AsPacketList() const;   // PacketList
    TVirtualStream* AsStream() const;          // Blob
    TStringListEx* AsStrings() const;          // StringList / StringListText
    TCustomList* AsList() const;               // RecordList
};

// The field-difference callback of CompareFields: receives the index of a differing field.
using TFieldDifference = std::function<void(int32_t fieldIndex)>;

class TPacket : public TObject {
public:
    static const TPacketClass Class;  // {47BF5205-8993-41F5-98E9-03CB6EA34D1E}, no fields

    TPacket() = default;
    TPacket(const TPacket&) = delete;
    TPacket& operator=(const TPacket&) = delete;
    ~TPacket() override = default;

    // The packet's class (the most derived one).
    virtual const TPacketClass& ClassType() const { return Class; }
    const char* ClassName() const { return ClassType().Name; }

    // ---- Field access by index (raise "Cannot get field as ...: Class.Field" where the field's
    // kind offers no such conversion) ----
    TFieldObject GetFieldAsObject(int32_t index);
    int32_t GetFieldAsInteger(int32_t index);
    void SetFieldAsInteger(int32_t index, int32_t value);
    std::string GetFieldAsString(int32_t index);
    void SetFieldAsString(int32_t index, const std::string& value);
    double GetFieldAsDouble(int32_t index);
    void SetFieldAsDouble(int32_t index, double value);

    // ---- Serialisation (the engine, driven by the class's field tables) ----
    // Writes every field in index order.
    void WriteFields(TStream& stream, TPacketWriteContext* context);
    // Reads fields in index order while storedCount lasts; on return storedCount holds the stored
    // fields not consumed. The stream form reads up to the stream's end at most, the memory form
    // parses the memory stream in place up to its size and then sets its position. Raise on data
    // that ends early or lies.
    void ReadFields(TStream& stream, int32_t& storedCount, TPacketReadContext* context);
    void ReadFieldsFromMemory(TCustomMemoryStream& stream, int32_t& storedCount, TPacketReadContext* context);

    // Copies every field of source (which must be of this class or a descendant: the invalid
    // typecast error otherwise). Nested packets and lists are deep-copied.
    virtual void Assign(const TPacket& source);
    // Every field back to its default; owned containers are emptied, not freed.
    virtual void Clear();
    // Calls fn for every handle field (TFieldCoding::Handle) of the packet and, recursively, of
    // its nested packets and the packets of its packet lists, in field order. What DuplicateHandles
    // (PacketHandles.h, Win32) is built on.
    void ForEachHandle(const std::function<void(TPacketHandle& handle)>& fn);

    // 0: no text form (or unknown index), 1: one line, 2: several lines.
    virtual int GetFieldText(int32_t index, std::string& text);
    virtual bool Equals(const TPacket& other) const;
    // Reports every differing field (-1 for different classes) and returns true when none differs.
    virtual bool CompareFields(const TPacket& other, const TFieldDifference& onDifference) const;

    // The packet's text dump, line by line; DumpToStrings adds the lines to the list.
    std::vector<std::string> DumpLines();
    void DumpToStrings(TStrings& list);

    // Writes the packet at the stream's position (full form without a context, compact with one).
    // sfCompressed: through a virtual stream into the "sdc2" format (id 3); sfBuffered: through a
    // virtual stream with one final write. Other bits are ignored.
    void SaveToStream(TStream& stream, TPacketWriteContext* context = nullptr, uint32_t flags = 0);
    // Reads a packet of exactly this packet's class into this instance (fields absent from the
    // stored data keep their values). lfCompressed: the stream holds the "sdc2" format.
    void LoadFromStream(TStream& stream, TPacketReadContext* context = nullptr, uint32_t flags = 0);
    // Reads a packet of whichever registered class the stream names; the caller owns the result.
    static std::unique_ptr<TPacket> CreateFromStream(TStream& stream, TPacketReadContext* context = nullptr,
                                                     uint32_t flags = 0);
    // A new instance of the same class, made through the class's constructor, then Assign (self).
    std::unique_ptr<TPacket> Clone() const;

protected:
    // For the constructors and destructors of concrete classes (see CM_PACKET_CLASS).
    void InitPacket();
    void DonePacket() noexcept;
};

// TCommPacket: the base of the protocol packets. It adds one member that is never serialised and
// no field; its class data are TPacket's.
class TCommPacket : public TPacket {
public:
    int32_t CommTag = 0;
};

// ---- Members holding nested packets -------------------------------------------------------------

// [[noreturn]] "Attempt to access uninitialized member object: " + owner's class + "." + field.
[[noreturn]] void RaiseUninitializedMember(const TPacket& owner, const char* fieldName);
// What assigning a packet to a nested-packet member does: nullptr frees the member; a packet of
// the member's class is assigned to it; any other packet is cloned into it.
void AssignNestedPacket(std::unique_ptr<TPacket>& member, const TPacket* value);

// The storage of the nested-packet members below; the engine works on Owned().
class TPacketMember {
public:
    TPacketMember() = default;
    TPacketMember(const TPacketMember&) = delete;
    TPacketMember& operator=(const TPacketMember&) = delete;
    std::unique_ptr<TPacket>& Owned() { return FPacket; }
    bool Assigned() const { return FPacket != nullptr; }

protected:
    std::unique_ptr<TPacket> FPacket;
};

// A nested packet that is always present (created by the owner's constructor, cleared by its
// Clear), of class T; with T = TPacket, of any registered class (a read replaces it by the class
// the stream names).
template <class T>
class TNestedPacket : public TPacketMember {
public:
    using ItemType = T;
    T* Get() const { return static_cast<T*>(FPacket.get()); }
    T* operator->() const { return Get(); }
    T& operator*() const { return *Get(); }
    // A copy of value (nullptr: none; the owner writes a default packet then).
    void Assign(const T* value) { AssignNestedPacket(FPacket, value); }
};

// A nested packet that may be absent. Clear clears it without freeing it; a read of presence 0
// frees it. Declare it with its owner and field name: TOptionalPacket<T> Name{this, "Name"}.
template <class T>
class TOptionalPacket : public TPacketMember {
public:
    using ItemType = T;
    TOptionalPacket(const TPacket* owner, const char* fieldName) : FOwner(owner), FFieldName(fieldName) {}
    // nullptr when absent.
    T* Get() const { return static_cast<T*>(FPacket.get()); }
    // The member; raises "Attempt to access uninitialized member object: Class.Field" when absent.
    T& Value() const {
        if (!FPacket)
            RaiseUninitializedMember(*FOwner, FFieldName);
        return *Get();
    }
    // The member, a new default packet when absent.
    T& Need() {
        if (!FPacket)
            FPacket.reset(T::Class.Construct());
        return *Get();
    }
    // nullptr frees the member; a packet is copied into it.
    void Assign(const T* value) { AssignNestedPacket(FPacket, value); }

private:
    const TPacket* FOwner;
    const char* FFieldName;
};

// Declares the class-level members of a concrete packet class: its class record, constructor and
// destructor (which count instances and set defaults) and its ClassType. Put it first in the class
// body; define `const TPacketClass Cls::Class` (name, identifier, parent, field table, field
// count, &Cls::CreateInstance) in the unit's source.
#define CM_PACKET_CLASS(Cls)                                                      \
public:                                                                           \
    static const ::cm::TPacketClass Class;                                        \
    Cls() { InitPacket(); }                                                       \
    ~Cls() noexcept override { DonePacket(); }                                    \
    const ::cm::TPacketClass& ClassType() const override { return Class; }        \
    static ::cm::TPacket* CreateInstance() { return new Cls(); }

// ---- Field tables ------------------------------------------------------------------------------

namespace packet_detail {

template <class M>
struct MemberTraits;
template <class C, class T>
struct MemberTraits<T C::*> {
    using Class = C;
    using Type = T;
};

template <TFieldCoding C, class T>
constexpr bool MemberFits() {
    using enum TFieldCoding;
    if constexpr (C == Int8) return std::is_same_v<T, int8_t>;
    else if constexpr (C == UInt8) return std::is_same_v<T, uint8_t>;
    else if constexpr (C == Int16) return std::is_same_v<T, int16_t>;
    else if constexpr (C == UInt16) return std::is_same_v<T, uint16_t>;
    else if constexpr (C == Int32 || C == CompactInt) return std::is_same_v<T, int32_t>;
    else if constexpr (C == Handle) return std::is_same_v<T, TPacketHandle>;
    else if constexpr (C == UInt32) return std::is_same_v<T, uint32_t>;
    else if constexpr (C == Int64) return std::is_same_v<T, int64_t>;
    else if constexpr (C == Boolean) return std::is_same_v<T, bool>;
    else if constexpr (C == Double || C == DateTime) return std::is_same_v<T, double>;
    else if constexpr (C == Fixed || C == Record) return std::is_trivially_copyable_v<T> && sizeof(T) <= 255;
    else if constexpr (C == Guid) return std::is_same_v<T, TGuid>;
    else if constexpr (C == String) return std::is_same_v<T, std::string>;
    else if constexpr (C == WideString) return std::is_same_v<T, std::u16string>;
    else if constexpr (C == StringList || C == StringListText) return std::is_same_v<T, TStringListEx>;
    else if constexpr (C == Blob) return std::is_same_v<T, TVirtualStream>;
    else if constexpr (C == Packet || C == OptionalPacket)
        return std::is_same_v<T, std::unique_ptr<TPacket>> || std::is_base_of_v<TPacketMember, T>;
    else if constexpr (C == PacketList) return std::is_base_of_v<TCustomPacketList, T>;
    else if constexpr (C == RecordList) return std::is_base_of_v<TCustomList, T>;
    else return false;
}

template <auto Member>
void* LocateMember(TPacket& packet) {
    using Traits = MemberTraits<decltype(Member)>;
    auto& member = static_cast<typename Traits::Class&>(packet).*Member;
    // Lists are handed out as their base class, so the engine may cast the pointer back to it.
    if constexpr (std::is_base_of_v<TPacketMember, typename Traits::Type>)
        return &member.Owned();
    else if constexpr (std::is_base_of_v<TCustomPacketList, typename Traits::Type>)
        return static_cast<TCustomPacketList*>(&member);
    else if constexpr (std::is_base_of_v<TCustomList, typename Traits::Type>)
        return static_cast<TCustomList*>(&member);
    else
        return &member;
}

// The item class a member type names (a typed member's or list's T, TPacket for an untyped list),
// else the one given.
template <class T>
constexpr const TPacketClass* ItemClassOf(const TPacketClass* given) {
    if constexpr (requires { typename T::ItemType; })
        return &T::ItemType::Class;
    else if constexpr (std::is_base_of_v<TCustomPacketList, T>)
        return &TPacket::Class;
    else
        return given;
}

}  // namespace packet_detail

// One row of a field table: Field<TFieldCoding::Int32, &TSetupPacket::Version>("Version").
// defaultInt serves integers and booleans, defaultText strings, itemClass nested packets held as
// std::unique_ptr<TPacket> (typed members name theirs: TNestedPacket<T>, TOptionalPacket<T>,
// TTypedPacketList<T>; an untyped list holds any class).
template <TFieldCoding C, auto Member>
constexpr TFieldDef Field(const char* name, int64_t defaultInt = 0, const char* defaultText = nullptr,
                          const TPacketClass* itemClass = nullptr) {
    using Traits = packet_detail::MemberTraits<decltype(Member)>;
    static_assert(std::is_base_of_v<TPacket, typename Traits::Class>, "fields are members of packet classes");
    static_assert(packet_detail::MemberFits<C, typename Traits::Type>(), "member type does not suit the coding");
    return TFieldDef{name, C, static_cast<uint8_t>(sizeof(typename Traits::Type)), &packet_detail::LocateMember<Member>,
                     defaultInt, defaultText,
                     packet_detail::ItemClassOf<typename Traits::Type>(itemClass)};
}

// ---- Streaming contexts --------------------------------------------------------------------------

// Maps class numbers to context IDs (1, 2, 3, ... in order of first use).
class TPacketWriteContext {
public:
    // The class's ID, or 0 when it has none yet.
    int32_t Find(int32_t classNumber) const;
    // Gives the class the next ID and returns it (assertion beyond PacketContextMaxClasses).
    int32_t AddClass(int32_t classNumber);
    int32_t Count() const { return FCount; }

private:
    std::vector<uint16_t> FIds;  // indexed by class number
    int32_t FCount = 0;
};

// The classes in order of first appearance: ID n is entry n - 1. Frozen stops additions.
class TPacketReadContext {
public:
    struct TEntry {
        const TPacketClass* Class;
        int32_t StoredFieldCount;
    };
    std::vector<TEntry> Entries;
    bool Frozen = false;
};

// Blob contents left where they are: while a TDeferredBlobs lives on a thread, the packet reads
// of that thread do not read the bytes of a blob field (a TVirtualStream) that they read through
// the stream itself (not from a memory stream, nor from a packet body fetched in one read, which
// they read as always). Its stored length is checked against what remains, as a read would,
// the bytes are skipped and the virtual stream is left empty; the place of the bytes (a position
// in the stream being read) is noted against the virtual stream. Everything else is read and
// checked as without it. A reader that needs a few contents of a large file reads those alone.
// Scopes nest: the innermost one takes the notes.
class TDeferredBlobs {
public:
    struct TPlace {
        int64_t Position;  // of the first content byte in the stream that was read
        int32_t Length;
    };
    TDeferredBlobs();
    ~TDeferredBlobs();
    TDeferredBlobs(const TDeferredBlobs&) = delete;
    TDeferredBlobs& operator=(const TDeferredBlobs&) = delete;

    // Where the bytes of value are, when a read under this scope left them unread.
    const TPlace* Find(const TVirtualStream& value) const;
    // The scope in force on this thread, or nullptr.
    static TDeferredBlobs* Current();
    void Add(const TVirtualStream& value, TPlace place);

private:
    TDeferredBlobs* FOuter;
    std::vector<std::pair<const TVirtualStream*, TPlace>> FPlaces;
};

// ---- Registry ------------------------------------------------------------------------------------

// Gives the class its ClassNumber and enters it in the registry (a second call does nothing).
// Raises "Failed to register packet class: %s" + the cause (a taken identifier among others).
void RegisterPacketClass(const TPacketClass& cls);
// The class registered under guid, or nullptr.
const TPacketClass* FindPacketClass(const TGuid& guid);
// The classes in registration order (index = ClassNumber - 1); for tests and tools.
std::vector<const TPacketClass*> RegisteredPacketClasses();
// Start-up of the packet framework: registers TPacket.
void InitializePackets();

// ---- Packet lists --------------------------------------------------------------------------------

// An owning list of packets. Typed lists override ItemClass (see TTypedPacketList).
class TCustomPacketList : public TObject {
public:
    TCustomPacketList() = default;
    TCustomPacketList(const TCustomPacketList&) = delete;
    TCustomPacketList& operator=(const TCustomPacketList&) = delete;
    ~TCustomPacketList() override = default;

    virtual const TPacketClass& ItemClass() const { return TPacket::Class; }

    int32_t Add(std::unique_ptr<TPacket> packet);
    // Asserts that the packet's class is ItemClass or a descendant, then Add.
    int32_t AddChecked(std::unique_ptr<TPacket> packet);
    // Appends clones of the other list's packets (whose ItemClass must derive from this one's).
    void AddCopies(const TCustomPacketList& other);
    void Assign(const TCustomPacketList& other);
    void Clear() { FItems.clear(); }
    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    bool IsEmpty() const { return FItems.empty(); }
    // Raises "List index out of bounds (%d)" outside 0..Count-1.
    TPacket* Items(int32_t index) const;
    void Reserve(int32_t count) { FItems.reserve(static_cast<size_t>(count)); }
    bool Equals(const TCustomPacketList& other) const;

    // int32 count, then each packet (full form without a context).
    void SaveToStream(TStream& stream, TPacketWriteContext* context = nullptr);
    void LoadFromStream(TStream& stream, TPacketReadContext* context = nullptr);
    // "(empty list)", or "[i/n]", the packet's dump and an empty line per packet; CR LF after each line.
    std::string DumpText() const;

private:
    std::vector<std::unique_ptr<TPacket>> FItems;
};

// A typed list: ItemClass is T's class and Items casts to T (the invalid typecast error for an
// entry of another class, which list loading may have accepted).
template <class T>
class TTypedPacketList : public TCustomPacketList {
public:
    using ItemType = T;
    const TPacketClass& ItemClass() const override { return T::Class; }
    T* Items(int32_t index) const;
};

// ---- Field encoding routines (streams; the memory forms live in the engine) ----------------------

void WriteString(TStream& stream, const std::string& value);
std::string ReadString(TStream& stream);
// utf16: compact length in code units, then the units; otherwise the value converted to 8 bits
// (code units above 255 become '?', at most 32,767 units) written as a string.
void WriteWideString(TStream& stream, const std::u16string& value, bool utf16 = true);
std::u16string ReadWideString(TStream& stream);
void WriteStringList(TStream& stream, const TStrings& list);
void ReadStringList(TStream& stream, TStrings& list);
void WriteStreamField(TStream& stream, TCustomMemoryStream& value, bool compactLength);
void ReadStreamField(TStream& stream, TVirtualStream& value, bool compactLength);
// Byte count n, then the n bytes of the member.
void WriteFixed(TStream& stream, const void* source, int32_t size);
// Reads the byte count n; n < size zero-fills and reads n bytes, otherwise reads size and skips the rest.
void ReadFixed(TStream& stream, void* destination, int32_t size);

// ---- Helpers shared by the engine and its users --------------------------------------------------

// Raised where a cast to a packet class fails ("Invalid class typecast").
[[noreturn]] void RaiseInvalidCast();

template <class T>
T* TTypedPacketList<T>::Items(int32_t index) const {
    TPacket* packet = TCustomPacketList::Items(index);
    if (!packet->ClassType().InheritsFrom(T::Class))
        RaiseInvalidCast();
    return static_cast<T*>(packet);
}

}  // namespace cm
