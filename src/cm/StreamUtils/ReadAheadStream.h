// TReadAheadStream: a read-only stream over a seekable stream that fetches it ahead in growing
// pieces, so that many small reads cost few reads of the underlying stream. Portable.
#pragma once

#include <cstdint>
#include <vector>

#include "cm/StreamUtils/Stream.h"

namespace cm {

// Reads the underlying stream in pieces of FirstPiece bytes, doubling with every piece up to
// LargestPiece; a request of at least the next piece's size goes to the underlying stream
// directly, without a copy. Seeks within the stream are free: bytes of the current piece are
// served again, others are fetched anew, starting again from the first piece's size when the
// seek left the current piece (skipped data ends a sequential run).
//
// Bounded: no piece reaches past the limit (SetLimit, an absolute position; at first the size),
// so nothing after the data being read is taken from the underlying stream unless a request
// itself asks for it. That matters where the underlying stream cannot give bytes back (Seekable
// false, a connection): with the limit at the position, every read takes from it exactly what
// is asked.
//
// Size and the starting position are the underlying stream's at construction; nothing else may
// move the underlying stream meanwhile. Its position is this stream's own until Detach puts the
// underlying stream there. Read returns fewer bytes than asked at the end of the data (Size)
// and where a read of the underlying stream does (a stream shorter than its size said). Write
// raises EStreamError "Stream write error"; a move of the underlying stream that does not land
// where asked raises "Stream read error" rather than hand out other bytes.
class TReadAheadStream : public TStream {
public:
    static constexpr int32_t FirstPiece = 4096;
    static constexpr int32_t LargestPiece = 262144;

    explicit TReadAheadStream(TStream& base);
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Seek(int32_t offset, SeekOrigin origin) override;
    int32_t Size() override { return FSize; }
    // As the underlying stream: over a connection the read-ahead can go back only within what it
    // holds, and Detach cannot put the connection back.
    bool Seekable() const override { return FBase.Seekable(); }
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

}  // namespace cm
