// TModuleExplorer: reads and edits the headers of a PE image (PE32 or PE32+), whether a module
// loaded by the operating system, a file laid out as the loader does, a file mapped read-only or a
// private writable copy of a file. A format strategy hides the PE32/PE32+ optional-header
// differences; a search strategy turns relative virtual addresses into pointers for memory-layout
// or file-layout images.
//
// Nothing read from the image is trusted: every offset and count the parser follows is checked
// against the image's extent before use, and a relative address resolves only to bytes inside it.
// The parsing is portable; the constructors over module handles and files are Win32 only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cm/Objects/Object.h"
#include "cm/StreamUtils/VirtualStream.h"

#ifdef _WIN32
#include "cm/Objects/WinApi.h"
#endif

namespace cm {

// PE/COFF constants (all fields little-endian).
constexpr uint16_t ImageDosSignature = 0x5A4D;        // "MZ"
constexpr uint32_t ImageNtSignature = 0x00004550;     // "PE\0\0"
constexpr uint16_t ImageMagicPE32 = 0x010B;
constexpr uint16_t ImageMagicPE32Plus = 0x020B;
constexpr uint16_t ImageSubsystemWindowsGui = 2;
constexpr uint16_t ImageSubsystemWindowsConsole = 3;
constexpr uint32_t DosHeaderSize = 64;
constexpr uint32_t DosNtHeaderOffsetField = 60;      // 32-bit offset of the NT headers
constexpr uint32_t NtSignatureSize = 4;
constexpr uint32_t FileHeaderSize = 20;
constexpr uint32_t FileHeaderSectionCountField = 2;   // 16 bits
constexpr uint32_t FileHeaderOptionalSizeField = 16;  // 16 bits
constexpr uint32_t SectionHeaderSize = 40;
constexpr uint32_t DataDirectoryEntrySize = 8;
constexpr uint32_t ImageDirectoryExport = 0;
constexpr uint32_t ExportDirectoryMinSize = 40;
// Data directories whose addresses the file-layout search caches.
constexpr uint32_t CachedDataDirectories = 32;
// The largest image the loader-like layout (mode 0) builds from a file.
constexpr uint64_t MaxLayoutImageSize = 256u * 1024 * 1024;

// Where an explorer's image comes from (the layout it has follows from it).
enum TModuleExplorerMode : int {
    emLayoutCopy = 0,     // file laid out like the loader does, into a private copy (memory layout)
    emMappedFile = 1,     // file mapped read-only (file layout)
    emFileCopy = 2,       // file read whole into a private writable copy (file layout)
    emLoadedModule = 3,   // a module of the running process (memory layout)
};

// Little-endian reads and writes at any alignment.
uint16_t PeRead16(const void* p);
uint32_t PeRead32(const void* p);
uint64_t PeRead64(const void* p);
void PeWrite16(void* p, uint16_t v);
void PeWrite32(void* p, uint32_t v);

// Section header fields.
constexpr uint32_t SecVirtualSize = 8;
constexpr uint32_t SecVirtualAddress = 12;
constexpr uint32_t SecRawSize = 16;
constexpr uint32_t SecRawPointer = 20;

// Where the fields that differ between the two PE formats lie, and how wide they are.
struct TPELayout {
    uint32_t ImageBaseOffset;       // in the optional header
    uint32_t ImageBaseSize;         // 4 or 8 bytes
    uint32_t DirectoryCountOffset;  // the stored number of data directories
    uint32_t DirectoryOffset;       // the data directory array: the least size the format needs
    uint32_t ThunkSize;             // an import thunk: 4 or 8 bytes
    uint64_t OrdinalFlag;           // the thunk bit that marks an import by ordinal
    bool WideAddresses;             // addresses carry into the high word (else 32 bits wrap)
};
extern const TPELayout PE32Layout;
extern const TPELayout PE32PlusLayout;

// The optional-header fields of one PE format, read through the format's layout. The strategy
// keeps a pointer to the optional header, whose first OptionalHeaderSize bytes (at least
// DirectoryOffset()) the explorer has checked to lie inside the image.
class TPEFormatStrategy : public TObject {
public:
    TPEFormatStrategy(uint8_t* optionalHeader, uint32_t optionalHeaderSize, const TPELayout& layout)
        : FOptionalHeader(optionalHeader), FOptionalHeaderSize(optionalHeaderSize), FLayout(layout) {}

    uint32_t FileAlignment() const;
    uint64_t ImageBase() const;
    uint32_t SectionAlignment() const;
    uint32_t SizeOfHeaders() const;
    uint32_t SizeOfImage() const;
    uint16_t Subsystem() const;
    uint32_t CheckSum() const;
    void SetCheckSum(uint32_t value);
    void SetSizeOfImage(uint32_t value);
    void SetSubsystem(uint16_t value);
    // The 8-byte entry (virtual address, size) of the directory, or null when index is not below
    // the number of data directories. Entries that the optional header's size does not hold count
    // as absent, whatever the stored number says.
    uint8_t* DataDirectoryEntry(uint32_t index) const;
    // Import thunks (4 or 8 bytes each): the caller keeps the thunk inside the image. The value is
    // the thunk's first 32 bits.
    uint32_t ThunkValue(const void* thunk) const;
    bool ThunkImportsByName(const void* thunk) const;
    bool ThunkNotNull(const void* thunk) const;
    const uint8_t* NextThunk(const void* thunk) const;
    // base + offset in the format's address width (32 bits wrap for PE32).
    uint64_t AddToAddress(uint64_t base, uint32_t offset) const;

    // Offset of the data directory array in the optional header: the least size the format needs.
    uint32_t DirectoryOffset() const { return FLayout.DirectoryOffset; }
    uint8_t* OptionalHeader() const { return FOptionalHeader; }
    uint32_t OptionalHeaderSize() const { return FOptionalHeaderSize; }

private:
    uint64_t ReadThunk(const void* thunk) const;

    uint8_t* FOptionalHeader;
    uint32_t FOptionalHeaderSize;
    const TPELayout& FLayout;
};

// PE32 (magic 0x010B) and PE32+ (magic 0x020B): the strategy over their layouts.
class TPE32Format final : public TPEFormatStrategy {
public:
    TPE32Format(uint8_t* optionalHeader, uint32_t optionalHeaderSize)
        : TPEFormatStrategy(optionalHeader, optionalHeaderSize, PE32Layout) {}
};

class TPE32PlusFormat final : public TPEFormatStrategy {
public:
    TPE32PlusFormat(uint8_t* optionalHeader, uint32_t optionalHeaderSize)
        : TPEFormatStrategy(optionalHeader, optionalHeaderSize, PE32PlusLayout) {}
};

class TModuleExplorer;

// Turns relative virtual addresses of the explorer's image into pointers. Every result lies inside
// the image; available (when given) receives how many bytes from the pointer on belong to the same
// region (the rest of the image, or of the section's raw data in file layout).
class TPEImageSearchStrategy : public TObject {
public:
    explicit TPEImageSearchStrategy(const TModuleExplorer& explorer) : FExplorer(explorer) {}
    virtual uint8_t* AddressOf(uint32_t rva, uint32_t* available = nullptr) = 0;
    // The address of the directory whose 8-byte entry is given.
    virtual uint8_t* AddressOfDataDirectory(uint32_t index, const uint8_t* entry, uint32_t* available) = 0;

protected:
    const TModuleExplorer& FExplorer;
};

// Memory layout: image start + relative address (null at or past the image's end).
class TOSLoadedPESearchStrategy final : public TPEImageSearchStrategy {
public:
    using TPEImageSearchStrategy::TPEImageSearchStrategy;
    uint8_t* AddressOf(uint32_t rva, uint32_t* available = nullptr) override;
    uint8_t* AddressOfDataDirectory(uint32_t index, const uint8_t* entry, uint32_t* available) override;
};

// File layout: the first section whose [virtual address, + virtual size) holds the address maps it
// to its raw data; an address outside every section (the headers included), past the section's raw
// data or past the image's end gives null. Directory addresses 0 to 31 are cached.
class TInMemoryPESearchStrategy final : public TPEImageSearchStrategy {
public:
    using TPEImageSearchStrategy::TPEImageSearchStrategy;
    uint8_t* AddressOf(uint32_t rva, uint32_t* available = nullptr) override;
    uint8_t* AddressOfDataDirectory(uint32_t index, const uint8_t* entry, uint32_t* available) override;

private:
    uint32_t FFilled = 0;
    uint8_t* FCache[CachedDataDirectories] = {};
    uint32_t FCacheAvailable[CachedDataDirectories] = {};
};

class TModuleExplorer : public TObject {
public:
    // Explorer over a module image of the running process (or any memory laid out as the loader
    // does): the image start is module with its two low bits cleared (a module loaded as a data file
    // carries them); size is the number of readable bytes from the image start. A module loaded as
    // a plain data file (bit 0 set, bit 1 clear) has the file's layout and is searched as such.
    // A parse failure raises, with raiseOnError, the inner exception with the context
    // "Invalid module at base address 0x%x" (module); without it, the explorer comes back with
    // Invalid() set.
    static std::unique_ptr<TModuleExplorer> CreateForModule(const void* module, size_t size, bool raiseOnError);
    // Explorer over the bytes of a PE file held in memory, in the given mode: 0 builds the loader's
    // layout into a private copy, 1 reads the bytes where they are (they must outlive the explorer;
    // read-only), 2 copies them into a private writable copy. Raises the parse errors unchanged.
    static std::unique_ptr<TModuleExplorer> CreateForFileImage(const void* data, size_t size, int mode);
#ifdef _WIN32
    // The module's readable extent is found with VirtualQuery; then as the portable form.
    static std::unique_ptr<TModuleExplorer> CreateForModule(HMODULE module, bool raiseOnError);
    // Loads the file in the mode (0, 1 or 2; see TModuleExplorerMode) and parses it. Mode 1 maps
    // the file read-only and mode 2 reads it through a TMappedFileStream, both opened for reading
    // with write sharing denied. Any failure is re-raised with the context
    // "Failed to load image from file: %s" (path).
    static std::unique_ptr<TModuleExplorer> CreateForFile(const std::string& path, int mode);
    // Mode 2 only (else an assertion failure): writes the private copy to the path, creating the
    // file anew with no time stamp set. Raises the file stream's errors.
    void SaveImageToFile(const std::string& path);
#endif

    ~TModuleExplorer() override;
    TModuleExplorer(const TModuleExplorer&) = delete;
    TModuleExplorer& operator=(const TModuleExplorer&) = delete;

    bool Invalid() const { return FInvalid; }
    TModuleExplorerMode Mode() const { return FMode; }
    bool FileLayout() const { return FFileLayout; }
    uint8_t* ImageStart() const { return FImageStart; }
    size_t ImageSize() const { return FImageSize; }
    // Modes 1 and loaded-module are read-only: the setters below are assertion failures there.
    bool ReadOnly() const { return FReadOnly; }
    // The strategies and header pointers of a valid explorer (an invalid one: assertion failure).
    TPEFormatStrategy& Format() const;
    TPEImageSearchStrategy& Search() const;
    uint8_t* FileHeader() const { return FFileHeader; }
    uint8_t* SectionTable() const { return FSectionTable; }
    uint32_t SectionCount() const { return FSectionCount; }
    // The section's header (40 bytes inside the image), index below SectionCount().
    const uint8_t* Section(uint32_t index) const;
    // Mode 2: the source file's last-write time (a file time); 0 otherwise.
    int64_t FileTime() const { return FFileTime; }
    // Mode 2: the private copy.
    TVirtualStream* ImageCopy() const { return FCopy.get(); }

    uint16_t Subsystem() const { return Format().Subsystem(); }
    void SetSubsystem(uint16_t value);
    // SetSubsystem(3), the Windows console subsystem. Only those two bytes of the image change.
    void SetConsoleSubsystem() { SetSubsystem(ImageSubsystemWindowsConsole); }
    void SetCheckSum(uint32_t value);
    void SetSizeOfImage(uint32_t value);

    // The bytes of [rva, rva + size) of the image, or null when they are not all inside it
    // (in file layout: inside one section's raw data).
    uint8_t* AddressOf(uint32_t rva, uint32_t size) const;
    // The directory's data, or null when the index is out of range, its virtual address is 0, its
    // size is below minSize or fewer than minSize bytes (at least one) can be read at its address.
    // size (when given) receives the entry's stored size (0 for an index out of range).
    uint8_t* DataDirectory(uint32_t index, uint32_t minSize, uint32_t* size = nullptr) const;

    // The export directory as parsed (all zero / null when the image has none).
    uint32_t ExportDirectoryRva() const { return FExportRva; }
    uint32_t ExportDirectorySize() const { return FExportSize; }
    const uint8_t* ExportAddressTable() const { return FExportFunctions; }
    const uint8_t* ExportNameTable() const { return FExportNames; }
    const uint8_t* ExportOrdinalTable() const { return FExportOrdinals; }
    uint32_t ExportFunctionCount() const { return FExportFunctionCount; }
    uint32_t ExportNameCount() const { return FExportNameCount; }
    // The index-th exported name (index below ExportNameCount()).
    std::string_view ExportName(uint32_t index) const;
    // The address-table index that the index-th name exports (checked below ExportFunctionCount()).
    uint32_t ExportNameOrdinal(uint32_t index) const;
    // The relative address in the address table's entry (index below ExportFunctionCount()).
    uint32_t ExportFunctionRva(uint32_t index) const;
    // The relative address exported under the name (compared exactly), 0 when there is none.
    uint32_t FindExport(std::string_view name) const;

private:
    explicit TModuleExplorer(TModuleExplorerMode mode) : FMode(mode) {}
    // Sets the image (start aligned down to 4 bytes, the extent shortened by as much).
    void SetImage(const void* start, size_t size);
    // Checks the headers and makes the strategies; raises the parse errors.
    void Parse();
    void ParseExports();
    // Mode 0: builds the loader's layout of the file image into the private copy and takes it.
    void LoadLayout(const TModuleExplorer& file);
    // Mode 2: copies the bytes into the private copy and takes it.
    void LoadCopy(const void* data, size_t size);
#ifdef _WIN32
    // Mode 1: maps the whole file read-only; the view is unmapped on destruction.
    void LoadMapped(const std::string& path);
#endif
    [[noreturn]] void RaiseBad(const char* format) const;
    void CheckWritable() const;

    uint8_t* FImageStart = nullptr;
    bool FInvalid = false;
    TModuleExplorerMode FMode;
    bool FUnmapOnDestroy = false;
    std::unique_ptr<TVirtualStream> FCopy;
    std::unique_ptr<TPEFormatStrategy> FFormat;
    std::unique_ptr<TPEImageSearchStrategy> FSearch;
    uint8_t* FFileHeader = nullptr;
    uint8_t* FSectionTable = nullptr;
    uint32_t FExportRva = 0;
    uint32_t FExportSize = 0;
    uint8_t* FExportFunctions = nullptr;
    uint8_t* FExportNames = nullptr;
    uint8_t* FExportOrdinals = nullptr;
    int64_t FFileTime = 0;

    size_t FImageSize = 0;
    uint32_t FSectionCount = 0;
    uint32_t FExportFunctionCount = 0;
    uint32_t FExportNameCount = 0;
    bool FFileLayout = false;
    bool FReadOnly = false;
    // Unmaps the view of mode 1 (set by the Win32 file constructor).
    void (*FUnmapView)(void* view) = nullptr;
};

}  // namespace cm
