// Unit-level stream routines of cm/StreamUtils: single bytes, compact integers (31 bits in one
// or four bytes) and compact words (15 bits in one or two bytes), and memory-stream helpers.
// Portable: no operating system.
#pragma once

#include <cstdint>

#include "cm/StreamUtils/Stream.h"

namespace cm {

uint8_t WriteByte(TStream& stream, uint8_t value);  // exact write; returns the value
uint8_t ReadByte(TStream& stream);                  // exact read

// value >= 0 (assertion). < 128: one byte value*2; otherwise four bytes LE value*2+1.
void WriteCompactInt(TStream& stream, int32_t value);
int32_t ReadCompactInt(TStream& stream);
// The same decoding from memory; advances the cursor by 1 or 4. The caller guarantees the bytes;
// the bounded form checks them against end and raises EStreamError "Stream read error".
int32_t ReadCompactIntFromMemory(const uint8_t*& cursor);
int32_t ReadCompactIntFromMemory(const uint8_t*& cursor, const uint8_t* end);

// 0 <= value < 32768 (assertion). < 128: one byte value*2; otherwise two bytes LE value*2+1.
void WriteCompactWord(TStream& stream, int32_t value);
uint16_t ReadCompactWord(TStream& stream);

bool IsMemoryStream(const TStream& stream);
// Memory of a memory stream (+ its position when atPosition); nullptr for other streams.
void* StreamMemory(TStream& stream, bool atPosition);
// Grows the stream to minSize when smaller, keeping the position.
void EnsureStreamSize(TStream& stream, int32_t minSize);

}  // namespace cm
