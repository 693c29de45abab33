// Class-level data of packets: field metadata, the class registry, streaming contexts and the
// owning packet list.
#include <cstdio>
#include <cstring>

#include "cm/Lists/TypedLists.h"
#include "cm/Packets/FieldCodings.h"
#include "cm/Packets/Packets.h"

namespace cm {

// TPacket is a concrete class without fields: the registry and Clone construct it like any other.
const TPacketClass TPacket::Class{
    "TPacket", {0x47BF5205, 0x8993, 0x41F5, {0x98, 0xE9, 0x03, 0xCB, 0x6E, 0xA3, 0x4D, 0x1E}}, nullptr, nullptr, 0,
    []() -> TPacket* { return new TPacket(); }};

// ---- Field metadata ------------------------------------------------------------------------------

bool TPacketClass::InheritsFrom(const TPacketClass& other) const {
    for (const TPacketClass* c = this; c; c = c->Parent)
        if (c == &other)
            return true;
    return false;
}

const TFieldDef* TPacketClass::FieldDef(int32_t index) const {
    const int32_t first = Parent ? Parent->FieldCount() : 0;
    if (index < first)
        return Parent ? Parent->FieldDef(index) : nullptr;
    return index - first < OwnFieldCount ? &Fields[index - first] : nullptr;
}

namespace {

// The entry of one of the class's own text tables, ancestors answering first.
std::string OwnText(const TPacketClass& cls, int32_t index, const char* const* TPacketClass::*table) {
    if (cls.Parent) {
        std::string text = OwnText(*cls.Parent, index, table);
        if (!text.empty())
            return text;
    }
    const int32_t own = index - (cls.Parent ? cls.Parent->FieldCount() : 0);
    const char* const* entries = cls.*table;
    if (own < 0 || own >= cls.OwnFieldCount || !entries || !entries[own])
        return {};
    return entries[own];
}

}  // namespace

std::string TPacketClass::FieldName(int32_t index) const {
    const TFieldDef* def = FieldDef(index);
    return def ? def->Name : std::string();
}

std::string TPacketClass::FieldDescription(int32_t index) const {
    return OwnText(*this, index, &TPacketClass::Descriptions);
}

std::string TPacketClass::FieldDisplayName(int32_t index) const {
    std::string text = OwnText(*this, index, &TPacketClass::DisplayNames);
    return text.empty() ? FieldName(index) : text;
}

std::string TPacketClass::FieldDisplayDescription(int32_t index) const {
    std::string text = OwnText(*this, index, &TPacketClass::DisplayDescriptions);
    return text.empty() ? FieldDescription(index) : text;
}

int32_t TPacketClass::FieldIndexByName(const std::string& name) const {
    const int32_t first = Parent ? Parent->FieldCount() : 0;
    if (Parent) {
        const int32_t index = Parent->FieldIndexByName(name);
        if (index >= 0)
            return index;
    }
    for (int32_t i = 0; i < OwnFieldCount; ++i)
        if (name == Fields[i].Name)
            return first + i;
    return -1;
}

TFieldKind TPacketClass::FieldKind(int32_t index) const {
    const TFieldDef* def = FieldDef(index);
    return def ? CodingOps(def->Coding).Access.Kind : fkOther;
}

void RaiseInvalidCast() {
    throw Exception("Invalid class typecast");
}

// ---- Registry ------------------------------------------------------------------------------------

namespace {

constexpr int32_t MaxClassNumber = 65534;
constexpr int RegistryBucketShift = 5;

using TRegistryTable = TGuidListEx_HashTableOf<const TPacketClass>;

struct TRegistry {
    std::atomic<int32_t> NextNumber{1};
    TRegistryTable* Table = nullptr;  // created on the first registration, never freed
    std::vector<const TPacketClass*> InOrder;
};

TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

}  // namespace

namespace {

// A field that creates packets must name a class that can be created: refused here, when its
// class registers, rather than at the first read or write of such a packet.
void CheckFieldTable(const TPacketClass& cls) {
    for (int32_t i = 0; i < cls.OwnFieldCount; ++i) {
        const TFieldDef& def = cls.Fields[i];
        if (def.Coding != TFieldCoding::Packet && def.Coding != TFieldCoding::OptionalPacket &&
            def.Coding != TFieldCoding::PacketList)
            continue;
        if (!def.ItemClass)
            throw Exception(Format("Field %s.%s names no item class", {cls.Name, def.Name}));
        if (!def.ItemClass->Construct)
            throw Exception(Format("Item class %s of field %s.%s cannot be created",
                                   {def.ItemClass->Name, cls.Name, def.Name}));
    }
}

}  // namespace

void RegisterPacketClass(const TPacketClass& cls) {
    try {
        if (cls.ClassNumber.load() != -1)
            return;
        CheckFieldTable(cls);
        TRegistry& registry = Registry();
        const int32_t number = registry.NextNumber.fetch_add(1);
        CM_ASSERT(PacketsUnit, number <= MaxClassNumber);
        int32_t expected = -1;
        if (!cls.ClassNumber.compare_exchange_strong(expected, number))
            return;
        if (!registry.Table)
            registry.Table = new TRegistryTable(dupError, 0, RegistryBucketShift, FirstWordHash);
        try {
            registry.Table->Add(cls.Guid, &cls);
        } catch (...) {
            // The identifier is taken: the class stays unregistered, its number unused.
            cls.ClassNumber.store(-1);
            throw;
        }
        registry.InOrder.push_back(&cls);
    } catch (...) {
        ReraiseWithContextFmt("Failed to register packet class: %s", {cls.Name});
    }
}

const TPacketClass* FindPacketClass(const TGuid& guid) {
    TRegistryTable* table = Registry().Table;
    return table ? table->ObjectOf(guid) : nullptr;
}

std::vector<const TPacketClass*> RegisteredPacketClasses() {
    return Registry().InOrder;
}

void InitializePackets() {
    RegisterPacketClass(TPacket::Class);
}

// ---- Write context -------------------------------------------------------------------------------

int32_t TPacketWriteContext::Find(int32_t classNumber) const {
    return classNumber >= 0 && classNumber < static_cast<int32_t>(FIds.size()) ? FIds[classNumber] : 0;
}

int32_t TPacketWriteContext::AddClass(int32_t classNumber) {
    CM_ASSERT(PacketsUnit, classNumber >= 1 && classNumber <= MaxClassNumber);
    CM_ASSERT(PacketsUnit, FCount < PacketContextMaxClasses);
    if (classNumber >= static_cast<int32_t>(FIds.size()))
        FIds.resize(static_cast<size_t>(classNumber) + 1, 0);
    FIds[classNumber] = static_cast<uint16_t>(++FCount);
    return FCount;
}

// ---- Packet lists --------------------------------------------------------------------------------

int32_t TCustomPacketList::Add(std::unique_ptr<TPacket> packet) {
    FItems.push_back(std::move(packet));
    return Count() - 1;
}

int32_t TCustomPacketList::AddChecked(std::unique_ptr<TPacket> packet) {
    CM_ASSERT(PacketsUnit, packet && packet->ClassType().InheritsFrom(ItemClass()));
    return Add(std::move(packet));
}

void TCustomPacketList::AddCopies(const TCustomPacketList& other) {
    CM_ASSERT(PacketsUnit, other.ItemClass().InheritsFrom(ItemClass()));
    if (&other == this) {
        // Copies of our own packets: clone from a snapshot, the vector grows meanwhile.
        const int32_t count = Count();
        FItems.reserve(FItems.size() * 2);
        for (int32_t i = 0; i < count; ++i)
            FItems.push_back(FItems[i]->Clone());
        return;
    }
    FItems.reserve(FItems.size() + other.FItems.size());
    for (const auto& packet : other.FItems)
        FItems.push_back(packet->Clone());
}

void TCustomPacketList::Assign(const TCustomPacketList& other) {
    if (&other == this)
        return;
    Clear();
    AddCopies(other);
}

TPacket* TCustomPacketList::Items(int32_t index) const {
    if (index < 0 || index >= Count())
        throw Exception(Format("List index out of bounds (%d)", {index}));
    return FItems[index].get();
}

bool TCustomPacketList::Equals(const TCustomPacketList& other) const {
    if (&other == this)
        return true;
    if (Count() != other.Count())
        return false;
    for (size_t i = 0; i < FItems.size(); ++i)
        if (!FItems[i]->Equals(*other.FItems[i]))
            return false;
    return true;
}

void TCustomPacketList::SaveToStream(TStream& stream, TPacketWriteContext* context) {
    const int32_t count = Count();
    stream.WriteBuffer(&count, 4);
    for (const auto& packet : FItems)
        packet->SaveToStream(stream, context, 0);
}

std::string TCustomPacketList::DumpText() const {
    if (FItems.empty())
        return "(empty list)";
    std::string text;
    const std::string total = std::to_string(Count());
    for (int32_t i = 0; i < Count(); ++i) {
        text += "[" + std::to_string(i + 1) + "/" + total + "]\r\n";
        for (const std::string& line : FItems[i]->DumpLines())
            text += line + "\r\n";
        text += "\r\n";
    }
    return text;
}

}  // namespace cm
