// Small PE32 and PE32+ file images for the module explorer's tests and the fuzzer's seeds: two
// sections (.text at 0x1000, .edata at 0x2000, 0x200 bytes of raw data each at 0x200 and 0x400),
// an optional export directory naming "Alpha" (function 1, rva 0x1020) and "Beta" (function 0,
// rva 0x1010), subsystem GUI and a checksum that nothing recomputes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace cm::test {

struct PELayout {
    static constexpr uint32_t NtOffset = 0x40;
    static constexpr uint32_t FileHeader = NtOffset + 4;
    static constexpr uint32_t SectionCountField = FileHeader + 2;
    static constexpr uint32_t OptionalSizeField = FileHeader + 16;
    static constexpr uint32_t Optional = FileHeader + 20;
    static constexpr uint32_t Subsystem = Optional + 68;
    static constexpr uint32_t CheckSum = Optional + 64;
    static constexpr uint32_t TextRaw = 0x200;
    static constexpr uint32_t EdataRaw = 0x400;
    static constexpr uint32_t FileSize = 0x600;
    static constexpr uint32_t EdataRva = 0x2000;
    // Export directory and its tables inside .edata (file offsets).
    static constexpr uint32_t ExportDir = EdataRaw;
    static constexpr uint32_t ExportFunctions = EdataRaw + 0x28;
    static constexpr uint32_t ExportNames = EdataRaw + 0x30;
    static constexpr uint32_t ExportOrdinals = EdataRaw + 0x38;
    static constexpr uint32_t ExportNameAlpha = EdataRaw + 0x40;
    static constexpr uint32_t ExportNameBeta = EdataRaw + 0x50;
    static constexpr uint32_t CheckSumValue = 0x13572468;

    bool Plus;
    uint32_t OptionalSize() const { return Plus ? 240 : 224; }
    uint32_t DirectoryCountField() const { return Optional + (Plus ? 108 : 92); }
    uint32_t ExportEntry() const { return Optional + (Plus ? 112 : 96); }
    uint32_t SectionTable() const { return Optional + OptionalSize(); }
};

inline void Put16(std::vector<uint8_t>& b, uint32_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); }
inline void Put32(std::vector<uint8_t>& b, uint32_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }
inline void Put64(std::vector<uint8_t>& b, uint32_t at, uint64_t v) { std::memcpy(&b[at], &v, 8); }

inline std::vector<uint8_t> MakePEImage(bool plus, bool exports) {
    using L = PELayout;
    const L l{plus};
    std::vector<uint8_t> b(L::FileSize, 0);
    Put16(b, 0, 0x5A4D);
    Put32(b, 60, L::NtOffset);
    Put32(b, L::NtOffset, 0x00004550);
    Put16(b, L::FileHeader, plus ? 0x8664 : 0x014C);
    Put16(b, L::SectionCountField, 2);
    Put16(b, L::OptionalSizeField, static_cast<uint16_t>(l.OptionalSize()));
    Put16(b, L::FileHeader + 18, plus ? 0x2022 : 0x2102);  // characteristics: executable DLL
    Put16(b, L::Optional, plus ? 0x020B : 0x010B);
    if (plus) {
        Put64(b, L::Optional + 24, 0x140000000ull);
    } else {
        Put32(b, L::Optional + 28, 0x10000000u);
    }
    Put32(b, L::Optional + 32, 0x1000);     // section alignment
    Put32(b, L::Optional + 36, 0x200);      // file alignment
    Put32(b, L::Optional + 56, 0x3000);     // size of image
    Put32(b, L::Optional + 60, 0x200);      // size of headers
    Put32(b, L::CheckSum, L::CheckSumValue);
    Put16(b, L::Subsystem, 2);
    Put32(b, l.DirectoryCountField(), 16);
    // Sections: name, virtual size, virtual address, raw size, raw pointer.
    struct Section { const char* Name; uint32_t VirtualSize, VirtualAddress, RawSize, RawPointer; };
    const Section sections[] = {{".text", 0x100, 0x1000, 0x200, L::TextRaw}, {".edata", 0x200, L::EdataRva, 0x200, L::EdataRaw}};
    for (uint32_t i = 0; i < 2; ++i) {
        const uint32_t at = l.SectionTable() + 40 * i;
        std::memcpy(&b[at], sections[i].Name, std::strlen(sections[i].Name));
        Put32(b, at + 8, sections[i].VirtualSize);
        Put32(b, at + 12, sections[i].VirtualAddress);
        Put32(b, at + 16, sections[i].RawSize);
        Put32(b, at + 20, sections[i].RawPointer);
    }
    for (uint32_t i = 0; i < 0x200; ++i) b[L::TextRaw + i] = static_cast<uint8_t>(0x90 + i % 7);
    if (exports) {
        const uint32_t rva = L::EdataRva - L::EdataRaw;  // file offset in .edata + rva = its rva
        Put32(b, l.ExportEntry(), L::EdataRva);
        Put32(b, l.ExportEntry() + 4, 0x60);
        Put32(b, L::ExportDir + 16, 1);  // ordinal base
        Put32(b, L::ExportDir + 20, 2);
        Put32(b, L::ExportDir + 24, 2);
        Put32(b, L::ExportDir + 28, L::ExportFunctions + rva);
        Put32(b, L::ExportDir + 32, L::ExportNames + rva);
        Put32(b, L::ExportDir + 36, L::ExportOrdinals + rva);
        Put32(b, L::ExportFunctions, 0x1010);
        Put32(b, L::ExportFunctions + 4, 0x1020);
        Put32(b, L::ExportNames, L::ExportNameAlpha + rva);
        Put32(b, L::ExportNames + 4, L::ExportNameBeta + rva);
        Put16(b, L::ExportOrdinals, 1);
        Put16(b, L::ExportOrdinals + 2, 0);
        std::memcpy(&b[L::ExportNameAlpha], "Alpha", 6);
        std::memcpy(&b[L::ExportNameBeta], "Beta", 5);
    }
    return b;
}

}  // namespace cm::test
