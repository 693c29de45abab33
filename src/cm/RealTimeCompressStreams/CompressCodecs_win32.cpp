// The Win32 codec table: MiniLZO.dll, QuickLZ.dll and QuickLZ131.dll, each loaded at its first
// use and kept until the process ends.
//
// An entry is looked up under its decorated stdcall name ("_name@N" on x86), else under its plain
// name. Whatever the name says, each call goes through arch::CallLibraryRoutine, which is right
// for __stdcall and __cdecl alike (a plain name is often a .def alias of a __stdcall routine). On
// x64 there is one convention and no decoration: the stdcall name is the plain one.
#include <cstring>
#include <string>
#include <type_traits>

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

// The routines of the three libraries. Every call goes through arch::CallLibraryRoutine, which is
// right for both calling conventions on x86: an entry found under its decorated name is
// __stdcall, but one found under its plain name may be either.
using TEntry = const void*;

struct TMiniLzo {
    bool Loaded = false;
    TEntry Compress = nullptr, Decompress = nullptr, DecompressSafe = nullptr;
} MiniLzo;

struct TQuickLz {
    bool Loaded = false;
    TEntry SizeDecompressed = nullptr, SizeSource = nullptr, Compress = nullptr, Decompress = nullptr;
} QuickLz;

struct TQuickLz131Set {
    TEntry SizeDecompressed = nullptr, SizeCompressed = nullptr, Compress = nullptr, Decompress = nullptr,
           GetSetting = nullptr;
};
struct TQuickLz131 {
    bool Loaded = false;
    TQuickLz131Set Plain, Streaming;  // "qlz_" and "qlz_streaming_"
} QuickLz131;

// An argument as a pointer-sized value: pointers as they are, integers sign-extended.
template <class T>
uintptr_t ToArgument(T value) {
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<uintptr_t>(value);
    else
        return static_cast<uintptr_t>(static_cast<std::make_signed_t<T>>(value));
}
// The routine called with the arguments.
template <class... Args>
uintptr_t Call(TEntry entry, Args... arguments) {
    return arch::CallLibraryRoutine(entry, {ToArgument(arguments)...});
}
// An int result: the low 32 bits of the result register.
int32_t IntResult(uintptr_t result) { return static_cast<int32_t>(static_cast<uint32_t>(result)); }

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
    return reinterpret_cast<TEntry>(::GetProcAddress(module, arch::StdCallExportName(name, argumentBytes).c_str()));
}

// The stdcall entry, else the plain name, which must exist.
TEntry ResolveEntry(HMODULE module, const std::string& name, int argumentBytes) {
    TEntry entry = FindEntry(module, name, argumentBytes);
    if (!entry) {
        entry = reinterpret_cast<TEntry>(::GetProcAddress(module, name.c_str()));
        if (!entry)
            RaiseLastSystemError("Cannot get address of procedure '%s'", {name});
    }
    return entry;
}

TEntry RequireEntry(HMODULE module, const std::string& name, int argumentBytes) {
    TEntry entry = FindEntry(module, name, argumentBytes);
    if (!entry)
        RaiseLastSystemError("Cannot get address of procedure '%s'",
                             {arch::StdCallExportName(name, argumentBytes)});
    return entry;
}

TQuickLz131Set ResolveQuickLz131Set(HMODULE module, const std::string& prefix) {
    TQuickLz131Set set;
    set.SizeDecompressed = FindEntry(module, prefix + "size_decompressed", 4);
    set.SizeCompressed = FindEntry(module, prefix + "size_compressed", 4);
    set.Compress = FindEntry(module, prefix + "compress", 16);
    set.Decompress = FindEntry(module, prefix + "decompress", 12);
    set.GetSetting = FindEntry(module, prefix + "get_setting", 4);
    return set;
}

}  // namespace

void EnsureMiniLzo() {
    if (MiniLzo.Loaded)
        return;
    try {
        UniqueModule module = LoadCodecLibrary(MiniLzoLibraryName, "MiniLZO library not found: %s");
        TMiniLzo loaded;
        loaded.Compress = ResolveEntry(module.get(), "lzo1x_1_compress", 20);
        loaded.Decompress = ResolveEntry(module.get(), "lzo1x_decompress", 20);
        loaded.DecompressSafe = ResolveEntry(module.get(), "lzo1x_decompress_safe", 20);
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
        loaded.SizeDecompressed = ResolveEntry(module.get(), "qlz_size_decompressed", 4);
        loaded.SizeSource = ResolveEntry(module.get(), "qlz_size_source", 4);
        loaded.Compress = ResolveEntry(module.get(), "qlz_compress", 12);
        loaded.Decompress = ResolveEntry(module.get(), "qlz_decompress", 8);
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
        loaded.Plain.Compress = RequireEntry(module.get(), "qlz_compress", 16);
        loaded.Plain.Decompress = RequireEntry(module.get(), "qlz_decompress", 12);
        loaded.Plain.GetSetting = RequireEntry(module.get(), "qlz_get_setting", 4);
    } catch (...) {
        ReraiseWithContext("Failed to initialize QuickLZ compression library");
    }
    // The library's scratch needs must fit the work areas this unit passes.
    if (IntResult(Call(loaded.Plain.GetSetting, QuickLzSettingCompressScratch)) >= QuickLz131CompressScratchLimit)
        throw Exception("QuickLZ compression buffer size mismatch");
    if (IntResult(Call(loaded.Plain.GetSetting, QuickLzSettingDecompressScratch)) > QuickLz131DecompressScratchSize)
        throw Exception("QuickLZ decompression buffer size mismatch");
    module.release();
    loaded.Loaded = true;
    QuickLz131 = loaded;
}

// MiniLZO's lengths are lzo_uint, as wide as a pointer: 32 bits on x86, 64 on x64.
int32_t MiniLzoCompress(const uint8_t* data, uint32_t count, uint8_t* out, uint32_t& outLength, void* work) {
    uintptr_t length = 0;
    const int32_t r = IntResult(Call(MiniLzo.Compress, data, static_cast<uintptr_t>(count), out, &length, work));
    outLength = static_cast<uint32_t>(length);
    return r;
}

int32_t MiniLzoDecompressSafe(const uint8_t* data, uint32_t count, uint8_t* out, uint32_t& outLength) {
    uintptr_t length = outLength;
    const int32_t r = IntResult(
        Call(MiniLzo.DecompressSafe, data, static_cast<uintptr_t>(count), out, &length, static_cast<void*>(nullptr)));
    outLength = static_cast<uint32_t>(length);
    return r;
}

// QuickLZ's sizes are size_t results; a block is never larger than 2 GB.
int32_t QuickLzCompress(const uint8_t* data, uint8_t* out, int32_t count, int32_t) {
    return static_cast<int32_t>(Call(QuickLz.Compress, data, out, static_cast<uintptr_t>(count)));
}

int32_t QuickLzDecompress(const uint8_t* block, int32_t, uint8_t* out, int32_t) {
    return static_cast<int32_t>(Call(QuickLz.Decompress, block, out));
}

int32_t QuickLz131Compress(const uint8_t* data, uint8_t* out, int32_t count, int32_t, void* scratch) {
    return static_cast<int32_t>(Call(QuickLz131.Plain.Compress, data, out, static_cast<uintptr_t>(count), scratch));
}

int32_t QuickLz131Decompress(const uint8_t* block, int32_t, uint8_t* out, int32_t, void* scratch) {
    return static_cast<int32_t>(Call(QuickLz131.Plain.Decompress, block, out, scratch));
}

}  // namespace cm::codecs
