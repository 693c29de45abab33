/* qlz120.h -- block codec compatible with the 1.20 QuickLZ format.

   Qlz120Compress chooses its tokens as the 1.20 encoder does (one forced literal, an 8-byte
   tail, matches against position 0); its blocks are read by either version's reader.
   All routines are bounded by the lengths they are given and never trust a block's header
   beyond them. */
#ifndef QLZ120_H
#define QLZ120_H

#include <stddef.h>
#include <stdint.h>

#include "qlz_block.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Scratch of one compression: the hash table (32,768 bytes). */
typedef QlzHashTable Qlz120CompressState;

/* Output capacity Qlz120Compress needs for Size input bytes. */
size_t Qlz120CompressBound(size_t Size);

/* Compresses Size bytes of Src into one block at Dst (DstCapacity >= Qlz120CompressBound (Size)).
   Returns the block size; 0 for an empty input, a too small DstCapacity or an input above
   4 GB - 400 bytes. */
size_t Qlz120Compress(const void *Src, size_t Size, void *Dst, size_t DstCapacity,
                      Qlz120CompressState *State);

/* Decompresses the block at Src, of which SrcLen bytes may be read, into Dst (DstCapacity
   bytes). Returns the decompressed size; 0 when the block is corrupt, truncated, larger than
   DstCapacity or empty. */
size_t Qlz120Decompress(const void *Src, size_t SrcLen, void *Dst, size_t DstCapacity);

/* The header fields of the block at Src (SrcLen readable bytes); 0 when the header is
   incomplete or malformed. */
size_t Qlz120SizeCompressed(const void *Src, size_t SrcLen);
size_t Qlz120SizeDecompressed(const void *Src, size_t SrcLen);

#ifdef __cplusplus
}
#endif

#endif
