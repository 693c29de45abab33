/* qlz120.c -- the 1.20 codec over the shared block layout. */
#include "qlz120.h"

/* Within this many bytes of the end, after a literal, the rest of a block is literal. */
#define QLZ120_END_LITERALS 3u

static const QlzEncoderParams Qlz120Params = {
    /* ForcedLiterals */ 1,
    /* CachedWord */ 0,
    /* RejectStart */ 0,
    /* Tail */ 8,
    /* RawGroups */ 20,
    /* MaxOffset */ 131071,
};

size_t Qlz120CompressBound(size_t Size) {
  return QlzEncodeBound(Size);
}

size_t Qlz120Compress(const void *Src, size_t Size, void *Dst, size_t DstCapacity,
                      Qlz120CompressState *State) {
  return QlzEncodeBlock((const uint8_t *)Src, Size, (uint8_t *)Dst, DstCapacity, State, &Qlz120Params);
}

size_t Qlz120Decompress(const void *Src, size_t SrcLen, void *Dst, size_t DstCapacity) {
  return QlzDecodeBlock((const uint8_t *)Src, SrcLen, (uint8_t *)Dst, DstCapacity, QLZ120_END_LITERALS);
}

size_t Qlz120SizeCompressed(const void *Src, size_t SrcLen) {
  QlzHeader h;
  return QlzReadHeader((const uint8_t *)Src, SrcLen, &h) ? h.CompressedSize : 0;
}

size_t Qlz120SizeDecompressed(const void *Src, size_t SrcLen) {
  QlzHeader h;
  return QlzReadHeader((const uint8_t *)Src, SrcLen, &h) ? h.DecompressedSize : 0;
}
