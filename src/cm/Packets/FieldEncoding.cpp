// The public field encoding routines on streams (Packets.h). The writers append at the stream's
// position; the readers decode through the bounded field reader, so they give what the engine
// gives, and leave the stream just after what they read, also a memory stream, which they parse
// in place.
#include <cstdint>

#include "cm/Packets/FieldConversions.h"
#include "cm/Packets/FieldReader.h"
#include "cm/StreamUtils/StreamUtils.h"

namespace cm {

namespace {

// The longest 8-bit text a wide string is written as in its 8-bit form.
constexpr size_t NarrowFormMaxUnits = 32767;

}  // namespace

void WriteString(TStream& stream, const std::string& value) {
    WriteCompactInt(stream, static_cast<int32_t>(value.size()));
    stream.WriteBuffer(value.data(), static_cast<int32_t>(value.size()));
}

std::string ReadString(TStream& stream) {
    TFieldReader reader(stream, -1, 0);
    std::string value = reader.ReadString();
    reader.SyncOut();
    return value;
}

void WriteWideString(TStream& stream, const std::u16string& value, bool utf16) {
    if (utf16) {
        WriteCompactInt(stream, static_cast<int32_t>(value.size()));
        stream.WriteBuffer(value.data(), static_cast<int32_t>(value.size() * 2));
        return;
    }
    WriteString(stream, WideToNarrow(value.substr(0, NarrowFormMaxUnits)));
}

std::u16string ReadWideString(TStream& stream) {
    TFieldReader reader(stream, -1, 0);
    std::u16string value = reader.ReadWideString();
    reader.SyncOut();
    return value;
}

void WriteStringList(TStream& stream, const TStrings& list) {
    WriteCompactInt(stream, list.Count());
    for (int32_t i = 0; i < list.Count(); ++i)
        WriteString(stream, list[i]);
}

void ReadStringList(TStream& stream, TStrings& list) {
    TFieldReader reader(stream, -1, 0);
    reader.ReadStringList(list);
    reader.SyncOut();
}

void WriteStreamField(TStream& stream, TCustomMemoryStream& value, bool compactLength) {
    const int32_t size = value.Size();
    if (compactLength)
        WriteCompactInt(stream, size);
    else
        stream.WriteBuffer(&size, sizeof size);
    stream.WriteBuffer(value.Memory(), size);
}

void ReadStreamField(TStream& stream, TVirtualStream& value, bool compactLength) {
    TFieldReader reader(stream, -1, 0);
    reader.ReadBlob(value, compactLength);
    reader.SyncOut();
}

void WriteFixed(TStream& stream, const void* source, int32_t size) {
    WriteByte(stream, static_cast<uint8_t>(size));
    stream.WriteBuffer(source, size);
}

void ReadFixed(TStream& stream, void* destination, int32_t size) {
    TFieldReader reader(stream, -1, 0);
    reader.ReadFixed(destination, size);
    reader.SyncOut();
}

}  // namespace cm
