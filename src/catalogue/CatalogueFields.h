// The vocabulary of the protocol packet catalogue: the encodings its field lists name, the fixed
// records, and the macros that turn a unit's list of classes into class declarations, field
// tables and registration.
//
// A catalogue unit states its classes once, as an X-macro list in declaration order:
//
//   #define CM_GRAPH_PACKETS(CLASS, LIST, F) (each line continued)
//       CLASS(TGraphDefPacket, TPacket, F(S, DisplayName) ... F(E1, Color) F(E1, Flags))
//       LIST(TGraphDefPacket)
//       ...
//
// CLASS(name, base, fields) is one class (base TPacket or TCommPacket; its ClassGuid is
// catalogue_guids::name), LIST(item) the typed packet list named item + "List", F(encoding, name)
// one field. The encodings below follow the wire: 8- and 16-bit numbers are unsigned members (the
// product's percentages, levels, counts and system words); a double is a DateTime where the field
// holds a date or time of day (its text form is then the date), a Real otherwise; one-byte
// enumerations and sets are E1, flag words E4. The header expands the list with CM_CATALOGUE_DECLARE, the source with
// CM_CATALOGUE_DEFINE. Every member starts at zero or empty; FieldCount is the number of fields.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "cm/Lists/TypedLists.h"
#include "cm/Packets/Packets.h"

namespace cm {

// ---- Fixed records ------------------------------------------------------------------------------

#pragma pack(push, 1)
// The operating system's version record (148 bytes, written raw).
struct TOSVersionRecord {
    uint32_t OSVersionInfoSize;
    uint32_t MajorVersion;
    uint32_t MinorVersion;
    uint32_t BuildNumber;
    uint32_t PlatformId;
    char CSDVersion[128];  // service-pack text, NUL-terminated
};

// A 64-bit file time as two 32-bit halves.
struct TFileTimeRecord {
    uint32_t LowDateTime;
    uint32_t HighDateTime;
};

// The file system's information record of an open file (52 bytes, written raw).
struct TFileInformationRecord {
    uint32_t FileAttributes;
    TFileTimeRecord CreationTime;
    TFileTimeRecord LastAccessTime;
    TFileTimeRecord LastWriteTime;
    uint32_t VolumeSerialNumber;
    uint32_t FileSizeHigh;
    uint32_t FileSizeLow;
    uint32_t NumberOfLinks;
    uint32_t FileIndexHigh;
    uint32_t FileIndexLow;
};
#pragma pack(pop)
static_assert(sizeof(TOSVersionRecord) == 148);
static_assert(sizeof(TFileInformationRecord) == 52);

// ---- Class identifiers ----------------------------------------------------------------------------

// The braced upper- or lower-case text of a GUID, parsed at compile time (malformed text does not
// compile).
consteval TGuid GuidFromText(const char (&text)[39]) {
    auto hex = [&](int at, int digits) {
        uint32_t value = 0;
        for (int i = at; i < at + digits; ++i) {
            const char c = text[i];
            const int digit = c >= '0' && c <= '9' ? c - '0'
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : throw "not a hex digit";
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        return value;
    };
    if (text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-' || text[37] != '}')
        throw "not a braced GUID";
    TGuid guid{hex(1, 8), static_cast<uint16_t>(hex(10, 4)), static_cast<uint16_t>(hex(15, 4)), {}};
    guid.D4[0] = static_cast<uint8_t>(hex(20, 2));
    guid.D4[1] = static_cast<uint8_t>(hex(22, 2));
    for (int i = 0; i < 6; ++i)
        guid.D4[2 + i] = static_cast<uint8_t>(hex(25 + 2 * i, 2));
    return guid;
}

// ---- Encodings ----------------------------------------------------------------------------------

namespace catalogue_fields {

template <TFieldCoding C, class T>
struct TEncoding {
    static constexpr TFieldCoding Coding = C;
    using Type = T;
};

using I1 = TEncoding<TFieldCoding::UInt8, uint8_t>;       // 8-bit number (percentages, levels, counts)
using I2 = TEncoding<TFieldCoding::UInt16, uint16_t>;     // 16-bit word
using I4 = TEncoding<TFieldCoding::Int32, int32_t>;
using I8 = TEncoding<TFieldCoding::Int64, int64_t>;
using Ic = TEncoding<TFieldCoding::CompactInt, int32_t>;  // never negative
using H = TEncoding<TFieldCoding::Handle, TPacketHandle>; // kernel handle, fixed field of 4 bytes
using B = TEncoding<TFieldCoding::Boolean, bool>;
using Real = TEncoding<TFieldCoding::Double, double>;
using DateTime = TEncoding<TFieldCoding::DateTime, double>;
using G = TEncoding<TFieldCoding::Guid, TGuid>;
using E1 = TEncoding<TFieldCoding::Fixed, uint8_t>;       // one-byte enumeration or set, fixed field
using E4 = TEncoding<TFieldCoding::Fixed, uint32_t>;      // flag word, fixed field of 4 bytes
using OSVersion = TEncoding<TFieldCoding::Record, TOSVersionRecord>;
using FileInfo = TEncoding<TFieldCoding::Record, TFileInformationRecord>;
using S = TEncoding<TFieldCoding::String, std::string>;
using W = TEncoding<TFieldCoding::WideString, std::u16string>;
using L = TEncoding<TFieldCoding::StringList, TStringListEx>;      // compact count, then the lines
using T = TEncoding<TFieldCoding::StringListText, TStringListEx>;  // the lines joined by CR LF, one string
using Blob = TEncoding<TFieldCoding::Blob, TVirtualStream>;
template <class Item>
using N = TEncoding<TFieldCoding::Packet, TNestedPacket<Item>>;    // nested packet, always present
template <class Item>
using Opt = TEncoding<TFieldCoding::OptionalPacket, TOptionalPacket<Item>>;
using Any = N<TPacket>;                                            // nested packet of any registered class
template <class List>
using P = TEncoding<TFieldCoding::PacketList, List>;
template <class List>
using M = TEncoding<TFieldCoding::RecordList, List>;               // typed record list, its own stream form

// A member's initial value: optional packets know their owner and field name, containers start
// empty with flags 0, everything else is zero.
template <class Member>
Member MakeMember(const TPacket* owner, const char* name) {
    if constexpr (std::is_constructible_v<Member, const TPacket*, const char*>)
        return Member(owner, name);
    else if constexpr (std::is_base_of_v<TCustomList, Member> || std::is_same_v<Member, TVirtualStream>)
        return Member(0);
    else
        return Member{};
}

}  // namespace catalogue_fields

// ---- The catalogue's index ------------------------------------------------------------------------

// A typed packet list of the catalogue.
struct TCatalogueList {
    const char* Name;
    const TPacketClass* ItemClass;
    std::unique_ptr<TCustomPacketList> (*Create)();
};

// One catalogue unit: its classes in declaration order (the order Initialize registers them in)
// and its list classes.
struct TCatalogueUnit {
    const char* Name;
    void (*Initialize)();
    std::vector<const TPacketClass*> Classes;
    std::vector<TCatalogueList> Lists;
};

// ---- Expansion ----------------------------------------------------------------------------------

#define CM_CATALOGUE_IGNORE_CLASS(Cls, Base, Fields)
#define CM_CATALOGUE_IGNORE_LIST(Item)
#define CM_CATALOGUE_IGNORE_FIELD(Enc, Name)

// Declarations (in namespace cm).
#define CM_CATALOGUE_DECLARE_CLASS(Cls, Base, Fields) \
    class Cls : public Base {                         \
        CM_PACKET_CLASS(Cls)                          \
        Fields                                        \
    };
#define CM_CATALOGUE_DECLARE_LIST(Item) using Item##List = TTypedPacketList<Item>;
#define CM_CATALOGUE_DECLARE_FIELD(Enc, Name) \
    ::cm::catalogue_fields::Enc::Type Name =  \
        ::cm::catalogue_fields::MakeMember<::cm::catalogue_fields::Enc::Type>(this, #Name);
#define CM_CATALOGUE_DECLARE(UNIT) UNIT(CM_CATALOGUE_DECLARE_CLASS, CM_CATALOGUE_DECLARE_LIST, CM_CATALOGUE_DECLARE_FIELD)

// Definitions (in namespace cm): each class's field table and class record, the unit's index and
// its start-up, which registers the classes in declaration order.
#define CM_CATALOGUE_DEFINE_FIELD(Enc, Name) ::cm::Field<::cm::catalogue_fields::Enc::Coding, &Self::Name>(#Name),
#define CM_CATALOGUE_DEFINE_CLASS(Cls, Base, Fields)                                                    \
    struct Cls##Table {                                                                                \
        using Self = Cls;                                                                              \
        static constexpr ::cm::TFieldDef Defs[] = {Fields};                                            \
    };                                                                                                 \
    const ::cm::TPacketClass Cls::Class{#Cls, ::cm::catalogue_guids::Cls, &::cm::TPacket::Class,      \
                                        Cls##Table::Defs, static_cast<int32_t>(std::size(Cls##Table::Defs)), \
                                        &Cls::CreateInstance};
#define CM_CATALOGUE_CLASS_ENTRY(Cls, Base, Fields) &Cls::Class,
#define CM_CATALOGUE_LIST_ENTRY(Item)                                                                 \
    ::cm::TCatalogueList{#Item "List", &Item::Class,                                                  \
                         []() -> std::unique_ptr<::cm::TCustomPacketList> { return std::make_unique<Item##List>(); }},
#define CM_CATALOGUE_DEFINE(UNIT, UnitName)                                                             \
    UNIT(CM_CATALOGUE_DEFINE_CLASS, CM_CATALOGUE_IGNORE_LIST, CM_CATALOGUE_DEFINE_FIELD)               \
    void Initialize##UnitName() {                                                                      \
        for (const ::cm::TPacketClass* cls : UnitName##Unit.Classes)                                   \
            ::cm::RegisterPacketClass(*cls);                                                           \
    }                                                                                                  \
    const ::cm::TCatalogueUnit UnitName##Unit{                                                         \
        #UnitName, &Initialize##UnitName,                                                              \
        {UNIT(CM_CATALOGUE_CLASS_ENTRY, CM_CATALOGUE_IGNORE_LIST, CM_CATALOGUE_IGNORE_FIELD)},         \
        {UNIT(CM_CATALOGUE_IGNORE_CLASS, CM_CATALOGUE_LIST_ENTRY, CM_CATALOGUE_IGNORE_FIELD)}};

}  // namespace cm
