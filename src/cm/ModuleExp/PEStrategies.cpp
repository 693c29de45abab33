// The format strategies (PE32, PE32+) and the search strategies (memory and file layout) of
// cm/ModuleExp. Portable.
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
constexpr uint32_t OptImageBase32 = 28;
constexpr uint32_t OptImageBase64 = 24;
constexpr uint32_t OptDirectoryCount32 = 92;
constexpr uint32_t OptDirectoryCount64 = 108;

constexpr uint32_t OrdinalFlag32 = 0x80000000u;
constexpr uint64_t OrdinalFlag64 = 0x8000000000000000ull;

}  // namespace

uint8_t* TPEFormatStrategy::DirectoryEntryAt(uint32_t index, uint32_t countOffset) const {
    const uint32_t stored = PeRead32(FOptionalHeader + countOffset);
    const uint32_t held = (FOptionalHeaderSize - DirectoryOffset()) / DataDirectoryEntrySize;
    if (index >= std::min(stored, held)) return nullptr;
    return FOptionalHeader + DirectoryOffset() + index * DataDirectoryEntrySize;
}

// PE32

uint32_t TPE32Format::FileAlignment() const { return PeRead32(FOptionalHeader + OptFileAlignment); }
uint64_t TPE32Format::ImageBase() const { return PeRead32(FOptionalHeader + OptImageBase32); }
uint32_t TPE32Format::SectionAlignment() const { return PeRead32(FOptionalHeader + OptSectionAlignment); }
uint32_t TPE32Format::SizeOfHeaders() const { return PeRead32(FOptionalHeader + OptSizeOfHeaders); }
uint32_t TPE32Format::SizeOfImage() const { return PeRead32(FOptionalHeader + OptSizeOfImage); }
uint16_t TPE32Format::Subsystem() const { return PeRead16(FOptionalHeader + OptSubsystem); }
uint32_t TPE32Format::CheckSum() const { return PeRead32(FOptionalHeader + OptCheckSum); }
void TPE32Format::SetCheckSum(uint32_t value) { PeWrite32(FOptionalHeader + OptCheckSum, value); }
void TPE32Format::SetSizeOfImage(uint32_t value) { PeWrite32(FOptionalHeader + OptSizeOfImage, value); }
void TPE32Format::SetSubsystem(uint16_t value) { PeWrite16(FOptionalHeader + OptSubsystem, value); }
uint8_t* TPE32Format::DataDirectoryEntry(uint32_t index) const { return DirectoryEntryAt(index, OptDirectoryCount32); }
uint32_t TPE32Format::ThunkValue(const void* thunk) const { return PeRead32(thunk); }
bool TPE32Format::ThunkImportsByName(const void* thunk) const { return (PeRead32(thunk) & OrdinalFlag32) == 0; }
bool TPE32Format::ThunkNotNull(const void* thunk) const { return PeRead32(thunk) != 0; }
const uint8_t* TPE32Format::NextThunk(const void* thunk) const { return static_cast<const uint8_t*>(thunk) + 4; }
uint64_t TPE32Format::AddToAddress(uint64_t base, uint32_t offset) const {
    return static_cast<uint32_t>(static_cast<uint32_t>(base) + offset);
}

// PE32+

uint32_t TPE32PlusFormat::FileAlignment() const { return PeRead32(FOptionalHeader + OptFileAlignment); }
uint64_t TPE32PlusFormat::ImageBase() const { return PeRead64(FOptionalHeader + OptImageBase64); }
uint32_t TPE32PlusFormat::SectionAlignment() const { return PeRead32(FOptionalHeader + OptSectionAlignment); }
uint32_t TPE32PlusFormat::SizeOfHeaders() const { return PeRead32(FOptionalHeader + OptSizeOfHeaders); }
uint32_t TPE32PlusFormat::SizeOfImage() const { return PeRead32(FOptionalHeader + OptSizeOfImage); }
uint16_t TPE32PlusFormat::Subsystem() const { return PeRead16(FOptionalHeader + OptSubsystem); }
uint32_t TPE32PlusFormat::CheckSum() const { return PeRead32(FOptionalHeader + OptCheckSum); }
void TPE32PlusFormat::SetCheckSum(uint32_t value) { PeWrite32(FOptionalHeader + OptCheckSum, value); }
void TPE32PlusFormat::SetSizeOfImage(uint32_t value) { PeWrite32(FOptionalHeader + OptSizeOfImage, value); }
void TPE32PlusFormat::SetSubsystem(uint16_t value) { PeWrite16(FOptionalHeader + OptSubsystem, value); }
uint8_t* TPE32PlusFormat::DataDirectoryEntry(uint32_t index) const { return DirectoryEntryAt(index, OptDirectoryCount64); }
uint32_t TPE32PlusFormat::ThunkValue(const void* thunk) const { return PeRead32(thunk); }
bool TPE32PlusFormat::ThunkImportsByName(const void* thunk) const { return (PeRead64(thunk) & OrdinalFlag64) == 0; }
bool TPE32PlusFormat::ThunkNotNull(const void* thunk) const { return PeRead64(thunk) != 0; }
const uint8_t* TPE32PlusFormat::NextThunk(const void* thunk) const { return static_cast<const uint8_t*>(thunk) + 8; }
uint64_t TPE32PlusFormat::AddToAddress(uint64_t base, uint32_t offset) const { return base + offset; }

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
        const uint32_t virtualSize = PeRead32(section + 8);
        const uint32_t virtualAddress = PeRead32(section + 12);
        // rva - virtualAddress < virtualSize: inside [va, va + vs) without the sum overflowing.
        const uint32_t delta = rva - virtualAddress;
        if (rva < virtualAddress || delta >= virtualSize) continue;
        // The first section that holds the address decides; bytes past its raw data are not in
        // the file.
        const uint32_t rawSize = PeRead32(section + 16);
        const uint64_t offset = static_cast<uint64_t>(PeRead32(section + 20)) + delta;
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
