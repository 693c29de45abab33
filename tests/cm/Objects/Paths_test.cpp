#include <gtest/gtest.h>

#include <string>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Strings.h"

namespace cm {
namespace {

struct PathCase {
    const char* input;
    const char* expected;
};

TEST(Paths, TrailingBackslash) {
    const PathCase adds[] = {
        {"", ""}, {"C:\\Temp", "C:\\Temp\\"}, {"C:\\Temp\\", "C:\\Temp\\"}, {"a/", "a/\\"},
    };
    for (const auto& c : adds) EXPECT_EQ(c.expected, AddTrailingBackslash(c.input)) << c.input;
    const PathCase removes[] = {
        {"", ""}, {"C:\\Temp\\", "C:\\Temp"}, {"C:\\Temp\\\\", "C:\\Temp\\"}, {"C:\\Temp", "C:\\Temp"},
    };
    for (const auto& c : removes) EXPECT_EQ(c.expected, RemoveTrailingBackslash(c.input)) << c.input;
}

TEST(Paths, PathAndNameParts) {
    struct Case { const char* input; const char* path; const char* name; };
    const Case cases[] = {
        {"C:\\dir\\file.txt", "C:\\dir\\", "file.txt"},
        {"C:file", "C:", "file"},
        {"a/b", "a/", "b"},
        {"dir\\name  ", "dir\\", "name"},       // trailing blanks ignored
        {"dir\\  ", "dir\\", ""},
        {"plain  ", "", "plain  "},             // no separator: name is the input unchanged
        {"", "", ""},
        {"\\", "\\", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.path, ExtractPathPart(c.input)) << c.input;
        EXPECT_EQ(c.name, ExtractNamePart(c.input)) << c.input;
    }
}

TEST(Paths, Extensions) {
    struct Case { const char* input; const char* changed; const char* extension; const char* base; };
    // changed = ChangeExtension(input, ".new")
    const Case cases[] = {
        {"C:\\dir\\file.txt", "C:\\dir\\file.new", ".txt", "file"},
        {"C:\\dir.d\\file", "C:\\dir.d\\file.new", "", "file"},
        {"archive.tar.gz", "archive.tar.new", ".gz", "archive.tar"},
        {"name.", "name.new", ".", "name"},
        {"C:.x", "C:.new", ".x", ""},
        {"a/b.c/d", "a/b.c/d.new", "", "d"},
        {"", ".new", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.changed, ChangeExtension(c.input, ".new")) << c.input;
        EXPECT_EQ(c.extension, ExtractExtension(c.input)) << c.input;
        EXPECT_EQ(c.base, ExtractBaseName(c.input)) << c.input;
    }
    EXPECT_EQ("C:\\dir\\file", ChangeExtension("C:\\dir\\file.txt", ""));
}

TEST(Paths, IsAbsolutePath) {
    for (const char* p : {"C:\\x", "C:", "c:x", "\\x", "/x", "\\\\server\\share"})
        EXPECT_TRUE(IsAbsolutePath(p)) << p;
    for (const char* p : {"", "x", "x\\y", ".\\x", "..\\x", "ab:"})
        EXPECT_FALSE(IsAbsolutePath(p)) << p;
}

TEST(Paths, NormalizePath) {
    const PathCase cases[] = {
        // slashes and separator runs
        {"C:/Temp/x", "C:\\Temp\\x"},
        {"a\\\\b", "a\\b"},
        {"a//\\b\\\\", "a\\b\\"},
        {"C:\\\\x", "C:\\x"},
        {"\\\\server\\share", "\\\\server\\share"},
        {"//server/share//x", "\\\\server\\share\\x"},
        {"\\\\\\x", "\\\\x"},
        // single-dot components
        {"a\\.\\b", "a\\b"},
        {".\\a", "a"},
        {"a\\.", "a"},
        {"a\\.\\", "a\\"},
        {"a\\.\\.\\.\\b", "a\\b"},
        {".", ""},
        {"C:\\.", "C:\\"},
        {"\\.\\x", "\\x"},
        // a dot ending a component name when a backslash follows
        {"a.\\b", "a\\b"},
        {"C:\\dir.\\file.", "C:\\dir\\file."},
        {"a..\\b", "a..\\b"},
        {".a.\\b", ".a\\b"},
        {"x\\a.\\..\\y", "x\\y"},
        // double-dot components
        {"a\\b\\..\\c", "a\\c"},
        {"a\\b\\c\\..\\..\\d", "a\\d"},
        {"a\\b\\..", "a"},
        {"a\\b\\..\\", "a\\"},
        {"a\\..", ""},
        {"C:\\Temp\\a\\..\\b", "C:\\Temp\\b"},
        {"a\\..\\..\\x", "..\\x"},
        {"..\\x", "..\\x"},
        {"..\\..\\x\\..\\y", "..\\..\\y"},
        // unresolved double dots under a root are dropped
        {"C:\\..\\x", "C:\\x"},
        {"C:\\a\\..\\..\\..\\x", "C:\\x"},
        {"C:..\\x", "C:x"},
        {"\\..\\x", "\\x"},
        {"\\\\server\\share\\..\\x", "\\\\server\\share\\x"},
        {"\\\\.\\pipe\\x", "\\\\.\\pipe\\x"},
        // doubled drive colon
        {"C::\\x", "C:\\x"},
        {"C::x", "C:x"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string path = c.input;
        NormalizePath(path);
        EXPECT_EQ(c.expected, path) << c.input;
    }
}

TEST(Paths, CombinePath) {
    struct Case { const char* base; const char* relative; const char* expected; int nameStart; };
    const Case cases[] = {
        {"C:\\Temp\\", "", "C:\\Temp\\", 9},
        {"C:\\Temp", "", "C:\\Temp\\", 9},
        {"", "", "", 1},
        {"C:\\Temp", "\"\"", "C:\\Temp\\", 9},
        {"C:\\Temp", "\"x y.txt\"", "C:\\Temp\\x y.txt", 9},
        {"C:\\Temp", "\\x\\y", "C:\\x\\y", 6},
        {"C:\\Temp", "/x", "C:\\x", 4},
        {"C:\\Temp", "a\\..\\b", "C:\\Temp\\b", 9},
        {"C:\\Temp\\", "file", "C:\\Temp\\file", 9},
        {"C:\\Temp/", "file", "C:\\Temp\\file", 9},
        {"C:\\Temp", "..\\x", "C:\\x", 4},
        {"C:\\Temp", "D:\\y", "D:\\y", 4},
        {"C:\\Temp", "\\\\srv\\share\\f", "\\\\srv\\share\\f", 13},
        {"\\\\srv\\share\\dir", "\\f", "\\\\srv\\share\\f", 13},
        {"Temp", "\\f", "\\f", 2},
        {"", "\\f", "\\f", 2},
        {"rel", "x", "rel\\x", 5},
    };
    for (const auto& c : cases) {
        int nameStart = -1;
        EXPECT_EQ(c.expected, CombinePath(c.base, c.relative, &nameStart)) << c.base << " + " << c.relative;
        EXPECT_EQ(c.nameStart, nameStart) << c.base << " + " << c.relative;
    }
}

TEST(Paths, CombinePathRejectsEmptyBase) {
    try {
        CombinePath("", "x\\y");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ("Base path cannot be an empty string (relative path is \"x\\y\")", e.message());
    }
}

}  // namespace
}  // namespace cm
