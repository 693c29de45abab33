#include "cm/StreamUtils/StreamUtils.h"

namespace cm {

namespace {

constexpr const char* UnitName = "cm/StreamUtils";
// Values below this bound take the one-byte form of both compact codings.
constexpr int32_t CompactOneByteLimit = 128;
// The largest value a compact word carries (15 bits).
constexpr int32_t CompactWordMax = 32767;
// Width of the long form of a compact integer.
constexpr int CompactIntLongSize = 4;

int32_t DecodeCompactInt(const uint8_t* bytes) {
    uint32_t word = bytes[0];
    if (word & 1u)
        word |= static_cast<uint32_t>(bytes[1]) << 8 | static_cast<uint32_t>(bytes[2]) << 16 |
                static_cast<uint32_t>(bytes[3]) << 24;
    return static_cast<int32_t>(word >> 1);
}

}  // namespace

uint8_t WriteByte(TStream& stream, uint8_t value) {
    stream.WriteBuffer(&value, 1);
    return value;
}

uint8_t ReadByte(TStream& stream) {
    uint8_t value = 0;
    stream.ReadBuffer(&value, 1);
    return value;
}

void WriteCompactInt(TStream& stream, int32_t value) {
    CM_ASSERT(UnitName, value >= 0);
    if (value < CompactOneByteLimit) {
        WriteByte(stream, static_cast<uint8_t>(value * 2));
        return;
    }
    uint32_t word = static_cast<uint32_t>(value) * 2u + 1u;
    uint8_t bytes[CompactIntLongSize] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                                         static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
    stream.WriteBuffer(bytes, CompactIntLongSize);
}

int32_t ReadCompactInt(TStream& stream) {
    uint8_t bytes[CompactIntLongSize] = {ReadByte(stream), 0, 0, 0};
    if (bytes[0] & 1u) stream.ReadBuffer(bytes + 1, CompactIntLongSize - 1);
    return DecodeCompactInt(bytes);
}

int32_t ReadCompactIntFromMemory(const uint8_t*& cursor) {
    int32_t value = DecodeCompactInt(cursor);
    cursor += (cursor[0] & 1u) ? CompactIntLongSize : 1;
    return value;
}

int32_t ReadCompactIntFromMemory(const uint8_t*& cursor, const uint8_t* end) {
    if (cursor >= end || ((cursor[0] & 1u) && end - cursor < CompactIntLongSize))
        throw EStreamError("Stream read error");
    return ReadCompactIntFromMemory(cursor);
}

void WriteCompactWord(TStream& stream, int32_t value) {
    CM_ASSERT(UnitName, value >= 0 && value <= CompactWordMax);
    if (value < CompactOneByteLimit) {
        WriteByte(stream, static_cast<uint8_t>(value * 2));
        return;
    }
    uint32_t word = static_cast<uint32_t>(value) * 2u + 1u;
    uint8_t bytes[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    stream.WriteBuffer(bytes, 2);
}

uint16_t ReadCompactWord(TStream& stream) {
    uint32_t word = ReadByte(stream);
    if (word & 1u) word |= static_cast<uint32_t>(ReadByte(stream)) << 8;
    return static_cast<uint16_t>(word >> 1);
}

bool IsMemoryStream(const TStream& stream) {
    return dynamic_cast<const TCustomMemoryStream*>(&stream) != nullptr;
}

void* StreamMemory(TStream& stream, bool atPosition) {
    auto* memoryStream = dynamic_cast<TCustomMemoryStream*>(&stream);
    if (!memoryStream) return nullptr;
    char* memory = static_cast<char*>(memoryStream->Memory());
    if (atPosition && memory) memory += memoryStream->Position();
    return memory;
}

void EnsureStreamSize(TStream& stream, int32_t minSize) {
    if (stream.Size() >= minSize) return;
    int32_t position = stream.Position();
    stream.SetSize(minSize);
    stream.SetPosition(position);
}

}  // namespace cm
