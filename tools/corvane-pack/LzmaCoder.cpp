#include "LzmaCoder.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "PackFiles.h"
#include "cm/Objects/ScopeExit.h"

extern "C" {
#include "LzmaDec.h"
#include "LzmaEnc.h"
}

namespace pack {

namespace {

// The lzma tool's settings (src/codecs/lzma_main.c: level 5 of its SDK release), named one by
// one: a newer release's defaults for a level need not be the same.
constexpr int EncoderLevel = 5;
constexpr uint32_t EncoderDictSize = uint32_t{1} << 23;
constexpr int EncoderLc = 3, EncoderLp = 0, EncoderPb = 2;
constexpr int EncoderNormalMode = 1, EncoderFastBytes = 32, EncoderBinaryTree = 1, EncoderHashBytes = 4;
constexpr uint32_t EncoderMatchCycles = 32;
// The match finder on a thread of its own; the coded bytes do not depend on it.
constexpr int EncoderThreads = 2;
constexpr size_t HeaderSize = LZMA_PROPS_SIZE + 8;
constexpr uint64_t UnknownSize = ~uint64_t{0};

void* SzAlloc(ISzAllocPtr, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void SzFree(ISzAllocPtr, void* address) { std::free(address); }
const ISzAlloc Allocator = {SzAlloc, SzFree};

// The SDK's interfaces hand back the interface member, which is each adapter's first.
template <class T, class TInterface>
T* Adapter(const TInterface* p) {
    return const_cast<T*>(reinterpret_cast<const T*>(p));
}

struct TInput {
    ISeqInStream Vt;
    cm::TStream* Stream;
    uint64_t Left;
    bool Failed;
    std::string Error;
};

struct TOutput {
    ISeqOutStream Vt;
    std::string* Bytes;
};

struct TProgressAdapter {
    ICompressProgress Vt;
    const TCoderProgress* Callback;
};

// Called on the match finder's thread while the coder runs (one call at a time).
SRes InputRead(ISeqInStreamPtr p, void* buffer, size_t* size) {
    auto* in = Adapter<TInput>(p);
    size_t wanted = *size;
    if (wanted > in->Left) wanted = static_cast<size_t>(in->Left);
    if (wanted > (size_t{1} << 30)) wanted = size_t{1} << 30;
    try {
        const int32_t n = wanted ? in->Stream->Read(buffer, static_cast<int32_t>(wanted)) : 0;
        *size = static_cast<size_t>(n);
        in->Left -= static_cast<uint64_t>(n);
        return SZ_OK;
    } catch (const std::exception& e) {
        in->Failed = true;
        in->Error = e.what();
        *size = 0;
        return SZ_ERROR_READ;
    }
}

size_t OutputWrite(ISeqOutStreamPtr p, const void* buffer, size_t size) {
    auto* out = Adapter<TOutput>(p);
    out->Bytes->append(static_cast<const char*>(buffer), size);
    return size;
}

SRes ProgressReport(ICompressProgressPtr p, UInt64 inSize, UInt64) {
    auto* progress = Adapter<TProgressAdapter>(p);
    if (*progress->Callback) (*progress->Callback)(inSize);
    return SZ_OK;
}

uint64_t GetUInt64(const char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(p[i]);
    return v;
}

}  // namespace

std::string LzmaEncode(cm::TStream& input, uint64_t size, const TCoderProgress& progress) {
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = EncoderLevel;
    props.dictSize = EncoderDictSize;
    props.reduceSize = size >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
    props.lc = EncoderLc;
    props.lp = EncoderLp;
    props.pb = EncoderPb;
    props.algo = EncoderNormalMode;
    props.fb = EncoderFastBytes;
    props.btMode = EncoderBinaryTree;
    props.numHashBytes = EncoderHashBytes;
    props.mc = EncoderMatchCycles;
    props.writeEndMark = 0;
    props.numThreads = EncoderThreads;
    std::unique_ptr<CLzmaEnc, void (*)(CLzmaEnc*)> encoder(LzmaEnc_Create(&Allocator), [](CLzmaEnc* p) {
        if (p) LzmaEnc_Destroy(p, &Allocator, &Allocator);
    });
    if (!encoder) throw EPackError("out of memory for the LZMA encoder");
    std::string out(HeaderSize, '\0');
    SizeT propsSize = LZMA_PROPS_SIZE;
    if (LzmaEnc_SetProps(encoder.get(), &props) != SZ_OK ||
        LzmaEnc_WriteProperties(encoder.get(), reinterpret_cast<Byte*>(&out[0]), &propsSize) != SZ_OK)
        throw EPackError("the LZMA encoder rejected its settings");
    for (int i = 0; i < 8; ++i) out[LZMA_PROPS_SIZE + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    out.reserve(static_cast<size_t>(size / 2 + HeaderSize));

    TInput in{{InputRead}, &input, size, false, {}};
    TOutput sink{{OutputWrite}, &out};
    TProgressAdapter adapter{{ProgressReport}, &progress};
    const SRes result = LzmaEnc_Encode(encoder.get(), &sink.Vt, &in.Vt, &adapter.Vt, &Allocator, &Allocator);
    if (in.Failed) throw EPackError(in.Error);
    if (result == SZ_ERROR_MEM) throw EPackError("out of memory while compressing");
    if (result == SZ_ERROR_THREAD) throw EPackError("the LZMA encoder could not start its match finder's thread");
    if (result != SZ_OK) throw EPackError("the LZMA encoder failed (result " + std::to_string(result) + ")");
    if (in.Left != 0) throw EPackError("the package ended early while compressing");
    return out;
}

uint64_t LzmaStatedSize(std::string_view stream) {
    return stream.size() < HeaderSize ? 0 : GetUInt64(stream.data() + LZMA_PROPS_SIZE);
}

std::string LzmaDecode(std::string_view stream, uint64_t limit) {
    if (stream.size() < HeaderSize) throw EPackError("the payload is not a valid LZMA stream: shorter than its header");
    const uint64_t stated = LzmaStatedSize(stream);
    const bool known = stated != UnknownSize;
    if (known && stated > limit)
        throw EPackError("the payload is not a valid LZMA stream: it states " + std::to_string(stated) +
                         " bytes, more than a package can hold");
    // A stated size is only believed as far as the data could hold it (LZMA codes at most a few
    // hundred times smaller); beyond that, and without one, the output grows as it comes.
    std::string out;
    if (known && stated / 1024 < stream.size()) out.reserve(static_cast<size_t>(stated));
    CLzmaDec decoder;
    LzmaDec_Construct(&decoder);
    if (LzmaDec_Allocate(&decoder, reinterpret_cast<const Byte*>(stream.data()), LZMA_PROPS_SIZE, &Allocator) != SZ_OK)
        throw EPackError("the payload is not a valid LZMA stream: bad properties");
    // Freed also when a stream that decodes to too much ends the loop by an error.
    cm::TScopeExit freeDecoder([&decoder]() noexcept { LzmaDec_Free(&decoder, &Allocator); });
    LzmaDec_Init(&decoder);
    const Byte* in = reinterpret_cast<const Byte*>(stream.data()) + HeaderSize;
    SizeT inLeft = stream.size() - HeaderSize;
    Byte buffer[1 << 16];
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    SRes result = SZ_OK;
    for (;;) {
        SizeT outSize = sizeof buffer;
        ELzmaFinishMode finish = LZMA_FINISH_ANY;
        if (known && stated - out.size() <= outSize) {
            outSize = static_cast<SizeT>(stated - out.size());
            finish = LZMA_FINISH_END;
        }
        SizeT inSize = inLeft;
        result = LzmaDec_DecodeToBuf(&decoder, buffer, &outSize, in, &inSize, finish, &status);
        in += inSize;
        inLeft -= inSize;
        out.append(reinterpret_cast<const char*>(buffer), outSize);
        if (result != SZ_OK || status == LZMA_STATUS_FINISHED_WITH_MARK) break;
        if (known && out.size() == stated) break;
        if (out.size() > limit)
            throw EPackError("the payload is not a valid LZMA stream: it decodes to more than a package can hold");
        if (inSize == 0 && outSize == 0) break;
    }
    if (result != SZ_OK) throw EPackError("the payload is not a valid LZMA stream: damaged data");
    if (known && out.size() != stated)
        throw EPackError("the payload is not a valid LZMA stream: it ends after " + std::to_string(out.size()) + " of " +
                         std::to_string(stated) + " bytes");
    return out;
}

}  // namespace pack
