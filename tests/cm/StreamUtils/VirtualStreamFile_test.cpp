#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cm/Objects/WinApi.h"
#include "cm/StreamUtils/FileStream.h"
#include "cm/StreamUtils/VirtualStreamFile.h"
#include "support/ScratchDirectory.h"

namespace cm {
namespace {

class VirtualStreamFile : public cm::test::ScratchDirectoryTest {
protected:
    void SetUp() override {
        ScratchDirectoryTest::SetUp();
        Target = ScratchDirectoryTest::Path("vstream_save.bin");
    }

    std::string ReadBack(int64_t* lastWrite) {
        TFileStreamEx file(Target, fmOpenRead | fmShareDenyWrite);
        std::string content(static_cast<size_t>(file.Size()), '\0');
        file.ReadBuffer(content.data(), static_cast<int32_t>(content.size()));
        *lastWrite = file.GetLastWriteTime();
        return content;
    }

    std::string Target;
};

// The whole content is written whatever the position; a given time replaces the system's one.
TEST_F(VirtualStreamFile, SaveWritesWholeContentAndTime) {
    const int64_t time = 132000000000000000;  // 2019-04-14, a whole number of 100-ns units
    TVirtualStream s;
    s.WriteBuffer("previous content that is longer", 31);
    SaveVirtualStreamToFile(s, Target, 0, 0);
    s.Clear();
    s.WriteBuffer("payload", 7);
    s.SetPosition(3);
    SaveVirtualStreamToFile(s, Target, 0, time);
    int64_t lastWrite = 0;
    EXPECT_EQ("payload", ReadBack(&lastWrite));
    EXPECT_EQ(time, lastWrite);
    EXPECT_EQ(3, s.Position());
}

TEST_F(VirtualStreamFile, ZeroTimeKeepsSystemTime) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    int64_t before = static_cast<int64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    TVirtualStream empty;
    SaveVirtualStreamToFile(empty, Target, 0, 0);
    int64_t lastWrite = 0;
    EXPECT_EQ("", ReadBack(&lastWrite));
    // Within a minute of now: the file system's clock may round.
    EXPECT_LT(std::llabs(lastWrite - before), 600000000LL);
}

TEST_F(VirtualStreamFile, MissingDirectoryRaisesCreateError) {
    TVirtualStream s;
    s.WriteBuffer("x", 1);
    std::string bad = Target + ".missing\\file.bin";
    try {
        SaveVirtualStreamToFile(s, bad, 0, 0);
        FAIL() << "no error";
    } catch (const EWin32Error& e) {
        EXPECT_EQ(0u, e.message().find("Cannot create file: " + bad)) << e.message();
    }
    SaveVirtualStreamToFile(s, Target + ".dir\\file.bin", ffForceDirectories, 0);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((Target + ".dir\\file.bin").c_str()));
    DeleteFileA((Target + ".dir\\file.bin").c_str());
    RemoveDirectoryA((Target + ".dir").c_str());
}

}  // namespace
}  // namespace cm
