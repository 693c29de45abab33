/* qlz131.c -- the 1.31 level-1 codec over the shared block layout. */
#include "qlz131.h"

/* Within this many bytes of the end, after a literal, the rest of a block is literal. */
#define QLZ131_END_LITERALS 4u

static const QlzEncoderParams Qlz131Params = {
    /* ForcedLiterals */ 4,
    /* CachedWord */ 1,
    /* RejectStart */ 1,
    /* Tail */ 9,
    /* RawGroups */ 30,
    /* MaxOffset */ 131070,
};

size_t Qlz131CompressBound(size_t Size) {
  return QlzEncodeBound(Size);
}

size_t Qlz131Compress(const void *Src, size_t Size, void *Dst, size_t DstCapacity,
                      Qlz131CompressState *State) {
  return QlzEncodeBlock((const uint8_t *)Src, Size, (uint8_t *)Dst, DstCapacity, State, &Qlz131Params);
}

size_t Qlz131Decompress(const void *Src, size_t SrcLen, void *Dst, size_t DstCapacity) {
  return QlzDecodeBlock((const uint8_t *)Src, SrcLen, (uint8_t *)Dst, DstCapacity, QLZ131_END_LITERALS);
}

size_t Qlz131SizeCompressed(const void *Src, size_t SrcLen) {
  QlzHeader h;
  return QlzReadHeader((const uint8_t *)Src, SrcLen, &h) ? h.CompressedSize : 0;
}

size_t Qlz131SizeDecompressed(const void *Src, size_t SrcLen) {
  QlzHeader h;
  return QlzReadHeader((const uint8_t *)Src, SrcLen, &h) ? h.DecompressedSize : 0;
}
