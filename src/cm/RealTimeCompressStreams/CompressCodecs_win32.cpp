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
#include <vector>

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
// How a library's entry is looked up.
enum class TLookup {
    StdCallOrPlain,  // the stdcall name, else the plain name, which must exist
    StdCallOnly,     // the stdcall name, which must exist
    Optional,        // the stdcall name; a null address when the library has none
};

struct TLibraryEntry {
    std::string Name;
    int ArgumentBytes;  // of the x86 stdcall decoration
    TLookup Lookup;
    TEntry* Slot;
};

// A codec library: its file, the message when it cannot be found, the context its load failures
// are raised under, its entries, and a check of the loaded library that raises without the
// context (null when there is none).
struct TCodecLibrary {
    const char* FileName;
    const char* NotFound;
    const char* Context;
    std::vector<TLibraryEntry> Entries;
    void (*Check)() = nullptr;
};

// The stdcall entry `name` with argumentBytes bytes of arguments (x86 argument sizes), under the
// name this architecture exports it by; a null address when the library has none.
TEntry FindEntry(HMODULE module, const std::string& name, int argumentBytes) {
    return reinterpret_cast<TEntry>(::GetProcAddress(module, arch::StdCallExportName(name, argumentBytes).c_str()));
}

TEntry LookUp(HMODULE module, const TLibraryEntry& wanted) {
    TEntry entry = FindEntry(module, wanted.Name, wanted.ArgumentBytes);
    if (entry || wanted.Lookup == TLookup::Optional)
        return entry;
    if (wanted.Lookup == TLookup::StdCallOrPlain)
        entry = reinterpret_cast<TEntry>(::GetProcAddress(module, wanted.Name.c_str()));
    if (!entry)
        RaiseLastSystemError("Cannot get address of procedure '%s'",
                             {wanted.Lookup == TLookup::StdCallOrPlain ? wanted.Name
                                                                     : arch::StdCallExportName(wanted.Name, wanted.ArgumentBytes)});
    return entry;
}

// Loads the library once per process and fills its entries' slots; loaded is set only after a
// fully successful load (its check included), and the library then stays loaded until the process
// ends. A failure leaves loaded clear and the library unloaded, so the next use tries again.
void EnsureLoaded(bool& loaded, const TCodecLibrary& library) {
    if (loaded)
        return;
    UniqueModule module;
    try {
        module = LoadCodecLibrary(library.FileName, library.NotFound);
        std::vector<TEntry> entries;
        for (const TLibraryEntry& wanted : library.Entries) entries.push_back(LookUp(module.get(), wanted));
        // Slots are filled only now that every entry was found; they are used only once loaded is set.
        for (size_t i = 0; i < entries.size(); ++i) *library.Entries[i].Slot = entries[i];
    } catch (...) {
        ReraiseWithContext(library.Context);
    }
    if (library.Check)
        library.Check();
    module.release();
    loaded = true;
}

// The five entries of one QuickLZ 1.31 set, all optional: a library may lack the streaming set.
void AddQuickLz131Set(std::vector<TLibraryEntry>& entries, const std::string& prefix, TQuickLz131Set& set) {
    entries.push_back({prefix + "size_decompressed", 4, TLookup::Optional, &set.SizeDecompressed});
    entries.push_back({prefix + "size_compressed", 4, TLookup::Optional, &set.SizeCompressed});
    entries.push_back({prefix + "compress", 16, TLookup::Optional, &set.Compress});
    entries.push_back({prefix + "decompress", 12, TLookup::Optional, &set.Decompress});
    entries.push_back({prefix + "get_setting", 4, TLookup::Optional, &set.GetSetting});
}

// The library's scratch needs must fit the work areas this unit passes.
void CheckQuickLz131Scratch() {
    if (IntResult(Call(QuickLz131.Plain.GetSetting, QuickLzSettingCompressScratch)) >= QuickLz131CompressScratchLimit)
        throw Exception("QuickLZ compression buffer size mismatch");
    if (IntResult(Call(QuickLz131.Plain.GetSetting, QuickLzSettingDecompressScratch)) > QuickLz131DecompressScratchSize)
        throw Exception("QuickLZ decompression buffer size mismatch");
}

const TCodecLibrary& MiniLzoLibrary() {
    static const TCodecLibrary library{MiniLzoLibraryName,
                                       "MiniLZO library not found: %s",
                                       "Failed to initialize MiniLZO.dll library.",
                                       {{"lzo1x_1_compress", 20, TLookup::StdCallOrPlain, &MiniLzo.Compress},
                                        {"lzo1x_decompress", 20, TLookup::StdCallOrPlain, &MiniLzo.Decompress},
                                        {"lzo1x_decompress_safe", 20, TLookup::StdCallOrPlain, &MiniLzo.DecompressSafe}}};
    return library;
}

const TCodecLibrary& QuickLzLibrary() {
    static const TCodecLibrary library{QuickLzLibraryName,
                                       "QuickLZ library not found: %s",
                                       "Failed to initialize QuickLZ compression library",
                                       {{"qlz_size_decompressed", 4, TLookup::StdCallOrPlain, &QuickLz.SizeDecompressed},
                                        {"qlz_size_source", 4, TLookup::StdCallOrPlain, &QuickLz.SizeSource},
                                        {"qlz_compress", 12, TLookup::StdCallOrPlain, &QuickLz.Compress},
                                        {"qlz_decompress", 8, TLookup::StdCallOrPlain, &QuickLz.Decompress}}};
    return library;
}

const TCodecLibrary& QuickLz131Library() {
    static const TCodecLibrary library = [] {
        TCodecLibrary made{QuickLz131LibraryName, "QuickLZ library not found: %s",
                           "Failed to initialize QuickLZ compression library", {}, CheckQuickLz131Scratch};
        AddQuickLz131Set(made.Entries, "qlz_", QuickLz131.Plain);
        AddQuickLz131Set(made.Entries, "qlz_streaming_", QuickLz131.Streaming);
        // The entries this unit calls must be there: an unresolved one would be called as null.
        made.Entries.push_back({"qlz_compress", 16, TLookup::StdCallOnly, &QuickLz131.Plain.Compress});
        made.Entries.push_back({"qlz_decompress", 12, TLookup::StdCallOnly, &QuickLz131.Plain.Decompress});
        made.Entries.push_back({"qlz_get_setting", 4, TLookup::StdCallOnly, &QuickLz131.Plain.GetSetting});
        return made;
    }();
    return library;
}

}  // namespace

void EnsureMiniLzo() { EnsureLoaded(MiniLzo.Loaded, MiniLzoLibrary()); }
void EnsureQuickLz() { EnsureLoaded(QuickLz.Loaded, QuickLzLibrary()); }
void EnsureQuickLz131() { EnsureLoaded(QuickLz131.Loaded, QuickLz131Library()); }

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
