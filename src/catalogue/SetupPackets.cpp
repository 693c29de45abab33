#include "catalogue/SetupPackets.h"

#include "cm/Objects/Strings.h"
#include "catalogue/ProductInformation.h"

namespace cm {

namespace {

using enum TFieldCoding;

constexpr TFieldDef SetupEventFields[] = {
    Field<Fixed, &TSetupEventPacket::Event>("Event"),
    Field<String, &TSetupEventPacket::Text>("Text"),
    Field<UInt8, &TSetupEventPacket::ProgressPercent>("ProgressPercent"),
    Field<Boolean, &TSetupEventPacket::EnableRetry>("EnableRetry"),
};

constexpr TFieldDef SetupFileFields[] = {
    Field<Fixed, &TSetupFilePacket::Components>("Components"),
    Field<Fixed, &TSetupFilePacket::Flags>("Flags"),
    Field<String, &TSetupFilePacket::Filename>("Filename"),
    Field<String, &TSetupFilePacket::Description>("Description"),
    Field<Blob, &TSetupFilePacket::Content>("Content"),
};

constexpr TFieldDef SetupFields[] = {
    Field<Int32, &TSetupPacket::Version>("Version"),
    Field<DateTime, &TSetupPacket::SetupDateTime>("SetupDateTime"),
    Field<String, &TSetupPacket::LicenseAgreement>("LicenseAgreement"),
    Field<String, &TSetupPacket::SetupHelpHtml>("SetupHelpHtml"),
    Field<PacketList, &TSetupPacket::Files>("Files"),
    Field<String, &TSetupPacket::ProductCaption>("ProductCaption", 0, ProductName),
    Field<Guid, &TSetupPacket::GridServiceID>("GridServiceID"),
    Field<Guid, &TSetupPacket::CoordinatorServiceID>("CoordinatorServiceID"),
    Field<String, &TSetupPacket::ChmHelpFile>("ChmHelpFile"),
};

}  // namespace

const TPacketClass TSetupEventPacket::Class{
    "TSetupEventPacket", {0x188A9F7C, 0x4ABC, 0x4E00, {0x8D, 0x05, 0x11, 0x15, 0x06, 0xA4, 0x3D, 0x23}},
    &TPacket::Class, SetupEventFields, static_cast<int32_t>(std::size(SetupEventFields)), &TSetupEventPacket::CreateInstance};

const TPacketClass TSetupFilePacket::Class{
    "TSetupFilePacket", {0xE0AF1EF7, 0x1461, 0x4FE5, {0xAD, 0x1C, 0xD9, 0x9A, 0x2A, 0x59, 0x5A, 0xAB}},
    &TPacket::Class, SetupFileFields, static_cast<int32_t>(std::size(SetupFileFields)), &TSetupFilePacket::CreateInstance};

const TPacketClass TSetupPacket::Class{
    "TSetupPacket", {0x367101FD, 0x5156, 0x450A, {0x92, 0xA6, 0xE9, 0xE2, 0xB6, 0x61, 0x9E, 0x74}},
    &TPacket::Class, SetupFields, static_cast<int32_t>(std::size(SetupFields)), &TSetupPacket::CreateInstance};

int32_t TSetupFilePacketList::IndexOfName(const std::string& name, bool caseSensitive) const {
    for (int32_t i = 0; i < Count(); ++i) {
        const std::string& filename = Items(i)->Filename;
        if (caseSensitive ? filename == name : SameTextAscii(filename, name))
            return i;
    }
    return -1;
}

void InitializeSetupPackets() {
    RegisterPacketClass(TSetupEventPacket::Class);
    RegisterPacketClass(TSetupFilePacket::Class);
    RegisterPacketClass(TSetupPacket::Class);
}

}  // namespace cm
