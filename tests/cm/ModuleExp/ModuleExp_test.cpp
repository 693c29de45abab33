// TModuleExplorer over images held in memory (portable: host under the sanitizers, and Wine).
#include <gtest/gtest.h>

#include "support/MessageOf.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cm/ModuleExp/ModuleExp.h"
#include "cm/ModuleExp/PEImageBuilder.h"

namespace cm {
namespace {

using test::MessageOf;

using test::MakePEImage;
using test::PELayout;
using test::Put16;
using test::Put32;
using Bytes = std::vector<uint8_t>;

std::string At(const void* p) { return Format("0x%p", {p}); }

// Exact-size heap copy, so that the sanitizer sees any read past the image.
Bytes Exact(const Bytes& b, size_t size) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(size, b.size()))); }

class Formats : public testing::TestWithParam<bool> {};

// Both formats read their fields at their own offsets; the private copy changes in the two
// subsystem bytes only.
TEST_P(Formats, ReadsFieldsAndConvertsToConsole) {
    const bool plus = GetParam();
    const Bytes original = MakePEImage(plus, true);
    auto e = TModuleExplorer::CreateForFileImage(original.data(), original.size(), emFileCopy);
    EXPECT_FALSE(e->Invalid());
    EXPECT_EQ(emFileCopy, e->Mode());
    EXPECT_EQ(plus ? 0x140000000ull : 0x10000000ull, e->Format().ImageBase());
    EXPECT_EQ(0x1000u, e->Format().SectionAlignment());
    EXPECT_EQ(0x200u, e->Format().FileAlignment());
    EXPECT_EQ(0x3000u, e->Format().SizeOfImage());
    EXPECT_EQ(0x200u, e->Format().SizeOfHeaders());
    EXPECT_EQ(PELayout::CheckSumValue, e->Format().CheckSum());
    EXPECT_EQ(2u, e->SectionCount());
    EXPECT_EQ(ImageSubsystemWindowsGui, e->Subsystem());
    EXPECT_EQ(nullptr, e->Format().DataDirectoryEntry(16));

    e->SetConsoleSubsystem();
    EXPECT_EQ(ImageSubsystemWindowsConsole, e->Subsystem());
    ASSERT_EQ(original.size(), e->ImageSize());
    const uint8_t* copy = e->ImageStart();
    std::vector<size_t> changed;
    for (size_t i = 0; i < original.size(); ++i)
        if (copy[i] != original[i]) changed.push_back(i);
    EXPECT_EQ((std::vector<size_t>{PELayout::Subsystem}), changed);  // 2 -> 3: the high byte stays 0
    EXPECT_EQ(3, copy[PELayout::Subsystem]);
    EXPECT_EQ(PELayout::CheckSumValue, e->Format().CheckSum());
}

// The ordinal bit is bit 31 for PE32 and bit 63 for PE32+; thunks are 4 or 8 bytes wide.
TEST_P(Formats, ThunksFollowTheFormatWidth) {
    const bool plus = GetParam();
    const Bytes image = MakePEImage(plus, false);
    auto e = TModuleExplorer::CreateForFileImage(image.data(), image.size(), emMappedFile);
    const uint8_t bit31[8] = {0, 0, 0, 0x80, 0, 0, 0, 0};
    const uint8_t bit63[8] = {0, 0, 0, 0, 0, 0, 0, 0x80};
    const TPEFormatStrategy& f = e->Format();
    EXPECT_EQ(plus, f.ThunkImportsByName(bit31));
    EXPECT_EQ(!plus, f.ThunkImportsByName(bit63));
    EXPECT_EQ(plus, f.ThunkNotNull(bit63));
    EXPECT_EQ(0x80000000u, f.ThunkValue(bit31));
    EXPECT_EQ(bit31 + (plus ? 8 : 4), f.NextThunk(bit31));
    EXPECT_EQ(plus ? 0x100000010ull : 0x10ull, f.AddToAddress(0xFFFFFFF0ull, 0x20));
}

INSTANTIATE_TEST_SUITE_P(ModuleExp, Formats, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& i) { return i.param ? "PE32Plus" : "PE32"; });

void ExpectExports(const TModuleExplorer& e) {
    ASSERT_EQ(2u, e.ExportNameCount());
    ASSERT_EQ(2u, e.ExportFunctionCount());
    EXPECT_EQ(PELayout::EdataRva, e.ExportDirectoryRva());
    EXPECT_EQ(0x60u, e.ExportDirectorySize());
    EXPECT_EQ("Alpha", e.ExportName(0));
    EXPECT_EQ("Beta", e.ExportName(1));
    EXPECT_EQ(0x1020u, e.FindExport("Alpha"));
    EXPECT_EQ(0x1010u, e.FindExport("Beta"));
    EXPECT_EQ(0u, e.FindExport("Gamma"));
}

// The three layouts of one file read the same export directory; file layout reads the raw data,
// memory layout the loader's copy of it.
TEST(ModuleExp, ExportsInEveryLayout) {
    const Bytes image = MakePEImage(false, true);
    for (int mode : {emLayoutCopy, emMappedFile, emFileCopy}) {
        SCOPED_TRACE(mode);
        auto e = TModuleExplorer::CreateForFileImage(image.data(), image.size(), mode);
        ExpectExports(*e);
        EXPECT_EQ(mode != emLayoutCopy, e->FileLayout());
    }
    auto file = TModuleExplorer::CreateForFileImage(image.data(), image.size(), emMappedFile);
    EXPECT_EQ(image.data() + PELayout::ExportFunctions, file->ExportAddressTable());
}

// The loader's layout: headers, then each section's raw data at its virtual address; bytes no
// section fills are zero.
TEST(ModuleExp, LayoutCopyPlacesSections) {
    const Bytes image = MakePEImage(true, true);
    auto e = TModuleExplorer::CreateForFileImage(image.data(), image.size(), emLayoutCopy);
    ASSERT_EQ(0x2200u, e->ImageSize());
    const uint8_t* layout = e->ImageStart();
    EXPECT_EQ(0, std::memcmp(layout, image.data(), 0x200));
    EXPECT_EQ(0, std::memcmp(layout + 0x1000, image.data() + PELayout::TextRaw, 0x200));
    EXPECT_EQ(0, std::memcmp(layout + 0x2000, image.data() + PELayout::EdataRaw, 0x200));
    const Bytes zeros(0xE00, 0);
    EXPECT_EQ(0, std::memcmp(layout + 0x200, zeros.data(), 0xE00));
    EXPECT_EQ(0, std::memcmp(layout + 0x1200, zeros.data(), 0xE00));
    EXPECT_FALSE(e->ReadOnly());
}

// In file layout the headers lie outside every section: their addresses resolve to null. Bytes
// past a section's raw data are not in the file either. Memory layout maps every address inside.
TEST(ModuleExp, AddressResolutionPerLayout) {
    const Bytes image = MakePEImage(false, false);
    auto file = TModuleExplorer::CreateForFileImage(image.data(), image.size(), emMappedFile);
    EXPECT_EQ(nullptr, file->Search().AddressOf(0));
    EXPECT_EQ(nullptr, file->Search().AddressOf(0x40));
    EXPECT_EQ(nullptr, file->Search().AddressOf(0xFFF));
    EXPECT_EQ(file->ImageStart() + 0x210, file->Search().AddressOf(0x1010));
    EXPECT_EQ(nullptr, file->AddressOf(0x10F0, 0x20));   // runs past .text's virtual size
    EXPECT_EQ(nullptr, file->Search().AddressOf(0x1100));  // beyond it: no section
    EXPECT_EQ(nullptr, file->Search().AddressOf(0x2200));
    EXPECT_EQ(nullptr, file->Search().AddressOf(0xFFFFFFFF));

    auto memory = TModuleExplorer::CreateForModule(image.data(), image.size(), true);
    EXPECT_EQ(memory->ImageStart() + 0x40, memory->Search().AddressOf(0x40));
    EXPECT_EQ(nullptr, memory->Search().AddressOf(PELayout::FileSize));
    EXPECT_EQ(nullptr, memory->AddressOf(PELayout::FileSize - 4, 8));
}

// Images without a usable export entry open with empty export fields.
TEST(ModuleExp, ImagesWithoutExportsOpen) {
    const PELayout l{false};
    struct Case { const char* Name; std::function<void(Bytes&)> Edit; };
    const Case cases[] = {
        {"no entry", [](Bytes&) {}},
        {"entry smaller than 40", [&](Bytes& b) { Put32(b, l.ExportEntry(), PELayout::EdataRva); Put32(b, l.ExportEntry() + 4, 39); }},
        {"no directories", [&](Bytes& b) { Put32(b, l.DirectoryCountField(), 0); }},
        {"optional header without directories", [&](Bytes& b) { Put16(b, PELayout::OptionalSizeField, 96); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Bytes b = MakePEImage(false, false);
        c.Edit(b);
        auto e = TModuleExplorer::CreateForFileImage(b.data(), b.size(), emMappedFile);
        EXPECT_EQ(0u, e->ExportDirectoryRva());
        EXPECT_EQ(0u, e->ExportNameCount());
        EXPECT_EQ(nullptr, e->ExportNameTable());
        EXPECT_EQ(0u, e->FindExport("Alpha"));
    }
}

// Memory without the DOS signature: the raising form names the handle and the cause, the
// non-raising form returns an explorer marked invalid.
TEST(ModuleExp, ModuleWithoutDosSignature) {
    Bytes b = MakePEImage(false, false);
    b[0] = 'X';
    auto quiet = TModuleExplorer::CreateForModule(b.data(), b.size(), false);
    EXPECT_TRUE(quiet->Invalid());
    EXPECT_EQ(emLoadedModule, quiet->Mode());
    EXPECT_THROW(quiet->Subsystem(), EAssertionFailed);

    const std::string expected = Format("Invalid module at base address 0x%x", {static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(b.data()))}) +
                                 "\r\nInvalid module DOS header at " + At(b.data());
    EXPECT_EQ(expected, MessageOf([&] { TModuleExplorer::CreateForModule(b.data(), b.size(), true); }));
}

// A handle with its low bits set names the image at the handle with them cleared; bit 0 alone
// marks a module mapped as a plain data file, which keeps the file's layout.
TEST(ModuleExp, ModuleHandleLowBits) {
    const Bytes b = MakePEImage(false, true);
    auto dataFile = TModuleExplorer::CreateForModule(b.data() + 1, b.size(), true);
    EXPECT_EQ(b.data(), dataFile->ImageStart());
    EXPECT_TRUE(dataFile->FileLayout());
    ExpectExports(*dataFile);
    auto layout = TModuleExplorer::CreateForFileImage(b.data(), b.size(), emLayoutCopy);
    const Bytes m(layout->ImageStart(), layout->ImageStart() + layout->ImageSize());
    auto resource = TModuleExplorer::CreateForModule(m.data() + 2, m.size(), true);
    EXPECT_EQ(m.data(), resource->ImageStart());
    ExpectExports(*resource);
    EXPECT_FALSE(resource->FileLayout());
    EXPECT_TRUE(resource->ReadOnly());
    EXPECT_THROW(resource->SetConsoleSubsystem(), EAssertionFailed);
}

TEST(ModuleExp, DataDirectoryBounds) {
    const Bytes b = MakePEImage(true, true);
    auto e = TModuleExplorer::CreateForFileImage(b.data(), b.size(), emMappedFile);
    uint32_t size = 7;
    EXPECT_EQ(nullptr, e->DataDirectory(16, 0, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(b.data() + PELayout::ExportDir, e->DataDirectory(0, 40, &size));
    EXPECT_EQ(0x60u, size);
    EXPECT_EQ(nullptr, e->DataDirectory(0, 0x61));
    EXPECT_EQ(nullptr, e->DataDirectory(1, 0));  // virtual address 0
}

// Truncated and corrupted images are refused with the message of the first check that fails, in
// every layout, without a read outside the image (the sanitizers watch the exact-size copies).
TEST(ModuleExp, BadImagesAreRefused) {
    const char* dos = "Invalid module DOS header at ";
    const char* nt = "Invalid module NT header at ";
    const char* unknown = "Unknown format of module at ";
    const char* optional = "Invalid module optional header at ";
    const char* table = "Invalid module section table at ";
    struct Case { const char* Name; size_t Cut; std::function<void(Bytes&)> Edit; const char* Message; };
    const auto none = [](Bytes&) {};
    const Case cases[] = {
        {"empty", 0, none, dos},
        {"one byte", 1, none, dos},
        {"DOS header cut", 63, none, dos},
        {"bad DOS signature", 0x600, [](Bytes& b) { b[1] = 'X'; }, dos},
        {"NT offset past the end", 0x600, [](Bytes& b) { Put32(b, 60, 0xFFFFFFFC); }, nt},
        {"NT offset at the last bytes", 0x600, [](Bytes& b) { Put32(b, 60, 0x5FE); }, nt},
        {"NT signature cut", 0x42, none, nt},
        {"bad NT signature", 0x600, [](Bytes& b) { b[PELayout::NtOffset + 2] = 1; }, nt},
        {"magic cut", 0x59, none, nt},
        {"unknown magic", 0x600, [](Bytes& b) { Put16(b, PELayout::Optional, 0x0107); }, unknown},
        {"optional header too small", 0x600, [](Bytes& b) { Put16(b, PELayout::OptionalSizeField, 95); }, optional},
        {"optional header cut", 0x100, none, optional},
        {"optional size past the end", 0x600, [](Bytes& b) { Put16(b, PELayout::OptionalSizeField, 0xFFFF); }, optional},
        {"section table cut", 0x150, none, table},
        {"section count too large", 0x600, [](Bytes& b) { Put16(b, PELayout::SectionCountField, 0xFFFF); }, table},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Bytes full = MakePEImage(false, true);
        c.Edit(full);
        const Bytes b = Exact(full, c.Cut);
        const void* data = b.empty() ? nullptr : b.data();
        const std::string mapped = MessageOf([&] { TModuleExplorer::CreateForFileImage(data, b.size(), emMappedFile); });
        EXPECT_EQ(c.Message + At(data), mapped);
        const std::string copied = MessageOf([&] { TModuleExplorer::CreateForFileImage(data, b.size(), emFileCopy); });
        EXPECT_EQ(0u, copied.rfind(c.Message, 0)) << copied;
        // As loaded memory (memory layout), where .edata's address lies past these bytes.
        EXPECT_TRUE(TModuleExplorer::CreateForModule(data, b.size(), false)->Invalid());
    }
}

// An export directory that fails its checks is treated as absent: the image opens with no exports
// in every layout, and nothing outside it is read (the sanitizers watch the exact-size copies).
TEST(ModuleExp, UnusableExportDirectoriesLeaveNoExports) {
    const PELayout l{false};
    const uint32_t rva = PELayout::EdataRva - PELayout::EdataRaw;
    struct Case { const char* Name; size_t Cut; std::function<void(Bytes&)> Edit; };
    const auto none = [](Bytes&) {};
    const Case cases[] = {
        {"export directory cut", 0x420, none},
        {"export directory past its section", 0x600, [&](Bytes& b) { Put32(b, l.ExportEntry(), 0x21F0); }},
        {"name count too large", 0x600, [](Bytes& b) { Put32(b, PELayout::ExportDir + 24, 0x40000000); }},
        {"function table outside", 0x600, [](Bytes& b) { Put32(b, PELayout::ExportDir + 28, 0x7FFFFFF0); }},
        {"name pointer outside", 0x600, [](Bytes& b) { Put32(b, PELayout::ExportNames + 4, 0x3000); }},
        {"name pointer into the headers", 0x600, [](Bytes& b) { Put32(b, PELayout::ExportNames, 0x10); }},
        {"name without terminator", 0x600, [&](Bytes& b) { std::memset(&b[0x5F0], 'n', 0x10); Put32(b, PELayout::ExportNames, 0x5F0 + rva); }},
        {"ordinal past the functions", 0x600, [](Bytes& b) { Put16(b, PELayout::ExportOrdinals, 2); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Bytes full = MakePEImage(false, true);
        c.Edit(full);
        const Bytes b = Exact(full, c.Cut);
        for (const int mode : {emMappedFile, emFileCopy}) {
            auto e = TModuleExplorer::CreateForFileImage(b.data(), b.size(), mode);
            EXPECT_EQ(0u, e->ExportDirectoryRva());
            EXPECT_EQ(0u, e->ExportNameCount());
            EXPECT_EQ(0u, e->FindExport("Alpha"));
            EXPECT_EQ(ImageSubsystemWindowsGui, e->Subsystem());
        }
    }
}

// The loader's layout refuses raw data outside the file and layouts beyond its size limit.
TEST(ModuleExp, LayoutCopyRefusesBadSections) {
    const PELayout l{true};
    struct Case { const char* Name; size_t Cut; std::function<void(Bytes&)> Edit; const char* Message; };
    const Case cases[] = {
        {"raw data cut", 0x5FF, [](Bytes&) {}, "Invalid module section table at "},
        {"raw pointer past the end", 0x600, [&](Bytes& b) { Put32(b, l.SectionTable() + 20, 0xFFFFFF00); }, "Invalid module section table at "},
        {"huge virtual size", 0x600, [&](Bytes& b) { Put32(b, l.SectionTable() + 8, 0xF0000000); }, "Invalid module section table at "},
        {"headers larger than the file", 0x600, [](Bytes& b) { Put32(b, PELayout::Optional + 60, 0x601); }, "Invalid module optional header at "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Bytes full = MakePEImage(true, false);
        c.Edit(full);
        const Bytes b = Exact(full, c.Cut);
        EXPECT_EQ(c.Message + At(b.data()), MessageOf([&] { TModuleExplorer::CreateForFileImage(b.data(), b.size(), emLayoutCopy); }));
    }
}

}  // namespace
}  // namespace cm
