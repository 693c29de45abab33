// TModuleExplorer: parsing and editing of PE images held in memory. Portable.
#include "cm/ModuleExp/ModuleExp.h"

#include <algorithm>
#include <cstring>

#include "cm/Objects/Errors.h"

namespace cm {

namespace {

constexpr const char* ModuleExpUnit = "cm/ModuleExp";

constexpr const char* MsgBadDosHeader = "Invalid module DOS header at 0x%p";
constexpr const char* MsgBadNtHeader = "Invalid module NT header at 0x%p";
constexpr const char* MsgUnknownFormat = "Unknown format of module at 0x%p";
constexpr const char* MsgBadOptionalHeader = "Invalid module optional header at 0x%p";
constexpr const char* MsgBadSectionTable = "Invalid module section table at 0x%p";

// Export directory fields.
constexpr uint32_t ExpFunctionCount = 20;
constexpr uint32_t ExpNameCount = 24;
constexpr uint32_t ExpAddressTable = 28;
constexpr uint32_t ExpNameTable = 32;
constexpr uint32_t ExpOrdinalTable = 36;

}  // namespace

TModuleExplorer::~TModuleExplorer() {
    FSearch.reset();
    FFormat.reset();
    FCopy.reset();
    if (FUnmapOnDestroy && FUnmapView && FImageStart) FUnmapView(FImageStart);
}

void TModuleExplorer::SetImage(const void* start, size_t size) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(start);
    const uintptr_t aligned = address & ~static_cast<uintptr_t>(3);
    FImageStart = reinterpret_cast<uint8_t*>(aligned);
    FImageSize = size;
}

void TModuleExplorer::RaiseBad(const char* format) const {
    throw Exception(cm::Format(format, {static_cast<const void*>(FImageStart)}));
}

std::unique_ptr<TModuleExplorer> TModuleExplorer::CreateForModule(const void* module, size_t size, bool raiseOnError) {
    std::unique_ptr<TModuleExplorer> explorer(new TModuleExplorer(emLoadedModule));
    const uintptr_t handle = reinterpret_cast<uintptr_t>(module);
    // The image start is the handle with its low bits cleared; the extent is counted from there.
    explorer->SetImage(module, size);
    explorer->FReadOnly = true;
    // A module loaded as a plain data file (low bit 1 only) is mapped with the file's layout.
    explorer->FFileLayout = (handle & 3) == 1;
    try {
        explorer->Parse();
    } catch (const Exception&) {
        if (raiseOnError) ReraiseWithContextFmt("Invalid module at base address 0x%x", {static_cast<unsigned long long>(handle)});
        explorer->FFormat.reset();
        explorer->FSearch.reset();
        explorer->FInvalid = true;
    }
    return explorer;
}

std::unique_ptr<TModuleExplorer> TModuleExplorer::CreateForFileImage(const void* data, size_t size, int mode) {
    CM_ASSERT(ModuleExpUnit, mode == emLayoutCopy || mode == emMappedFile || mode == emFileCopy);
    std::unique_ptr<TModuleExplorer> explorer(new TModuleExplorer(static_cast<TModuleExplorerMode>(mode)));
    switch (mode) {
        case emLayoutCopy: {
            std::unique_ptr<TModuleExplorer> file = CreateForFileImage(data, size, emMappedFile);
            explorer->LoadLayout(*file);
            break;
        }
        case emMappedFile:
            explorer->FImageStart = static_cast<uint8_t*>(const_cast<void*>(data));
            explorer->FImageSize = data ? size : 0;
            explorer->FFileLayout = true;
            explorer->FReadOnly = true;
            break;
        default:
            explorer->LoadCopy(data, size);
            break;
    }
    explorer->Parse();
    return explorer;
}

void TModuleExplorer::LoadCopy(const void* data, size_t size) {
    // The private copy is a memory stream: its size is a signed 32-bit number.
    if (size > static_cast<size_t>(INT32_MAX)) throw Exception(cm::Format(MsgBadDosHeader, {data}));
    FCopy = std::make_unique<TVirtualStream>();
    FCopy->WriteBuffer(data, static_cast<int32_t>(size));
    FImageStart = static_cast<uint8_t*>(FCopy->Memory());
    FImageSize = static_cast<size_t>(FCopy->Size());
    FFileLayout = true;
}

void TModuleExplorer::LoadLayout(const TModuleExplorer& file) {
    const size_t fileSize = file.ImageSize();
    const uint32_t headers = file.Format().SizeOfHeaders();
    if (headers > fileSize) file.RaiseBad(MsgBadOptionalHeader);
    // The extent of the layout: the headers, every section's virtual range and the raw data
    // written at its virtual address. Raw data outside the file is refused, not clipped.
    uint64_t end = headers;
    for (uint32_t i = 0; i < file.SectionCount(); ++i) {
        const uint8_t* section = file.Section(i);
        const uint64_t va = PeRead32(section + SecVirtualAddress);
        const uint64_t rawSize = PeRead32(section + SecRawSize);
        const uint64_t rawPointer = PeRead32(section + SecRawPointer);
        if (rawSize != 0 && rawPointer + rawSize > fileSize) file.RaiseBad(MsgBadSectionTable);
        end = std::max({end, va + PeRead32(section + SecVirtualSize), va + rawSize});
    }
    if (end > MaxLayoutImageSize) file.RaiseBad(MsgBadSectionTable);
    // Always virtual memory, sized once: fresh pages read as zero, which is what the loader gives
    // the bytes that no section fills.
    FCopy = std::make_unique<TVirtualStream>(vsAlwaysVirtual);
    FCopy->SetSize(static_cast<int32_t>(end));
    uint8_t* layout = static_cast<uint8_t*>(FCopy->Memory());
    if (headers != 0) std::memcpy(layout, file.ImageStart(), headers);
    for (uint32_t i = 0; i < file.SectionCount(); ++i) {
        const uint8_t* section = file.Section(i);
        const uint32_t rawSize = PeRead32(section + SecRawSize);
        if (rawSize == 0) continue;
        std::memcpy(layout + PeRead32(section + SecVirtualAddress), file.ImageStart() + PeRead32(section + SecRawPointer), rawSize);
    }
    FImageStart = layout;
    FImageSize = static_cast<size_t>(end);
    FFileLayout = false;
}

void TModuleExplorer::Parse() {
    const size_t size = FImageSize;
    const uint8_t* image = FImageStart;
    if (!image || size < DosHeaderSize || PeRead16(image) != ImageDosSignature) RaiseBad(MsgBadDosHeader);

    const uint64_t nt = PeRead32(image + DosNtHeaderOffsetField);
    if (nt + NtSignatureSize > size || PeRead32(image + nt) != ImageNtSignature) RaiseBad(MsgBadNtHeader);
    const uint64_t optional = nt + NtSignatureSize + FileHeaderSize;
    if (optional + 2 > size) RaiseBad(MsgBadNtHeader);

    uint8_t* fileHeader = FImageStart + nt + NtSignatureSize;
    uint8_t* optionalHeader = FImageStart + optional;
    const uint32_t optionalSize = PeRead16(fileHeader + FileHeaderOptionalSizeField);
    switch (PeRead16(optionalHeader)) {
        case ImageMagicPE32: FFormat = std::make_unique<TPE32Format>(optionalHeader, optionalSize); break;
        case ImageMagicPE32Plus: FFormat = std::make_unique<TPE32PlusFormat>(optionalHeader, optionalSize); break;
        default: RaiseBad(MsgUnknownFormat);
    }
    // The format's fields up to the data directory array must be inside the stated size, and the
    // stated size inside the image.
    if (optionalSize < FFormat->DirectoryOffset() || optional + optionalSize > size) RaiseBad(MsgBadOptionalHeader);

    const uint32_t sectionCount = PeRead16(fileHeader + FileHeaderSectionCountField);
    const uint64_t table = optional + optionalSize;
    if (table + static_cast<uint64_t>(sectionCount) * SectionHeaderSize > size) RaiseBad(MsgBadSectionTable);
    FFileHeader = fileHeader;
    FSectionTable = FImageStart + table;
    FSectionCount = sectionCount;

    if (FFileLayout) {
        FSearch = std::make_unique<TInMemoryPESearchStrategy>(*this);
    } else {
        FSearch = std::make_unique<TOSLoadedPESearchStrategy>(*this);
    }
    ParseExports();
}

void TModuleExplorer::ParseExports() {
    FExportRva = FExportSize = 0;
    FExportFunctions = FExportNames = FExportOrdinals = nullptr;
    FExportFunctionCount = FExportNameCount = 0;

    // No entry, a virtual address of 0 or a size below the directory's own means no exports. So
    // does a directory that fails any check below: the exports are optional to every user of the
    // explorer (console detection and conversion read only the headers), so a damaged export
    // directory of an otherwise good image must not make the image unusable. Nothing outside the
    // image is read on the way.
    const uint8_t* entry = Format().DataDirectoryEntry(ImageDirectoryExport);
    if (!entry || PeRead32(entry) == 0 || PeRead32(entry + 4) < ExportDirectoryMinSize) return;
    uint32_t size = 0;
    const uint8_t* directory = DataDirectory(ImageDirectoryExport, ExportDirectoryMinSize, &size);
    if (!directory) return;
    const uint32_t functionCount = PeRead32(directory + ExpFunctionCount);
    const uint32_t nameCount = PeRead32(directory + ExpNameCount);
    // Each table must hold its whole count inside the image; a count of 0 needs no table.
    bool usable = true;
    auto table = [&](uint32_t field, uint32_t count, uint32_t width) -> uint8_t* {
        const uint32_t rva = PeRead32(directory + field);
        const uint64_t bytes = static_cast<uint64_t>(count) * width;
        if (count == 0) return AddressOf(rva, 1);
        uint8_t* p = bytes > UINT32_MAX ? nullptr : AddressOf(rva, static_cast<uint32_t>(bytes));
        if (!p) usable = false;
        return p;
    };
    uint8_t* functions = table(ExpAddressTable, functionCount, 4);
    uint8_t* names = table(ExpNameTable, nameCount, 4);
    uint8_t* ordinals = table(ExpOrdinalTable, nameCount, 2);
    if (!usable) return;
    // Every name must be a terminated string inside the image and name an address-table entry.
    for (uint32_t i = 0; i < nameCount; ++i) {
        uint32_t available = 0;
        const uint8_t* name = FSearch->AddressOf(PeRead32(names + 4 * i), &available);
        if (!name || !std::memchr(name, 0, available)) return;
        if (PeRead16(ordinals + 2 * i) >= functionCount) return;
    }
    FExportRva = PeRead32(entry);
    FExportSize = size;
    FExportFunctions = functions;
    FExportNames = names;
    FExportOrdinals = ordinals;
    FExportFunctionCount = functionCount;
    FExportNameCount = nameCount;
}

TPEFormatStrategy& TModuleExplorer::Format() const {
    CM_ASSERT(ModuleExpUnit, FFormat != nullptr);
    return *FFormat;
}

TPEImageSearchStrategy& TModuleExplorer::Search() const {
    CM_ASSERT(ModuleExpUnit, FSearch != nullptr);
    return *FSearch;
}

const uint8_t* TModuleExplorer::Section(uint32_t index) const {
    CM_ASSERT(ModuleExpUnit, index < FSectionCount);
    return FSectionTable + static_cast<size_t>(index) * SectionHeaderSize;
}

void TModuleExplorer::CheckWritable() const {
    CM_ASSERT(ModuleExpUnit, !FReadOnly);
}

void TModuleExplorer::SetSubsystem(uint16_t value) {
    CheckWritable();
    Format().SetSubsystem(value);
}

void TModuleExplorer::SetCheckSum(uint32_t value) {
    CheckWritable();
    Format().SetCheckSum(value);
}

void TModuleExplorer::SetSizeOfImage(uint32_t value) {
    CheckWritable();
    Format().SetSizeOfImage(value);
}

uint8_t* TModuleExplorer::AddressOf(uint32_t rva, uint32_t size) const {
    uint32_t available = 0;
    uint8_t* p = Search().AddressOf(rva, &available);
    return p && available >= size ? p : nullptr;
}

uint8_t* TModuleExplorer::DataDirectory(uint32_t index, uint32_t minSize, uint32_t* size) const {
    const uint8_t* entry = Format().DataDirectoryEntry(index);
    if (size) *size = entry ? PeRead32(entry + 4) : 0;
    if (!entry || PeRead32(entry) == 0 || PeRead32(entry + 4) < minSize) return nullptr;
    uint32_t available = 0;
    uint8_t* p = Search().AddressOfDataDirectory(index, entry, &available);
    return p && available >= std::max<uint32_t>(minSize, 1) ? p : nullptr;
}

std::string_view TModuleExplorer::ExportName(uint32_t index) const {
    CM_ASSERT(ModuleExpUnit, index < FExportNameCount);
    uint32_t available = 0;
    const char* name = reinterpret_cast<const char*>(Search().AddressOf(PeRead32(FExportNames + 4 * index), &available));
    // Checked while parsing: the string and its terminator are inside the image.
    const void* end = std::memchr(name, 0, available);
    return std::string_view(name, static_cast<size_t>(static_cast<const char*>(end) - name));
}

uint32_t TModuleExplorer::ExportNameOrdinal(uint32_t index) const {
    CM_ASSERT(ModuleExpUnit, index < FExportNameCount);
    return PeRead16(FExportOrdinals + 2 * index);
}

uint32_t TModuleExplorer::ExportFunctionRva(uint32_t index) const {
    CM_ASSERT(ModuleExpUnit, index < FExportFunctionCount);
    return PeRead32(FExportFunctions + 4 * index);
}

uint32_t TModuleExplorer::FindExport(std::string_view name) const {
    for (uint32_t i = 0; i < FExportNameCount; ++i) {
        if (ExportName(i) == name) return ExportFunctionRva(ExportNameOrdinal(i));
    }
    return 0;
}

}  // namespace cm
