// The stream base and the memory-stream base of cm/StreamUtils. Positions and sizes are signed
// 32-bit, as in the file and wire formats that use them. Portable: no operating system.
#pragma once

#include <cstdint>

#include "cm/Objects/Errors.h"

namespace cm {

enum SeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// Raised by the stream classes: "Stream read error", "Stream write error" and the streams'
// own messages. Part of the exception family.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes at the position; returns how many were read (0 at the end).
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    // Writes up to count bytes at the position; returns how many were written.
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    // Moves the position relative to the origin and returns the new position.
    virtual int32_t Seek(int32_t offset, SeekOrigin origin) = 0;
    // Sets the size; the base raises (a stream of fixed size).
    virtual void SetSize(int32_t size);
    // The size; the base finds it with seeks and restores the position.
    virtual int32_t Size();
    // False for a stream that cannot go back to bytes it has handed out (a connection): readers
    // then take no byte beyond what they need, since one read too many would consume the next
    // message.
    virtual bool Seekable() const { return true; }

    int32_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int32_t position) { Seek(position, soBeginning); }

    // Exact transfers: raise EStreamError "Stream read error" / "Stream write error" when fewer
    // than count bytes move. A count of 0 moves nothing.
    void ReadBuffer(void* buffer, int32_t count);
    void WriteBuffer(const void* buffer, int32_t count);

    // Copies exactly count bytes (>= 0) from the source's position into this stream; returns count.
    // Raises the read error when the source ends early.
    int32_t CopyFrom(TStream& source, int32_t count);
};

// The memory-stream base: the bytes live in one block, Memory(), of Capacity() bytes of which
// Size() are used. Descendants decide growth through the virtual Realloc.
class TCustomMemoryStream : public TStream {
public:
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Seek(int32_t offset, SeekOrigin origin) override;
    int32_t Size() override { return FSize; }
    void SetSize(int32_t size) override;

    void* Memory() const { return FMemory; }
    int32_t Capacity() const { return FCapacity; }
    // Sets the capacity through Realloc (which may round it); Size is not changed.
    void SetCapacity(int32_t capacity);

protected:
    // Returns the block for the wanted capacity, which it may change (rounding); the returned
    // block becomes Memory and the value Capacity. The base keeps the current block and only
    // accepts capacities it already has (a fixed block).
    virtual void* Realloc(int32_t& newCapacity);
    // For descendants over a block they own or were given.
    void SetPointer(void* memory, int32_t size) { FMemory = memory; FSize = size; }

    void* FMemory = nullptr;
    int32_t FSize = 0;
    int32_t FPosition = 0;
    int32_t FCapacity = 0;
};

}  // namespace cm
