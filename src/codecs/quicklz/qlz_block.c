/* qlz_block.c -- header, reader and encoder shared by the 1.20 and 1.31 codecs. */
#include "qlz_block.h"

#include <string.h>

#define QLZ_GROUP_TOKENS 31u
#define QLZ_SENTINEL 0x80000000u
#define QLZ_MIN_MATCH 3u
/* Largest output of one group: its control word and 31 tokens of at most 12 bytes. */
#define QLZ_MAX_GROUP_OUTPUT (4u + QLZ_GROUP_TOKENS * 12u)
#define QLZ_RAW_GROUP_OUTPUT (4u + QLZ_GROUP_TOKENS)
/* Output after the last group: the tail's literals (at most 9) and one control word. */
#define QLZ_MAX_TAIL_OUTPUT 16u
#define QLZ_BOUND_SLACK 400u
/* The incompressible-data shortcut is considered only past this many input bytes. */
#define QLZ_RAW_START 1000u
#define QLZ_SHORT_RUN_MAX 2047u

static uint32_t Load32(const uint8_t *p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static void Store32(uint8_t *p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

int QlzReadHeader(const uint8_t *Block, size_t Available, QlzHeader *Header) {
  if (Available < QLZ_SHORT_HEADER_SIZE)
    return 0;
  unsigned flags = Block[0];
  /* Bit 2 marks the level-0 token format, which neither version writes. */
  if (flags & ~(QLZ_FLAG_COMPRESSED | QLZ_FLAG_LONG_HEADER))
    return 0;
  Header->Flags = flags;
  if (flags & QLZ_FLAG_LONG_HEADER) {
    if (Available < QLZ_LONG_HEADER_SIZE)
      return 0;
    Header->HeaderSize = QLZ_LONG_HEADER_SIZE;
    Header->CompressedSize = Load32(Block + 1);
    Header->DecompressedSize = Load32(Block + 5);
  } else {
    Header->HeaderSize = QLZ_SHORT_HEADER_SIZE;
    Header->CompressedSize = Block[1];
    Header->DecompressedSize = Block[2];
  }
  if (Header->CompressedSize < Header->HeaderSize)
    return 0;
  if (!(flags & QLZ_FLAG_COMPRESSED) &&
      Header->CompressedSize - Header->HeaderSize != Header->DecompressedSize)
    return 0;
  return 1;
}

size_t QlzDecodeBlock(const uint8_t *Src, size_t SrcLen, uint8_t *Dst, size_t DstCapacity,
                      size_t EndLiterals) {
  QlzHeader h;
  if (!QlzReadHeader(Src, SrcLen, &h) || h.CompressedSize > SrcLen ||
      h.DecompressedSize > DstCapacity || h.DecompressedSize == 0)
    return 0;
  const size_t size = h.DecompressedSize;
  if (!(h.Flags & QLZ_FLAG_COMPRESSED)) {
    memcpy(Dst, Src + h.HeaderSize, size);
    return size;
  }

  const uint8_t *ip = Src + h.HeaderSize;
  const uint8_t *const iend = Src + h.CompressedSize;
  size_t op = 0;
  uint32_t cword = 1;
  while (op < size) {
    if (cword == 1) {
      if (iend - ip < 4)
        return 0;
      cword = Load32(ip);
      ip += 4;
      /* A control word without its sentinel would let the reader run past 31 tokens. */
      if (!(cword & QLZ_SENTINEL))
        return 0;
    }
    if (!(cword & 1)) {
      if (op + EndLiterals >= size) {
        /* The end rule: every remaining byte is a literal; the control words still due are
           skipped unread, since a reader stopping here never looks at their bits. */
        while (op < size) {
          if (cword == 1) {
            if (iend - ip < 4)
              return 0;
            ip += 4;
            cword = QLZ_SENTINEL;
          }
          if (ip >= iend)
            return 0;
          Dst[op++] = *ip++;
          cword >>= 1;
        }
        return size;
      }
      if (ip >= iend)
        return 0;
      Dst[op++] = *ip++;
      cword >>= 1;
      continue;
    }
    cword >>= 1;

    size_t avail = (size_t)(iend - ip);
    if (avail < 1)
      return 0;
    uint32_t v = ip[0];
    size_t length, offset;
    if ((v & 3) == 0) {
      offset = v >> 2;
      length = QLZ_MIN_MATCH;
      ip += 1;
    } else if ((v & 3) == 1) {
      if (avail < 2)
        return 0;
      v |= (uint32_t)ip[1] << 8;
      offset = v >> 2;
      length = QLZ_MIN_MATCH;
      ip += 2;
    } else if ((v & 3) == 2) {
      if (avail < 2)
        return 0;
      v |= (uint32_t)ip[1] << 8;
      length = ((v >> 2) & 15) + QLZ_MIN_MATCH;
      offset = v >> 6;
      ip += 2;
    } else if ((v & 7) == 3) {
      if (avail < 3)
        return 0;
      v |= ((uint32_t)ip[1] << 8) | ((uint32_t)ip[2] << 16);
      length = ((v >> 3) & 31) + QLZ_MIN_MATCH;
      offset = v >> 8;
      ip += 3;
    } else if ((v & 15) == 7) {
      if (avail < 4)
        return 0;
      v = Load32(ip);
      offset = v >> 15;
      if (offset != 0) {
        length = ((v >> 4) & 2047) + QLZ_MIN_MATCH;
        ip += 4;
      } else {
        if (avail < 12)
          return 0;
        length = Load32(ip + 4);
        offset = Load32(ip + 8);
        ip += 12;
      }
    } else {
      /* A run of one byte value. */
      if (avail < 3)
        return 0;
      v |= ((uint32_t)ip[1] << 8) | ((uint32_t)ip[2] << 16);
      size_t count = (v >> 4) & 0xFFF;
      uint8_t value = ip[2];
      if (count != 0) {
        ip += 3;
      } else {
        if (avail < 7)
          return 0;
        count = Load32(ip + 3);
        ip += 7;
      }
      if (count == 0 || count > size - op)
        return 0;
      memset(Dst + op, value, count);
      op += count;
      continue;
    }
    if (offset == 0 || offset > op || length == 0 || length > size - op)
      return 0;
    /* Byte by byte: a match may overlap the bytes it produces. */
    const uint8_t *from = Dst + op - offset;
    for (size_t i = 0; i < length; ++i)
      Dst[op + i] = from[i];
    op += length;
  }
  return size;
}

size_t QlzEncodeBound(size_t Size) {
  return Size + QLZ_BOUND_SLACK;
}

static unsigned HashOf(uint32_t Word) {
  return ((Word >> 12) ^ Word) & (QLZ_HASH_SIZE - 1);
}

typedef struct {
  uint8_t *Out;        /* next output byte */
  uint8_t *Slot;       /* control word being filled */
  uint32_t Bits;
  unsigned Count;
} QlzWriter;

static void CloseGroup(QlzWriter *w) {
  Store32(w->Slot, w->Bits | QLZ_SENTINEL);
}

static void OpenGroup(QlzWriter *w) {
  w->Slot = w->Out;
  w->Out += 4;
  w->Bits = 0;
  w->Count = 0;
}

static void PutToken(QlzWriter *w, int IsMatch) {
  w->Bits |= (uint32_t)(IsMatch ? 1u : 0u) << w->Count;
  w->Count++;
}

static size_t WriteHeader(uint8_t *Dst, unsigned Flags, size_t Total, size_t Size) {
  if (Size >= QLZ_LONG_HEADER_THRESHOLD) {
    Dst[0] = (uint8_t)(Flags | QLZ_FLAG_LONG_HEADER);
    Store32(Dst + 1, (uint32_t)Total);
    Store32(Dst + 5, (uint32_t)Size);
    return QLZ_LONG_HEADER_SIZE;
  }
  Dst[0] = (uint8_t)Flags;
  Dst[1] = (uint8_t)Total;
  Dst[2] = (uint8_t)Size;
  return QLZ_SHORT_HEADER_SIZE;
}

static size_t WriteStored(const uint8_t *Src, size_t Size, uint8_t *Dst) {
  size_t header = Size >= QLZ_LONG_HEADER_THRESHOLD ? QLZ_LONG_HEADER_SIZE : QLZ_SHORT_HEADER_SIZE;
  WriteHeader(Dst, 0, header + Size, Size);
  memcpy(Dst + header, Src, Size);
  return header + Size;
}

static uint8_t *PutMatch(uint8_t *out, size_t Length, size_t Offset) {
  uint32_t v;
  if (Length <= 18 && Offset <= 1023) {
    v = ((uint32_t)Offset << 6) | ((uint32_t)(Length - 3) << 2) | 2u;
    out[0] = (uint8_t)v;
    out[1] = (uint8_t)(v >> 8);
    return out + 2;
  }
  if (Length <= 34 && Offset <= 65535) {
    v = ((uint32_t)Offset << 8) | ((uint32_t)(Length - 3) << 3) | 3u;
    out[0] = (uint8_t)v;
    out[1] = (uint8_t)(v >> 8);
    out[2] = (uint8_t)(v >> 16);
    return out + 3;
  }
  if (Length <= 2050) {
    Store32(out, ((uint32_t)Offset << 15) | ((uint32_t)(Length - 3) << 4) | 7u);
    return out + 4;
  }
  Store32(out, 7u);
  Store32(out + 4, (uint32_t)Length);
  Store32(out + 8, (uint32_t)Offset);
  return out + 12;
}

size_t QlzEncodeBlock(const uint8_t *Src, size_t Size, uint8_t *Dst, size_t DstCapacity,
                      QlzHashTable *Table, const QlzEncoderParams *Params) {
  if (Size == 0 || Size > (size_t)UINT32_MAX - QLZ_BOUND_SLACK || DstCapacity < QlzEncodeBound(Size))
    return 0;
  const size_t header = Size >= QLZ_LONG_HEADER_THRESHOLD ? QLZ_LONG_HEADER_SIZE : QLZ_SHORT_HEADER_SIZE;
  const uint8_t *const dstEnd = Dst + DstCapacity;
  memset(Table, 0, sizeof *Table);

  QlzWriter w;
  w.Out = Dst + header;
  OpenGroup(&w);
  const size_t limit = Size > Params->Tail ? Size - Params->Tail : 0;
  size_t p = 0;
  while (p < limit) {
    if (w.Count == QLZ_GROUP_TOKENS) {
      CloseGroup(&w);
      /* Stored when the output has outgrown the input or could outgrow the buffer. */
      if ((size_t)(w.Out - Dst) > Size || dstEnd - w.Out < (ptrdiff_t)(QLZ_MAX_GROUP_OUTPUT + QLZ_MAX_TAIL_OUTPUT))
        return WriteStored(Src, Size, Dst);
      OpenGroup(&w);
      if (p > QLZ_RAW_START && (size_t)(w.Out - Dst - header) > p) {
        /* Incompressible so far: copy whole groups raw instead of searching them. */
        for (unsigned g = 0; g < Params->RawGroups && p + QLZ_GROUP_TOKENS < limit &&
                             dstEnd - w.Out >= (ptrdiff_t)(QLZ_RAW_GROUP_OUTPUT + QLZ_MAX_GROUP_OUTPUT + QLZ_MAX_TAIL_OUTPUT);
             ++g) {
          Store32(w.Slot, QLZ_SENTINEL);
          memcpy(w.Out, Src + p, QLZ_GROUP_TOKENS);
          w.Out += QLZ_GROUP_TOKENS;
          p += QLZ_GROUP_TOKENS;
          OpenGroup(&w);
        }
        continue;
      }
    }
    if (p < Params->ForcedLiterals) {
      PutToken(&w, 0);
      *w.Out++ = Src[p++];
      continue;
    }
    const uint8_t c = Src[p];
    if (Src[p + 1] == c && Src[p + 2] == c && Src[p + 3] == c && Src[p + 4] == c) {
      const uint32_t word = c * 0x01010101u;
      size_t count = 4;
      while (p + count + 4 <= limit && Load32(Src + p + count) == word)
        count += 4;
      PutToken(&w, 1);
      if (count <= QLZ_SHORT_RUN_MAX) {
        uint32_t v = ((uint32_t)count << 4) | 0xFu;
        w.Out[0] = (uint8_t)v;
        w.Out[1] = (uint8_t)(v >> 8);
        w.Out[2] = c;
        w.Out += 3;
      } else {
        w.Out[0] = 0x0F;
        w.Out[1] = 0;
        w.Out[2] = c;
        Store32(w.Out + 3, (uint32_t)count);
        w.Out += 7;
      }
      p += count;
      continue;
    }

    const uint32_t word = Load32(Src + p);
    const unsigned h = HashOf(word);
    const size_t candidate = Table->Position[h];
    const uint32_t cached = Table->Word[h];
    Table->Position[h] = (uint32_t)p;
    Table->Word[h] = word;
    const size_t offset = p - candidate;
    int usable = offset >= 4 && offset <= Params->MaxOffset && !(Params->RejectStart && candidate == 0) &&
                 Src[candidate] == Src[p] && Src[candidate + 1] == Src[p + 1] &&
                 Src[candidate + 2] == Src[p + 2];
    if (usable && Params->CachedWord)
      usable = ((cached ^ word) & 0xFFFFFFu) == 0;
    if (usable) {
      int four = Params->CachedWord ? cached == word : Src[candidate + 3] == Src[p + 3];
      if (four) {
        size_t length = 4;
        while (p + length < limit && Src[candidate + length] == Src[p + length])
          length++;
        PutToken(&w, 1);
        w.Out = PutMatch(w.Out, length, offset);
        p += length;
        continue;
      }
      if (offset <= 63) {
        PutToken(&w, 1);
        *w.Out++ = (uint8_t)(offset << 2);
        p += 3;
        continue;
      }
      if (offset <= 16383) {
        uint32_t v = ((uint32_t)offset << 2) | 1u;
        PutToken(&w, 1);
        w.Out[0] = (uint8_t)v;
        w.Out[1] = (uint8_t)(v >> 8);
        w.Out += 2;
        p += 3;
        continue;
      }
    }
    PutToken(&w, 0);
    *w.Out++ = Src[p++];
  }

  while (p < Size) {
    if (w.Count == QLZ_GROUP_TOKENS) {
      CloseGroup(&w);
      /* The same check as before every control word of the main loop. */
      if ((size_t)(w.Out - Dst) > Size)
        return WriteStored(Src, Size, Dst);
      OpenGroup(&w);
    }
    PutToken(&w, 0);
    *w.Out++ = Src[p++];
  }
  CloseGroup(&w);
  while ((size_t)(w.Out - Dst) < QLZ_MIN_COMPRESSED_BLOCK)
    *w.Out++ = 0;
  size_t total = (size_t)(w.Out - Dst);
  WriteHeader(Dst, QLZ_FLAG_COMPRESSED, total, Size);
  return total;
}
