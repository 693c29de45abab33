// The reflective side of packets, driven by the field tables and each field's coding table
// (FieldCodings.cpp): defaults, copying, comparison, typed access, text forms and the dump.
#include "cm/Objects/Strings.h"
#include "cm/Packets/FieldCodings.h"
#include "cm/Packets/PacketEngine.h"

namespace cm {

namespace {

// Calls fn(index, def, ops, member) for every field of the packet's class, in index order.
template <class Fn>
void ForEachField(TPacket& packet, Fn&& fn) {
    const TPacketClass& cls = packet.ClassType();
    for (int32_t i = 0, n = cls.FieldCount(); i < n; ++i) {
        const TFieldDef& def = *cls.FieldDef(i);
        fn(i, def, CodingOps(def.Coding), def.Locate(packet));
    }
}

// The engine reads members of a const packet through the same locators that serve writing.
TPacket& Mutable(const TPacket& packet) {
    return const_cast<TPacket&>(packet);
}

void ResetFields(TPacket& packet) {
    ForEachField(packet, [](int32_t, const TFieldDef& def, const TFieldCodingOps& ops, void* member) {
        ops.Reset(def, member);
    });
}

}  // namespace

// ---- Construction, copying, comparison -----------------------------------------------------------

void TPacket::InitPacket() {
    const TPacketClass& cls = ClassType();
    ++cls.Instances;
    ResetFields(*this);
}

void TPacket::DonePacket() noexcept {
    --ClassType().Instances;
}

void TPacket::Clear() {
    ResetFields(*this);
}

void TPacket::Assign(const TPacket& source) {
    if (&source == this)
        return;
    if (!source.ClassType().InheritsFrom(ClassType()))
        RaiseInvalidCast();
    TPacket& from = Mutable(source);
    ForEachField(*this, [&](int32_t, const TFieldDef& def, const TFieldCodingOps& ops, void* member) {
        ops.Copy(def, member, def.Locate(from));
    });
}

void TPacket::ForEachHandle(const std::function<void(TPacketHandle& handle)>& fn) {
    ForEachField(*this, [&](int32_t, const TFieldDef& def, const TFieldCodingOps&, void* member) {
        switch (def.Coding) {
            case TFieldCoding::Handle: fn(*static_cast<TPacketHandle*>(member)); break;
            case TFieldCoding::Packet:
            case TFieldCoding::OptionalPacket:
                if (auto& nested = *static_cast<std::unique_ptr<TPacket>*>(member))
                    nested->ForEachHandle(fn);
                break;
            case TFieldCoding::PacketList: {
                auto& list = *static_cast<TCustomPacketList*>(member);
                for (int32_t i = 0; i < list.Count(); ++i)
                    list.Items(i)->ForEachHandle(fn);
                break;
            }
            default: break;
        }
    });
}

void RaiseUninitializedMember(const TPacket& owner, const char* fieldName) {
    throw Exception(std::string("Attempt to access uninitialized member object: ") + owner.ClassName() + "." + fieldName);
}

void AssignNestedPacket(std::unique_ptr<TPacket>& member, const TPacket* value) {
    if (!value)
        member.reset();
    else if (member && &member->ClassType() == &value->ClassType())
        member->Assign(*value);
    else
        member = value->Clone();
}

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
        if (!CodingOps(def.Coding).Same(def, def.Locate(self), def.Locate(that)))
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
    TPacket& that = Mutable(other);
    ForEachField(Mutable(*this), [&](int32_t index, const TFieldDef& def, const TFieldCodingOps& ops, void* member) {
        if (!ops.Same(def, member, def.Locate(that))) {
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

// The field's definition, its coding's accessors and its member, when the field offers the
// accessor that pick selects; otherwise raises format with the field's name.
struct TAccess {
    const TFieldDef* Def;
    const TFieldAccess* Ops;
    void* Member;
};
template <class Pick>
TAccess FindAccess(TPacket& packet, int32_t index, const char* format, Pick pick) {
    const TFieldDef* def = packet.ClassType().FieldDef(index);
    if (!def)
        RaiseAccess(packet, format, index);
    const TFieldAccess& ops = CodingOps(def->Coding).Access;
    if (!pick(ops))
        RaiseAccess(packet, format, index);
    return {def, &ops, def->Locate(packet)};
}

}  // namespace

TFieldObject TPacket::GetFieldAsObject(int32_t index) {
    const TAccess a = FindAccess(*this, index, "Cannot get field as object: %s",
                                 [](const TFieldAccess& ops) { return ops.GetObject; });
    return {a.Def->Coding, a.Ops->GetObject(a.Member)};
}

int32_t TPacket::GetFieldAsInteger(int32_t index) {
    const TAccess a = FindAccess(*this, index, "Cannot get field as integer: %s",
                                 [](const TFieldAccess& ops) { return ops.GetInteger; });
    return static_cast<int32_t>(a.Ops->GetInteger(a.Member));  // a 64-bit member gives its low 32 bits
}

void TPacket::SetFieldAsInteger(int32_t index, int32_t value) {
    const TAccess a = FindAccess(*this, index, "Cannot set field as integer: %s",
                                 [](const TFieldAccess& ops) { return ops.SetInteger; });
    a.Ops->SetInteger(a.Member, value);
}

std::string TPacket::GetFieldAsString(int32_t index) {
    const TAccess a = FindAccess(*this, index, "Cannot get field as string: %s",
                                 [](const TFieldAccess& ops) { return ops.GetString; });
    return a.Ops->GetString(a.Member);
}

void TPacket::SetFieldAsString(int32_t index, const std::string& value) {
    const TAccess a = FindAccess(*this, index, "Cannot set field as string: %s",
                                 [](const TFieldAccess& ops) { return ops.SetString; });
    a.Ops->SetString(a.Member, value);
}

double TPacket::GetFieldAsDouble(int32_t index) {
    const TAccess a = FindAccess(*this, index, "Cannot get field as double: %s",
                                 [](const TFieldAccess& ops) { return ops.GetDouble; });
    return a.Ops->GetDouble(a.Member);
}

void TPacket::SetFieldAsDouble(int32_t index, double value) {
    const TAccess a = FindAccess(*this, index, "Cannot set field as double: %s",
                                 [](const TFieldAccess& ops) { return ops.SetDouble; });
    a.Ops->SetDouble(a.Member, value);
}

// ---- Text forms ----------------------------------------------------------------------------------

int TPacket::GetFieldText(int32_t index, std::string& text) {
    const TFieldDef* def = ClassType().FieldDef(index);
    if (!def)
        return 0;
    return CodingOps(def->Coding).Text(*def, def->Locate(*this), text);
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

namespace {

// The object, when the coding hands out objects of that type; the invalid typecast error otherwise.
void* ObjectOfType(const TFieldObject& object, TFieldObjectType type) {
    if (CodingOps(object.Coding).Access.ObjectType != type)
        RaiseInvalidCast();
    return object.Object;
}

}  // namespace

TPacket* TFieldObject::AsPacket() const {
    return static_cast<TPacket*>(ObjectOfType(*this, TFieldObjectType::Packet));
}

TCustomPacketList* TFieldObject::AsPacketList() const {
    return static_cast<TCustomPacketList*>(ObjectOfType(*this, TFieldObjectType::PacketList));
}

TVirtualStream* TFieldObject::AsStream() const {
    return static_cast<TVirtualStream*>(ObjectOfType(*this, TFieldObjectType::Stream));
}

TStringListEx* TFieldObject::AsStrings() const {
    return static_cast<TStringListEx*>(ObjectOfType(*this, TFieldObjectType::Strings));
}

TCustomList* TFieldObject::AsList() const {
    return static_cast<TCustomList*>(ObjectOfType(*this, TFieldObjectType::List));
}

}  // namespace cm
