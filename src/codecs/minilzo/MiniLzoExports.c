/* The exports of MiniLZO.dll: minilzo's LZO1X-1 compressor and its two decompressors behind
 * __stdcall entry points, exported under their decorated names (_lzo1x_1_compress@20, ...;
 * see MiniLZO.def), which the codec loader of cm/RealTimeCompressStreams looks up first.
 * The entries take and return exactly what minilzo's functions of the same name do. */
#include "minilzo.h"

#define MINILZO_EXPORT int __stdcall

MINILZO_EXPORT MiniLzoCompress(const lzo_bytep src, lzo_uint srcLen, lzo_bytep dst, lzo_uintp dstLen, lzo_voidp work)
{
    return lzo1x_1_compress(src, srcLen, dst, dstLen, work);
}

MINILZO_EXPORT MiniLzoDecompress(const lzo_bytep src, lzo_uint srcLen, lzo_bytep dst, lzo_uintp dstLen, lzo_voidp work)
{
    return lzo1x_decompress(src, srcLen, dst, dstLen, work);
}

MINILZO_EXPORT MiniLzoDecompressSafe(const lzo_bytep src, lzo_uint srcLen, lzo_bytep dst, lzo_uintp dstLen, lzo_voidp work)
{
    return lzo1x_decompress_safe(src, srcLen, dst, dstLen, work);
}
