/* lzma: file-to-file coder for the LZMA-alone format over the LZMA SDK's C encoder and decoder.

     lzma e [-eos] IN OUT   encode IN into OUT
     lzma d IN OUT          decode IN into OUT

   The file is a 13-byte header followed by the raw LZMA stream:
     offset 0   properties byte, (pb * 5 + lp) * 9 + lc
     offset 1   dictionary size, uint32 little-endian
     offset 5   uncompressed size, uint64 little-endian; all ones when unknown, in which case the
                stream ends with the end marker
   "e" writes the input's size and no end marker; with -eos it writes the unknown size and the end
   marker instead. "d" accepts both forms, and a known-size stream that carries an end marker right
   at its stated size. Bytes after the end of the stream are ignored.

   Both directions stream through fixed buffers, so inputs far larger than memory work. Exit code 0
   on success with no output on stdout or stderr (the tool runs hidden); on failure exactly one line
   on stderr, exit code 1 (2 for wrong usage), and no output file is left behind.

   Plain C and stdio only: the same file builds for the host and for Windows. */

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "LzmaDec.h"
#include "LzmaEnc.h"

enum
{
  kExitOk = 0,
  kExitFailure = 1,
  kExitUsage = 2
};

/* The LZMA-alone header: properties, then the uncompressed size. */
#define kHeaderSize (LZMA_PROPS_SIZE + 8)
#define kSizeFieldOffset LZMA_PROPS_SIZE

/* Encoder settings: lc 3, lp 0, pb 2 (properties byte 0x5D), level 5 (normal parsing, binary-tree
   match finder with 4-byte hashing, 32 fast bytes), 8 MiB dictionary, reduced for smaller inputs. */
#define kEncoderLevel 5
#define kEncoderDictSize ((UInt32)1 << 23)
#define kEncoderLc 3
#define kEncoderLp 0
#define kEncoderPb 2

/* Smallest dictionary buffer the decoder allocates, as the SDK's own allocation does. */
#define kMinDictBuffer ((SizeT)1 << 12)

/* Stream buffers: the decoder's input and the stdio buffers of both files. */
#define kInBufferSize ((size_t)1 << 20)
#define kStdioBufferSize ((size_t)1 << 20)

static const char kUsage[] = "usage: lzma e [-eos] IN OUT | lzma d IN OUT";

/* Prints "lzma: <message>" as the tool's single line on stderr. */
static void Fail(const char *fmt, ...)
{
  va_list args;
  fputs("lzma: ", stderr);
  va_start(args, fmt);
  vfprintf(stderr, fmt, args);
  va_end(args);
  fputc('\n', stderr);
}

static void *SzAlloc(void *p, size_t size)
{
  (void)p;
  return size == 0 ? NULL : malloc(size);
}

static void SzFree(void *p, void *address)
{
  (void)p;
  free(address);
}

static ISzAlloc g_Alloc = { SzAlloc, SzFree };

/* ---------- Files ---------- */

/* The output file: created only once the input has been accepted, removed again on failure, so
   a failed run never leaves a partial file (nor touches a file it did not create). */
typedef struct
{
  const char *path;
  FILE *file;
} COutFile;

static int OutFile_Create(COutFile *p, const char *path)
{
  p->path = path;
  p->file = fopen(path, "wb");
  if (p->file == NULL)
  {
    Fail("cannot create output file '%s'", path);
    return 0;
  }
  setvbuf(p->file, NULL, _IOFBF, kStdioBufferSize);
  return 1;
}

/* Closes the file and reports whether every write reached it (fclose flushes the last buffer). */
static int OutFile_Close(COutFile *p)
{
  int ok = ferror(p->file) == 0;
  if (fclose(p->file) != 0)
    ok = 0;
  p->file = NULL;
  if (!ok)
    Fail("cannot write output file '%s'", p->path);
  return ok;
}

static void OutFile_Discard(COutFile *p)
{
  if (p->file == NULL)
    return;
  fclose(p->file);
  p->file = NULL;
  remove(p->path);
}

static FILE *OpenInput(const char *path)
{
  FILE *f = fopen(path, "rb");
  if (f == NULL)
    Fail("cannot open input file '%s'", path);
  else
    setvbuf(f, NULL, _IOFBF, kStdioBufferSize);
  return f;
}

/* Reads up to size bytes, fewer only at the end of the file. Returns the count, or (size_t)-1 on
   a read error. */
static size_t ReadFull(FILE *f, void *buf, size_t size)
{
  size_t done = 0;
  while (done < size)
  {
    size_t n = fread((Byte *)buf + done, 1, size - done, f);
    if (n == 0)
      return ferror(f) ? (size_t)-1 : done;
    done += n;
  }
  return done;
}

static void SetUInt64(Byte *dest, UInt64 value)
{
  int i;
  for (i = 0; i < 8; i++)
    dest[i] = (Byte)(value >> (8 * i));
}

static UInt64 GetUInt64(const Byte *src)
{
  UInt64 value = 0;
  int i;
  for (i = 7; i >= 0; i--)
    value = (value << 8) | src[i];
  return value;
}

/* ---------- Encoding ---------- */

typedef struct
{
  ISeqInStream vt;
  FILE *file;
  UInt64 total;
  int failed;
} CFileInStream;

typedef struct
{
  ISeqOutStream vt;
  FILE *file;
  int failed;
} CFileOutStream;

static SRes FileInStream_Read(void *pp, void *buf, size_t *size)
{
  CFileInStream *p = (CFileInStream *)pp;
  size_t n = *size == 0 ? 0 : fread(buf, 1, *size, p->file);
  *size = n;
  if (n == 0 && ferror(p->file))
  {
    p->failed = 1;
    return SZ_ERROR_READ;
  }
  p->total += n;
  return SZ_OK;
}

static size_t FileOutStream_Write(void *pp, const void *buf, size_t size)
{
  CFileOutStream *p = (CFileOutStream *)pp;
  size_t n = fwrite(buf, 1, size, p->file);
  if (n != size)
    p->failed = 1;
  return n;
}

/* Size of the input file for the encoder's dictionary reduction; (UInt32)-1 when unknown or 4 GiB
   and over. Only an estimate: the header gets the count of bytes actually read. */
static UInt32 EstimateInputSize(FILE *f)
{
  long size;
  if (fseek(f, 0, SEEK_END) != 0)
    return (UInt32)-1;
  size = ftell(f);
  if (fseek(f, 0, SEEK_SET) != 0)
    return (UInt32)-1;
  if (size < 0 || (unsigned long)size >= 0xFFFFFFFFUL)
    return (UInt32)-1;
  return (UInt32)size;
}

static int Encode(const char *inPath, const char *outPath, int writeEndMark)
{
  int ok = 0;
  SRes res;
  CLzmaEncProps props;
  CLzmaEncHandle enc = NULL;
  Byte header[kHeaderSize];
  SizeT propsSize = LZMA_PROPS_SIZE;
  CFileInStream inStream;
  CFileOutStream outStream;
  COutFile out = { outPath, NULL };
  FILE *in = OpenInput(inPath);
  if (in == NULL)
    return 0;

  LzmaEncProps_Init(&props);
  props.level = kEncoderLevel;
  props.dictSize = kEncoderDictSize;
  props.reduceSize = EstimateInputSize(in);
  props.lc = kEncoderLc;
  props.lp = kEncoderLp;
  props.pb = kEncoderPb;
  props.writeEndMark = writeEndMark ? 1 : 0;
  props.numThreads = 1;

  enc = LzmaEnc_Create(&g_Alloc);
  if (enc == NULL)
  {
    Fail("out of memory");
    goto done;
  }
  if (LzmaEnc_SetProps(enc, &props) != SZ_OK || LzmaEnc_WriteProperties(enc, header, &propsSize) != SZ_OK)
  {
    Fail("internal error: encoder properties rejected");
    goto done;
  }
  /* A known size is patched in once the input has been read to its end. */
  SetUInt64(header + kSizeFieldOffset, (UInt64)(Int64)-1);

  if (!OutFile_Create(&out, outPath))
    goto done;
  if (fwrite(header, 1, kHeaderSize, out.file) != kHeaderSize)
  {
    Fail("cannot write output file '%s'", outPath);
    goto done;
  }

  inStream.vt.Read = FileInStream_Read;
  inStream.file = in;
  inStream.total = 0;
  inStream.failed = 0;
  outStream.vt.Write = FileOutStream_Write;
  outStream.file = out.file;
  outStream.failed = 0;

  res = LzmaEnc_Encode(enc, &outStream.vt, &inStream.vt, NULL, &g_Alloc, &g_Alloc);
  if (inStream.failed || res == SZ_ERROR_READ)
  {
    Fail("cannot read input file '%s'", inPath);
    goto done;
  }
  if (outStream.failed || res == SZ_ERROR_WRITE)
  {
    Fail("cannot write output file '%s'", outPath);
    goto done;
  }
  if (res == SZ_ERROR_MEM)
  {
    Fail("out of memory");
    goto done;
  }
  if (res != SZ_OK)
  {
    Fail("internal error: encoder result %d", (int)res);
    goto done;
  }

  if (!writeEndMark)
  {
    Byte sizeField[8];
    SetUInt64(sizeField, inStream.total);
    if (fseek(out.file, kSizeFieldOffset, SEEK_SET) != 0 || fwrite(sizeField, 1, 8, out.file) != 8)
    {
      Fail("cannot write output file '%s'", outPath);
      goto done;
    }
  }
  ok = OutFile_Close(&out);
  if (!ok)
    remove(outPath);

done:
  OutFile_Discard(&out);
  if (enc != NULL)
    LzmaEnc_Destroy(enc, &g_Alloc, &g_Alloc);
  fclose(in);
  return ok;
}

/* ---------- Decoding ---------- */

/* Writes the decoded bytes held in the dictionary buffer. */
static int FlushDictionary(CLzmaDec *dec, COutFile *out)
{
  if (dec->dicPos != 0 && fwrite(dec->dic, 1, dec->dicPos, out->file) != dec->dicPos)
  {
    Fail("cannot write output file '%s'", out->path);
    return 0;
  }
  return 1;
}

/* Decodes the stream after the header from in into out. The decoder works in its own dictionary
   buffer, which is written out each time it fills, so every output byte is copied once.
   Returns 1 on success; otherwise prints the failure and returns 0. */
static int DecodeStream(CLzmaDec *dec, FILE *in, const char *inPath, Byte *inBuf, COutFile *out,
    int sizeKnown, UInt64 unpackSize)
{
  size_t inPos = 0, inLen = 0;
  int inEof = 0;
  UInt64 flushed = 0; /* bytes written out before the dictionary's current contents */
  ELzmaFinishMode finishMode = LZMA_FINISH_ANY;

  LzmaDec_Init(dec);
  for (;;)
  {
    SizeT limit = dec->dicBufSize;
    SizeT srcLen, dicBefore;
    ELzmaStatus status;
    SRes res;
    UInt64 produced;
    int progress;

    if (inPos == inLen && !inEof)
    {
      inPos = 0;
      inLen = fread(inBuf, 1, kInBufferSize, in);
      if (inLen == 0)
      {
        if (ferror(in))
        {
          Fail("cannot read input file '%s'", inPath);
          return 0;
        }
        inEof = 1;
      }
    }

    if (sizeKnown)
    {
      UInt64 remaining = unpackSize - (flushed + dec->dicPos);
      if (remaining < limit - dec->dicPos)
        limit = dec->dicPos + (SizeT)remaining;
    }
    srcLen = inLen - inPos;
    dicBefore = dec->dicPos;
    res = LzmaDec_DecodeToDic(dec, limit, inBuf + inPos, &srcLen, finishMode, &status);
    inPos += srcLen;
    if (res != SZ_OK)
    {
      Fail("data error");
      return 0;
    }
    progress = srcLen != 0 || dec->dicPos != dicBefore;

    if (dec->dicPos == dec->dicBufSize)
    {
      if (!FlushDictionary(dec, out))
        return 0;
      flushed += dec->dicPos;
      dec->dicPos = 0;
    }
    produced = flushed + dec->dicPos;

    if (status == LZMA_STATUS_FINISHED_WITH_MARK)
    {
      if (sizeKnown && produced != unpackSize)
      {
        Fail("data error: end marker before the stated size");
        return 0;
      }
      break;
    }
    if (sizeKnown && produced == unpackSize)
    {
      if (status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK)
        break;
      /* The range coder is not at a clean end: valid only if an end marker follows right here,
         which the decoder checks (or rejects as a data error) in LZMA_FINISH_END mode. */
      finishMode = LZMA_FINISH_END;
    }
    if (!progress && inPos == inLen && inEof)
    {
      Fail("unexpected end of input");
      return 0;
    }
  }
  return FlushDictionary(dec, out);
}

static int Decode(const char *inPath, const char *outPath)
{
  int ok = 0;
  Byte header[kHeaderSize];
  size_t got;
  CLzmaProps props;
  CLzmaDec dec;
  SizeT dicBufSize;
  UInt64 unpackSize;
  int sizeKnown;
  Byte *inBuf = NULL;
  COutFile out = { outPath, NULL };
  FILE *in = OpenInput(inPath);
  if (in == NULL)
    return 0;
  LzmaDec_Construct(&dec);

  got = ReadFull(in, header, kHeaderSize);
  if (got == (size_t)-1)
  {
    Fail("cannot read input file '%s'", inPath);
    goto done;
  }
  if (got < kHeaderSize)
  {
    Fail("unexpected end of input");
    goto done;
  }
  if (LzmaProps_Decode(&props, header, LZMA_PROPS_SIZE) != SZ_OK)
  {
    Fail("invalid header: unsupported properties byte 0x%02X", (unsigned)header[0]);
    goto done;
  }
  unpackSize = GetUInt64(header + kSizeFieldOffset);
  sizeKnown = unpackSize != (UInt64)(Int64)-1;

  /* No match reaches further back than the output so far, so a known size smaller than the
     dictionary bounds the buffer (as the SDK's one-call decoder does); the buffer then never
     wraps. Otherwise it must hold the whole dictionary. */
  if (sizeKnown && unpackSize < props.dicSize)
    dicBufSize = unpackSize < kMinDictBuffer ? kMinDictBuffer : (SizeT)unpackSize;
  else
    dicBufSize = props.dicSize < kMinDictBuffer ? kMinDictBuffer : props.dicSize;

  inBuf = (Byte *)malloc(kInBufferSize);
  dec.dic = (Byte *)malloc(dicBufSize);
  if (inBuf == NULL || dec.dic == NULL)
  {
    Fail("out of memory");
    goto done;
  }
  dec.dicBufSize = dicBufSize;
  if (LzmaDec_AllocateProbs(&dec, header, LZMA_PROPS_SIZE, &g_Alloc) != SZ_OK)
  {
    Fail("out of memory");
    goto done;
  }

  if (!OutFile_Create(&out, outPath))
    goto done;
  if (!DecodeStream(&dec, in, inPath, inBuf, &out, sizeKnown, unpackSize))
    goto done;
  ok = OutFile_Close(&out);
  if (!ok)
    remove(outPath);

done:
  OutFile_Discard(&out);
  LzmaDec_FreeProbs(&dec, &g_Alloc);
  free(dec.dic);
  free(inBuf);
  fclose(in);
  return ok;
}

/* ---------- Command line ---------- */

int main(int argc, char **argv)
{
  const char *files[2];
  int numFiles = 0;
  int endMark = 0;
  int i;
  char command;

  if (argc < 2)
  {
    fprintf(stderr, "%s\n", kUsage);
    return kExitUsage;
  }
  if (strcmp(argv[1], "e") == 0 || strcmp(argv[1], "d") == 0)
    command = argv[1][0];
  else
  {
    Fail("unknown command '%s' (%s)", argv[1], kUsage);
    return kExitUsage;
  }
  for (i = 2; i < argc; i++)
  {
    const char *arg = argv[i];
    if (command == 'e' && strcmp(arg, "-eos") == 0)
      endMark = 1;
    else if (arg[0] == '-' && arg[1] != '\0')
    {
      Fail("unknown option '%s' (%s)", arg, kUsage);
      return kExitUsage;
    }
    else if (numFiles < 2)
      files[numFiles++] = arg;
    else
      numFiles = 3;
  }
  if (numFiles != 2)
  {
    fprintf(stderr, "%s\n", kUsage);
    return kExitUsage;
  }

  if (command == 'e')
    return Encode(files[0], files[1], endMark) ? kExitOk : kExitFailure;
  return Decode(files[0], files[1]) ? kExitOk : kExitFailure;
}
