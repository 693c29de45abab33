// Internals of the packet engine: the bounded field reader, one reader over both sources (a
// stream, or a memory stream parsed in place through a cursor) with identical results. Not for
// users of packets.
#pragma once

#include <cstdint>
#include <string>

#include "cm/Packets/Packets.h"

namespace cm {

// Invalid packet data and packet format errors.
class EPacketError : public Exception {
public:
    using Exception::Exception;
};

// Reads fields from a stream, never past a limit: in place through a cursor when the stream is a
// memory stream (up to the limit or its size), otherwise through the stream (up to the limit or
// its size). A plain read past the end raises "Stream read error"; a stored length or count that
// the remaining data cannot hold raises EPacketError naming the field. Both sources give the same
// values and the same errors for the same bytes.
class TFieldReader {
public:
    // limit: absolute stream position where the data ends; < 0 means the stream's size. A memory
    // stream positioned before its data raises "Stream read error"; one positioned beyond it has
    // nothing left to read.
    TFieldReader(TStream& stream, int64_t limit, int32_t depth);

    // Bytes left before the limit.
    int64_t Remaining() const;
    // Exact transfers within the limit: "Stream read error" when fewer than count bytes remain.
    // A count <= 0 moves nothing.
    void Read(void* buffer, int32_t count);
    void Skip(int32_t count);
    template <class T>
    T ReadValue() {
        T value;
        Read(&value, sizeof value);
        return value;
    }

    // The shared encodings, decoded as their writers in Packets.h encode them. Lengths and counts
    // are checked (CheckLength) before anything is allocated: a string list never reserves more
    // lines than bytes remain, a blob never grows beyond what remains.
    int32_t ReadCompactInt();
    uint16_t ReadCompactWord();
    std::string ReadString();
    std::u16string ReadWideString();
    // Empties the list, then adds the stored lines (also when none is stored).
    void ReadStringList(TStrings& list);
    // int32 length (compactLength: a compact integer), then the bytes; the stream ends rewound.
    void ReadBlob(TVirtualStream& value, bool compactLength);
    // Byte count n, then n bytes: fewer than size zero-fill the rest, more are skipped.
    void ReadFixed(void* destination, int32_t size);

    // Raises EPacketError unless 0 <= stored and bytes (what stored takes at least) fit in what
    // remains.
    void CheckLength(int64_t bytes, int32_t stored);
    // The field being read, for messages ("TSetupPacket.Files"; "packet" before any field).
    void SetField(const TPacketClass* cls, const TFieldDef* field);
    std::string FieldText() const;

    // Before a nested read through the stream: positions the stream at the cursor and returns the
    // absolute end of the data. After it: takes the stream's position back (raising "Stream read
    // error" when the nested read went past the end).
    int64_t SyncOut();
    void SyncIn();

    TStream& Stream() const { return FStream; }
    // Nesting depth of the packet being read (0: the outermost).
    int32_t Depth() const { return FDepth; }

private:
    TStream& FStream;
    int32_t FDepth;
    // Memory mode.
    const uint8_t* FBase = nullptr;
    const uint8_t* FCursor = nullptr;
    const uint8_t* FEnd = nullptr;
    // Stream mode.
    int64_t FPosition = 0;
    int64_t FLimit = 0;
    const TPacketClass* FClass = nullptr;
    const TFieldDef* FField = nullptr;
};

}  // namespace cm
