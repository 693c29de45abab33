#include "cm/Packets/PacketTestClasses.h"

#include "support/ProductPackets.h"

namespace cm::test {

namespace {

using enum TFieldCoding;

constexpr TFieldDef TinyFields[] = {
    Field<Int32, &TTinyPacket::A>("A", 7),
    Field<String, &TTinyPacket::S>("S", 0, "tiny"),
};

constexpr TFieldDef AllFields[] = {
    Field<Int8, &TAllFieldsPacket::I8>("I8"),
    Field<UInt8, &TAllFieldsPacket::U8>("U8"),
    Field<Int16, &TAllFieldsPacket::I16>("I16"),
    Field<UInt16, &TAllFieldsPacket::U16>("U16"),
    Field<Int32, &TAllFieldsPacket::I32>("I32", -3),
    Field<UInt32, &TAllFieldsPacket::U32>("U32"),
    Field<Int64, &TAllFieldsPacket::I64>("I64"),
    Field<CompactInt, &TAllFieldsPacket::Compact>("Compact"),
    Field<Boolean, &TAllFieldsPacket::Flag>("Flag", 1),
    Field<Double, &TAllFieldsPacket::Real>("Real"),
    Field<DateTime, &TAllFieldsPacket::When>("When"),
    Field<Fixed, &TAllFieldsPacket::Colour>("Colour"),
    Field<Guid, &TAllFieldsPacket::Id>("Id"),
    Field<Record, &TAllFieldsPacket::Six>("Six"),
    Field<String, &TAllFieldsPacket::Text>("Text"),
    Field<WideString, &TAllFieldsPacket::Wide>("Wide"),
    Field<StringList, &TAllFieldsPacket::Lines>("Lines"),
    Field<StringListText, &TAllFieldsPacket::LinesText>("LinesText"),
    Field<Blob, &TAllFieldsPacket::Data>("Data"),
    Field<Packet, &TAllFieldsPacket::Nested>("Nested", 0, nullptr, &TTinyPacket::Class),
    Field<OptionalPacket, &TAllFieldsPacket::Maybe>("Maybe", 0, nullptr, &TTinyPacket::Class),
    Field<PacketList, &TAllFieldsPacket::Tinies>("Tinies"),
    Field<RecordList, &TAllFieldsPacket::Numbers>("Numbers"),
    Field<TFieldCoding::Handle, &TAllFieldsPacket::Handle>("Handle"),
};

constexpr TFieldDef HolderFields[] = {
    Field<PacketList, &THolderPacket::Items>("Items"),
};

constexpr TFieldDef V3Fields[] = {
    Field<Int32, &TV3Packet::F0>("F0"), Field<Int32, &TV3Packet::F1>("F1"), Field<Int32, &TV3Packet::F2>("F2")};
constexpr TFieldDef V5Fields[] = {
    Field<Int32, &TV5Packet::F0>("F0"), Field<Int32, &TV5Packet::F1>("F1"), Field<Int32, &TV5Packet::F2>("F2"),
    Field<Int32, &TV5Packet::F3>("F3"), Field<Int32, &TV5Packet::F4>("F4")};
constexpr TFieldDef V7Fields[] = {
    Field<Int32, &TV7Packet::F0>("F0"), Field<Int32, &TV7Packet::F1>("F1"), Field<Int32, &TV7Packet::F2>("F2"),
    Field<Int32, &TV7Packet::F3>("F3"), Field<Int32, &TV7Packet::F4>("F4"), Field<Int32, &TV7Packet::F5>("F5"),
    Field<Int32, &TV7Packet::F6>("F6")};

constexpr TGuid VersionedGuid{0x5EC0DE05, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};

template <size_t N>
constexpr int32_t CountOf(const TFieldDef (&)[N]) {
    return static_cast<int32_t>(N);
}

}  // namespace

const TPacketClass TTinyPacket::Class{"TTinyPacket", {0x7E570001, 0x1111, 0x2222, {1, 1, 1, 1, 1, 1, 1, 1}},
                                      &TPacket::Class, TinyFields, CountOf(TinyFields), &TTinyPacket::CreateInstance};
const TPacketClass TAllFieldsPacket::Class{"TAllFieldsPacket", {0x7E570002, 0x1111, 0x2222, {2, 2, 2, 2, 2, 2, 2, 2}},
                                           &TPacket::Class, AllFields, CountOf(AllFields),
                                           &TAllFieldsPacket::CreateInstance};
const TPacketClass THolderPacket::Class{"THolderPacket", {0x7E570003, 0x1111, 0x2222, {3, 3, 3, 3, 3, 3, 3, 3}},
                                        &TPacket::Class, HolderFields, CountOf(HolderFields),
                                        &THolderPacket::CreateInstance};
const TPacketClass TV3Packet::Class{"TV3Packet", VersionedGuid, &TPacket::Class, V3Fields, CountOf(V3Fields),
                                    &TV3Packet::CreateInstance};
const TPacketClass TV5Packet::Class{"TV5Packet", VersionedGuid, &TPacket::Class, V5Fields, CountOf(V5Fields),
                                    &TV5Packet::CreateInstance};
const TPacketClass TV7Packet::Class{"TV7Packet", VersionedGuid, &TPacket::Class, V7Fields, CountOf(V7Fields),
                                    &TV7Packet::CreateInstance};

void RegisterTestPackets() {
    static const bool done = [] {
        RegisterProductPackets();
        RegisterPacketClass(TTinyPacket::Class);
        RegisterPacketClass(TAllFieldsPacket::Class);
        RegisterPacketClass(THolderPacket::Class);
        RegisterPacketClass(TV5Packet::Class);
        return true;
    }();
    (void)done;
}

}  // namespace cm::test
