/* qlz131.h -- block codec compatible with the 1.31 QuickLZ format, level 1.

   Qlz131Compress writes the blocks the reference level-1 encoder writes; Qlz131Decompress
   reads blocks of every level (1 to 3) and of 1.20. All routines are bounded by the lengths
   they are given and never trust a block's header beyond them. */
#ifndef QLZ131_H
#define QLZ131_H

#include <stddef.h>
#include <stdint.h>

#include "qlz_block.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Scratch of one compression: the hash table (32,768 bytes). */
typedef QlzHashTable Qlz131CompressState;

/* Output capacity Qlz131Compress needs for Size input bytes. */
size_t Qlz131CompressBound(size_t Size);

/* Compresses Size bytes of Src into one block at Dst (DstCapacity >= Qlz131CompressBound (Size)).
   Returns the block size; 0 for an empty input, a too small DstCapacity or an input above
   4 GB - 400 bytes. */
size_t Qlz131Compress(const void *Src, size_t Size, void *Dst, size_t DstCapacity,
                      Qlz131CompressState *State);

/* Decompresses the block at Src, of which SrcLen bytes may be read, into Dst (DstCapacity
   bytes). Returns the decompressed size; 0 when the block is corrupt, truncated, larger than
   DstCapacity or empty. */
size_t Qlz131Decompress(const void *Src, size_t SrcLen, void *Dst, size_t DstCapacity);

/* The header fields of the block at Src (SrcLen readable bytes); 0 when the header is
   incomplete or malformed. */
size_t Qlz131SizeCompressed(const void *Src, size_t SrcLen);
size_t Qlz131SizeDecompressed(const void *Src, size_t SrcLen);

#ifdef __cplusplus
}
#endif

#endif
