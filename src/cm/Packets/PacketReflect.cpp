// The reflective side of packets, driven by the field tables: defaults, copying, comparison,
// typed access with its conversions, text forms and the dump.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cm/Objects/DateTime.h"
#include "cm/Objects/Strings.h"
#include "cm/Packets/PacketEngine.h"

namespace cm {

namespace {

// Calls fn(def, member) for every field of the packet's class, in index order.
template <class Fn>
void ForEachField(TPacket& packet, Fn&& fn) {
    const TPacketClass& cls = packet.ClassType();
    for (int32_t i = 0, n = cls.FieldCount(); i < n; ++i) {
        const TFieldDef& def = *cls.FieldDef(i);
        fn(i, def, def.Locate(packet));
    }
}

template <class T>
T& As(void* member) {
    return *static_cast<T*>(member);
}

TPacket& Mutable(const TPacket& packet) {
    return const_cast<TPacket&>(packet);
}

void ResetField(const TFieldDef& def, void* member) {
    switch (def.Coding) {
        using enum TFieldCoding;
        case Int8: As<int8_t>(member) = static_cast<int8_t>(def.DefaultInt); break;
        case UInt8: As<uint8_t>(member) = static_cast<uint8_t>(def.DefaultInt); break;
        case Int16: As<int16_t>(member) = static_cast<int16_t>(def.DefaultInt); break;
        case UInt16: As<uint16_t>(member) = static_cast<uint16_t>(def.DefaultInt); break;
        case Int32: case CompactInt: As<int32_t>(member) = static_cast<int32_t>(def.DefaultInt); break;
        case UInt32: As<uint32_t>(member) = static_cast<uint32_t>(def.DefaultInt); break;
        case Int64: As<int64_t>(member) = def.DefaultInt; break;
        case Boolean: As<bool>(member) = def.DefaultInt != 0; break;
        case Double: case DateTime: As<double>(member) = 0; break;
        case Fixed: case Guid: case Record: std::memset(member, 0, def.Size); break;
        case String: As<std::string>(member) = def.DefaultText ? def.DefaultText : ""; break;
        case WideString: As<std::u16string>(member).clear(); break;
        case StringList: case StringListText: As<TStringListEx>(member).Clear(); break;
        case Blob: As<TVirtualStream>(member).Clear(); break;
        case Packet: {
            auto& nested = As<std::unique_ptr<TPacket>>(member);
            if (nested)
                nested->Clear();
            else if (def.ItemClass && def.ItemClass->Construct)
                nested.reset(def.ItemClass->Construct());
            break;
        }
        case OptionalPacket: As<std::unique_ptr<TPacket>>(member).reset(); break;
        case PacketList: As<TCustomPacketList>(member).Clear(); break;
        case RecordList: As<TCustomList>(member).Clear(); break;
    }
}

void CopyField(const TFieldDef& def, void* dest, void* source) {
    switch (def.Coding) {
        using enum TFieldCoding;
        case Int8: case UInt8: case Int16: case UInt16: case Int32: case UInt32: case Int64: case CompactInt:
        case Double: case DateTime: case Fixed: case Guid: case Record:
            std::memcpy(dest, source, def.Size);
            break;
        case Boolean: As<bool>(dest) = As<bool>(source); break;
        case String: As<std::string>(dest) = As<std::string>(source); break;
        case WideString: As<std::u16string>(dest) = As<std::u16string>(source); break;
        case StringList: case StringListText: As<TStringListEx>(dest).Assign(As<TStringListEx>(source)); break;
        case Blob: As<TVirtualStream>(dest).Assign(As<TVirtualStream>(source)); break;
        case Packet: case OptionalPacket: {
            auto& from = As<std::unique_ptr<TPacket>>(source);
            auto& to = As<std::unique_ptr<TPacket>>(dest);
            if (!from)
                to.reset();
            else if (to && &to->ClassType() == &from->ClassType())
                to->Assign(*from);
            else
                to = from->Clone();
            break;
        }
        case PacketList: As<TCustomPacketList>(dest).Assign(As<TCustomPacketList>(source)); break;
        case RecordList: As<TCustomList>(dest).AssignList(As<TCustomList>(source)); break;
    }
}

bool SameStringLists(const TStringListEx& a, const TStringListEx& b) {
    if (a.Count() != b.Count())
        return false;
    for (int32_t i = 0; i < a.Count(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

bool SameField(const TFieldDef& def, void* a, void* b) {
    switch (def.Coding) {
        using enum TFieldCoding;
        case Double: case DateTime: return As<double>(a) == As<double>(b);
        case Boolean: return As<bool>(a) == As<bool>(b);
        case Int8: case UInt8: case Int16: case UInt16: case Int32: case UInt32: case Int64: case CompactInt:
        case Fixed: case Guid: case Record:
            return std::memcmp(a, b, def.Size) == 0;
        case String: return As<std::string>(a) == As<std::string>(b);
        case WideString: return As<std::u16string>(a) == As<std::u16string>(b);
        case StringList: case StringListText: return SameStringLists(As<TStringListEx>(a), As<TStringListEx>(b));
        case Blob: return As<TVirtualStream>(a).Equals(As<TVirtualStream>(b));
        case Packet: case OptionalPacket: {
            auto& x = As<std::unique_ptr<TPacket>>(a);
            auto& y = As<std::unique_ptr<TPacket>>(b);
            return (!x && !y) || (x && y && x->Equals(*y));
        }
        case PacketList: return As<TCustomPacketList>(a).Equals(As<TCustomPacketList>(b));
        case RecordList: return As<TCustomList>(a).Equals(As<TCustomList>(b));
    }
    return false;
}

// ---- Conversions -------------------------------------------------------------------------------

// The integer value of an integer member, widened.
int64_t IntegerOf(const TFieldDef& def, void* member) {
    switch (def.Coding) {
        using enum TFieldCoding;
        case Int8: return As<int8_t>(member);
        case UInt8: return As<uint8_t>(member);
        case Int16: return As<int16_t>(member);
        case UInt16: return As<uint16_t>(member);
        case Int32: case CompactInt: return As<int32_t>(member);
        case UInt32: return As<uint32_t>(member);
        case Int64: return As<int64_t>(member);
        default: return 0;
    }
}

// Stores the value's low bits in the member.
void SetIntegerOf(const TFieldDef& def, void* member, int64_t value) {
    switch (def.Coding) {
        using enum TFieldCoding;
        case Int8: As<int8_t>(member) = static_cast<int8_t>(value); break;
        case UInt8: As<uint8_t>(member) = static_cast<uint8_t>(value); break;
        case Int16: As<int16_t>(member) = static_cast<int16_t>(value); break;
        case UInt16: As<uint16_t>(member) = static_cast<uint16_t>(value); break;
        case Int32: case CompactInt: As<int32_t>(member) = static_cast<int32_t>(value); break;
        case UInt32: As<uint32_t>(member) = static_cast<uint32_t>(value); break;
        case Int64: As<int64_t>(member) = value; break;
        default: break;
    }
}

// The runtime's integer parsing: optional sign, decimal digits or hex after "$" / "0x", within
// what the member can take: a 64-bit member any 64-bit value, an unsigned 32-bit one up to its
// maximum, every other member the 32-bit range (whose low bits it keeps, as when set from an
// integer). Raises "'%s' is not a valid integer value" beyond that.
int64_t ParseInteger(const std::string& text, TFieldCoding coding) {
    if (text.empty())
        return 0;
    int32_t value32;
    if (TryParseInt(text, value32))
        return value32;
    if (coding != TFieldCoding::Int64 && coding != TFieldCoding::UInt32)
        throw Exception(Format("'%s' is not a valid integer value", {text}));
    // Wider values: plain decimal.
    const std::string trimmed = TrimText(text);
    int64_t value64;
    const char* end = trimmed.data() + trimmed.size();
    const char* first = trimmed.data() + (!trimmed.empty() && trimmed[0] == '+' ? 1 : 0);
    auto [ptr, ec] = std::from_chars(first, end, value64);
    if (ec == std::errc() && ptr == end && first != end &&
        (coding == TFieldCoding::Int64 || (value64 >= INT32_MIN && value64 <= static_cast<int64_t>(UINT32_MAX))))
        return value64;
    throw Exception(Format("'%s' is not a valid integer value", {text}));
}

double ParseFloat(const std::string& text) {
    const std::string trimmed = TrimText(text);
    const char* end = trimmed.data() + trimmed.size();
    const char* first = trimmed.data() + (!trimmed.empty() && trimmed[0] == '+' ? 1 : 0);
    double value;
    auto [ptr, ec] = std::from_chars(first, end, value);
    if (ec != std::errc() || ptr != end || first == end || !std::isfinite(value))
        throw Exception(Format("'%s' is not a valid floating point value", {text}));
    return value;
}

// Rounded to the nearest integer, halves to even.
int64_t RoundHalfEven(double value) {
    if (!(std::fabs(value) < 9.2e18))
        throw Exception(Format("'%s' is not a valid integer value", {DateTimeToText(value)}));
    double rounded = std::round(value);
    if (std::fabs(value - std::trunc(value)) == 0.5 && std::fmod(rounded, 2.0) != 0)
        rounded -= value < 0 ? -1 : 1;
    return static_cast<int64_t>(rounded);
}

// The runtime's general number format with 4 significant digits.
std::string GeneralFloat4(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.4G", value);
    return text;
}

std::string GeneralFloat15(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15G", value);
    return text;
}

std::string Quoted(std::string text) {
    for (char& c : text)
        if (c == '\0')
            c = ' ';
    return "'" + text + "'";
}

}  // namespace

// ---- Construction, copying, comparison -----------------------------------------------------------

void TPacket::InitPacket() {
    const TPacketClass& cls = ClassType();
    ++cls.Instances;
    ForEachField(*this, [](int32_t, const TFieldDef& def, void* member) { ResetField(def, member); });
}

void TPacket::DonePacket() noexcept {
    --ClassType().Instances;
}

void TPacket::Clear() {
    ForEachField(*this, [](int32_t, const TFieldDef& def, void* member) { ResetField(def, member); });
}

void TPacket::Assign(const TPacket& source) {
    if (&source == this)
        return;
    if (!source.ClassType().InheritsFrom(ClassType()))
        RaiseInvalidCast();
    TPacket& from = Mutable(source);
    ForEachField(*this, [&](int32_t, const TFieldDef& def, void* member) { CopyField(def, member, def.Locate(from)); });
}

void TPacket::DuplicateHandles(uintptr_t, uintptr_t) {}

std::unique_ptr<TPacket> TPacket::Clone() const {
    const TPacketClass& cls = ClassType();
    CM_ASSERT(PacketsUnit, cls.Construct != nullptr);
    std::unique_ptr<TPacket> copy(cls.Construct());
    copy->Assign(*this);
    return copy;
}

bool TPacket::Equals(const TPacket& other) const {
    if (&other == this)
        return true;
    if (!(other.ClassType().Guid == ClassType().Guid))
        return false;
    if (!other.ClassType().InheritsFrom(ClassType()))
        return false;
    TPacket& self = Mutable(*this);
    TPacket& that = Mutable(other);
    const TPacketClass& cls = ClassType();
    for (int32_t i = 0, n = cls.FieldCount(); i < n; ++i) {
        const TFieldDef& def = *cls.FieldDef(i);
        if (!SameField(def, def.Locate(self), def.Locate(that)))
            return false;
    }
    return true;
}

bool TPacket::CompareFields(const TPacket& other, const TFieldDifference& onDifference) const {
    if (&other == this)
        return true;
    if (!(other.ClassType().Guid == ClassType().Guid)) {
        if (onDifference)
            onDifference(-1);
        if (!other.ClassType().InheritsFrom(ClassType()))
            RaiseInvalidCast();
        return false;
    }
    if (!other.ClassType().InheritsFrom(ClassType()))
        RaiseInvalidCast();
    bool same = true;
    ForEachField(Mutable(*this), [&](int32_t index, const TFieldDef& def, void* member) {
        if (!SameField(def, member, def.Locate(Mutable(other)))) {
            same = false;
            if (onDifference)
                onDifference(index);
        }
    });
    return same;
}

// ---- Typed access --------------------------------------------------------------------------------

namespace {

[[noreturn]] void RaiseAccess(const TPacket& packet, const char* format, int32_t index) {
    throw Exception(Format(format, {std::string(packet.ClassName()) + "." + packet.ClassType().FieldName(index)}));
}

}  // namespace

TFieldObject TPacket::GetFieldAsObject(int32_t index) {
    const TFieldDef* def = ClassType().FieldDef(index);
    if (!def || ClassType().FieldKind(index) != fkObject)
        RaiseAccess(*this, "Cannot get field as object: %s", index);
    void* member = def->Locate(*this);
    if (def->Coding == TFieldCoding::Packet || def->Coding == TFieldCoding::OptionalPacket)
        member = As<std::unique_ptr<TPacket>>(member).get();
    return {def->Coding, member};
}

int32_t TPacket::GetFieldAsInteger(int32_t index) {
    const TFieldKind kind = ClassType().FieldKind(index);
    const TFieldDef* def = ClassType().FieldDef(index);
    if (kind == fkInteger)
        return static_cast<int32_t>(IntegerOf(*def, def->Locate(*this)));
    if (kind == fkBoolean)
        return As<bool>(def->Locate(*this)) ? 1 : 0;
    RaiseAccess(*this, "Cannot get field as integer: %s", index);
}

void TPacket::SetFieldAsInteger(int32_t index, int32_t value) {
    const TFieldKind kind = ClassType().FieldKind(index);
    const TFieldDef* def = ClassType().FieldDef(index);
    if (kind == fkInteger)
        SetIntegerOf(*def, def->Locate(*this), value);
    else if (kind == fkBoolean)
        As<bool>(def->Locate(*this)) = value != 0;
    else
        RaiseAccess(*this, "Cannot set field as integer: %s", index);
}

std::string TPacket::GetFieldAsString(int32_t index) {
    const TFieldKind kind = ClassType().FieldKind(index);
    const TFieldDef* def = ClassType().FieldDef(index);
    if (!def)
        RaiseAccess(*this, "Cannot get field as string: %s", index);
    void* member = def->Locate(*this);
    switch (kind) {
        case fkInteger: return std::to_string(IntegerOf(*def, member));
        case fkBoolean: return As<bool>(member) ? "True" : "False";
        case fkFloat: return GeneralFloat4(As<double>(member));
        case fkString:
            return def->Coding == TFieldCoding::String ? As<std::string>(member)
                                                       : WideToNarrow(As<std::u16string>(member));
        default: RaiseAccess(*this, "Cannot get field as string: %s", index);
    }
}

void TPacket::SetFieldAsString(int32_t index, const std::string& value) {
    const TFieldKind kind = ClassType().FieldKind(index);
    const TFieldDef* def = ClassType().FieldDef(index);
    if (!def)
        RaiseAccess(*this, "Cannot set field as string: %s", index);
    void* member = def->Locate(*this);
    switch (kind) {
        case fkInteger: SetIntegerOf(*def, member, ParseInteger(value, def->Coding)); break;
        case fkBoolean: As<bool>(member) = SameTextAscii(value, "True"); break;
        case fkFloat: As<double>(member) = ParseFloat(value); break;
        case fkString:
            if (def->Coding == TFieldCoding::String)
                As<std::string>(member) = value;
            else
                As<std::u16string>(member) = NarrowToWide(value);
            break;
        default: RaiseAccess(*this, "Cannot set field as string: %s", index);
    }
}

double TPacket::GetFieldAsDouble(int32_t index) {
    const TFieldKind kind = ClassType().FieldKind(index);
    const TFieldDef* def = ClassType().FieldDef(index);
    if (kind == fkInteger)
        return static_cast<double>(IntegerOf(*def, def->Locate(*this)));
    if (kind == fkFloat)
        return As<double>(def->Locate(*this));
    RaiseAccess(*this, "Cannot get field as double: %s", index);
}

void TPacket::SetFieldAsDouble(int32_t index, double value) {
    const TFieldKind kind = ClassType().FieldKind(index);
    const TFieldDef* def = ClassType().FieldDef(index);
    if (kind == fkInteger)
        SetIntegerOf(*def, def->Locate(*this), RoundHalfEven(value));
    else if (kind == fkFloat)
        As<double>(def->Locate(*this)) = value;
    else
        RaiseAccess(*this, "Cannot set field as double: %s", index);
}

// ---- Text forms ----------------------------------------------------------------------------------

int TPacket::GetFieldText(int32_t index, std::string& text) {
    const TFieldDef* def = ClassType().FieldDef(index);
    if (!def)
        return 0;
    void* member = def->Locate(*this);
    switch (def->Coding) {
        using enum TFieldCoding;
        case Int8: case UInt8: case Int16: case UInt16: case Int32: case UInt32: case Int64: case CompactInt:
            text = std::to_string(IntegerOf(*def, member));
            return 1;
        case Boolean: text = As<bool>(member) ? "True" : "False"; return 1;
        case DateTime: text = DateTimeToText(As<double>(member)); return 1;
        case Double: text = GeneralFloat15(As<double>(member)); return 1;
        case String: text = Quoted(As<std::string>(member)); return 1;
        case WideString: text = Quoted(WideToNarrow(As<std::u16string>(member))); return 1;
        case Guid: text = GuidToString(As<TGuid>(member)); return 1;
        case Fixed: case Record: return 0;
        case Blob: text = "(size = " + std::to_string(As<TVirtualStream>(member).Size()) + ")"; return 1;
        case Packet: case OptionalPacket: {
            TPacket* nested = As<std::unique_ptr<TPacket>>(member).get();
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
        case PacketList: text = As<TCustomPacketList>(member).DumpText(); return 2;
        case StringList: case StringListText: case RecordList: text.clear(); return 1;
    }
    return 0;
}

std::vector<std::string> TPacket::DumpLines() {
    std::vector<std::string> lines;
    lines.push_back("(" + std::string(ClassName()) + ")");
    const TPacketClass& cls = ClassType();
    for (int32_t i = 0, n = cls.FieldCount(); i < n; ++i) {
        std::string text;
        const int result = GetFieldText(i, text);
        if (result == 0)
            text = "(?)";
        else if (result == 2)
            text = "\r\n" + IndentText(text, 4, "", "");
        const std::string line = "  " + cls.FieldName(i) + " = " + text;
        if (result == 2) {
            for (std::string& part : SplitTextLines(line))
                lines.push_back(std::move(part));
        } else {
            lines.push_back(line);
        }
    }
    return lines;
}

void TPacket::DumpToStrings(TStrings& list) {
    for (const std::string& line : DumpLines())
        list.Add(line);
}

// ---- Field objects -------------------------------------------------------------------------------

TPacket* TFieldObject::AsPacket() const {
    if (Coding != TFieldCoding::Packet && Coding != TFieldCoding::OptionalPacket)
        RaiseInvalidCast();
    return static_cast<TPacket*>(Object);
}

TCustomPacketList* TFieldObject::AsPacketList() const {
    if (Coding != TFieldCoding::PacketList)
        RaiseInvalidCast();
    return static_cast<TCustomPacketList*>(Object);
}

TVirtualStream* TFieldObject::AsStream() const {
    if (Coding != TFieldCoding::Blob)
        RaiseInvalidCast();
    return static_cast<TVirtualStream*>(Object);
}

TStringListEx* TFieldObject::AsStrings() const {
    if (Coding != TFieldCoding::StringList && Coding != TFieldCoding::StringListText)
        RaiseInvalidCast();
    return static_cast<TStringListEx*>(Object);
}

TCustomList* TFieldObject::AsList() const {
    if (Coding != TFieldCoding::RecordList)
        RaiseInvalidCast();
    return static_cast<TCustomList*>(Object);
}

}  // namespace cm
