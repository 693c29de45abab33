// The resource section of a PE image (PE32 or PE32+): reading its three-level tree (type, name,
// language) into a table, and writing a file image whose resource section is rebuilt from a table.
// Portable: no operating-system resource updater, so every build writes the same bytes.
//
// The rebuilt section takes the place of the old one (or is added after the last section when the
// image has none); a base-relocation section that follows it moves behind it. Any other section
// after the resource section, data after the last section (a signature, debug symbols) or a
// signature directory is refused: moving those would break what refers to them.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "cm/ModuleExp/ModuleExp.h"
#include "cm/StreamUtils/Stream.h"

namespace cm {

constexpr uint16_t ResourceTypeIcon = 3;
constexpr uint16_t ResourceTypeRcData = 10;
constexpr uint16_t ResourceTypeGroupIcon = 14;
constexpr uint16_t ResourceTypeVersion = 16;
constexpr uint16_t ResourceTypeManifest = 24;
constexpr uint16_t ResourceLanguageNeutral = 0;
constexpr uint32_t ImageDirectoryResource = 2;
constexpr uint32_t ImageDirectorySecurity = 4;
constexpr uint32_t ImageDirectoryBaseReloc = 5;
// Resource data starts at this alignment inside the section.
constexpr uint32_t ResourceDataAlignment = 8;
// Nesting of the tree: type, name, language.
constexpr int ResourceTreeLevels = 3;

// A resource type or name: a 16-bit identifier, or a name (UTF-16) when Name is not empty.
struct TResourceId {
    uint16_t Id = 0;
    std::u16string Name;

    TResourceId() = default;
    TResourceId(uint16_t id) : Id(id) {}  // NOLINT: identifiers read as numbers
    explicit TResourceId(std::u16string name) : Name(std::move(name)) {}
    bool IsName() const { return !Name.empty(); }
    // The order of the directory: names first (upper-cased ASCII letters, then code units), then
    // identifiers ascending.
    bool operator<(const TResourceId& other) const;
    bool operator==(const TResourceId& other) const { return Id == other.Id && Name == other.Name; }
    // "10" or "NAME".
    std::string Text() const;
};

struct TResourceEntry {
    TResourceId Type;
    TResourceId Name;
    uint16_t Language = ResourceLanguageNeutral;
    uint32_t CodePage = 0;
    uint32_t Rva = 0;  // where ReadResources found the bytes in the image (0 for entries set later)
    // The bytes: owned, or a view of memory the caller keeps alive (a large payload is not copied).
    std::string Owned;
    std::string_view View;
    bool IsView = false;
    std::string_view Data() const { return IsView ? View : std::string_view(Owned); }
};

// The resources of an image in directory order (type, name, language).
class TResourceTable {
public:
    const std::vector<TResourceEntry>& Entries() const { return FEntries; }
    // The entry, or null.
    const TResourceEntry* Find(const TResourceId& type, const TResourceId& name, uint16_t language) const;
    // The first entry of the type and name in any language, or null.
    const TResourceEntry* Find(const TResourceId& type, const TResourceId& name) const;
    // Adds the entry or replaces the one of the same type, name and language. Set keeps a copy of
    // the bytes; SetView refers to them (they must outlive the table and its images).
    TResourceEntry& Set(const TResourceId& type, const TResourceId& name, uint16_t language, std::string bytes);
    TResourceEntry& SetView(const TResourceId& type, const TResourceId& name, uint16_t language, std::string_view bytes);
    // Removes every entry of the type and name; returns how many went.
    int Remove(const TResourceId& type, const TResourceId& name);

private:
    TResourceEntry& Slot(const TResourceId& type, const TResourceId& name, uint16_t language);
    std::vector<TResourceEntry> FEntries;
};

// The resources of a file-layout image (modes 1 and 2); empty when it has no resource directory.
// Raises "Invalid resource directory of module at 0x%p" when the tree leaves the image, loops,
// reaches a directory twice or nests deeper than three levels.
TResourceTable ReadResources(const TModuleExplorer& explorer);

// The PE checksum of a file image: the 16-bit one's-complement sum of its words (the checksum
// field counted as zero) plus the file length. Fed in pieces of any length.
class TPEChecksum {
public:
    explicit TPEChecksum(uint64_t checksumFieldOffset) : FFieldOffset(checksumFieldOffset) {}
    void Add(const void* data, size_t size);
    uint32_t Value() const;

private:
    uint64_t FOffset = 0;
    uint64_t FFieldOffset;
    uint64_t FSum = 0;
    int FPendingByte = -1;  // the first byte of a word split between pieces
};

// A file image whose resource section was rebuilt: a list of byte ranges (the copied head of the
// image, the new section, the moved relocations, padding) that refer to the source image and the
// table's data, which must outlive it.
class TPEImageWithResources {
public:
    uint64_t Size() const { return FSize; }
    uint32_t CheckSum() const { return FCheckSum; }
    // Writes the image at the stream's position; raises the stream's write error.
    void WriteTo(TStream& stream) const;
    // The whole image in one string (small images: tests).
    std::string Bytes() const;

private:
    friend TPEImageWithResources RebuildResourceSection(const TModuleExplorer&, const TResourceTable&);
    void Add(std::string_view piece);
    void AddOwned(std::string piece);
    void Pad(uint64_t size);

    std::deque<std::string> FOwned;  // pieces made here (headers, directory); deque: stable addresses
    std::vector<std::string_view> FPieces;
    uint64_t FSize = 0;
    uint32_t FCheckSum = 0;
};

// Lays out the explorer's file image (modes 1 and 2) with its resource section rebuilt from the
// table, the sizes of the image, the resource and relocation directories, the initialised data
// and the header checksum fixed. The source image is not changed. Raises (cm::Exception) for a
// signed image ("The image is signed: ..."), data after the last section, a section other than
// the relocations after the resource section, a section table without room for a new section, a
// relocation block inside the moved sections or longer than the relocation data, and an image
// beyond 4 GB.
TPEImageWithResources RebuildResourceSection(const TModuleExplorer& explorer, const TResourceTable& table);

}  // namespace cm
