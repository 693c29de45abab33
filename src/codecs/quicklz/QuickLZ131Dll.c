/* QuickLZ131Dll.c -- the exports of QuickLZ131.dll: the 1.31 block codec behind the entry
   points the block-compressed streams resolve (format id 3).

   The entry points take no buffer lengths: a caller of compress provides Size + 400 bytes of
   destination, a caller of decompress a block of size_compressed (Source) bytes and
   size_decompressed (Source) bytes of destination. Within those bounds the reader checks
   every token, so a corrupt block makes decompress return 0 instead of reading or writing
   outside them. */
#include "qlz131.h"

#include <stdint.h>

#define QLZ_API __stdcall

/* Bytes of a block a reader may always fetch to learn its sizes. */
#define QLZ_HEADER_PEEK 9u

/* What get_setting reports: a level-1, non-streaming, 32-bit build. The loader refuses the
   library when setting 1 exceeds its 65,536-byte compression work area's budget (32,784) or
   setting 2 exceeds its 16-byte decompression work area. */
enum {
  QLZ_SETTING_LEVEL = 0,
  QLZ_SETTING_COMPRESS_SCRATCH = 1,
  QLZ_SETTING_DECOMPRESS_SCRATCH = 2,
  QLZ_SETTING_STREAMING_BUFFER = 3,
  QLZ_SETTING_RUN_ENCODING = 4,
  QLZ_SETTING_INCOMPRESSIBLE_SPEEDUP = 5,
  QLZ_SETTING_MEMORY_SAFE = 6,
  QLZ_SETTING_VERSION_MAJOR = 7,
  QLZ_SETTING_VERSION_MINOR = 8,
  QLZ_SETTING_VERSION_REVISION = 9,
};
#define QLZ_COMPRESS_SCRATCH_SIZE 32784
#define QLZ_DECOMPRESS_SCRATCH_SIZE 16

_Static_assert(sizeof(Qlz131CompressState) <= QLZ_COMPRESS_SCRATCH_SIZE,
               "the hash table must fit the scratch size the library reports");

static size_t HeaderField(const char *Source, int Compressed) {
  QlzHeader h;
  if (!Source || !QlzReadHeader((const uint8_t *)Source, QLZ_HEADER_PEEK, &h))
    return 0;
  return Compressed ? h.CompressedSize : h.DecompressedSize;
}

static size_t Compress(const void *Source, char *Destination, size_t Size, void *State) {
  if (!Source || !Destination)
    return 0;
  /* The caller's scratch serves as the hash table when it is aligned for it; the loader's
     work area is a byte array, so the fallback keeps the table on this stack. */
  Qlz131CompressState local;
  Qlz131CompressState *table =
      State && ((uintptr_t)State % _Alignof(Qlz131CompressState)) == 0 ? (Qlz131CompressState *)State : &local;
  return Qlz131Compress(Source, Size, Destination, Qlz131CompressBound(Size), table);
}

static size_t Decompress(const char *Source, void *Destination) {
  QlzHeader h;
  if (!Source || !Destination || !QlzReadHeader((const uint8_t *)Source, QLZ_HEADER_PEEK, &h))
    return 0;
  return Qlz131Decompress(Source, h.CompressedSize, Destination, h.DecompressedSize);
}

static int GetSetting(int Setting) {
  switch (Setting) {
  case QLZ_SETTING_LEVEL: return 1;
  case QLZ_SETTING_COMPRESS_SCRATCH: return QLZ_COMPRESS_SCRATCH_SIZE;
  case QLZ_SETTING_DECOMPRESS_SCRATCH: return QLZ_DECOMPRESS_SCRATCH_SIZE;
  case QLZ_SETTING_STREAMING_BUFFER: return 0;
  case QLZ_SETTING_RUN_ENCODING: return 1;
  case QLZ_SETTING_INCOMPRESSIBLE_SPEEDUP: return 1;
  case QLZ_SETTING_MEMORY_SAFE: return 0;
  case QLZ_SETTING_VERSION_MAJOR: return 1;
  case QLZ_SETTING_VERSION_MINOR: return 3;
  case QLZ_SETTING_VERSION_REVISION: return 1;
  default: return -1;
  }
}

size_t QLZ_API qlz_size_decompressed(const char *Source) { return HeaderField(Source, 0); }
size_t QLZ_API qlz_size_compressed(const char *Source) { return HeaderField(Source, 1); }
size_t QLZ_API qlz_compress(const void *Source, char *Destination, size_t Size, void *State) {
  return Compress(Source, Destination, Size, State);
}
size_t QLZ_API qlz_decompress(const char *Source, void *Destination, void *State) {
  (void)State;
  return Decompress(Source, Destination);
}
int QLZ_API qlz_get_setting(int Setting) { return GetSetting(Setting); }

/* The streaming set: every block is self-contained (no history kept between calls), which
   any streaming reader also accepts. The block-compressed streams never call it. */
size_t QLZ_API qlz_streaming_size_decompressed(const char *Source) { return HeaderField(Source, 0); }
size_t QLZ_API qlz_streaming_size_compressed(const char *Source) { return HeaderField(Source, 1); }
size_t QLZ_API qlz_streaming_compress(const void *Source, char *Destination, size_t Size, void *State) {
  return Compress(Source, Destination, Size, State);
}
size_t QLZ_API qlz_streaming_decompress(const char *Source, void *Destination, void *State) {
  (void)State;
  return Decompress(Source, Destination);
}
int QLZ_API qlz_streaming_get_setting(int Setting) { return GetSetting(Setting); }
