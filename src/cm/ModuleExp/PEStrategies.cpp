// The format strategy (one class over the PE32 and PE32+ layouts) and the search strategies
// (memory and file layout) of cm/ModuleExp. Portable.
#include <algorithm>
#include <cstring>

#include "cm/ModuleExp/ModuleExp.h"

namespace cm {

uint16_t PeRead16(const void* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint32_t PeRead32(const void* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint64_t PeRead64(const void* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void PeWrite16(void* p, uint16_t v) { std::memcpy(p, &v, sizeof v); }
void PeWrite32(void* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

namespace {

// Optional-header offsets shared by both formats.
constexpr uint32_t OptSectionAlignment = 32;
constexpr uint32_t OptFileAlignment = 36;
constexpr uint32_t OptSizeOfImage = 56;
constexpr uint32_t OptSizeOfHeaders = 60;
constexpr uint32_t OptCheckSum = 64;
constexpr uint32_t OptSubsystem = 68;

}  // namespace

const TPELayout PE32Layout{28, 4, 92, 96, 4, 0x80000000u, false};
const TPELayout PE32PlusLayout{24, 8, 108, 112, 8, 0x8000000000000000ull, true};

uint32_t TPEFormatStrategy::FileAlignment() const { return PeRead32(FOptionalHeader + OptFileAlignment); }
uint64_t TPEFormatStrategy::ImageBase() const {
    const uint8_t* field = FOptionalHeader + FLayout.ImageBaseOffset;
    return FLayout.ImageBaseSize == 8 ? PeRead64(field) : PeRead32(field);
}
uint32_t TPEFormatStrategy::SectionAlignment() const { return PeRead32(FOptionalHeader + OptSectionAlignment); }
uint32_t TPEFormatStrategy::SizeOfHeaders() const { return PeRead32(FOptionalHeader + OptSizeOfHeaders); }
uint32_t TPEFormatStrategy::SizeOfImage() const { return PeRead32(FOptionalHeader + OptSizeOfImage); }
uint16_t TPEFormatStrategy::Subsystem() const { return PeRead16(FOptionalHeader + OptSubsystem); }
uint32_t TPEFormatStrategy::CheckSum() const { return PeRead32(FOptionalHeader + OptCheckSum); }
void TPEFormatStrategy::SetCheckSum(uint32_t value) { PeWrite32(FOptionalHeader + OptCheckSum, value); }
void TPEFormatStrategy::SetSizeOfImage(uint32_t value) { PeWrite32(FOptionalHeader + OptSizeOfImage, value); }
void TPEFormatStrategy::SetSubsystem(uint16_t value) { PeWrite16(FOptionalHeader + OptSubsystem, value); }

uint8_t* TPEFormatStrategy::DataDirectoryEntry(uint32_t index) const {
    const uint32_t stored = PeRead32(FOptionalHeader + FLayout.DirectoryCountOffset);
    const uint32_t held = (FOptionalHeaderSize - FLayout.DirectoryOffset) / DataDirectoryEntrySize;
    if (index >= std::min(stored, held)) return nullptr;
    return FOptionalHeader + FLayout.DirectoryOffset + index * DataDirectoryEntrySize;
}

uint64_t TPEFormatStrategy::ReadThunk(const void* thunk) const {
    return FLayout.ThunkSize == 8 ? PeRead64(thunk) : PeRead32(thunk);
}
uint32_t TPEFormatStrategy::ThunkValue(const void* thunk) const { return PeRead32(thunk); }
bool TPEFormatStrategy::ThunkImportsByName(const void* thunk) const { return (ReadThunk(thunk) & FLayout.OrdinalFlag) == 0; }
bool TPEFormatStrategy::ThunkNotNull(const void* thunk) const { return ReadThunk(thunk) != 0; }
const uint8_t* TPEFormatStrategy::NextThunk(const void* thunk) const {
    return static_cast<const uint8_t*>(thunk) + FLayout.ThunkSize;
}
uint64_t TPEFormatStrategy::AddToAddress(uint64_t base, uint32_t offset) const {
    if (FLayout.WideAddresses) return base + offset;
    return static_cast<uint32_t>(static_cast<uint32_t>(base) + offset);
}

// Search strategies

uint8_t* TOSLoadedPESearchStrategy::AddressOf(uint32_t rva, uint32_t* available) {
    const size_t size = FExplorer.ImageSize();
    if (rva >= size) return nullptr;
    if (available) *available = static_cast<uint32_t>(std::min<size_t>(size - rva, UINT32_MAX));
    return FExplorer.ImageStart() + rva;
}

uint8_t* TOSLoadedPESearchStrategy::AddressOfDataDirectory(uint32_t, const uint8_t* entry, uint32_t* available) {
    return AddressOf(PeRead32(entry), available);
}

uint8_t* TInMemoryPESearchStrategy::AddressOf(uint32_t rva, uint32_t* available) {
    const size_t size = FExplorer.ImageSize();
    for (uint32_t i = 0; i < FExplorer.SectionCount(); ++i) {
        const uint8_t* section = FExplorer.Section(i);
        const uint32_t virtualSize = PeRead32(section + SecVirtualSize);
        const uint32_t virtualAddress = PeRead32(section + SecVirtualAddress);
        // rva - virtualAddress < virtualSize: inside [va, va + vs) without the sum overflowing.
        const uint32_t delta = rva - virtualAddress;
        if (rva < virtualAddress || delta >= virtualSize) continue;
        // The first section that holds the address decides; bytes past its raw data are not in
        // the file.
        const uint32_t rawSize = PeRead32(section + SecRawSize);
        const uint64_t offset = static_cast<uint64_t>(PeRead32(section + SecRawPointer)) + delta;
        if (delta >= rawSize || offset >= size) return nullptr;
        // The region ends where the section's raw data, its virtual range or the image ends.
        if (available) *available = static_cast<uint32_t>(std::min<uint64_t>(std::min(rawSize, virtualSize) - delta, size - offset));
        return FExplorer.ImageStart() + offset;
    }
    return nullptr;
}

uint8_t* TInMemoryPESearchStrategy::AddressOfDataDirectory(uint32_t index, const uint8_t* entry, uint32_t* available) {
    if (index >= CachedDataDirectories) return AddressOf(PeRead32(entry), available);
    const uint32_t bit = 1u << index;
    if (!(FFilled & bit)) {
        FCacheAvailable[index] = 0;
        FCache[index] = AddressOf(PeRead32(entry), &FCacheAvailable[index]);
        FFilled |= bit;
    }
    if (available) *available = FCacheAvailable[index];
    return FCache[index];
}

}  // namespace cm
