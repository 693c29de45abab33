/* QuickLZDll.c -- the exports of QuickLZ.dll: the 1.20 block codec behind the entry points
   the block-compressed streams resolve (format id 1).

   The entry points take no buffer lengths: a caller of compress provides Size + 36,000 bytes
   of destination (we need Size + 400), a caller of decompress a block of size_source (Source)
   bytes and size_decompressed (Source) bytes of destination. Within those bounds the reader
   checks every token, so a corrupt block makes decompress return 0 instead of reading or
   writing outside them. */
#include "qlz120.h"

#define QLZ_API __stdcall

/* Bytes of a block a reader may always fetch to learn its sizes. */
#define QLZ_HEADER_PEEK 9u

static size_t HeaderField(const char *Source, int Compressed) {
  QlzHeader h;
  if (!Source || !QlzReadHeader((const uint8_t *)Source, QLZ_HEADER_PEEK, &h))
    return 0;
  return Compressed ? h.CompressedSize : h.DecompressedSize;
}

size_t QLZ_API qlz_size_decompressed(const char *Source) { return HeaderField(Source, 0); }

/* The size of the block at Source, header included. */
size_t QLZ_API qlz_size_source(const char *Source) { return HeaderField(Source, 1); }

size_t QLZ_API qlz_compress(const void *Source, char *Destination, size_t Size) {
  if (!Source || !Destination)
    return 0;
  /* 1.20 takes no scratch argument; the 32 KB table lives on this call's stack. */
  Qlz120CompressState table;
  return Qlz120Compress(Source, Size, Destination, Qlz120CompressBound(Size), &table);
}

size_t QLZ_API qlz_decompress(const char *Source, void *Destination) {
  QlzHeader h;
  if (!Source || !Destination || !QlzReadHeader((const uint8_t *)Source, QLZ_HEADER_PEEK, &h))
    return 0;
  return Qlz120Decompress(Source, h.CompressedSize, Destination, h.DecompressedSize);
}
