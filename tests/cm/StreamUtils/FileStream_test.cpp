// TFileStreamEx: open modes and flags, the retrying open against a file held by another process
// (cm_hold_file, built beside this test), the open and transfer messages, times and SameContent.
#include "cm/StreamUtils/FileStream.h"

#include <gtest/gtest.h>

#include <string>

#include "support/ScratchDirectory.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/Process.h"
#include "support/ProcessStart.h"

namespace cm {
namespace {

using FileStreamTest = test::ScratchDirectoryTest;

std::string ExeDirectory() {
    char buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, length);
    return path.substr(0, path.find_last_of('\\') + 1);
}

// The system error form of the open messages.
std::string OpenMessage(const std::string& message, DWORD code) {
    return message + ": " + SystemErrorText(code) + " (" + std::to_string(code) + ")";
}

// Runs body and returns the EWin32Error it raised (an empty message when it raised none).
template <typename Body>
EWin32Error CatchWin32(Body body) {
    try {
        body();
    } catch (const EWin32Error& e) {
        return e;
    }
    return EWin32Error("", 0);
}

// ---- Open modes and flags ----

// What a second opener may do while the stream holds the file.
struct OpenModeCase {
    const char* name;
    uint16_t mode;
    uint16_t flags;
    bool fileExists;
    int64_t sizeAfterOpen;  // of an existing 5-byte file; -1: still missing after the open attempt
    bool othersMayRead;
    bool othersMayWrite;
};

TEST_F(FileStreamTest, OpenModesSetAccessSharingAndDisposition) {
    const OpenModeCase cases[] = {
        {"create truncates, shares nothing", fmCreate, 0, true, 0, false, false},
        {"create makes a missing file", fmCreate, 0, false, 0, false, false},
        {"create ignores the open-mode flags", fmCreate, ffShareDelete | ffOpenAlways, true, 0, false, false},
        {"read, others may read", fmOpenRead | fmShareDenyWrite, 0, true, 5, true, false},
        {"read-write, others may read", fmOpenReadWrite | fmShareDenyWrite, 0, true, 5, true, false},
        {"read, others may write", fmOpenRead | fmShareDenyRead, 0, true, 5, false, true},
        {"read, others may do all", fmOpenRead | fmShareDenyNone, 0, true, 5, true, true},
        {"exclusive", fmOpenRead | fmShareExclusive, 0, true, 5, false, false},
        {"open-always keeps content", fmOpenReadWrite | fmShareDenyWrite, ffOpenAlways, true, 5, true, false},
        {"open-always creates", fmOpenReadWrite | fmShareDenyWrite, ffOpenAlways, false, 0, true, false},
        {"create-always truncates", fmOpenWrite | fmShareDenyWrite, ffCreateAlways, true, 0, true, false},
    };
    for (const OpenModeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path("mode.bin");
        ::DeleteFileA(path.c_str());
        if (c.fileExists) WriteBytes(path, "hello");
        TFileStreamEx stream(path, c.mode, c.flags);
        EXPECT_EQ(FileLength(path), c.sizeAfterOpen);
        UniqueFileHandle reader(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(reader.valid(), c.othersMayRead);
        UniqueFileHandle writer(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(writer.valid(), c.othersMayWrite);
    }
}

TEST_F(FileStreamTest, MissingFileAndPathFailAtOnceDespiteRetries) {
    struct Case {
        const char* name;
        std::string path;
        uint16_t mode;
        std::string message;
        DWORD code;
    };
    const Case cases[] = {
        {"missing file", Path("none.bin"), fmOpenRead | fmShareDenyWrite, "Cannot open file: %s", ERROR_FILE_NOT_FOUND},
        {"missing path", Path("none\\x.bin"), fmOpenRead | fmShareDenyWrite, "Cannot open file: %s", ERROR_PATH_NOT_FOUND},
        {"create in missing path", Path("none\\x.bin"), fmCreate, "Cannot create file: %s", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DWORD started = ::GetTickCount();
        const EWin32Error e = CatchWin32([&] { TFileStreamEx stream(c.path, c.mode, 0, 2); });
        EXPECT_LT(::GetTickCount() - started, 1000u);
        EXPECT_EQ(e.message(), OpenMessage(Format(c.message, {c.path}), c.code));
        EXPECT_EQ(e.ErrorCode, c.code);
    }
}

TEST_F(FileStreamTest, ForceDirectoriesFlagCreatesTheMissingDirectory) {
    const std::string path = Path("a\\b\\new.bin");
    {
        TFileStreamEx stream(path, fmCreate, ffForceDirectories);
        stream.WriteBuffer("abc", 3);
    }
    EXPECT_EQ(ReadBytes(path), "abc");
}

TEST_F(FileStreamTest, ReadOnlyFileRefusesWritersWithItsOwnMessage) {
    const std::string path = Path("ro.bin");
    WriteBytes(path, "data");
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));

    // Which message a refused open gets.
    struct MessageCase {
        uint16_t mode;
        DWORD error;
        bool readOnlyFile;
        const char* message;
    };
    const MessageCase messages[] = {
        {fmCreate, ERROR_ACCESS_DENIED, true, "Cannot overwrite a read-only file: %s"},
        {fmOpenReadWrite | fmShareDenyWrite, ERROR_ACCESS_DENIED, true, "Cannot open a read-only file for writing: %s"},
        {fmOpenWrite | fmShareExclusive, ERROR_ACCESS_DENIED, true, "Cannot open a read-only file for writing: %s"},
        {fmOpenRead | fmShareDenyWrite, ERROR_ACCESS_DENIED, true, "Cannot open file: %s"},
        {fmCreate, ERROR_SHARING_VIOLATION, true, "Cannot create file: %s"},
        {fmOpenReadWrite | fmShareDenyWrite, ERROR_SHARING_VIOLATION, true, "Cannot open file: %s"},
        {fmCreate, ERROR_ACCESS_DENIED, false, "Cannot create file: %s"},
        {fmOpenReadWrite | fmShareDenyWrite, ERROR_ACCESS_DENIED, false, "Cannot open file: %s"},
    };
    for (const MessageCase& c : messages) {
        const std::string file = c.readOnlyFile ? path : Path("plain.bin");
        EXPECT_EQ(FileOpenFailureMessage(file, c.mode, c.error), Format(c.message, {file}))
            << c.mode << " " << c.error << " " << c.readOnlyFile;
    }

    // The system refuses a writer; Wine run as root does not, and the file is then rewritten.
    try {
        TFileStreamEx probe(path, fmOpenReadWrite | fmShareDenyWrite);
        GTEST_SKIP() << "the system lets a writer open a read-only file (Wine run as root)";
    } catch (const EWin32Error&) {
    }
    struct Case {
        uint16_t mode;
        int32_t retrySeconds;
        const char* message;
    };
    const Case cases[] = {
        {fmCreate, 0, "Cannot overwrite a read-only file: %s"},
        {fmOpenReadWrite | fmShareDenyWrite, 0, "Cannot open a read-only file for writing: %s"},
        {fmOpenWrite | fmShareExclusive, 1, "Cannot open a read-only file for writing: %s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const DWORD started = ::GetTickCount();
        const EWin32Error e = CatchWin32([&] { TFileStreamEx stream(path, c.mode, 0, c.retrySeconds); });
        const DWORD elapsed = ::GetTickCount() - started;
        EXPECT_EQ(e.message(), OpenMessage(Format(c.message, {path}), ERROR_ACCESS_DENIED));
        // Access denied is retried like any other refusal until the time is up.
        if (c.retrySeconds > 0) {
            EXPECT_GE(elapsed, 900u);
        }
    }
    TFileStreamEx reader(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(reader.Size(), 4);
}

// ---- The retrying open against a file another process holds ----

class HeldFileTest : public FileStreamTest {
protected:
    // Starts cm_hold_file on the file for holdMs and returns once the file is held.
    void Hold(const std::string& path, int holdMs) {
        const std::string marker = Path("held.marker");
        ::DeleteFileA(marker.c_str());
        const std::string commandLine = "\"" + ExeDirectory() + "cm_hold_file.exe\" \"" + path + "\" " +
                                        std::to_string(holdMs) + " \"" + marker + "\"";
        test::RunProcessRetrying(commandLine, false, HideWindow, {}, &child_);
        for (int i = 0; i < 400 && ::GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(10);
        ASSERT_NE(::GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "the holder did not start";
    }
    void TearDown() override {
        if (child_.hProcess) {
            ::WaitForSingleObject(child_.hProcess, 10000);
            ::CloseHandle(child_.hProcess);
            ::CloseHandle(child_.hThread);
        }
        FileStreamTest::TearDown();
    }
    PROCESS_INFORMATION child_{};
};

TEST_F(HeldFileTest, OpenSucceedsWhenTheHolderLetsGoWithinTheRetryTime) {
    const std::string path = Path("held.bin");
    WriteBytes(path, "held");
    Hold(path, 500);
    const DWORD started = ::GetTickCount();
    TFileStreamEx stream(path, fmOpenRead | fmShareDenyWrite, 0, 2);
    EXPECT_GE(::GetTickCount() - started, 300u);
    char buffer[4];
    stream.ReadBuffer(buffer, 4);
    EXPECT_EQ(std::string(buffer, 4), "held");
}

TEST_F(HeldFileTest, OpenFailsWithTheSharingViolationWhenTheTimeRunsOut) {
    const std::string path = Path("held.bin");
    WriteBytes(path, "held");
    Hold(path, 3000);
    const DWORD started = ::GetTickCount();
    const EWin32Error e = CatchWin32([&] { TFileStreamEx stream(path, fmOpenRead | fmShareDenyWrite, 0, 1); });
    const DWORD elapsed = ::GetTickCount() - started;
    EXPECT_EQ(e.message(), OpenMessage("Cannot open file: " + path, ERROR_SHARING_VIOLATION));
    EXPECT_EQ(e.ErrorCode, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 2800u);
}

// ---- Transfers ----

TEST_F(FileStreamTest, TransferErrorsNameTheFileCountAndPosition) {
    const std::string path = Path("t.bin");
    WriteBytes(path, "0123456789");
    {
        TFileStreamEx stream(path, fmOpenRead | fmShareDenyWrite);
        stream.Seek(3, soBeginning);
        const EWin32Error e = CatchWin32([&] { stream.Write("abcdefghij", 10); });
        EXPECT_EQ(e.message(), "Failed to write to file '" + path + "' (10 bytes at position 3): " +
                                   SystemErrorText(ERROR_ACCESS_DENIED));
        EXPECT_EQ(e.ErrorCode, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    }
    {
        TFileStreamEx stream(path, fmOpenWrite | fmShareDenyWrite);
        stream.Seek(4, soBeginning);
        char buffer[8];
        const EWin32Error e = CatchWin32([&] { stream.Read(buffer, 8); });
        EXPECT_EQ(e.message(), "Failed to read from file '" + path + "' (8 bytes at position 4): " +
                                   SystemErrorText(ERROR_ACCESS_DENIED));
    }
}

TEST_F(FileStreamTest, ShortReadAtTheEndIsOrdinaryButReadBufferRaises) {
    const std::string path = Path("short.bin");
    WriteBytes(path, "0123456789");
    TFileStreamEx stream(path, fmOpenRead | fmShareDenyWrite);
    char buffer[16];
    stream.Seek(6, soBeginning);
    EXPECT_EQ(stream.Read(buffer, 16), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(stream.Read(buffer, 16), 0);
    stream.Seek(2, soBeginning);
    try {
        stream.ReadBuffer(buffer, 16);
        FAIL() << "no read error";
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

TEST_F(FileStreamTest, SeekSizeAndSetSizeWorkOnTheHandle) {
    const std::string path = Path("size.bin");
    TFileStreamEx stream(path, fmOpenReadWrite | fmShareDenyNone, ffOpenAlways);
    stream.WriteBuffer("0123456789", 10);
    EXPECT_EQ(stream.Size(), 10);
    EXPECT_EQ(stream.Position(), 10);
    EXPECT_EQ(stream.Seek(-4, soEnd), 6);
    stream.SetSize(3);
    EXPECT_EQ(stream.Size(), 3);
    stream.Flush();
    EXPECT_EQ(ReadBytes(path), "012");
}

// ---- Flags ----

TEST_F(FileStreamTest, HandleFlagsTakeEffect) {
    const std::string kept = Path("kept.bin");
    HANDLE handle;
    {
        TFileStreamEx stream(kept, fmCreate, ffKeepHandleOpen);
        handle = stream.Handle();
    }
    UniqueFileHandle owner(handle);
    DWORD written = 0;
    EXPECT_TRUE(::WriteFile(owner.get(), "x", 1, &written, nullptr)) << "the handle was closed";
    owner.reset();

    const std::string temporary = Path("temp.bin");
    {
        TFileStreamEx stream(temporary, fmCreate, ffDeleteOnClose | ffTemporary);
        stream.WriteBuffer("abc", 3);
        EXPECT_EQ(FileLength(temporary), 3);
    }
    EXPECT_EQ(FileLength(temporary), -1) << "delete-on-close left the file";
}

TEST_F(FileStreamTest, RetrySecondsMustNotBeNegative) {
    EXPECT_THROW(TFileStreamEx(Path("x.bin"), fmCreate, 0, -1), EAssertionFailed);
}

// ---- Information and times ----

TEST_F(FileStreamTest, FileTimesRoundTripAndFailuresNameTheFile) {
    const std::string path = Path("times.bin");
    WriteBytes(path, "abc");
    const int64_t time = 132000000000000000LL;  // 2019
    {
        TFileStreamEx stream(path, fmOpenReadWrite | fmShareDenyWrite);
        stream.SetLastWriteTime(time);
        EXPECT_EQ(stream.GetLastWriteTime(), time);
        const int64_t access = time + 10000000;
        stream.SetFileTimes(nullptr, &access, nullptr);
        EXPECT_EQ(stream.GetLastWriteTime(), time) << "a null time must be left unchanged";
        EXPECT_EQ(stream.GetFileInformation().nFileSizeLow, 3u);
    }
    // A handle closed under the stream makes the call fail.
    TFileStreamEx stream(path, fmOpenReadWrite | fmShareDenyWrite, ffKeepHandleOpen);
    ::CloseHandle(stream.Handle());
    const EWin32Error e = CatchWin32([&] { stream.SetLastWriteTime(time); });
    EXPECT_EQ(e.message(), "Failed to set file time: " + path + "\r\n" +
                               OpenMessage("Failed to set file time", ERROR_INVALID_HANDLE));
}

// ---- SameContent ----

TEST_F(FileStreamTest, SameContentComparesTheWholeFile) {
    const std::string big = Pattern(3 * 1024 * 1024);
    std::string lastDiffers = big;
    lastDiffers.back() ^= 1;
    std::string firstDiffers = big;
    firstDiffers.front() ^= 1;
    struct Case {
        const char* name;
        std::string file;
        std::string buffer;
        bool same;
    };
    const Case cases[] = {
        {"both empty", "", "", true},
        {"3 MB equal", big, big, true},
        {"3 MB, last byte differs", big, lastDiffers, false},
        {"3 MB, first byte differs", big, firstDiffers, false},
        {"buffer one byte shorter", big, big.substr(0, big.size() - 1), false},
        {"empty file, buffer not", "", "x", false},
    };
    const std::string path = Path("same.bin");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(path, c.file);
        TFileStreamEx stream(path, fmOpenRead | fmShareDenyWrite);
        EXPECT_EQ(stream.SameContent(c.buffer.data(), static_cast<int32_t>(c.buffer.size())), c.same);
    }
}

}  // namespace
}  // namespace cm
