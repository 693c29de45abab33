// The Win32 codec table: MiniLZO.dll, QuickLZ.dll and QuickLZ131.dll, each loaded at its first
// use and kept until the process ends.
//
// On x86 an entry found under its decorated name ("_name@N") is __stdcall; one found only under its
// plain name is __cdecl (the convention a C library exports plain names with). Both kinds are kept
// so that each call uses the convention its entry was built with. On x64 there is one convention
// and no decoration: the stdcall name is the plain one (cm::arch::StdCallExportName).
#include <cstring>
#include <string>

#include "cm/Objects/Architecture.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/WinApi.h"
#include "cm/RealTimeCompressStreams/CompressCodecs.h"
#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"

namespace cm::codecs {

namespace {

// QuickLZ 1.31's get_setting: 1 = compression scratch size, 2 = decompression scratch size.
constexpr int QuickLzSettingCompressScratch = 1;
constexpr int QuickLzSettingDecompressScratch = 2;
// Largest compression scratch the 1.31 library may ask for, plus one; the work area passed is
// CompressWorkAreaSize bytes.
constexpr int QuickLz131CompressScratchLimit = 32785;

// One resolved entry: its address and whether it is __stdcall.
struct TEntry {
    FARPROC Address = nullptr;
    bool StdCall = false;
};

// A callable entry of one signature, held in the pointer of its convention (the other is null).
// The signatures are spelled out one by one, and the two conventions kept in two pointers: GCC 12
// drops a calling-convention attribute from a function type built from a template parameter pack,
// and merges two calls through one address that differ only in their convention.
#define CORVANE_CODEC_ENTRY(Name, ...)                                                    \
    struct Name {                                                                         \
        int(__stdcall* StdCall)(__VA_ARGS__) = nullptr;                                   \
        int(__cdecl* Cdecl)(__VA_ARGS__) = nullptr;                                       \
        Name() = default;                                                                 \
        explicit Name(const TEntry& entry) {                                              \
            void* address = reinterpret_cast<void*>(entry.Address);                       \
            if (entry.StdCall)                                                            \
                StdCall = reinterpret_cast<decltype(StdCall)>(address);                   \
            else                                                                          \
                Cdecl = reinterpret_cast<decltype(Cdecl)>(address);                       \
        }                                                                                 \
        explicit operator bool() const { return StdCall || Cdecl; }                       \
    };
CORVANE_CODEC_ENTRY(TLzoEntry, const uint8_t*, uint32_t, uint8_t*, uint32_t*, void*)
CORVANE_CODEC_ENTRY(TQlz120CompressEntry, const uint8_t*, uint8_t*, int32_t)
CORVANE_CODEC_ENTRY(TQlz120DecompressEntry, const uint8_t*, uint8_t*)
CORVANE_CODEC_ENTRY(TQlzSizeEntry, const uint8_t*)
CORVANE_CODEC_ENTRY(TQlz131CompressEntry, const uint8_t*, uint8_t*, int32_t, void*)
CORVANE_CODEC_ENTRY(TQlz131DecompressEntry, const uint8_t*, uint8_t*, void*)
CORVANE_CODEC_ENTRY(TQlz131SettingEntry, int)
#undef CORVANE_CODEC_ENTRY

#define CORVANE_CALL_ENTRY(entry, ...) \
    ((entry).StdCall ? (entry).StdCall(__VA_ARGS__) : (entry).Cdecl(__VA_ARGS__))

struct TMiniLzo {
    bool Loaded = false;
    TLzoEntry Compress, Decompress, DecompressSafe;
} MiniLzo;

struct TQuickLz {
    bool Loaded = false;
    TQlzSizeEntry SizeDecompressed, SizeSource;
    TQlz120CompressEntry Compress;
    TQlz120DecompressEntry Decompress;
} QuickLz;

struct TQuickLz131Set {
    TQlzSizeEntry SizeDecompressed, SizeCompressed;
    TQlz131CompressEntry Compress;
    TQlz131DecompressEntry Decompress;
    TQlz131SettingEntry GetSetting;
};
struct TQuickLz131 {
    bool Loaded = false;
    TQuickLz131Set Plain, Streaming;  // "qlz_" and "qlz_streaming_"
} QuickLz131;

std::string ExecutableDirectory() {
    char buffer[MAX_PATH + 1];
    const DWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer)
        RaiseLastSystemError("Cannot get filename of module 0x0%x", {0u});
    return ExtractPathPart(std::string(buffer, n));
}

bool IsFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Finds the library beside the executable, else along the library search path, and loads it.
// Raises notFound (with the name) or the OS error of the load.
UniqueModule LoadCodecLibrary(const char* name, const char* notFound) {
    std::string path = AddTrailingBackslash(ExecutableDirectory()) + name;
    if (!IsFile(path)) {
        char found[MAX_PATH + 1];
        char* namePart = nullptr;
        const DWORD n = ::SearchPathA(nullptr, name, nullptr, sizeof found, found, &namePart);
        if (n == 0 || n >= sizeof found)
            throw Exception(Format(notFound, {name}));
        path.assign(found, n);
    }
    // The full path, so that the loader does not search again and pick another copy.
    UniqueModule module(::LoadLibraryA(path.c_str()));
    if (!module)
        RaiseLastSystemError("Cannot load library '%s'", {path});
    return module;
}

// The stdcall entry `name` with argumentBytes bytes of arguments (x86 argument sizes), under the
// name this architecture exports it by; a null address when the library has none.
TEntry FindEntry(HMODULE module, const std::string& name, int argumentBytes) {
    TEntry entry;
    entry.Address = ::GetProcAddress(module, arch::StdCallExportName(name, argumentBytes).c_str());
    entry.StdCall = entry.Address != nullptr;
    return entry;
}

// The stdcall entry, else the plain name (a cdecl export), which must exist.
TEntry ResolveEntry(HMODULE module, const std::string& name, int argumentBytes) {
    TEntry entry = FindEntry(module, name, argumentBytes);
    if (!entry.Address) {
        entry.Address = ::GetProcAddress(module, name.c_str());
        if (!entry.Address)
            RaiseLastSystemError("Cannot get address of procedure '%s'", {name});
    }
    return entry;
}

TEntry RequireEntry(HMODULE module, const std::string& name, int argumentBytes) {
    TEntry entry = FindEntry(module, name, argumentBytes);
    if (!entry.Address)
        RaiseLastSystemError("Cannot get address of procedure '%s'",
                             {arch::StdCallExportName(name, argumentBytes)});
    return entry;
}

TQuickLz131Set ResolveQuickLz131Set(HMODULE module, const std::string& prefix) {
    TQuickLz131Set set;
    set.SizeDecompressed = TQlzSizeEntry(FindEntry(module, prefix + "size_decompressed", 4));
    set.SizeCompressed = TQlzSizeEntry(FindEntry(module, prefix + "size_compressed", 4));
    set.Compress = TQlz131CompressEntry(FindEntry(module, prefix + "compress", 16));
    set.Decompress = TQlz131DecompressEntry(FindEntry(module, prefix + "decompress", 12));
    set.GetSetting = TQlz131SettingEntry(FindEntry(module, prefix + "get_setting", 4));
    return set;
}

}  // namespace

void EnsureMiniLzo() {
    if (MiniLzo.Loaded)
        return;
    try {
        UniqueModule module = LoadCodecLibrary(MiniLzoLibraryName, "MiniLZO library not found: %s");
        TMiniLzo loaded;
        loaded.Compress = TLzoEntry(ResolveEntry(module.get(), "lzo1x_1_compress", 20));
        loaded.Decompress = TLzoEntry(ResolveEntry(module.get(), "lzo1x_decompress", 20));
        loaded.DecompressSafe = TLzoEntry(ResolveEntry(module.get(), "lzo1x_decompress_safe", 20));
        module.release();  // stays loaded until the process ends
        loaded.Loaded = true;
        MiniLzo = loaded;
    } catch (...) {
        ReraiseWithContext("Failed to initialize MiniLZO.dll library.");
    }
}

void EnsureQuickLz() {
    if (QuickLz.Loaded)
        return;
    try {
        UniqueModule module = LoadCodecLibrary(QuickLzLibraryName, "QuickLZ library not found: %s");
        TQuickLz loaded;
        loaded.SizeDecompressed = TQlzSizeEntry(ResolveEntry(module.get(), "qlz_size_decompressed", 4));
        loaded.SizeSource = TQlzSizeEntry(ResolveEntry(module.get(), "qlz_size_source", 4));
        loaded.Compress = TQlz120CompressEntry(ResolveEntry(module.get(), "qlz_compress", 12));
        loaded.Decompress = TQlz120DecompressEntry(ResolveEntry(module.get(), "qlz_decompress", 8));
        module.release();
        loaded.Loaded = true;
        QuickLz = loaded;
    } catch (...) {
        ReraiseWithContext("Failed to initialize QuickLZ compression library");
    }
}

void EnsureQuickLz131() {
    if (QuickLz131.Loaded)
        return;
    TQuickLz131 loaded;
    UniqueModule module;
    try {
        module = LoadCodecLibrary(QuickLz131LibraryName, "QuickLZ library not found: %s");
        loaded.Plain = ResolveQuickLz131Set(module.get(), "qlz_");
        loaded.Streaming = ResolveQuickLz131Set(module.get(), "qlz_streaming_");
        // The entries this unit calls must be there: an unresolved one would be called as null.
        loaded.Plain.Compress = TQlz131CompressEntry(RequireEntry(module.get(), "qlz_compress", 16));
        loaded.Plain.Decompress = TQlz131DecompressEntry(RequireEntry(module.get(), "qlz_decompress", 12));
        loaded.Plain.GetSetting = TQlz131SettingEntry(RequireEntry(module.get(), "qlz_get_setting", 4));
    } catch (...) {
        ReraiseWithContext("Failed to initialize QuickLZ compression library");
    }
    // The library's scratch needs must fit the work areas this unit passes.
    if (CORVANE_CALL_ENTRY(loaded.Plain.GetSetting, QuickLzSettingCompressScratch) >= QuickLz131CompressScratchLimit)
        throw Exception("QuickLZ compression buffer size mismatch");
    if (CORVANE_CALL_ENTRY(loaded.Plain.GetSetting, QuickLzSettingDecompressScratch) > QuickLz131DecompressScratchSize)
        throw Exception("QuickLZ decompression buffer size mismatch");
    module.release();
    loaded.Loaded = true;
    QuickLz131 = loaded;
}

int32_t MiniLzoCompress(const uint8_t* data, uint32_t count, uint8_t* out, uint32_t& outLength, void* work) {
    return CORVANE_CALL_ENTRY(MiniLzo.Compress, data, count, out, &outLength, work);
}

int32_t MiniLzoDecompressSafe(const uint8_t* data, uint32_t count, uint8_t* out, uint32_t& outLength) {
    return CORVANE_CALL_ENTRY(MiniLzo.DecompressSafe, data, count, out, &outLength, nullptr);
}

int32_t QuickLzCompress(const uint8_t* data, uint8_t* out, int32_t count, int32_t) {
    return CORVANE_CALL_ENTRY(QuickLz.Compress, data, out, count);
}

int32_t QuickLzDecompress(const uint8_t* block, int32_t, uint8_t* out, int32_t) {
    return CORVANE_CALL_ENTRY(QuickLz.Decompress, block, out);
}

int32_t QuickLz131Compress(const uint8_t* data, uint8_t* out, int32_t count, int32_t, void* scratch) {
    return CORVANE_CALL_ENTRY(QuickLz131.Plain.Compress, data, out, count, scratch);
}

int32_t QuickLz131Decompress(const uint8_t* block, int32_t, uint8_t* out, int32_t, void* scratch) {
    return CORVANE_CALL_ENTRY(QuickLz131.Plain.Decompress, block, out, scratch);
}

}  // namespace cm::codecs
