#include "cm/StreamUtils/ReadAheadStream.h"

#include <algorithm>
#include <cstring>

namespace cm {

TReadAheadStream::TReadAheadStream(TStream& base)
    : FBase(base), FSize(base.Size()), FLimit(FSize), FPosition(base.Position()), FBasePosition(FPosition) {}

int32_t TReadAheadStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || FPosition >= FSize || FPosition < 0)
        return 0;
    count = static_cast<int32_t>(std::min<int64_t>(count, FSize - FPosition));
    auto* target = static_cast<uint8_t*>(buffer);
    int32_t done = 0;
    // What the current piece holds of the request.
    if (FPosition >= FPieceStart && FPosition < FPieceStart + FPieceLength) {
        const int32_t offset = static_cast<int32_t>(FPosition - FPieceStart);
        done = std::min(count, FPieceLength - offset);
        std::memcpy(target, FPiece.data() + offset, static_cast<size_t>(done));
        FPosition += done;
    }
    if (done == count)
        return done;
    const int32_t rest = count - done;
    MoveBase();
    if (rest >= FNextPiece) {
        const int32_t read = FBase.Read(target + done, rest);
        FBasePosition += read;
        FPosition += read;
        return done + read;
    }
    // A new piece from here on, each one larger up to the largest, and never past the limit
    // (though always the rest of this request).
    const int64_t pieceEnd = std::max<int64_t>(std::min<int64_t>(FLimit, FSize), FPosition + rest);
    const int32_t piece = static_cast<int32_t>(std::min<int64_t>(FNextPiece, pieceEnd - FPosition));
    FNextPiece = std::min(FNextPiece * 2, LargestPiece);
    FPiece.resize(static_cast<size_t>(piece));
    FPieceStart = FPosition;
    FPieceLength = FBase.Read(FPiece.data(), piece);
    FBasePosition += FPieceLength;
    const int32_t more = std::min(rest, FPieceLength);
    std::memcpy(target + done, FPiece.data(), static_cast<size_t>(more));
    FPosition += more;
    return done + more;
}

int32_t TReadAheadStream::Write(const void*, int32_t) {
    throw EStreamError("Stream write error");
}

int32_t TReadAheadStream::Seek(int32_t offset, SeekOrigin origin) {
    switch (origin) {
        case soBeginning: FPosition = offset; break;
        case soCurrent: FPosition += offset; break;
        case soEnd: FPosition = FSize + static_cast<int64_t>(offset); break;
    }
    // A jump past what the current piece holds (a skipped field) ends the sequential run: what
    // follows is fetched in small pieces again, not in the large ones the run had grown to.
    if (FPosition < FPieceStart || FPosition > FPieceStart + FPieceLength)
        FNextPiece = FirstPiece;
    return static_cast<int32_t>(FPosition);
}

void TReadAheadStream::Detach() {
    MoveBase();
}

void TReadAheadStream::MoveBase() {
    if (FBasePosition == FPosition)
        return;
    FBasePosition = FBase.Seek(static_cast<int32_t>(FPosition), soBeginning);
    // A stream that cannot go there would hand out other bytes than those asked for.
    if (FBasePosition != FPosition)
        throw EStreamError("Stream read error");
}

}  // namespace cm
