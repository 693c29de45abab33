// Test packet classes: one field of every coding, and a small class in several versions.
#pragma once

#include <string>

#include "cm/Lists/TypedLists.h"
#include "cm/Packets/Packets.h"

namespace cm::test {

class TTinyPacket : public TCommPacket {
    CM_PACKET_CLASS(TTinyPacket)
    int32_t A;
    std::string S;
};

using TTinyPacketList = TTypedPacketList<TTinyPacket>;

enum class TTestColour : uint32_t { Red = 1, Green = 2, Blue = 0x01020304 };

#pragma pack(push, 1)
struct TSixBytes {
    uint16_t X;
    uint32_t Y;
};
#pragma pack(pop)
static_assert(sizeof(TSixBytes) == 6);

class TAllFieldsPacket : public TPacket {
    CM_PACKET_CLASS(TAllFieldsPacket)
    int8_t I8;
    uint8_t U8;
    int16_t I16;
    uint16_t U16;
    int32_t I32;
    uint32_t U32;
    int64_t I64;
    int32_t Compact;
    bool Flag;
    double Real;
    double When;
    TTestColour Colour;
    TGuid Id;
    TSixBytes Six;
    std::string Text;
    std::u16string Wide;
    TStringListEx Lines;
    TStringListEx LinesText;
    TVirtualStream Data{0};
    std::unique_ptr<TPacket> Nested;
    std::unique_ptr<TPacket> Maybe;
    TTinyPacketList Tinies;
    TIntegerList Numbers{0};
    TPacketHandle Handle;
};

// A packet holding a list of any packets, for nesting.
class THolderPacket : public TPacket {
    CM_PACKET_CLASS(THolderPacket)
    TCustomPacketList Items;
};

// One class in three versions (same identifier): 3, 5 and 7 integer fields. Only V5 is registered.
class TV3Packet : public TPacket {
    CM_PACKET_CLASS(TV3Packet)
    int32_t F0, F1, F2;
};
class TV5Packet : public TPacket {
    CM_PACKET_CLASS(TV5Packet)
    int32_t F0, F1, F2, F3, F4;
};
class TV7Packet : public TPacket {
    CM_PACKET_CLASS(TV7Packet)
    int32_t F0, F1, F2, F3, F4, F5, F6;
};

// Registers the framework and the registered test classes once per process.
void RegisterTestPackets();

}  // namespace cm::test
