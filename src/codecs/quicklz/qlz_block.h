/* qlz_block.h -- the block layout shared by the 1.20 and 1.31 codecs (internal).

   One block: a flags byte, a 3- or 9-byte header (total block size and decompressed size),
   then either the input verbatim (stored) or groups of a 32-bit control word and up to 31
   tokens. Both versions write and read the same token syntax; they differ only in how the
   encoder chooses its tokens, which QlzEncoderParams describes. */
#ifndef QLZ_BLOCK_H
#define QLZ_BLOCK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QLZ_FLAG_COMPRESSED 0x01u
#define QLZ_FLAG_LONG_HEADER 0x02u
#define QLZ_SHORT_HEADER_SIZE 3u
#define QLZ_LONG_HEADER_SIZE 9u
/* Inputs shorter than this use the 3-byte header. */
#define QLZ_LONG_HEADER_THRESHOLD 216u
/* Compressed blocks are padded to this size so that a reader may always fetch 9 header bytes. */
#define QLZ_MIN_COMPRESSED_BLOCK 12u
#define QLZ_HASH_BITS 12
#define QLZ_HASH_SIZE (1u << QLZ_HASH_BITS)

typedef struct {
  unsigned Flags;
  size_t HeaderSize;
  size_t CompressedSize;   /* the whole block, header included */
  size_t DecompressedSize;
} QlzHeader;

/* Parses the header of the block at Block of which Available bytes may be read. Returns 1 and
   fills *Header when the header is complete and well formed (known flags, total size not
   below the header size, a stored block's total = header + decompressed size); else 0.
   Does not compare the sizes with Available: the caller decides what it trusts. */
int QlzReadHeader(const uint8_t *Block, size_t Available, QlzHeader *Header);

/* Decodes the block at Src (SrcLen readable bytes) into Dst (DstCapacity writable bytes).
   EndLiterals is the reader's end rule: after a literal, once the output is within that many
   bytes of its end the rest is copied verbatim. Returns the decompressed size, or 0 when the
   block is malformed, claims more than SrcLen bytes, needs more than DstCapacity bytes, or
   decodes to nothing. Never reads or writes outside the given ranges. */
size_t QlzDecodeBlock(const uint8_t *Src, size_t SrcLen, uint8_t *Dst, size_t DstCapacity,
                      size_t EndLiterals);

/* What distinguishes one version's encoder from the other's. */
typedef struct {
  size_t ForcedLiterals;  /* leading bytes always written as literals (and never hashed: 1.31) */
  int CachedWord;         /* 1: hash entries cache the word they were made from */
  int RejectStart;        /* 1: a candidate at the buffer start is never taken */
  size_t Tail;            /* no token starts and no match reaches into the last Tail bytes */
  unsigned RawGroups;     /* groups written raw when the data looks incompressible */
  size_t MaxOffset;
} QlzEncoderParams;

typedef struct {
  uint32_t Word[QLZ_HASH_SIZE];
  uint32_t Position[QLZ_HASH_SIZE];
} QlzHashTable;

/* Encodes Size bytes of Src into Dst (DstCapacity bytes, at least QlzEncodeBound (Size)),
   using Table as scratch. Returns the block size; 0 for Size = 0, a too small DstCapacity,
   or a Size the header cannot hold. */
size_t QlzEncodeBlock(const uint8_t *Src, size_t Size, uint8_t *Dst, size_t DstCapacity,
                      QlzHashTable *Table, const QlzEncoderParams *Params);

/* Largest block QlzEncodeBlock writes for Size bytes. */
size_t QlzEncodeBound(size_t Size);

#ifdef __cplusplus
}
#endif

#endif
