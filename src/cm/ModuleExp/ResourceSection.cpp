// The resource section of PE images: reading the tree, rebuilding the section. Portable.
#include "cm/ModuleExp/ResourceSection.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Format.h"

namespace cm {

namespace {

constexpr const char* MsgBadResources = "Invalid resource directory of module at 0x%p";

// Directory: characteristics, time stamp, version (2 + 2), named count, identifier count; then
// 8-byte entries (name or identifier, offset of the data entry or subdirectory).
constexpr uint32_t ResDirectorySize = 16;
constexpr uint32_t ResDirNamedCount = 12;
constexpr uint32_t ResDirIdCount = 14;
constexpr uint32_t ResEntrySize = 8;
// Data entry: data's relative address, size, code page, reserved.
constexpr uint32_t ResDataEntrySize = 16;
constexpr uint32_t ResHighBit = 0x80000000u;

constexpr uint32_t SecCharacteristics = 36;
constexpr uint32_t SectionInitializedData = 0x00000040;
constexpr uint32_t SectionReadable = 0x40000000;
constexpr char ResourceSectionName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
constexpr char RelocSectionName[8] = {'.', 'r', 'e', 'l', 'o', 'c', 0, 0};

// Optional-header fields shared by both formats.
constexpr uint32_t OptSizeOfInitializedData = 8;
constexpr uint32_t OptCheckSum = 64;

// Base relocation block: page address, block size (header of 8 bytes included).
constexpr uint32_t RelocBlockHeaderSize = 8;

// The resource section's data starts on a page boundary of the file when the image's sections
// are page-aligned in memory: a loader can then map it from the file, where otherwise it must
// copy it into memory as the image loads (Wine does, for all of a payload of tens of megabytes,
// at every start).
constexpr uint32_t ResourceRawAlignment = 0x1000;

uint64_t AlignUp(uint64_t value, uint32_t alignment) {
    if (alignment <= 1) return value;
    return (value + alignment - 1) / alignment * alignment;
}

char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

void Put16(std::string& b, size_t at, uint16_t v) { PeWrite16(&b[at], v); }
void Put32(std::string& b, size_t at, uint32_t v) { PeWrite32(&b[at], v); }

class TResourceReader {
public:
    TResourceReader(const TModuleExplorer& explorer, uint32_t rva, uint32_t size)
        : FExplorer(explorer), FRva(rva), FSize(size) {}

    void ReadDirectory(uint32_t offset, int level, TResourceEntry& path, TResourceTable& table) {
        // A tree reaches each directory once: entries sharing a subdirectory would multiply the
        // work by the entry counts of every level (a small section could hold billions of paths).
        if (!FVisited.insert(offset).second) Bad();
        const uint8_t* directory = Bytes(offset, ResDirectorySize);
        const uint32_t count = static_cast<uint32_t>(PeRead16(directory + ResDirNamedCount)) + PeRead16(directory + ResDirIdCount);
        const uint8_t* entries = Bytes(offset + ResDirectorySize, count * ResEntrySize);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* entry = entries + i * ResEntrySize;
            const uint32_t name = PeRead32(entry);
            const uint32_t target = PeRead32(entry + 4);
            TResourceId id = (name & ResHighBit) ? TResourceId(ReadName(name & ~ResHighBit))
                                                 : TResourceId(static_cast<uint16_t>(name));
            if (level == 0) path.Type = id;
            else if (level == 1) path.Name = id;
            else path.Language = id.Id;
            const bool subdirectory = (target & ResHighBit) != 0;
            // Types and names lead to directories, languages to data: anything else (a loop
            // included) is not a resource tree.
            if (subdirectory != (level + 1 < ResourceTreeLevels)) Bad();
            if (subdirectory) {
                ReadDirectory(target & ~ResHighBit, level + 1, path, table);
            } else {
                const uint8_t* data = Bytes(target, ResDataEntrySize);
                const uint32_t dataSize = PeRead32(data + 4);
                const uint8_t* bytes = dataSize == 0 ? nullptr : FExplorer.AddressOf(PeRead32(data), dataSize);
                if (dataSize != 0 && !bytes) Bad();
                TResourceEntry& e = table.Set(path.Type, path.Name, path.Language,
                                              std::string(reinterpret_cast<const char*>(bytes), dataSize));
                e.CodePage = PeRead32(data + 8);
                e.Rva = PeRead32(data);
            }
        }
    }

private:
    const uint8_t* Bytes(uint64_t offset, uint64_t size) const {
        if (offset + size > FSize) Bad();
        const uint8_t* p = FExplorer.AddressOf(FRva + static_cast<uint32_t>(offset), static_cast<uint32_t>(size));
        if (!p && size != 0) Bad();
        return p;
    }

    std::u16string ReadName(uint32_t offset) const {
        const uint16_t length = PeRead16(Bytes(offset, 2));
        const uint8_t* units = Bytes(uint64_t{offset} + 2, uint64_t{length} * 2);
        std::u16string name(length, u'\0');
        for (uint16_t i = 0; i < length; ++i) name[i] = static_cast<char16_t>(PeRead16(units + 2 * i));
        if (name.empty()) Bad();
        return name;
    }

    [[noreturn]] void Bad() const {
        throw Exception(cm::Format(MsgBadResources, {static_cast<const void*>(FExplorer.ImageStart())}));
    }

    const TModuleExplorer& FExplorer;
    uint32_t FRva;
    uint32_t FSize;
    std::set<uint32_t> FVisited;  // directories read so far
};

// The bytes of a resource section laid out at the given relative address.
class TResourceSectionBuilder {
public:
    explicit TResourceSectionBuilder(const TResourceTable& table) {
        // Group the table's (sorted) entries: types, then names within a type.
        for (const TResourceEntry& e : table.Entries()) {
            if (FTypes.empty() || !(FTypes.back().Id == e.Type)) FTypes.push_back({e.Type, {}});
            auto& names = FTypes.back().Names;
            if (names.empty() || !(names.back().Id == e.Name)) names.push_back({e.Name, {}});
            names.back().Entries.push_back(&e);
        }
    }

    // The directory part (tables, data entries, names) and the offset at which each entry's data
    // goes; DataEnd is the section's whole size.
    void Layout(uint32_t sectionRva) {
        uint32_t directories = ResDirectorySize + ResEntrySize * static_cast<uint32_t>(FTypes.size());
        uint32_t dataEntries = 0;
        for (const auto& type : FTypes) {
            directories += ResDirectorySize + ResEntrySize * static_cast<uint32_t>(type.Names.size());
            for (const auto& name : type.Names) {
                directories += ResDirectorySize + ResEntrySize * static_cast<uint32_t>(name.Entries.size());
                dataEntries += static_cast<uint32_t>(name.Entries.size());
            }
        }
        uint32_t strings = 0;
        auto nameSize = [](const TResourceId& id) { return id.IsName() ? 2 + 2 * static_cast<uint32_t>(id.Name.size()) : 0; };
        for (const auto& type : FTypes) {
            strings += nameSize(type.Id);
            for (const auto& name : type.Names) strings += nameSize(name.Id);
        }
        const uint32_t dataEntryStart = directories;
        const uint32_t stringStart = dataEntryStart + dataEntries * ResDataEntrySize;
        Head.assign(stringStart + strings, '\0');

        uint32_t nextDirectory = 0, nextDataEntry = dataEntryStart, nextString = stringStart;
        uint64_t nextData = AlignUp(Head.size(), ResourceDataAlignment);
        auto nameField = [&](const TResourceId& id) -> uint32_t {
            if (!id.IsName()) return id.Id;
            const uint32_t at = nextString;
            Put16(Head, at, static_cast<uint16_t>(id.Name.size()));
            for (size_t i = 0; i < id.Name.size(); ++i) Put16(Head, at + 2 + 2 * i, static_cast<uint16_t>(id.Name[i]));
            nextString += 2 + 2 * static_cast<uint32_t>(id.Name.size());
            return ResHighBit | at;
        };
        // A directory of count entries whose named ones come first; returns its offset.
        auto directory = [&](uint32_t count, uint32_t named) {
            const uint32_t at = nextDirectory;
            Put16(Head, at + ResDirNamedCount, static_cast<uint16_t>(named));
            Put16(Head, at + ResDirIdCount, static_cast<uint16_t>(count - named));
            nextDirectory += ResDirectorySize + ResEntrySize * count;
            return at;
        };
        auto namedCount = [](const auto& list) {
            uint32_t n = 0;
            for (const auto& item : list) n += item.Id.IsName() ? 1 : 0;
            return n;
        };
        // Breadth first: the root, every type's directory, every name's directory.
        const uint32_t root = directory(static_cast<uint32_t>(FTypes.size()), namedCount(FTypes));
        std::vector<uint32_t> typeDirs, nameDirs;
        for (const auto& type : FTypes)
            typeDirs.push_back(directory(static_cast<uint32_t>(type.Names.size()), namedCount(type.Names)));
        for (const auto& type : FTypes)
            for (const auto& name : type.Names) nameDirs.push_back(directory(static_cast<uint32_t>(name.Entries.size()), 0));
        size_t n = 0;
        for (size_t t = 0; t < FTypes.size(); ++t) {
            const auto& type = FTypes[t];
            Put32(Head, root + ResDirectorySize + ResEntrySize * t, nameField(type.Id));
            Put32(Head, root + ResDirectorySize + ResEntrySize * t + 4, ResHighBit | typeDirs[t]);
            for (size_t k = 0; k < type.Names.size(); ++k, ++n) {
                const auto& name = type.Names[k];
                Put32(Head, typeDirs[t] + ResDirectorySize + ResEntrySize * k, nameField(name.Id));
                Put32(Head, typeDirs[t] + ResDirectorySize + ResEntrySize * k + 4, ResHighBit | nameDirs[n]);
                for (size_t l = 0; l < name.Entries.size(); ++l) {
                    const TResourceEntry& e = *name.Entries[l];
                    Put32(Head, nameDirs[n] + ResDirectorySize + ResEntrySize * l, e.Language);
                    Put32(Head, nameDirs[n] + ResDirectorySize + ResEntrySize * l + 4, nextDataEntry);
                    if (sectionRva + nextData + e.Data().size() > UINT32_MAX)
                        throw Exception("The resources do not fit a PE image (4 GB).");
                    Put32(Head, nextDataEntry, static_cast<uint32_t>(sectionRva + nextData));
                    Put32(Head, nextDataEntry + 4, static_cast<uint32_t>(e.Data().size()));
                    Put32(Head, nextDataEntry + 8, e.CodePage);
                    nextDataEntry += ResDataEntrySize;
                    Data.push_back({nextData, e.Data()});
                    nextData = AlignUp(nextData + e.Data().size(), ResourceDataAlignment);
                }
            }
        }
        DataEnd = Data.empty() ? Head.size() : Data.back().first + Data.back().second.size();
    }

    std::string Head;
    std::vector<std::pair<uint64_t, std::string_view>> Data;  // offset in the section, bytes
    uint64_t DataEnd = 0;

private:
    struct TName {
        TResourceId Id;
        std::vector<const TResourceEntry*> Entries;
    };
    struct TType {
        TResourceId Id;
        std::vector<TName> Names;
    };
    std::vector<TType> FTypes;
};

}  // namespace

bool TResourceId::operator<(const TResourceId& other) const {
    if (IsName() != other.IsName()) return IsName();
    if (!IsName()) return Id < other.Id;
    const size_t n = std::min(Name.size(), other.Name.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t a = UpperAscii(Name[i]), b = UpperAscii(other.Name[i]);
        if (a != b) return a < b;
    }
    if (Name.size() != other.Name.size()) return Name.size() < other.Name.size();
    return Name < other.Name;
}

std::string TResourceId::Text() const {
    if (!IsName()) return std::to_string(Id);
    std::string text;
    for (char16_t c : Name) text += c < 0x80 ? static_cast<char>(c) : '?';
    return text;
}

TResourceEntry& TResourceTable::Slot(const TResourceId& type, const TResourceId& name, uint16_t language) {
    auto before = [](const TResourceEntry& e, const TResourceEntry& key) {
        if (!(e.Type == key.Type)) return e.Type < key.Type;
        if (!(e.Name == key.Name)) return e.Name < key.Name;
        return e.Language < key.Language;
    };
    TResourceEntry key;
    key.Type = type;
    key.Name = name;
    key.Language = language;
    auto at = std::lower_bound(FEntries.begin(), FEntries.end(), key, before);
    if (at != FEntries.end() && at->Type == type && at->Name == name && at->Language == language) return *at;
    return *FEntries.insert(at, std::move(key));
}

TResourceEntry& TResourceTable::Set(const TResourceId& type, const TResourceId& name, uint16_t language, std::string bytes) {
    TResourceEntry& e = Slot(type, name, language);
    e.Owned = std::move(bytes);
    e.Rva = 0;
    e.View = {};
    e.IsView = false;
    return e;
}

TResourceEntry& TResourceTable::SetView(const TResourceId& type, const TResourceId& name, uint16_t language, std::string_view bytes) {
    TResourceEntry& e = Slot(type, name, language);
    e.Owned.clear();
    e.Rva = 0;
    e.View = bytes;
    e.IsView = true;
    return e;
}

int TResourceTable::Remove(const TResourceId& type, const TResourceId& name) {
    const size_t before = FEntries.size();
    std::erase_if(FEntries, [&](const TResourceEntry& e) { return e.Type == type && e.Name == name; });
    return static_cast<int>(before - FEntries.size());
}

const TResourceEntry* TResourceTable::Find(const TResourceId& type, const TResourceId& name, uint16_t language) const {
    for (const TResourceEntry& e : FEntries)
        if (e.Type == type && e.Name == name && e.Language == language) return &e;
    return nullptr;
}

const TResourceEntry* TResourceTable::Find(const TResourceId& type, const TResourceId& name) const {
    for (const TResourceEntry& e : FEntries)
        if (e.Type == type && e.Name == name) return &e;
    return nullptr;
}

TResourceTable ReadResources(const TModuleExplorer& explorer) {
    CM_ASSERT("cm/ModuleExp", explorer.FileLayout());
    TResourceTable table;
    uint32_t size = 0;
    const uint8_t* entry = explorer.Format().DataDirectoryEntry(ImageDirectoryResource);
    if (!entry || PeRead32(entry) == 0) return table;
    size = PeRead32(entry + 4);
    TResourceReader reader(explorer, PeRead32(entry), size);
    TResourceEntry path;
    reader.ReadDirectory(0, 0, path, table);
    return table;
}

void TPEChecksum::Add(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i, ++FOffset) {
        const bool inField = FOffset >= FFieldOffset && FOffset < FFieldOffset + 4;
        const uint8_t byte = inField ? 0 : p[i];
        if (FPendingByte < 0) {
            FPendingByte = byte;
            continue;
        }
        FSum += static_cast<uint32_t>(FPendingByte) | (static_cast<uint32_t>(byte) << 8);
        FSum = (FSum & 0xFFFF) + (FSum >> 16);
        FPendingByte = -1;
    }
}

uint32_t TPEChecksum::Value() const {
    uint64_t sum = FSum;
    if (FPendingByte >= 0) sum += static_cast<uint32_t>(FPendingByte);  // an odd length: a last half word
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + FOffset);
}

void TPEImageWithResources::Add(std::string_view piece) {
    if (piece.empty()) return;
    FPieces.push_back(piece);
    FSize += piece.size();
}

void TPEImageWithResources::AddOwned(std::string piece) {
    FOwned.push_back(std::move(piece));
    Add(FOwned.back());
}

void TPEImageWithResources::Pad(uint64_t size) {
    if (size > FSize) AddOwned(std::string(static_cast<size_t>(size - FSize), '\0'));
}

void TPEImageWithResources::WriteTo(TStream& stream) const {
    constexpr size_t Chunk = size_t{1} << 30;
    for (std::string_view piece : FPieces) {
        for (size_t done = 0; done < piece.size(); done += Chunk) {
            const size_t n = std::min(Chunk, piece.size() - done);
            stream.WriteBuffer(piece.data() + done, static_cast<int32_t>(n));
        }
    }
}

std::string TPEImageWithResources::Bytes() const {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(FSize));
    for (std::string_view piece : FPieces) bytes += piece;
    return bytes;
}

TPEImageWithResources RebuildResourceSection(const TModuleExplorer& explorer, const TResourceTable& table) {
    CM_ASSERT("cm/ModuleExp", explorer.FileLayout());
    const TPEFormatStrategy& format = explorer.Format();
    const uint8_t* image = explorer.ImageStart();
    const uint64_t imageSize = explorer.ImageSize();
    const uint32_t fileAlignment = std::max<uint32_t>(format.FileAlignment(), 1);
    const uint32_t sectionAlignment = std::max<uint32_t>(format.SectionAlignment(), 1);

    const uint8_t* security = format.DataDirectoryEntry(ImageDirectorySecurity);
    if (security && PeRead32(security + 4) != 0)
        throw Exception("The image is signed: the signature would no longer match. Use the unsigned image and sign the result.");

    // Where the sections' raw data ends: nothing may follow it.
    const uint32_t count = explorer.SectionCount();
    uint64_t rawEnd = format.SizeOfHeaders();
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* s = explorer.Section(i);
        if (PeRead32(s + SecRawSize) != 0)
            rawEnd = std::max<uint64_t>(rawEnd, uint64_t{PeRead32(s + SecRawPointer)} + PeRead32(s + SecRawSize));
    }
    if (rawEnd > imageSize) throw Exception("The image is truncated: its sections end beyond the file.");
    if (rawEnd < imageSize)
        throw Exception(cm::Format("The image has %d bytes after its last section (symbols or a signature).",
                                   {static_cast<long long>(imageSize - rawEnd)}));

    // The resource section (the one holding the directory) and what follows it.
    const uint8_t* resEntry = format.DataDirectoryEntry(ImageDirectoryResource);
    if (!resEntry) throw Exception("The image has no resource directory entry.");
    const uint8_t* relocEntry = format.DataDirectoryEntry(ImageDirectoryBaseReloc);
    const uint32_t resRva = PeRead32(resEntry);
    int resIndex = -1;
    for (uint32_t i = 0; i < count && resRva != 0; ++i) {
        const uint8_t* s = explorer.Section(i);
        const uint32_t va = PeRead32(s + SecVirtualAddress);
        if (resRva >= va && resRva - va < std::max(PeRead32(s + SecVirtualSize), PeRead32(s + SecRawSize))) resIndex = static_cast<int>(i);
    }
    if (resRva != 0 && resIndex < 0) throw Exception("The image's resource directory lies outside its sections.");
    auto isReloc = [&](uint32_t i) {
        const uint8_t* s = explorer.Section(i);
        return relocEntry && PeRead32(relocEntry) != 0 && PeRead32(relocEntry) == PeRead32(s + SecVirtualAddress) &&
               std::memcmp(s, RelocSectionName, 8) == 0;
    };
    // The new section goes where the old one was, or before trailing relocations, or last.
    uint32_t insertAt = resIndex >= 0 ? static_cast<uint32_t>(resIndex) : count;
    if (resIndex < 0 && count > 0 && isReloc(count - 1)) insertAt = count - 1;
    const uint32_t firstMoved = resIndex >= 0 ? insertAt + 1 : insertAt;
    for (uint32_t i = firstMoved; i < count; ++i)
        if (!isReloc(i))
            throw Exception(cm::Format("Section '%s' follows the resource section: it cannot be moved.",
                                       {std::string(reinterpret_cast<const char*>(explorer.Section(i)),
                                                    strnlen(reinterpret_cast<const char*>(explorer.Section(i)), 8))}));
    const uint32_t newCount = resIndex >= 0 ? count : count + 1;
    const uint64_t tableOffset = static_cast<uint64_t>(explorer.SectionTable() - image);
    if (tableOffset + uint64_t{newCount} * SectionHeaderSize > format.SizeOfHeaders())
        throw Exception("The image's headers have no room for another section.");

    // Placement: the new section starts where the old one did, or after the last kept section.
    uint64_t rsrcRva, rsrcRaw;
    if (resIndex >= 0) {
        const uint8_t* s = explorer.Section(static_cast<uint32_t>(resIndex));
        rsrcRva = PeRead32(s + SecVirtualAddress);
        rsrcRaw = PeRead32(s + SecRawPointer);
        if (PeRead32(s + SecRawSize) == 0) rsrcRaw = AlignUp(rawEnd, fileAlignment);
    } else {
        rsrcRva = AlignUp(format.SizeOfHeaders(), sectionAlignment);
        rsrcRaw = AlignUp(format.SizeOfHeaders(), fileAlignment);
        for (uint32_t i = 0; i < insertAt; ++i) {
            const uint8_t* s = explorer.Section(i);
            rsrcRva = std::max(rsrcRva, AlignUp(uint64_t{PeRead32(s + SecVirtualAddress)} +
                                                    std::max(PeRead32(s + SecVirtualSize), PeRead32(s + SecRawSize)),
                                                sectionAlignment));
            if (PeRead32(s + SecRawSize) != 0)
                rsrcRaw = std::max(rsrcRaw, AlignUp(uint64_t{PeRead32(s + SecRawPointer)} + PeRead32(s + SecRawSize), fileAlignment));
        }
    }
    const uint64_t keptEnd = rsrcRaw;  // the headers and the kept sections' data end here
    if (sectionAlignment >= ResourceRawAlignment)
        rsrcRaw = AlignUp(rsrcRaw, std::max(fileAlignment, ResourceRawAlignment));
    // Every kept section's raw data lies before the new section's; the moved ones after it.
    for (uint32_t i = 0; i < insertAt; ++i) {
        const uint8_t* s = explorer.Section(i);
        if (PeRead32(s + SecRawSize) != 0 && uint64_t{PeRead32(s + SecRawPointer)} + PeRead32(s + SecRawSize) > rsrcRaw)
            throw Exception("The image's sections are not in file order.");
    }

    TResourceSectionBuilder builder(table);
    builder.Layout(static_cast<uint32_t>(rsrcRva));
    const uint64_t rsrcVirtualSize = builder.DataEnd;
    const uint64_t rsrcRawSize = AlignUp(rsrcVirtualSize, fileAlignment);
    uint64_t relocRva = AlignUp(rsrcRva + rsrcVirtualSize, sectionAlignment);
    uint64_t relocRaw = rsrcRaw + rsrcRawSize;
    uint64_t imageEnd = AlignUp(rsrcRva + rsrcVirtualSize, sectionAlignment);

    // The head: headers and the kept sections' data, with the fields fixed below, then zeros up
    // to the new section's data.
    std::string head(reinterpret_cast<const char*>(image), static_cast<size_t>(std::min<uint64_t>(keptEnd, imageSize)));
    head.resize(static_cast<size_t>(rsrcRaw), '\0');
    std::string moved;  // the relocation sections' headers, in order
    std::vector<std::string_view> movedData;
    for (uint32_t i = firstMoved; i < count; ++i) {
        const uint8_t* s = explorer.Section(i);
        std::string header(reinterpret_cast<const char*>(s), SectionHeaderSize);
        const uint32_t rawSize = PeRead32(s + SecRawSize);
        const uint32_t va = PeRead32(s + SecVirtualAddress);
        const uint32_t virtualSize = PeRead32(s + SecVirtualSize);
        // Relocation blocks name the pages they patch: none may lie in the sections that move.
        const uint8_t* blocks = image + PeRead32(s + SecRawPointer);
        const uint32_t blockBytes = std::min(rawSize, PeRead32(relocEntry + 4));
        for (uint32_t at = 0; blockBytes - at >= RelocBlockHeaderSize;) {
            const uint32_t page = PeRead32(blocks + at), blockSize = PeRead32(blocks + at + 4);
            if (page >= std::min<uint64_t>(rsrcRva, va) && blockSize != 0)
                throw Exception("The image relocates addresses inside the sections that move.");
            if (blockSize < RelocBlockHeaderSize) break;
            // A stored block size is believed only as far as the relocation data goes.
            if (blockSize > blockBytes - at) throw Exception("The image's base relocations are malformed.");
            at += blockSize;
        }
        Put32(header, SecVirtualAddress, static_cast<uint32_t>(relocRva));
        Put32(header, SecRawPointer, rawSize ? static_cast<uint32_t>(relocRaw) : 0);
        if (PeRead32(relocEntry) == va) Put32(head, static_cast<size_t>(relocEntry - image), static_cast<uint32_t>(relocRva));
        moved += header;
        movedData.emplace_back(reinterpret_cast<const char*>(blocks), rawSize);
        imageEnd = AlignUp(relocRva + std::max(virtualSize, rawSize), sectionAlignment);
        relocRva = imageEnd;
        relocRaw += AlignUp(rawSize, fileAlignment);
    }
    if (relocRaw > UINT32_MAX || imageEnd > UINT32_MAX) throw Exception("The image would exceed 4 GB.");

    // The new section header.
    std::string rsrcHeader(SectionHeaderSize, '\0');
    if (resIndex >= 0) rsrcHeader.assign(reinterpret_cast<const char*>(explorer.Section(static_cast<uint32_t>(resIndex))), SectionHeaderSize);
    else {
        std::memcpy(&rsrcHeader[0], ResourceSectionName, 8);
        Put32(rsrcHeader, SecCharacteristics, SectionInitializedData | SectionReadable);
    }
    Put32(rsrcHeader, SecVirtualSize, static_cast<uint32_t>(rsrcVirtualSize));
    Put32(rsrcHeader, SecVirtualAddress, static_cast<uint32_t>(rsrcRva));
    Put32(rsrcHeader, SecRawSize, static_cast<uint32_t>(rsrcRawSize));
    Put32(rsrcHeader, SecRawPointer, static_cast<uint32_t>(rsrcRaw));
    const std::string sections = rsrcHeader + moved;
    std::memcpy(&head[static_cast<size_t>(tableOffset + uint64_t{insertAt} * SectionHeaderSize)], sections.data(), sections.size());
    // (A new header takes bytes of the headers' padding, inside the size of headers as checked above.)

    const uint64_t fileHeaderOffset = static_cast<uint64_t>(explorer.FileHeader() - image);
    const uint64_t optionalOffset = static_cast<uint64_t>(format.OptionalHeader() - image);
    Put16(head, static_cast<size_t>(fileHeaderOffset + FileHeaderSectionCountField), static_cast<uint16_t>(newCount));
    Put32(head, static_cast<size_t>(resEntry - image), static_cast<uint32_t>(rsrcRva));
    Put32(head, static_cast<size_t>(resEntry - image) + 4, static_cast<uint32_t>(builder.DataEnd));
    Put32(head, static_cast<size_t>(optionalOffset + 56), static_cast<uint32_t>(imageEnd));  // size of image
    uint64_t initialized = 0;
    for (uint32_t i = 0; i < newCount; ++i) {
        const char* s = &head[static_cast<size_t>(tableOffset + uint64_t{i} * SectionHeaderSize)];
        if (PeRead32(s + SecCharacteristics) & SectionInitializedData) initialized += PeRead32(s + SecRawSize);
    }
    Put32(head, static_cast<size_t>(optionalOffset + OptSizeOfInitializedData), static_cast<uint32_t>(initialized));

    TPEImageWithResources result;
    result.AddOwned(std::move(head));
    result.AddOwned(std::move(builder.Head));
    for (const auto& [offset, bytes] : builder.Data) {
        result.Pad(rsrcRaw + offset);
        result.Add(bytes);
    }
    result.Pad(rsrcRaw + rsrcRawSize);
    for (std::string_view data : movedData) {
        result.Add(data);
        result.Pad(AlignUp(result.Size(), fileAlignment));
    }

    TPEChecksum checksum(optionalOffset + OptCheckSum);
    for (std::string_view piece : result.FPieces) checksum.Add(piece.data(), piece.size());
    result.FCheckSum = checksum.Value();
    PeWrite32(&result.FOwned.front()[static_cast<size_t>(optionalOffset + OptCheckSum)], result.FCheckSum);
    return result;
}

}  // namespace cm
