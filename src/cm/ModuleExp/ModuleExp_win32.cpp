// TModuleExplorer over module handles and files: the Win32 part of cm/ModuleExp.
#include "cm/ModuleExp/ModuleExp.h"

#include "cm/Objects/Errors.h"
#include "cm/StreamUtils/MappedFileStream.h"
#include "cm/StreamUtils/VirtualStreamFile.h"

namespace cm {

namespace {

void UnmapView(void* view) { ::UnmapViewOfFile(view); }

bool Readable(DWORD protect) {
    return protect != 0 && !(protect & (PAGE_NOACCESS | PAGE_GUARD));
}

// The bytes from start on that can be read: the committed, readable regions of start's allocation
// that follow one another without a gap. A loaded module is one allocation, so this is its image;
// an address that is not readable memory gives 0.
size_t ReadableExtent(const uint8_t* start) {
    MEMORY_BASIC_INFORMATION info;
    if (::VirtualQuery(start, &info, sizeof info) != sizeof info) return 0;
    const void* allocation = info.AllocationBase;
    const uint8_t* p = start;
    while (info.State == MEM_COMMIT && Readable(info.Protect) && info.AllocationBase == allocation) {
        p = static_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize;
        if (::VirtualQuery(p, &info, sizeof info) != sizeof info) break;
    }
    return static_cast<size_t>(p - start);
}

}  // namespace

std::unique_ptr<TModuleExplorer> TModuleExplorer::CreateForModule(HMODULE module, bool raiseOnError) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(module) & ~static_cast<uintptr_t>(3);
    const size_t extent = start ? ReadableExtent(reinterpret_cast<const uint8_t*>(start)) : 0;
    return CreateForModule(static_cast<const void*>(module), extent, raiseOnError);
}

std::unique_ptr<TModuleExplorer> TModuleExplorer::CreateForFile(const std::string& path, int mode) {
    CM_ASSERT("cm/ModuleExp", mode == emLayoutCopy || mode == emMappedFile || mode == emFileCopy);
    std::unique_ptr<TModuleExplorer> explorer(new TModuleExplorer(static_cast<TModuleExplorerMode>(mode)));
    try {
        switch (mode) {
            case emLayoutCopy: {
                // The file's own layout first (mapped read-only), then the loader's layout from it.
                std::unique_ptr<TModuleExplorer> file(new TModuleExplorer(emMappedFile));
                file->LoadMapped(path);
                file->Parse();
                explorer->LoadLayout(*file);
                break;
            }
            case emMappedFile:
                explorer->LoadMapped(path);
                break;
            default: {
                TMappedFileStream stream(path, fmOpenRead | fmShareDenyWrite);
                explorer->FFileTime = stream.GetLastWriteTime();
                explorer->FCopy = std::make_unique<TVirtualStream>();
                explorer->FCopy->LoadFromStream(stream);
                explorer->FImageStart = static_cast<uint8_t*>(explorer->FCopy->Memory());
                explorer->FImageSize = static_cast<size_t>(explorer->FCopy->Size());
                explorer->FFileLayout = true;
                break;
            }
        }
        explorer->Parse();
    } catch (const std::exception&) {
        ReraiseWithContextFmt("Failed to load image from file: %s", {path});
    }
    return explorer;
}

void TModuleExplorer::LoadMapped(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    // The file is opened for reading with write sharing denied and closed again; the view keeps
    // the mapping alive until it is unmapped.
    void* view = MapFile(path, fmkRead, &info);
    FImageStart = static_cast<uint8_t*>(view);
    FUnmapView = &UnmapView;
    FUnmapOnDestroy = view != nullptr;
    // A view of a 32-bit process never exceeds the address space, so a larger file cannot map.
    FImageSize = view ? static_cast<size_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) : 0;
    FFileLayout = true;
    FReadOnly = true;
}

void TModuleExplorer::SaveImageToFile(const std::string& path) {
    CM_ASSERT("cm/ModuleExp", FMode == emFileCopy && FCopy != nullptr);
    SaveVirtualStreamToFile(*FCopy, path, 0, 0);
}

}  // namespace cm
