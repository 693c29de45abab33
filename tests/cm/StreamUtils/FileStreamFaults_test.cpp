// TFileStreamEx and TMappedFileStream on a volume that fills up: the write that does not fit
// raises the stream's write error (file name, position, the disk-full code), what was written
// before it stays on disk, and nothing crashes. The volume is a small file system mounted by
// FileStreamFaults.sh, which passes its Windows path in CORVANE_FAULT_VOLUME; without it every
// case skips.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "support/ScratchDirectory.h"
#include "cm/Objects/Errors.h"
#include "cm/StreamUtils/FileStream.h"
#include "cm/StreamUtils/MappedFileStream.h"

namespace cm {
namespace {

constexpr int32_t PieceSize = 64 * 1024;
constexpr int32_t WriteTotal = 4 * 1024 * 1024;  // twice the volume the harness mounts
constexpr int32_t BallastSize = 512 * 1024;       // a file deleted after the failure to make room

class FileStreamFaultsTest : public test::ScratchDirectoryTest {
protected:
    void SetUp() override {
        const char* volume = std::getenv("CORVANE_FAULT_VOLUME");
        if (!volume || !*volume) GTEST_SKIP() << "CORVANE_FAULT_VOLUME is not set (no small volume mounted)";
        volume_ = volume;
        ULARGE_INTEGER freeBytes, totalBytes;
        ASSERT_TRUE(::GetDiskFreeSpaceExA((volume_ + "\\").c_str(), &freeBytes, &totalBytes, nullptr)) << volume_;
        free_ = static_cast<int64_t>(freeBytes.QuadPart);
        ASSERT_LT(free_, WriteTotal) << "the volume must be smaller than what the cases write";
    }
    void TearDown() override {
        if (volume_.empty()) return;
        ::DeleteFileA(VolumePath("full.bin").c_str());
        ::DeleteFileA(VolumePath("ballast.bin").c_str());
    }
    std::string VolumePath(const std::string& name) const { return volume_ + "\\" + name; }

    std::string volume_;
    int64_t free_ = 0;
};

struct FullDiskCase {
    const char* name;
    std::function<std::unique_ptr<TFileStreamEx>(const std::string& path)> open;
    bool mapped;
    bool cutsBack;  // the file's length after close is exactly what was written
};

// Writes 64 KB pieces until the disk is full, checks the failure, then frees the ballast and goes
// on writing through the same stream: nothing written before or after the failure may be lost.
TEST_F(FileStreamFaultsTest, WritingPastAFullDiskRaisesAndKeepsWhatWasWritten) {
    const FullDiskCase cases[] = {
        {"file stream", [](const std::string& p) { return std::make_unique<TFileStreamEx>(p, fmCreate); }, false, true},
        {"mapped stream", [](const std::string& p) { return std::make_unique<TMappedFileStream>(p, fmCreate); }, true, true},
        {"mapped stream, end of file set explicitly",
         [](const std::string& p) { return std::make_unique<TMappedFileStream>(p, fmCreate, ffMappedSetEndOfFile); },
         true, true},
        {"mapped stream, never cut back",
         [](const std::string& p) {
             return std::make_unique<TMappedFileStream>(p, fmOpenReadWrite | fmShareDenyWrite,
                                                        ffMappedNoInitialSize | ffOpenAlways);
         },
         true, false},
    };
    const std::string data = Pattern(WriteTotal);
    const std::string path = VolumePath("full.bin");
    const std::string ballast = VolumePath("ballast.bin");
    for (const FullDiskCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(ballast, std::string(BallastSize, 'b'));
        int64_t written = 0;  // by the writes that succeeded
        int64_t position = 0;
        {
            std::unique_ptr<TFileStreamEx> stream = c.open(path);
            EWin32Error failure("", 0);
            try {
                for (; written < WriteTotal; written += PieceSize) stream->WriteBuffer(data.data() + written, PieceSize);
            } catch (const EWin32Error& e) {
                failure = e;
            }
            ASSERT_EQ(failure.ErrorCode, static_cast<uint32_t>(ERROR_DISK_FULL)) << failure.message();
            // The mapped stream reserves whole views, so it may stop up to one view short.
            const int64_t room = free_ - BallastSize;
            EXPECT_GE(written, room - (c.mapped ? MappedStreamViewSize : PieceSize));
            EXPECT_LE(written, room);

            position = stream->Seek(0, soCurrent);
            if (c.mapped) {
                // The failed write neither moved the stream nor grew its size.
                EXPECT_EQ(position, written);
                EXPECT_EQ(stream->Size(), written);
                const std::string head = "Failed to write to mapped file: " + path + "\r\nFailed to write " +
                                         std::to_string(PieceSize) + " bytes at " + std::to_string(written) +
                                         " to mapped view\r\n";
                EXPECT_EQ(failure.message().substr(0, head.size()), head);
                const std::string tail = ": " + SystemErrorText(ERROR_DISK_FULL) + " (112)";
                EXPECT_TRUE(failure.message().size() > tail.size() &&
                            failure.message().compare(failure.message().size() - tail.size(), tail.size(), tail) == 0)
                    << failure.message();
            } else {
                // A write may have stored part of its bytes before the disk filled up.
                EXPECT_GE(position, written);
                EXPECT_EQ(failure.message(), "Failed to write to file '" + path + "' (" + std::to_string(PieceSize) +
                                                 " bytes at position " + std::to_string(position) +
                                                 "): " + SystemErrorText(ERROR_DISK_FULL));
            }

            // With room again the same stream goes on where it stopped.
            ASSERT_TRUE(::DeleteFileA(ballast.c_str()));
            stream->WriteBuffer(data.data() + position, PieceSize);
            position += PieceSize;
        }
        const int64_t length = FileLength(path);
        EXPECT_EQ(length, c.cutsBack ? position : (position + MappedStreamViewSize - 1) / MappedStreamViewSize * MappedStreamViewSize);
        const std::string content = ReadBytes(path);
        ASSERT_GE(static_cast<int64_t>(content.size()), position);
        EXPECT_TRUE(content.compare(0, static_cast<size_t>(position), data, 0, static_cast<size_t>(position)) == 0)
            << "the bytes written differ from the file's";
        ASSERT_TRUE(::DeleteFileA(path.c_str()));
    }
}

}  // namespace
}  // namespace cm
