// EnumerateFiles (Enumerate.cpp): flags, order, entry records and refused searches.

#include <algorithm>
#include <string>
#include <vector>

#include "cm/Objects/FileSystem.h"
#include "FileSystemTestSupport.h"

namespace cm {
namespace {

// ---- Enumeration ----

class EnumerateTest : public FileSystemTest {
protected:
    void SetUp() override {
        FileSystemTest::SetUp();
        MakeTree({"MixedCase.Txt", ".hidden", "sub\\", "sub\\Inner.txt", ".dotdir\\", ".dotdir\\Deep.txt"});
    }
    // What the callback saw, in order: the full path (root shown as "<R>") when asked, else the name.
    std::vector<std::string> Collect(uint16_t flags, const std::string& mask = "*.*", bool* found = nullptr) {
        std::vector<std::string> seen;
        const std::string root = (flags & LowerCaseNames) ? LowerCaseAscii(root_) : root_;
        bool result = EnumerateFiles(root_, flags, mask, [&](void* userData, const FileEnumEntry& entry) {
            EXPECT_EQ(userData, this);
            if (flags & FullPath) {
                EXPECT_EQ(entry.FullPath.compare(0, root.size(), root), 0) << entry.FullPath;
                seen.push_back("<R>" + entry.FullPath.substr(root.size()));
            } else {
                EXPECT_TRUE(entry.FullPath.empty());
                seen.push_back(entry.Name);
            }
        }, this);
        if (found != nullptr) *found = result;
        return seen;
    }
    static std::vector<std::string> Sorted(std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    }
};

TEST_F(EnumerateTest, FlagsSelectAndShapeEntries) {
    using V = std::vector<std::string>;
    const struct {
        uint16_t Flags;
        V Expected;  // sorted
    } cases[] = {
        {0, {"MixedCase.Txt"}},
        {LowerCaseNames, {"mixedcase.txt"}},
        {IncludeDotNames, {".hidden", "MixedCase.Txt"}},
        {IncludeDirectories, {"MixedCase.Txt", "sub"}},
        {DirectoriesOnly, {"sub"}},
        {DirectoriesOnly | IncludeDotNames, {".dotdir", "sub"}},
        {FullPath, {"<R>MixedCase.Txt"}},
        {FullPath | Recursive, {"<R>MixedCase.Txt", "<R>sub\\Inner.txt"}},
        // Dot-named directories are reported but never entered.
        {FullPath | Recursive | IncludeDotNames | IncludeDirectories | LowerCaseNames,
         {"<R>.dotdir", "<R>.hidden", "<R>mixedcase.txt", "<R>sub", "<R>sub\\inner.txt"}},
        {FullPath | Recursive | DirectoriesOnly, {"<R>sub"}},
    };
    for (const auto& c : cases) {
        bool found = false;
        EXPECT_EQ(Sorted(Collect(c.Flags, "*.*", &found)), c.Expected) << "flags 0x" << std::hex << c.Flags;
        EXPECT_TRUE(found);
    }
}

TEST_F(EnumerateTest, DirectoryContentsComeBeforeTheDirectory) {
    const std::vector<std::string> seen = Collect(FullPath | Recursive | IncludeDirectories);
    auto inner = std::find(seen.begin(), seen.end(), "<R>sub\\Inner.txt");
    auto sub = std::find(seen.begin(), seen.end(), "<R>sub");
    ASSERT_NE(inner, seen.end());
    ASSERT_NE(sub, seen.end());
    EXPECT_LT(inner, sub);
}

TEST_F(EnumerateTest, EntryRecordCarriesShortNameAndFindData) {
    MakeTree({"SHORT.TXT"});
    std::vector<FileEnumEntry> entries;
    EnumerateFiles(root_, ShortName, "*.*", [&](void*, const FileEnumEntry& e) { entries.push_back(e); });
    ASSERT_EQ(entries.size(), 2u);
    for (const FileEnumEntry& e : entries) {
        SCOPED_TRACE(e.Name);
        EXPECT_EQ(std::string(e.FindData.cFileName), e.Name);
        EXPECT_EQ(e.FindData.nFileSizeLow, ("content of " + e.Name).size());
        EXPECT_LE(e.ShortName.size(), 12u);
        if (e.Name == "SHORT.TXT")
            EXPECT_EQ(e.ShortName, "SHORT.TXT");  // already an 8.3 name
        else
            EXPECT_NE(e.ShortName.find('~'), std::string::npos) << e.ShortName;
    }
}

TEST_F(EnumerateTest, ResultTellsWhetherTheSearchFoundAnything) {
    bool found = true;
    EXPECT_TRUE(Collect(0, "*.none", &found).empty());
    EXPECT_FALSE(found);
    EXPECT_FALSE(EnumerateFiles(root_ + "missing", 0, "*.*", nullptr));
    // Only dot-named entries: found, though nothing is reported.
    EXPECT_TRUE(Collect(0, ".hid*", &found).empty());
    EXPECT_TRUE(found);
}

TEST_F(EnumerateTest, RootsAndCurrentDirectoryAreNeverWalked) {
    for (const char* directory : {"", ".", "/", "\\"}) {
        int calls = 0;
        EXPECT_FALSE(EnumerateFiles(directory, IncludeDirectories | IncludeDotNames, "*.*",
                                    [&](void*, const FileEnumEntry&) { ++calls; }))
            << directory;
        EXPECT_EQ(calls, 0) << directory;
    }
}

TEST_F(EnumerateTest, InvalidFlagsAreRefusedBeforeTheSearch) {
    int calls = 0;
    FileEnumCallback count = [&](void*, const FileEnumEntry&) { ++calls; };
    // A missing directory shows that the check comes first: searching it would just give false.
    for (const std::string& directory : {root_ + "missing", root_}) {
        try {
            EnumerateFiles(directory, Recursive, "*.*", count);
            ADD_FAILURE() << "no error for " << directory;
        } catch (const EWin32Error&) {
            ADD_FAILURE() << "system error instead of the flag error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), "Invalid file enumeration flags: 'recursive' specified without 'full path'");
        }
    }
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(EnumerateFiles(root_ + "missing", Recursive | DeleteFound, "*.*", nullptr));
    EXPECT_THROW(EnumerateFiles(root_, StrictDelete, "*.*", count), EAssertionFailed);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(Exists("MixedCase.Txt"));
}

}  // namespace
}  // namespace cm
