// One constant table of operations per field coding, and the lookup from a coding to its table.
// The operations shared by several codings come first, by what the member is; the tables follow
// in the order of TFieldCoding.
#include "cm/Packets/FieldCodings.h"

#include <cstring>
#include <iterator>
#include <type_traits>

#include "cm/Objects/DateTime.h"
#include "cm/Objects/Strings.h"
#include "cm/Packets/FieldConversions.h"
#include "cm/Packets/PacketEngine.h"
#include "cm/StreamUtils/StreamUtils.h"

namespace cm {

namespace {

using namespace packet_engine;

template <class T>
T& As(void* member) {
    return *static_cast<T*>(member);
}
template <class T>
const T& As(const void* member) {
    return *static_cast<const T*>(member);
}

// ---- Shared operations --------------------------------------------------------------------------

// Members written as their bytes: N of them, or the member's size (records).
template <int32_t N>
void WriteRaw(const TFieldDef&, void* member, TStream& stream, TPacketWriteContext*) {
    stream.WriteBuffer(member, N);
}
template <int32_t N>
void ReadRaw(const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext*) {
    reader.Read(member, N);
}
void WriteSized(const TFieldDef& def, void* member, TStream& stream, TPacketWriteContext*) {
    stream.WriteBuffer(member, def.Size);
}
void ReadSized(const TFieldDef& def, void* member, TFieldReader& reader, TPacketReadContext*) {
    reader.Read(member, def.Size);
}
void ResetZero(const TFieldDef& def, void* member) {
    std::memset(member, 0, def.Size);
}
// Bytewise, so that a double keeps its exact bits (no trip through the FPU).
void CopyBytes(const TFieldDef& def, void* dest, void* source) {
    std::memcpy(dest, source, def.Size);
}
bool SameBytes(const TFieldDef& def, void* a, void* b) {
    return std::memcmp(a, b, def.Size) == 0;
}

// Members with a value type of their own.
template <class T>
void CopyValue(const TFieldDef&, void* dest, void* source) {
    As<T>(dest) = As<T>(source);
}
template <class T>
bool SameValue(const TFieldDef&, void* a, void* b) {
    return As<T>(a) == As<T>(b);
}

// Containers that copy themselves, compare themselves and empty themselves.
template <class T>
void ClearContainer(const TFieldDef&, void* member) {
    As<T>(member).Clear();
}
template <class T>
void AssignContainer(const TFieldDef&, void* dest, void* source) {
    As<T>(dest).Assign(As<T>(source));
}
template <class T>
bool SameContainer(const TFieldDef&, void* a, void* b) {
    return As<T>(a).Equals(As<T>(b));
}

int NoText(const TFieldDef&, void*, std::string&) {
    return 0;
}
int EmptyText(const TFieldDef&, void*, std::string& text) {
    text.clear();
    return 1;
}

// ---- Accessor sets, one per kind ----------------------------------------------------------------

template <class T>
struct TIntegerAccessors {
    // The text a member takes: 64-bit members any 64-bit value, unsigned 32-bit ones up to their
    // maximum, every other member the 32-bit range (whose low bits it keeps, as when set from an
    // integer).
    static constexpr int64_t TextLow = std::is_same_v<T, int64_t> ? INT64_MIN : INT32_MIN;
    static constexpr int64_t TextHigh = std::is_same_v<T, int64_t>    ? INT64_MAX
                                        : std::is_same_v<T, uint32_t> ? int64_t{UINT32_MAX}
                                                                      : INT32_MAX;
    static int64_t Get(const void* member) { return As<T>(member); }
    static void Set(void* member, int64_t value) { As<T>(member) = static_cast<T>(value); }
    static std::string GetString(const void* member) { return std::to_string(Get(member)); }
    static void SetString(void* member, const std::string& text) { Set(member, ParseInteger(text, TextLow, TextHigh)); }
    static double GetDouble(const void* member) { return static_cast<double>(Get(member)); }
    static void SetDouble(void* member, double value) { Set(member, RoundHalfEven(value)); }
};
template <class T>
constexpr TFieldAccess IntegerAccess{
    .Kind = fkInteger, .ObjectType = TFieldObjectType::None,
    .GetInteger = &TIntegerAccessors<T>::Get, .SetInteger = &TIntegerAccessors<T>::Set,
    .GetString = &TIntegerAccessors<T>::GetString, .SetString = &TIntegerAccessors<T>::SetString,
    .GetDouble = &TIntegerAccessors<T>::GetDouble, .SetDouble = &TIntegerAccessors<T>::SetDouble,
    .GetObject = nullptr};

constexpr TFieldAccess BooleanAccess{
    .Kind = fkBoolean, .ObjectType = TFieldObjectType::None,
    .GetInteger = [](const void* member) -> int64_t { return As<bool>(member) ? 1 : 0; },
    .SetInteger = [](void* member, int64_t value) { As<bool>(member) = value != 0; },
    .GetString = [](const void* member) -> std::string { return As<bool>(member) ? "True" : "False"; },
    .SetString = [](void* member, const std::string& text) { As<bool>(member) = SameTextAscii(text, "True"); },
    .GetDouble = nullptr, .SetDouble = nullptr, .GetObject = nullptr};

constexpr TFieldAccess FloatAccess{
    .Kind = fkFloat, .ObjectType = TFieldObjectType::None,
    .GetInteger = nullptr, .SetInteger = nullptr,
    .GetString = [](const void* member) { return GeneralFloat4(As<double>(member)); },
    .SetString = [](void* member, const std::string& text) { As<double>(member) = ParseFloat(text); },
    .GetDouble = [](const void* member) { return As<double>(member); },
    .SetDouble = [](void* member, double value) { As<double>(member) = value; },
    .GetObject = nullptr};

constexpr TFieldAccess StringAccess{
    .Kind = fkString, .ObjectType = TFieldObjectType::None,
    .GetInteger = nullptr, .SetInteger = nullptr,
    .GetString = [](const void* member) { return As<std::string>(member); },
    .SetString = [](void* member, const std::string& text) { As<std::string>(member) = text; },
    .GetDouble = nullptr, .SetDouble = nullptr, .GetObject = nullptr};

// 8-bit text through the system's code page (WideToNarrow).
constexpr TFieldAccess WideStringAccess{
    .Kind = fkString, .ObjectType = TFieldObjectType::None,
    .GetInteger = nullptr, .SetInteger = nullptr,
    .GetString = [](const void* member) { return WideToNarrow(As<std::u16string>(member)); },
    .SetString = [](void* member, const std::string& text) { As<std::u16string>(member) = NarrowToWide(text); },
    .GetDouble = nullptr, .SetDouble = nullptr, .GetObject = nullptr};

// The member is the object.
template <TFieldObjectType Type>
constexpr TFieldAccess ObjectAccess{
    .Kind = fkObject, .ObjectType = Type,
    .GetInteger = nullptr, .SetInteger = nullptr, .GetString = nullptr, .SetString = nullptr,
    .GetDouble = nullptr, .SetDouble = nullptr,
    .GetObject = [](void* member) { return member; }};

// The member owns the object (nested packets).
constexpr TFieldAccess OwnedPacketAccess{
    .Kind = fkObject, .ObjectType = TFieldObjectType::Packet,
    .GetInteger = nullptr, .SetInteger = nullptr, .GetString = nullptr, .SetString = nullptr,
    .GetDouble = nullptr, .SetDouble = nullptr,
    .GetObject = [](void* member) -> void* { return As<std::unique_ptr<TPacket>>(member).get(); }};

// Enumerations, sets, GUIDs and records: no conversion.
constexpr TFieldAccess NoAccess{
    .Kind = fkOther, .ObjectType = TFieldObjectType::None,
    .GetInteger = nullptr, .SetInteger = nullptr, .GetString = nullptr, .SetString = nullptr,
    .GetDouble = nullptr, .SetDouble = nullptr, .GetObject = nullptr};

// ---- Integers, booleans, floats -----------------------------------------------------------------

template <class T>
void ResetInteger(const TFieldDef& def, void* member) {
    As<T>(member) = static_cast<T>(def.DefaultInt);
}
template <class T>
int IntegerText(const TFieldDef&, void* member, std::string& text) {
    text = std::to_string(static_cast<int64_t>(As<T>(member)));
    return 1;
}

// Integers of their natural width, little-endian.
template <TFieldCoding C, class T>
constexpr TFieldCodingOps FixedWidthIntegerOps() {
    return {.Coding = C,
            .Write = WriteRaw<sizeof(T)>, .Read = ReadRaw<sizeof(T)>, .Reset = ResetInteger<T>,
            .Copy = CopyBytes, .Same = SameBytes, .Text = IntegerText<T>, .Access = IntegerAccess<T>};
}

constexpr TFieldCodingOps Int8Ops = FixedWidthIntegerOps<TFieldCoding::Int8, int8_t>();
constexpr TFieldCodingOps UInt8Ops = FixedWidthIntegerOps<TFieldCoding::UInt8, uint8_t>();
constexpr TFieldCodingOps Int16Ops = FixedWidthIntegerOps<TFieldCoding::Int16, int16_t>();
constexpr TFieldCodingOps UInt16Ops = FixedWidthIntegerOps<TFieldCoding::UInt16, uint16_t>();
constexpr TFieldCodingOps Int32Ops = FixedWidthIntegerOps<TFieldCoding::Int32, int32_t>();
constexpr TFieldCodingOps UInt32Ops = FixedWidthIntegerOps<TFieldCoding::UInt32, uint32_t>();
constexpr TFieldCodingOps Int64Ops = FixedWidthIntegerOps<TFieldCoding::Int64, int64_t>();

// int32 >= 0 as a compact integer (a negative value is an assertion of WriteCompactInt).
constexpr TFieldCodingOps CompactIntOps{
    .Coding = TFieldCoding::CompactInt,
    .Write = [](const TFieldDef&, void* member, TStream& stream, TPacketWriteContext*) {
        WriteCompactInt(stream, As<int32_t>(member));
    },
    .Read = [](const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext*) {
        As<int32_t>(member) = reader.ReadCompactInt();
    },
    .Reset = ResetInteger<int32_t>, .Copy = CopyBytes, .Same = SameBytes, .Text = IntegerText<int32_t>,
    .Access = IntegerAccess<int32_t>};

// A kernel handle as a fixed field of 4 bytes (byte count 4, then the low 32 bits), read back
// sign-extended. Integer access sees the 32-bit value, sign-extended when set.
struct THandleAccessors {
    static int64_t Get(const void* member) { return As<TPacketHandle>(member); }
    static void Set(void* member, int64_t value) {
        As<TPacketHandle>(member) = static_cast<TPacketHandle>(static_cast<int32_t>(value));
    }
    static std::string GetString(const void* member) { return std::to_string(Get(member)); }
    static void SetString(void* member, const std::string& text) { Set(member, ParseInteger(text, INT32_MIN, INT32_MAX)); }
    static double GetDouble(const void* member) { return static_cast<double>(Get(member)); }
    static void SetDouble(void* member, double value) { Set(member, RoundHalfEven(value)); }
};
constexpr int32_t HandleWireSize = 4;

constexpr TFieldCodingOps HandleOps{
    .Coding = TFieldCoding::Handle,
    .Write = [](const TFieldDef&, void* member, TStream& stream, TPacketWriteContext*) {
        const int32_t value = static_cast<int32_t>(As<TPacketHandle>(member));
        WriteFixed(stream, &value, HandleWireSize);
    },
    .Read = [](const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext*) {
        int32_t value;
        reader.ReadFixed(&value, HandleWireSize);
        As<TPacketHandle>(member) = value;
    },
    .Reset = ResetInteger<TPacketHandle>, .Copy = CopyBytes, .Same = SameBytes, .Text = IntegerText<TPacketHandle>,
    .Access = {.Kind = fkInteger, .ObjectType = TFieldObjectType::None,
               .GetInteger = &THandleAccessors::Get, .SetInteger = &THandleAccessors::Set,
               .GetString = &THandleAccessors::GetString, .SetString = &THandleAccessors::SetString,
               .GetDouble = &THandleAccessors::GetDouble, .SetDouble = &THandleAccessors::SetDouble,
               .GetObject = nullptr}};

// One byte, 0 or 1; any non-zero byte reads as true.
constexpr TFieldCodingOps BooleanOps{
    .Coding = TFieldCoding::Boolean,
    .Write = [](const TFieldDef&, void* member, TStream& stream, TPacketWriteContext*) {
        WriteByte(stream, As<bool>(member) ? 1 : 0);
    },
    .Read = [](const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext*) {
        As<bool>(member) = reader.ReadValue<uint8_t>() != 0;
    },
    .Reset = [](const TFieldDef& def, void* member) { As<bool>(member) = def.DefaultInt != 0; },
    .Copy = CopyValue<bool>, .Same = SameValue<bool>,
    .Text = [](const TFieldDef&, void* member, std::string& text) {
        text = As<bool>(member) ? "True" : "False";
        return 1;
    },
    .Access = BooleanAccess};

void ResetFloat(const TFieldDef&, void* member) {
    As<double>(member) = 0;
}

constexpr TFieldCodingOps DoubleOps{
    .Coding = TFieldCoding::Double,
    .Write = WriteRaw<8>, .Read = ReadRaw<8>, .Reset = ResetFloat, .Copy = CopyBytes, .Same = SameValue<double>,
    .Text = [](const TFieldDef&, void* member, std::string& text) {
        text = GeneralFloat15(As<double>(member));
        return 1;
    },
    .Access = FloatAccess};

// Days since 30 December 1899; the text form is the runtime's date and time.
constexpr TFieldCodingOps DateTimeOps{
    .Coding = TFieldCoding::DateTime,
    .Write = WriteRaw<8>, .Read = ReadRaw<8>, .Reset = ResetFloat, .Copy = CopyBytes, .Same = SameValue<double>,
    .Text = [](const TFieldDef&, void* member, std::string& text) {
        text = DateTimeToText(As<double>(member));
        return 1;
    },
    .Access = FloatAccess};

// ---- Raw members --------------------------------------------------------------------------------

// Enumerations and sets: byte count n (the member's size), then the n bytes; a stored count that
// differs is read as ReadFixed describes.
constexpr TFieldCodingOps FixedOps{
    .Coding = TFieldCoding::Fixed,
    .Write = [](const TFieldDef& def, void* member, TStream& stream, TPacketWriteContext*) {
        WriteFixed(stream, member, def.Size);
    },
    .Read = [](const TFieldDef& def, void* member, TFieldReader& reader, TPacketReadContext*) {
        reader.ReadFixed(member, def.Size);
    },
    .Reset = ResetZero, .Copy = CopyBytes, .Same = SameBytes, .Text = NoText, .Access = NoAccess};

constexpr TFieldCodingOps GuidOps{
    .Coding = TFieldCoding::Guid,
    .Write = WriteRaw<sizeof(TGuid)>, .Read = ReadRaw<sizeof(TGuid)>, .Reset = ResetZero, .Copy = CopyBytes,
    .Same = SameBytes,
    .Text = [](const TFieldDef&, void* member, std::string& text) {
        text = GuidToString(As<TGuid>(member));
        return 1;
    },
    .Access = NoAccess};

constexpr TFieldCodingOps RecordOps{
    .Coding = TFieldCoding::Record,
    .Write = WriteSized, .Read = ReadSized, .Reset = ResetZero, .Copy = CopyBytes, .Same = SameBytes,
    .Text = NoText, .Access = NoAccess};

// ---- Strings ------------------------------------------------------------------------------------

constexpr TFieldCodingOps StringOps{
    .Coding = TFieldCoding::String,
    .Write = [](const TFieldDef&, void* member, TStream& stream, TPacketWriteContext*) {
        WriteString(stream, As<std::string>(member));
    },
    .Read = [](const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext*) {
        As<std::string>(member) = reader.ReadString();
    },
    .Reset = [](const TFieldDef& def, void* member) {
        As<std::string>(member) = def.DefaultText ? def.DefaultText : "";
    },
    .Copy = CopyValue<std::string>, .Same = SameValue<std::string>,
    .Text = [](const TFieldDef&, void* member, std::string& text) {
        text = QuotedText(As<std::string>(member));
        return 1;
    },
    .Access = StringAccess};

// UTF-16 on the wire; 8-bit text through the system's code page (WideToNarrow).
constexpr TFieldCodingOps WideStringOps{
    .Coding = TFieldCoding::WideString,
    .Write = [](const TFieldDef&, void* member, TStream& stream, TPacketWriteContext*) {
        WriteWideString(stream, As<std::u16string>(member), true);
    },
    .Read = [](const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext*) {
        As<std::u16string>(member) = reader.ReadWideString();
    },
    .Reset = [](const TFieldDef&, void* member) { As<std::u16string>(member).clear(); },
    .Copy = CopyValue<std::u16string>, .Same = SameValue<std::u16string>,
    .Text = [](const TFieldDef&, void* member, std::string& text) {
        text = QuotedText(WideToNarrow(As<std::u16string>(member)));
        return 1;
    },
    .Access = WideStringAccess};

// ---- Owned objects ------------------------------------------------------------------------------

bool SameStringLists(const TFieldDef&, void* a, void* b) {
    const auto& x = As<TStringListEx>(a);
    const auto& y = As<TStringListEx>(b);
    if (x.Count() != y.Count())
        return false;
    for (int32_t i = 0; i < x.Count(); ++i)
        if (x[i] != y[i])
            return false;
    return true;
}

// Compact count, then each line as a string.
constexpr TFieldCodingOps StringListOps{
    .Coding = TFieldCoding::StringList,
    .Write = [](const TFieldDef&, void* member, TStream& stream, TPacketWriteContext*) {
        WriteStringList(stream, As<TStringListEx>(member));
    },
    .Read = [](const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext*) {
        reader.ReadStringList(As<TStringListEx>(member));
    },
    .Reset = ClearContainer<TStringListEx>, .Copy = AssignContainer<TStringListEx>, .Same = SameStringLists,
    .Text = EmptyText, .Access = ObjectAccess<TFieldObjectType::Strings>};

// The whole text (lines joined by CR LF) as one string.
constexpr TFieldCodingOps StringListTextOps{
    .Coding = TFieldCoding::StringListText,
    .Write = [](const TFieldDef&, void* member, TStream& stream, TPacketWriteContext*) {
        WriteString(stream, As<TStringListEx>(member).Text());
    },
    .Read = [](const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext*) {
        As<TStringListEx>(member).SetText(reader.ReadString());
    },
    .Reset = ClearContainer<TStringListEx>, .Copy = AssignContainer<TStringListEx>, .Same = SameStringLists,
    .Text = EmptyText, .Access = ObjectAccess<TFieldObjectType::Strings>};

// int32 length (a compact integer in the compact form), then the bytes.
constexpr TFieldCodingOps BlobOps{
    .Coding = TFieldCoding::Blob,
    .Write = [](const TFieldDef&, void* member, TStream& stream, TPacketWriteContext* context) {
        WriteStreamField(stream, As<TVirtualStream>(member), context != nullptr);
    },
    .Read = [](const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext* context) {
        reader.ReadBlob(As<TVirtualStream>(member), context != nullptr);
    },
    .Reset = ClearContainer<TVirtualStream>, .Copy = AssignContainer<TVirtualStream>,
    .Same = SameContainer<TVirtualStream>,
    .Text = [](const TFieldDef&, void* member, std::string& text) {
        text = "(size = " + std::to_string(As<TVirtualStream>(member).Size()) + ")";
        return 1;
    },
    .Access = ObjectAccess<TFieldObjectType::Stream>};

// Nested packets: the member owns the packet (a unique_ptr).
std::unique_ptr<TPacket>& Owned(void* member) {
    return As<std::unique_ptr<TPacket>>(member);
}

// A field whose item class is TPacket holds a packet of any registered class.
bool AnyClass(const TFieldDef& def) {
    return def.ItemClass == &TPacket::Class;
}

// A missing member of an always-present nested packet is written, and compared, as a default
// packet of the item class: the member is never required to exist.
void SaveNested(const TFieldDef& def, TPacket* nested, TStream& stream, TPacketWriteContext* context) {
    if (nested) {
        nested->SaveToStream(stream, context, 0);
        return;
    }
    std::unique_ptr<TPacket> standIn(def.ItemClass->Construct());
    standIn->SaveToStream(stream, context, 0);
}

// Reads a complete nested packet into nested. A field of one item class reads into the member,
// creating it (charged to the read's build budget) when there is none; a field of any class
// replaces the member by the packet the stream names, as CreateFromStream does. The nested read
// stays within the reader's limit.
void ReadNested(const TFieldDef& def, std::unique_ptr<TPacket>& nested, TFieldReader& reader,
                TPacketReadContext* context) {
    const int64_t limit = reader.SyncOut();
    if (AnyClass(def)) {
        nested = ReadPacket(reader.Stream(), context, nullptr, limit, reader.Depth() + 1);
    } else {
        if (!nested) {
            ChargeBuild(*def.ItemClass);
            nested.reset(def.ItemClass->Construct());
        }
        ReadPacket(reader.Stream(), context, nested.get(), limit, reader.Depth() + 1);
    }
    reader.SyncIn();
}

void CopyNested(const TFieldDef&, void* dest, void* source) {
    AssignNestedPacket(Owned(dest), Owned(source).get());
}

bool SameNested(const TFieldDef&, void* a, void* b) {
    auto& x = Owned(a);
    auto& y = Owned(b);
    return (!x && !y) || (x && y && x->Equals(*y));
}

// As SameNested, a missing member standing for a default packet of the item class.
bool SameNestedPresent(const TFieldDef& def, void* a, void* b) {
    auto& x = Owned(a);
    auto& y = Owned(b);
    if (x && y)
        return x->Equals(*y);
    if (!x && !y)
        return true;
    std::unique_ptr<TPacket> standIn(def.ItemClass->Construct());
    return standIn->Equals(x ? *x : *y);
}

// The nested packet's dump lines, each ending CR LF, and an empty line; "(null)" for none.
int NestedText(const TFieldDef&, void* member, std::string& text) {
    TPacket* nested = Owned(member).get();
    if (!nested) {
        text = "(null)";
        return 1;
    }
    text.clear();
    for (const std::string& line : nested->DumpLines())
        text += line + "\r\n";
    text += "\r\n";
    return 2;
}

// Always present: a complete nested packet (full form, or compact with a context).
constexpr TFieldCodingOps PacketOps{
    .Coding = TFieldCoding::Packet,
    .Write = [](const TFieldDef& def, void* member, TStream& stream, TPacketWriteContext* context) {
        SaveNested(def, Owned(member).get(), stream, context);
    },
    .Read = [](const TFieldDef& def, void* member, TFieldReader& reader, TPacketReadContext* context) {
        ReadNested(def, Owned(member), reader, context);
    },
    .Reset = [](const TFieldDef& def, void* member) {
        auto& nested = Owned(member);
        if (nested)
            nested->Clear();
        else if (def.ItemClass && def.ItemClass->Construct)
            nested.reset(def.ItemClass->Construct());
    },
    .Copy = CopyNested, .Same = SameNestedPresent, .Text = NestedText, .Access = OwnedPacketAccess};

// A presence byte (0 or 1; anything else is refused), then the packet when present. Clear
// clears a present member without freeing it, so that the packet still writes presence 1.
constexpr TFieldCodingOps OptionalPacketOps{
    .Coding = TFieldCoding::OptionalPacket,
    .Write = [](const TFieldDef& def, void* member, TStream& stream, TPacketWriteContext* context) {
        TPacket* nested = Owned(member).get();
        WriteByte(stream, nested ? 1 : 0);
        if (nested)
            SaveNested(def, nested, stream, context);
    },
    .Read = [](const TFieldDef& def, void* member, TFieldReader& reader, TPacketReadContext* context) {
        const uint8_t present = reader.ReadValue<uint8_t>();
        if (present > 1)
            throw EPacketError(Format("Invalid packet data in %s: presence byte %d", {reader.FieldText(), present}));
        if (present)
            ReadNested(def, Owned(member), reader, context);
        else
            Owned(member).reset();
    },
    .Reset = [](const TFieldDef&, void* member) {
        if (auto& nested = Owned(member))
            nested->Clear();
    },
    .Copy = CopyNested, .Same = SameNested, .Text = NestedText, .Access = OwnedPacketAccess};

// int32 count, then the packets (any registered class).
constexpr TFieldCodingOps PacketListOps{
    .Coding = TFieldCoding::PacketList,
    .Write = [](const TFieldDef&, void* member, TStream& stream, TPacketWriteContext* context) {
        As<TCustomPacketList>(member).SaveToStream(stream, context);
    },
    .Read = [](const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext* context) {
        ReadPacketList(reader, As<TCustomPacketList>(member), context);
        reader.SyncIn();
    },
    .Reset = ClearContainer<TCustomPacketList>, .Copy = AssignContainer<TCustomPacketList>,
    .Same = SameContainer<TCustomPacketList>,
    .Text = [](const TFieldDef&, void* member, std::string& text) {
        text = As<TCustomPacketList>(member).DumpText();
        return 2;
    },
    .Access = ObjectAccess<TFieldObjectType::PacketList>};

// The list's own stream form, read through the stream within the reader's limit.
constexpr TFieldCodingOps RecordListOps{
    .Coding = TFieldCoding::RecordList,
    .Write = [](const TFieldDef&, void* member, TStream& stream, TPacketWriteContext*) {
        As<TCustomList>(member).SaveToStream(stream);
    },
    .Read = [](const TFieldDef&, void* member, TFieldReader& reader, TPacketReadContext*) {
        reader.SyncOut();
        As<TCustomList>(member).LoadFromStream(reader.Stream());
        reader.SyncIn();
    },
    .Reset = ClearContainer<TCustomList>,
    .Copy = [](const TFieldDef&, void* dest, void* source) {
        As<TCustomList>(dest).AssignList(As<TCustomList>(source));
    },
    .Same = SameContainer<TCustomList>, .Text = EmptyText, .Access = ObjectAccess<TFieldObjectType::List>};

// ---- The lookup ---------------------------------------------------------------------------------

// Indexed by TFieldCoding.
constexpr const TFieldCodingOps* CodingTables[] = {
    &Int8Ops, &UInt8Ops, &Int16Ops, &UInt16Ops, &Int32Ops, &UInt32Ops, &Int64Ops, &CompactIntOps, &HandleOps,
    &BooleanOps, &DoubleOps, &DateTimeOps,
    &FixedOps, &GuidOps, &RecordOps,
    &StringOps, &WideStringOps,
    &StringListOps, &StringListTextOps, &BlobOps, &PacketOps, &OptionalPacketOps, &PacketListOps, &RecordListOps,
};

constexpr bool TablesInEnumerationOrder() {
    for (size_t i = 0; i < std::size(CodingTables); ++i)
        if (static_cast<size_t>(CodingTables[i]->Coding) != i)
            return false;
    return true;
}
static_assert(TablesInEnumerationOrder(), "CodingTables must list the tables in the order of TFieldCoding");

}  // namespace

const TFieldCodingOps& CodingOps(TFieldCoding coding) {
    const auto index = static_cast<size_t>(coding);
    CM_ASSERT(PacketsUnit, index < std::size(CodingTables));
    return *CodingTables[index];
}

}  // namespace cm
