#include <gtest/gtest.h>

#include <cstring>

#include "bootstrap/Resources.h"
#include "cm/Objects.h"
#include "cm/StreamUtils/VirtualStream.h"

namespace bootstrap {
namespace {

// Resources of this test program (Resources_test.rc): 2000 holds "ab\0cd", 2001 is empty.
const char* const WithZeroByte = MAKEINTRESOURCEA(2000);
const char* const Empty = MAKEINTRESOURCEA(2001);
const char* const Missing = MAKEINTRESOURCEA(2002);

HMODULE Self() { return GetModuleHandleA(nullptr); }

std::string ReadFile(const std::string& path) {
    cm::UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return "<missing>";
    std::string bytes(static_cast<size_t>(cm::GetFileSizeChecked(file.get())), '\0');
    DWORD got = 0;
    ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

TEST(Resources, LoadResourceString) {
    EXPECT_EQ(std::string("ab\0cd", 5), LoadResourceString(Self(), WithZeroByte, RT_RCDATA));
    EXPECT_EQ("", LoadResourceString(Self(), Empty, RT_RCDATA));
    EXPECT_EQ("", LoadResourceString(Self(), Missing, RT_RCDATA));
}

TEST(Resources, LoadResourceToStreamWritesAtThePositionOrNothing) {
    cm::TVirtualStream stream;
    stream.WriteBuffer("xyz", 3);
    stream.SetPosition(1);
    EXPECT_TRUE(LoadResourceToStream(Self(), WithZeroByte, RT_RCDATA, stream));
    EXPECT_EQ(6, stream.Size());
    EXPECT_EQ(0, std::memcmp(stream.Memory(), "xab\0cd", 6));
    for (const char* name : {Empty, Missing}) {
        EXPECT_FALSE(LoadResourceToStream(Self(), name, RT_RCDATA, stream));
        EXPECT_EQ(6, stream.Size());
        EXPECT_EQ(6, stream.Position());
    }
}

// Both creation routes (mapped with the temporary-file flag, plain without) replace an existing
// file completely, and a missing or empty resource leaves an empty file.
TEST(Resources, SaveResourceToFile) {
    std::string dir = cm::GetTempDirectory() + "corvane_resources_" + std::to_string(GetCurrentProcessId()) + "\\";
    cm::ForceDirectoryPath(dir);
    std::string path = dir + "out.bin";
    for (uint32_t flags : {0u, FileFlagTemporary}) {
        SCOPED_TRACE(flags);
        std::string longer(300000, 'x');
        {
            cm::UniqueFileHandle f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            DWORD written = 0;
            WriteFile(f.get(), longer.data(), static_cast<DWORD>(longer.size()), &written, nullptr);
        }
        EXPECT_TRUE(SaveResourceToFile(Self(), WithZeroByte, RT_RCDATA, flags, path));
        EXPECT_EQ(std::string("ab\0cd", 5), ReadFile(path));
        EXPECT_FALSE(SaveResourceToFile(Self(), Missing, RT_RCDATA, flags, path));
        EXPECT_EQ("", ReadFile(path));
        EXPECT_FALSE(SaveResourceToFile(Self(), Empty, RT_RCDATA, flags, path));
        EXPECT_EQ("", ReadFile(path));
    }
    EXPECT_THROW(SaveResourceToFile(Self(), WithZeroByte, RT_RCDATA, 0, dir + "no\\such\\dir\\x.bin"), cm::EWin32Error);
    cm::DeleteDirectoryTree(dir);
}

}  // namespace
}  // namespace bootstrap
