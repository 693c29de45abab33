#include <gtest/gtest.h>

#include "cm/Lists/StringListExFile.h"
#include "cm/Objects.h"

namespace cm {
namespace {

TEST(StringListExFile, RoundTripAndMissingFile) {
    std::string dir = GetTempDirectory() + "corvane_strings_" + std::to_string(GetCurrentProcessId()) + "\\";
    ForceDirectoryPath(dir);
    TStringListEx written(0), read(0);
    for (const char* line : {"first", "", "third line", "\xE9t\xE9"}) written.Add(line);
    SaveStringsToFile(written, dir + "lines.txt");
    read.Add("replaced");
    LoadStringsFromFile(read, dir + "lines.txt");
    EXPECT_EQ(written.Text(), read.Text());
    EXPECT_EQ(4, read.Count());
    EXPECT_THROW(LoadStringsFromFile(read, dir + "missing.txt"), EWin32Error);
    EXPECT_EQ(4, read.Count()) << "a failed open leaves the list as it was";
    DeleteDirectoryTree(dir);
}

}  // namespace
}  // namespace cm
