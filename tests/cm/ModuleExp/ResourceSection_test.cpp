// The resource section writer over images held in memory (portable: host under the sanitizers,
// and Wine): the rebuilt image reads back with the same resources, its headers are consistent
// and its checksum is right; images it must not touch are refused.
#include <gtest/gtest.h>

#include "support/MessageOf.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cm/ModuleExp/ModuleExp.h"
#include "cm/ModuleExp/PEImageBuilder.h"
#include "cm/ModuleExp/ResourceSection.h"

namespace cm {
namespace {

using test::MakePEImage;
using test::MessageOf;
using test::PELayout;
using test::Put16;
using test::Put32;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t RelocRva = 0x3000;
constexpr uint32_t RelocRaw = 0x600;

// The test image with a third section, .reloc, as the linker places it: last, one block patching
// two addresses in .text; the relocation directory names it.
Bytes WithRelocations(bool plus) {
    const PELayout l{plus};
    Bytes b = MakePEImage(plus, true);
    b.resize(RelocRaw + 0x200, 0);
    const uint32_t at = l.SectionTable() + 2 * 40;
    std::memcpy(&b[at], ".reloc", 6);
    Put32(b, at + 8, 12);
    Put32(b, at + 12, RelocRva);
    Put32(b, at + 16, 0x200);
    Put32(b, at + 20, RelocRaw);
    Put32(b, at + 36, 0x42000040);
    Put16(b, PELayout::SectionCountField, 3);
    Put32(b, PELayout::Optional + 56, 0x4000);
    Put32(b, l.ExportEntry() + 5 * 8, RelocRva);
    Put32(b, l.ExportEntry() + 5 * 8 + 4, 12);
    Put32(b, RelocRaw, 0x1000);
    Put32(b, RelocRaw + 4, 12);
    Put16(b, RelocRaw + 8, 0x3010);
    Put16(b, RelocRaw + 10, 0x3020);
    return b;
}

std::unique_ptr<TModuleExplorer> Open(const std::string& image) {
    return TModuleExplorer::CreateForFileImage(image.data(), image.size(), emMappedFile);
}

std::unique_ptr<TModuleExplorer> Open(const Bytes& image) {
    return TModuleExplorer::CreateForFileImage(image.data(), image.size(), emMappedFile);
}

TResourceTable SampleTable(std::string_view payload) {
    TResourceTable t;
    t.Set(ResourceTypeManifest, 1, 0, "<assembly/>");
    t.Set(ResourceTypeVersion, 1, 0x409, std::string(92, 'v'));
    t.Set(TResourceId(u"PNG"), TResourceId(u"logo"), 0, "png bytes");
    t.SetView(ResourceTypeRcData, 1000, 0, payload);
    t.Set(ResourceTypeRcData, 1001, 0, std::string("\x10\0\0\0\1", 5));
    t.Set(ResourceTypeRcData, 1003, 0, "");
    return t;
}

void ExpectSameResources(const TResourceTable& expected, const TResourceTable& actual) {
    ASSERT_EQ(expected.Entries().size(), actual.Entries().size());
    for (size_t i = 0; i < expected.Entries().size(); ++i) {
        const TResourceEntry& e = expected.Entries()[i];
        const TResourceEntry& a = actual.Entries()[i];
        SCOPED_TRACE(e.Type.Text() + "/" + e.Name.Text());
        EXPECT_EQ(e.Type, a.Type);
        EXPECT_EQ(e.Name, a.Name);
        EXPECT_EQ(e.Language, a.Language);
        EXPECT_EQ(e.Data(), a.Data());
    }
}

uint32_t ChecksumOf(const std::string& image, const TModuleExplorer& explorer) {
    TPEChecksum sum(static_cast<uint64_t>(explorer.Format().OptionalHeader() - explorer.ImageStart()) + 64);
    sum.Add(image.data(), image.size());
    return sum.Value();
}

class Rebuild : public testing::TestWithParam<bool> {};

// An image without resources gains a section; with relocations last, the new section goes before
// them and they move behind it. Rebuilding the result again replaces the section in place and
// keeps the bytes outside it.
TEST_P(Rebuild, AddsMovesAndReplaces) {
    const bool plus = GetParam();
    struct Case {
        const char* name;
        Bytes image;
        bool relocations;
    };
    const Case cases[] = {{"two sections", MakePEImage(plus, true), false}, {"relocations last", WithRelocations(plus), true}};
    std::string payload(100000, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 31 >> 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto source = Open(c.image);
        const TResourceTable table = SampleTable(payload);
        const std::string image = RebuildResourceSection(*source, table).Bytes();
        auto rebuilt = Open(image);
        ExpectSameResources(table, ReadResources(*rebuilt));

        const uint32_t sections = c.relocations ? 4 : 3;
        ASSERT_EQ(sections, rebuilt->SectionCount());
        const uint8_t* rsrc = rebuilt->Section(2);
        EXPECT_EQ(0, std::memcmp(rsrc, ".rsrc", 6));
        const uint32_t rsrcRva = PeRead32(rsrc + 12), rsrcSize = PeRead32(rsrc + 8);
        EXPECT_EQ(0x3000u, rsrcRva);
        EXPECT_EQ(0x1000u, PeRead32(rsrc + 20)) << "the data starts on a page of the file, to be mapped from it";
        EXPECT_EQ(std::string(0x1000 - 0x600, '\0'), image.substr(0x600, 0x1000 - 0x600)) << "zeros before it";
        EXPECT_EQ(0u, PeRead32(rsrc + 16) % 0x200) << "raw size in file alignment";
        uint32_t dirSize = 0;
        EXPECT_NE(nullptr, rebuilt->DataDirectory(ImageDirectoryResource, 16, &dirSize));
        EXPECT_EQ(rsrcSize, dirSize);
        uint32_t end = (rsrcRva + rsrcSize + 0xFFF) & ~0xFFFu;
        if (c.relocations) {
            const uint8_t* reloc = rebuilt->Section(3);
            EXPECT_EQ(0, std::memcmp(reloc, ".reloc", 7));
            EXPECT_EQ(end, PeRead32(reloc + 12)) << "relocations follow in section alignment";
            EXPECT_EQ(PeRead32(reloc + 12), PeRead32(rebuilt->Format().DataDirectoryEntry(ImageDirectoryBaseReloc)));
            const uint8_t* block = rebuilt->AddressOf(PeRead32(reloc + 12), 12);
            ASSERT_NE(nullptr, block);
            EXPECT_EQ(0, std::memcmp(block, &c.image[RelocRaw], 12)) << "the blocks move unchanged";
            end += 0x1000;
        }
        EXPECT_EQ(end, rebuilt->Format().SizeOfImage());
        EXPECT_EQ(ChecksumOf(image, *rebuilt), rebuilt->Format().CheckSum());
        EXPECT_EQ(0, std::memcmp(image.data() + 0x200, &c.image[0x200], 0x400)) << "the other sections are kept";

        // Again, with the payload replaced by a smaller one and one resource fewer.
        TResourceTable next = ReadResources(*rebuilt);
        next.Set(ResourceTypeRcData, 1000, 0, "small");
        EXPECT_EQ(1, next.Remove(TResourceId(u"PNG"), TResourceId(u"logo")));
        const std::string again = RebuildResourceSection(*rebuilt, next).Bytes();
        auto reopened = Open(again);
        ExpectSameResources(next, ReadResources(*reopened));
        EXPECT_EQ(sections, reopened->SectionCount());
        EXPECT_LT(again.size(), image.size());
        EXPECT_EQ(ChecksumOf(again, *reopened), reopened->Format().CheckSum());
        EXPECT_EQ(RebuildResourceSection(*rebuilt, next).Bytes(), again) << "the same input, the same bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(ResourceSection, Rebuild, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "PE32Plus" : "PE32"; });

// Names sort before identifiers, case-insensitively among themselves; identifiers ascend.
TEST(ResourceSection, DirectoryOrder) {
    TResourceTable t;
    for (int id : {1003, 24, 1000}) t.Set(ResourceTypeRcData, static_cast<uint16_t>(id), 0, "x");
    t.Set(ResourceTypeRcData, TResourceId(u"beta"), 0, "x");
    t.Set(ResourceTypeRcData, TResourceId(u"ALPHA"), 0, "x");
    std::vector<std::string> order;
    for (const TResourceEntry& e : t.Entries()) order.push_back(e.Name.Text());
    EXPECT_EQ((std::vector<std::string>{"ALPHA", "beta", "24", "1000", "1003"}), order);
}

// The checksum of known data: words summed with carries folded, the field skipped, the length added.
TEST(ResourceSection, ChecksumOfKnownData) {
    struct Case {
        std::vector<uint8_t> data;
        uint64_t field;
        uint32_t expected;
    };
    const Case cases[] = {
        {{0x01, 0x00, 0x02, 0x00}, 100, 3 + 4},
        {{0xFF, 0xFF, 0x02, 0x00}, 100, 0x0002 + 4},  // 0xFFFF + 2 = 0x10001 folds to 2
        {{0x01, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x05}, 2, 1 + 5 + 7},
        {{0x34, 0x12, 0x07}, 100, 0x1234 + 7 + 3},  // a last odd byte is a half word
    };
    for (const Case& c : cases) {
        TPEChecksum whole(c.field), split(c.field);
        whole.Add(c.data.data(), c.data.size());
        for (uint8_t byte : c.data) split.Add(&byte, 1);
        EXPECT_EQ(c.expected, whole.Value());
        EXPECT_EQ(c.expected, split.Value()) << "pieces of any length";
    }
}

// Images whose bytes after the resource section something else refers to are refused.
TEST(ResourceSection, RefusesImagesItCannotRebuild) {
    const PELayout l{false};
    const uint32_t directories = l.ExportEntry();
    struct Case {
        const char* name;
        bool relocations;  // start from the image with .reloc last, else from the two sections
        std::function<void(Bytes&)> change;
        const char* message;
    };
    const Case cases[] = {
        {"signed", true, [&](Bytes& b) { Put32(b, directories + 4 * 8, 0x800); Put32(b, directories + 4 * 8 + 4, 0x100); },
         "The image is signed: the signature would no longer match. Use the unsigned image and sign the result."},
        {"data after the sections", true, [](Bytes& b) { b.resize(b.size() + 16, 'S'); },
         "The image has 16 bytes after its last section (symbols or a signature)."},
        {"a section after the resources", false,
         [&](Bytes& b) { Put32(b, directories + 2 * 8, 0x1000); Put32(b, directories + 2 * 8 + 4, 16); },
         "Section '.edata' follows the resource section: it cannot be moved."},
        {"no room for a section header", false, [](Bytes& b) { Put32(b, PELayout::Optional + 60, 0x1A0); },
         "The image's headers have no room for another section."},
        {"relocations inside the moved sections", true, [](Bytes& b) { Put32(b, RelocRaw, RelocRva); },
         "The image relocates addresses inside the sections that move."},
        {"a relocation block longer than the relocations", true, [](Bytes& b) { Put32(b, RelocRaw + 4, 0xFFFFFFF8u); },
         "The image's base relocations are malformed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = c.relocations ? WithRelocations(false) : MakePEImage(false, false);
        c.change(image);
        auto explorer = Open(image);
        EXPECT_EQ(c.message, MessageOf([&] { RebuildResourceSection(*explorer, TResourceTable()); }));
    }
}

// A resource tree that leaves its section, nests too deep or reaches a directory twice is refused
// when read.
TEST(ResourceSection, BadTreesAreRefused) {
    std::string payload = "payload";
    const Bytes stub = MakePEImage(true, false);
    auto source = Open(stub);
    const std::string good = RebuildResourceSection(*source, SampleTable(payload)).Bytes();
    const size_t rsrc = 0x1000;  // the new section's raw data, on the first free page of the file
    struct Case {
        const char* name;
        std::function<void(std::string&)> change;
    };
    const Case cases[] = {
        {"type count beyond the section", [&](std::string& b) { PeWrite16(&b[rsrc + 14], 0x7FFF); }},
        {"a data entry where a directory belongs", [&](std::string& b) { PeWrite32(&b[rsrc + 16 + 4], 0x10); }},
        {"a loop back to the root", [&](std::string& b) {
             const uint32_t typeDir = PeRead32(&b[rsrc + 16 + 4]) & 0x7FFFFFFF;
             PeWrite32(&b[rsrc + typeDir + 16 + 4], 0x80000000u);
         }},
        {"two names sharing one language directory", [&](std::string& b) {
             // The root's second type is RCDATA (names sort first): its names 1000, 1001, 1003.
             const uint32_t rcdata = PeRead32(&b[rsrc + 16 + 8 + 4]) & 0x7FFFFFFF;
             PeWrite32(&b[rsrc + rcdata + 16 + 8 + 4], PeRead32(&b[rsrc + rcdata + 16 + 4]));
         }},
        {"data outside the image", [&](std::string& b) {
             // The manifest's data entry: its size is 11 and its address inside the section.
             for (size_t at = rsrc; at + 16 <= b.size(); at += 4)
                 if (PeRead32(&b[at + 4]) == 11 && PeRead32(&b[at]) >= 0x3000 && PeRead32(&b[at]) < 0x4000) {
                     PeWrite32(&b[at], 0x7FFFFF00);
                     return;
                 }
             FAIL() << "no data entry found";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bad = good;
        c.change(bad);
        auto explorer = Open(bad);
        const std::string message = MessageOf([&] { ReadResources(*explorer); });
        EXPECT_EQ(0u, message.find("Invalid resource directory of module at 0x")) << message;
    }
}

}  // namespace
}  // namespace cm
