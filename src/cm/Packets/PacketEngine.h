// Internals of the packet engine shared by its source files: the bounded field reader and the
// packet reader. Not for users of packets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cm/Packets/Packets.h"

namespace cm {

// Invalid packet data and packet format errors.
class EPacketError : public Exception {
public:
    using Exception::Exception;
};

// The conversions between wide-string fields and 8-bit text (accessors, text forms, the 8-bit wire
// form): on Windows through the system's ANSI code page, as every 8-bit string of the system is
// (a character the code page lacks becomes '?'); on the host as Latin-1 (code units above 255
// become '?'). WideText_win32.cpp and WideText_host.cpp.
std::string WideToNarrow(const std::u16string& value);
std::u16string NarrowToWide(const std::string& value);

// Reads fields from a stream, never past a limit: in place through a cursor when the stream is a
// memory stream (up to the limit or its size), otherwise through the stream (up to the limit or
// its size). A plain read past the end raises "Stream read error"; a stored length or count that
// the remaining data cannot hold raises EPacketError naming the field.
class TFieldReader {
public:
    // limit: absolute stream position where the data ends; < 0 means the stream's size.
    TFieldReader(TStream& stream, int64_t limit, int32_t depth);

    int64_t Remaining() const;
    void Read(void* buffer, int32_t count);
    void Skip(int32_t count);
    template <class T>
    T ReadValue() {
        T value;
        Read(&value, sizeof value);
        return value;
    }
    int32_t ReadCompactInt();
    uint16_t ReadCompactWord();
    std::string ReadString();
    std::u16string ReadWideString();
    void ReadStringList(TStrings& list);
    void ReadBlob(TVirtualStream& value, bool compactLength);
    void ReadFixed(void* destination, int32_t size);

    // Raises unless 0 <= stored and bytes fit in what remains.
    void CheckLength(int64_t bytes, int32_t stored);
    // The field being read, for messages ("TSetupPacket.Files").
    void SetField(const TPacketClass* cls, const TFieldDef* field);
    std::string FieldText() const;

    // Before a nested read through the stream: positions the stream at the cursor and returns the
    // absolute end of the data. After it: takes the stream's position back (raising when the
    // nested read went past the end).
    int64_t SyncOut();
    void SyncIn();

    TStream& Stream() const { return FStream; }
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

// Reads a seekable stream ahead in growing pieces (4 KB doubling up to 256 KB) so that the many
// small field reads of a large packet cost no stream read each; requests of a piece or more go to
// the stream directly. No piece reaches past the limit (SetLimit; at first the stream's size), so
// that nothing after the data being read is taken from the stream. Its position is its own until
// Detach puts the stream there. Read-only.
class TReadAheadStream : public TStream {
public:
    static constexpr int32_t FirstPiece = 4096;
    static constexpr int32_t LargestPiece = 262144;

    explicit TReadAheadStream(TStream& base);
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Seek(int32_t offset, SeekOrigin origin) override;
    int32_t Size() override { return FSize; }
    // Pieces end at limit (an absolute position) at the latest; requests beyond it still read.
    void SetLimit(int64_t limit) { FLimit = limit; }
    // Positions the underlying stream at this stream's position.
    void Detach();

private:
    void MoveBase();

    TStream& FBase;
    int32_t FSize;
    int64_t FLimit;          // no piece reaches past this position
    int64_t FPosition;       // this stream's position
    int64_t FBasePosition;   // where the underlying stream stands
    std::vector<uint8_t> FPiece;
    int64_t FPieceStart = 0;  // stream position of FPiece[0]
    int32_t FPieceLength = 0;
    int32_t FNextPiece = FirstPiece;
};

namespace packet_engine {

// The build budget of the outermost read on this thread (see PacketBuildBytesPerInputByte). The
// first scope on a thread sets the budget from its input size; scopes inside it share it.
class TBuildScope {
public:
    explicit TBuildScope(int64_t inputBytes);
    ~TBuildScope();
    TBuildScope(const TBuildScope&) = delete;
    TBuildScope& operator=(const TBuildScope&) = delete;

private:
    bool FOutermost;
};
// Charges a packet of the class to the current read's budget (none: nothing happens); raises
// EPacketError when the budget is exceeded.
void ChargeBuild(const TPacketClass& cls);

// Reads the packet at the stream's position, no further than limit (< 0: the stream's size).
// With into, the stored class must be into's class and the fields go there (nullptr is
// returned); without, a new instance of the stored class is returned.
std::unique_ptr<TPacket> ReadPacket(TStream& stream, TPacketReadContext* context, TPacket* into, int64_t limit,
                                    int32_t depth);
void ReadBody(TPacket& packet, TFieldReader& reader, int32_t& storedCount, TPacketReadContext* context);

}  // namespace packet_engine

}  // namespace cm
