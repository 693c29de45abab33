// TMappedFileStream and TMappedViewCache: growth in whole views and the cut back on close, the
// LRU of two views, read-only views that end with the file, the layered messages, and the
// whole-file mapping routines.
#include "cm/StreamUtils/MappedFileStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/ScratchDirectory.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/Strings.h"

namespace cm {
namespace {

using MappedFileStreamTest = test::ScratchDirectoryTest;
using Keys = std::vector<int32_t>;

// ---- Growth and close ----

TEST_F(MappedFileStreamTest, SmallWriteGrowsTheFileByAWholeViewAndCloseCutsItBack) {
    struct Case {
        const char* name;
        uint16_t flags;
    };
    const Case cases[] = {{"mapping extends the file", 0}, {"end of file set explicitly", ffMappedSetEndOfFile}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path("grow.bin");
        {
            TMappedFileStream stream(path, fmCreate, c.flags);
            EXPECT_TRUE(stream.Writable());
            EXPECT_EQ(stream.Size(), 0);
            stream.WriteBuffer("0123456789", 10);
            EXPECT_EQ(stream.Size(), 10);
            EXPECT_EQ(stream.MappedSize(), MappedStreamViewSize);
            EXPECT_EQ(FileLength(path), 262144);
        }
        EXPECT_EQ(FileLength(path), 10);
        EXPECT_EQ(ReadBytes(path), "0123456789");
    }
}

// A stream that keeps growing enlarges its mapping (and file) by 1, 2, 4 ... views up to 64 MB a
// step; one that never cuts its file back grows by single views, as that excess stays on disk.
TEST_F(MappedFileStreamTest, GrowthStepDoublesUpToItsCapAndCloseCutsTheExcess) {
    const int64_t view = MappedStreamViewSize;
    struct Case {
        const char* name;
        uint16_t mode;
        uint16_t flags;
        std::vector<int64_t> stepsInViews;  // the growth of the mapping at each SetSize past its end
        int64_t lengthAfterClose;           // -1: the logical size
    };
    const Case cases[] = {
        {"cut back on close", fmCreate, 0, {1, 2, 4, 8, 16, 32, 64, 128, 256, 256, 256}, -1},
        {"end of file set explicitly", fmCreate, ffMappedSetEndOfFile, {1, 2, 4, 8}, -1},
        {"never cut back", fmOpenReadWrite | fmShareDenyWrite, ffMappedNoInitialSize, {1, 1, 1}, 3 * view},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path("step.bin");
        WriteBytes(path, "");
        int64_t size = 0;
        {
            TMappedFileStream stream(path, c.mode, c.flags);
            for (int64_t step : c.stepsInViews) {
                const int64_t before = stream.MappedSize();
                size = before + 1;
                stream.SetSize(static_cast<int32_t>(size));
                EXPECT_EQ(stream.MappedSize() - before, step * view) << "at size " << size;
                EXPECT_EQ(FileLength(path), stream.MappedSize());
            }
            // A jump past the step maps just as far as the size needs.
            if (c.lengthAfterClose < 0) {
                size = stream.MappedSize() + 300 * view + 5;
                stream.SetSize(static_cast<int32_t>(size));
                EXPECT_EQ(stream.MappedSize(), size - 5 + view);
            }
            stream.Seek(-3, soEnd);
            stream.WriteBuffer("end", 3);
            stream.Close();
        }
        EXPECT_EQ(FileLength(path), c.lengthAfterClose < 0 ? size : c.lengthAfterClose);
    }
}

TEST_F(MappedFileStreamTest, MappingNearTheLargestSizeIsMadeOnce) {
    const std::string path = Path("huge.bin");
    TMappedFileStream stream(path, fmCreate);
    stream.SetSize(INT32_MAX - 10);
    EXPECT_EQ(stream.MappedSize(), int64_t{1} << 31);
    stream.Seek(0, soBeginning);
    stream.WriteBuffer("x", 1);
    stream.SetSize(INT32_MAX);
    EXPECT_EQ(stream.Cache().ViewKeys(), Keys{0}) << "the mapping was made again";
    stream.SetSize(10);
    stream.Close();
    EXPECT_EQ(FileLength(path), 10);
}

TEST_F(MappedFileStreamTest, LongSequentialWriteRoundTrips) {
    const std::string path = Path("long.bin");
    const std::string data = Pattern(600000);
    {
        TMappedFileStream stream(path, fmCreate);
        for (size_t at = 0; at < data.size(); at += 1000) stream.WriteBuffer(data.data() + at, 1000);
        EXPECT_EQ(FileLength(path), 3 * 262144);
        EXPECT_LE(stream.Cache().ViewKeys().size(), 2u);
        stream.Close();
    }
    EXPECT_EQ(FileLength(path), 600000);
    TMappedFileStream reader(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_FALSE(reader.Writable());
    EXPECT_EQ(reader.Size(), 600000);
    std::string back(data.size(), '\0');
    reader.ReadBuffer(back.data(), static_cast<int32_t>(back.size()));
    EXPECT_TRUE(back == data);
    EXPECT_TRUE(reader.SameContent(data.data(), static_cast<int32_t>(data.size())));
}

TEST_F(MappedFileStreamTest, NoInitialSizeFlagStartsEmptyAndNeverCutsTheFile) {
    const std::string path = Path("keep.bin");
    const std::string data = Pattern(300000);
    WriteBytes(path, data);
    {
        TMappedFileStream stream(path, fmOpenReadWrite | fmShareDenyWrite, ffMappedNoInitialSize);
        EXPECT_EQ(stream.Size(), 0);
        stream.WriteBuffer("abc", 3);
    }
    const std::string after = ReadBytes(path);
    ASSERT_EQ(after.size(), data.size());
    EXPECT_EQ(after.substr(0, 3), "abc");
    EXPECT_TRUE(after.substr(3) == data.substr(3));
}

TEST_F(MappedFileStreamTest, OverwriteInsideAnExistingFileKeepsItsLength) {
    const std::string path = Path("inside.bin");
    WriteBytes(path, Pattern(1000));
    {
        TMappedFileStream stream(path, fmOpenReadWrite | fmShareDenyWrite);
        EXPECT_EQ(stream.Size(), 1000);
        stream.Seek(-2, soEnd);
        stream.WriteBuffer("xyz", 3);
        EXPECT_EQ(stream.Size(), 1001);
        stream.SetSize(500);
        EXPECT_EQ(FileLength(path), 262144) << "SetSize does not cut the file";
    }
    EXPECT_EQ(FileLength(path), 500);
}

TEST_F(MappedFileStreamTest, FlushDropsTheMappingAndTheNextWriteMapsAgain) {
    const std::string path = Path("flush.bin");
    TMappedFileStream stream(path, fmOpenReadWrite | fmShareDenyNone, ffOpenAlways);
    stream.WriteBuffer("abc", 3);
    EXPECT_NE(stream.Mapping(), nullptr);
    stream.Flush();
    EXPECT_EQ(stream.Mapping(), nullptr);
    EXPECT_TRUE(stream.Cache().ViewKeys().empty());
    EXPECT_EQ(ReadBytes(path).substr(0, 3), "abc");
    stream.WriteBuffer("def", 3);
    EXPECT_NE(stream.Mapping(), nullptr);
    stream.Close();
    EXPECT_EQ(ReadBytes(path), "abcdef");
}

// ---- Reading ----

TEST_F(MappedFileStreamTest, ReadAcrossTwoViewsThenAThirdEvictsTheLeastRecentlyUsed) {
    const std::string path = Path("views.bin");
    const std::string data = Pattern(1000000);
    WriteBytes(path, data);
    TMappedFileStream stream(path, fmOpenRead | fmShareDenyWrite);
    std::string buffer(1000, '\0');

    stream.Seek(262000, soBeginning);
    EXPECT_EQ(stream.Read(buffer.data(), 1000), 1000);
    EXPECT_TRUE(buffer == data.substr(262000, 1000));
    EXPECT_EQ(stream.Cache().ViewKeys(), (Keys{1, 0}));

    struct Step {
        int32_t position;
        Keys keysAfter;
    };
    const Step steps[] = {
        {600000, {2, 1}},  // view 2 evicts view 0, the least recently used
        {300000, {1, 2}},  // a hit moves view 1 to the front
        {10, {0, 1}},      // view 0 evicts view 2
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.position);
        stream.Seek(step.position, soBeginning);
        EXPECT_EQ(stream.Read(buffer.data(), 100), 100);
        EXPECT_EQ(buffer.substr(0, 100), data.substr(static_cast<size_t>(step.position), 100));
        EXPECT_EQ(stream.Cache().ViewKeys(), step.keysAfter);
    }
}

// Reads of a view or more: straight from a read-only file, through the views of a writable one
// (which may hold bytes not yet in the file); the same bytes and positions either way.
TEST_F(MappedFileStreamTest, LargeReadsOfAReadOnlyFileBypassTheViews) {
    const std::string path = Path("large.bin");
    const std::string data = Pattern(1000000);
    WriteBytes(path, data);
    auto stream = std::make_unique<TMappedFileStream>(path, fmOpenRead | fmShareDenyWrite);
    std::string buffer(400000, '\0');
    stream->Seek(100000, soBeginning);
    EXPECT_EQ(stream->Read(buffer.data(), 400000), 400000);
    EXPECT_TRUE(buffer == data.substr(100000, 400000));
    EXPECT_EQ(stream->Position(), 500000);
    EXPECT_TRUE(stream->Cache().ViewKeys().empty());
    stream->Seek(800000, soBeginning);  // across the end: the rest
    EXPECT_EQ(stream->Read(buffer.data(), 400000), 200000);
    EXPECT_TRUE(buffer.substr(0, 200000) == data.substr(800000));
    EXPECT_EQ(stream->Position(), 1000000);
    stream.reset();

    TMappedFileStream writable(path, fmOpenReadWrite | fmShareExclusive);
    writable.Seek(300000, soBeginning);
    writable.WriteBuffer("changed", 7);
    writable.Seek(0, soBeginning);
    EXPECT_EQ(writable.Read(buffer.data(), 400000), 400000);
    EXPECT_EQ(buffer.substr(300000, 7), "changed");
    EXPECT_FALSE(writable.Cache().ViewKeys().empty());
}

// Handles opened without buffering or for overlapped operation cannot serve an unaligned or
// synchronous positioned read: large reads of them go through the views, across two of them here.
TEST_F(MappedFileStreamTest, LargeReadsOfUnbufferedOrOverlappedHandlesUseTheViews) {
    const std::string path = Path("flags.bin");
    const std::string data = Pattern(1000000);
    WriteBytes(path, data);
    for (const uint16_t flags : {uint16_t{ffNoBuffering}, uint16_t{ffOverlapped}}) {
        SCOPED_TRACE(flags);
        TMappedFileStream stream(path, fmOpenRead | fmShareDenyWrite, flags);
        std::string buffer(300000, '\0');
        stream.Seek(100001, soBeginning);
        EXPECT_EQ(stream.Read(buffer.data(), 300000), 300000);
        EXPECT_TRUE(buffer == data.substr(100001, 300000));
        EXPECT_EQ(stream.Cache().ViewKeys().size(), 2u);
    }
}

TEST_F(MappedFileStreamTest, ReadOnlyViewEndsWithTheFile) {
    const std::string path = Path("small.bin");
    WriteBytes(path, Pattern(100));
    TMappedFileStream stream(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(stream.MappedSize(), 0);
    char buffer[200];
    EXPECT_EQ(stream.Read(buffer, 200), 100);
    EXPECT_EQ(stream.MappedSize(), 100);
    int32_t count = 100;
    const void* view = stream.Cache().GetView(count, 0, stream.Size64());
    MEMORY_BASIC_INFORMATION info;
    ASSERT_NE(::VirtualQuery(view, &info, sizeof info), 0u);
    EXPECT_LT(info.RegionSize, static_cast<SIZE_T>(MappedStreamViewSize));
    EXPECT_EQ(FileLength(path), 100);
}

TEST_F(MappedFileStreamTest, ReadingAtOrPastTheEndCopiesNothing) {
    const std::string path = Path("end.bin");
    WriteBytes(path, "abc");
    TMappedFileStream stream(path, fmOpenRead | fmShareDenyWrite);
    char buffer[8] = {};
    for (int32_t position : {3, 1000, 1 << 20}) {
        stream.Seek(position, soBeginning);
        EXPECT_EQ(stream.Read(buffer, 8), 0) << position;
        EXPECT_EQ(stream.Position(), position);
    }
    TMappedFileStream empty(Path("empty.bin"), fmCreate);
    EXPECT_EQ(empty.Read(buffer, 8), 0);
    EXPECT_EQ(empty.Mapping(), nullptr);
}

// ---- Failures ----

TEST_F(MappedFileStreamTest, WriteToAReadOnlyStreamNamesTheFile) {
    const std::string path = Path("ro.bin");
    WriteBytes(path, "abc");
    TMappedFileStream stream(path, fmOpenRead | fmShareDenyWrite);
    try {
        stream.Write("x", 1);
        FAIL() << "no failure";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "Failed to write to mapped file: " + path + "\r\nCannot write to a read-only mapped file.");
    }
}

TEST_F(MappedFileStreamTest, SizesOutsideTheStreamRangeAreAssertionFailures) {
    TMappedFileStream stream(Path("limits.bin"), fmCreate);
    EXPECT_THROW(stream.SetSize(-1), EAssertionFailed);
    stream.Seek(INT32_MAX - 4, soBeginning);
    EXPECT_THROW(stream.Write("0123456789", 10), EAssertionFailed);
    EXPECT_EQ(stream.Size(), 0);
}

TEST_F(MappedFileStreamTest, ViewCacheFailuresCarryTheirLines) {
    int maps = 0;
    TMappedViewCache cache(MappedStreamViewShift, MappedStreamMaxViews, [&](int32_t, int64_t) -> void* {
        ++maps;
        throw EWin32Error("Failed to map view of file mapping 0x0 at position 0:0 (262144 bytes): x (8)", 8);
    });
    int32_t count = 10;
    EXPECT_EQ(cache.GetView(count = 0, 0, 100), nullptr);
    try {
        count = 60;
        cache.GetView(count, 50, 100);
        FAIL() << "no failure";
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Cannot map view of mapped stream: Invalid position/size requested "
                               "(position = 50, size = 60, stream size = 100)");
    }
    char buffer[16];
    int64_t position = 4;
    try {
        cache.Read(buffer, position, 100, 16);
        FAIL() << "no failure";
    } catch (const EWin32Error& e) {
        EXPECT_EQ(e.message(), "Failed to read 16 bytes at 4 from mapped view\r\n"
                               "Failed to map view of file mapping 0x0 at position 0:0 (262144 bytes): x (8)");
        EXPECT_EQ(e.ErrorCode, 8u);
    }
    try {
        cache.Write(buffer, position, 100, 16);
        FAIL() << "no failure";
    } catch (const EWin32Error& e) {
        EXPECT_EQ(e.message().substr(0, e.message().find('\r')), "Failed to write 16 bytes at 4 to mapped view");
    }
    EXPECT_EQ(maps, 2);
    EXPECT_EQ(cache.RoundUp(0), 0);
    EXPECT_EQ(cache.RoundUp(1), 262144);
    EXPECT_EQ(cache.RoundUp(262144), 262144);
}

// The mapping routines name the handle they were given whole: all of its pointer-sized value (8
// hex digits on x86, 16 on x64), never a 32-bit cut of it. INVALID_HANDLE_VALUE has every bit set.
TEST_F(MappedFileStreamTest, MappingFailuresNameTheWholeHandle) {
    const std::string allBits =
        HexDigits(reinterpret_cast<uintptr_t>(INVALID_HANDLE_VALUE), static_cast<int>(2 * sizeof(void*)));
    const struct {
        const char* Name;
        std::function<void()> Call;
        std::string Message;
    } cases[] = {
        // A mapping backed by the paging file needs a size.
        {"CreateFileMappingChecked", [] { CreateFileMappingChecked(INVALID_HANDLE_VALUE, PAGE_READWRITE, 0); },
         "Failed to create file mapping for handle 0x" + allBits + " (0 bytes)"},
        // The handle is the current process, not a mapping object.
        {"MapViewChecked", [] { MapViewChecked(INVALID_HANDLE_VALUE, FILE_MAP_READ, 0, 4096); },
         "Failed to map view of file mapping 0x0" + allBits + " at position 0:0 (4096 bytes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            c.Call();
            ADD_FAILURE() << "no failure";
        } catch (const EWin32Error& e) {
            EXPECT_EQ(e.message().substr(0, e.message().find(": ")), c.Message);
            EXPECT_NE(e.ErrorCode, 0u);
        }
    }
}

// ---- Whole-file mapping ----

TEST_F(MappedFileStreamTest, MapFileKinds) {
    const std::string path = Path("whole.bin");
    const std::string data = Pattern(70000);
    WriteBytes(path, data);

    BY_HANDLE_FILE_INFORMATION info{};
    UniqueMappedView readView(MapFile(path, fmkRead, &info));
    ASSERT_NE(readView.get(), nullptr);
    EXPECT_EQ(info.nFileSizeLow, 70000u);
    EXPECT_EQ(std::memcmp(readView.get(), data.data(), data.size()), 0);
    readView.reset();

    UniqueMappedView copyView(MapFile(path, fmkCopyOnWrite));
    ASSERT_NE(copyView.get(), nullptr);
    static_cast<char*>(copyView.get())[0] = 'C';
    copyView.reset();
    EXPECT_EQ(ReadBytes(path)[0], data[0]) << "a copy-on-write view changed the file";

    UniqueMappedView writeView(MapFile(path, fmkReadWrite));
    ASSERT_NE(writeView.get(), nullptr);
    static_cast<char*>(writeView.get())[0] = 'W';
    writeView.reset();
    EXPECT_EQ(ReadBytes(path)[0], 'W');

    try {
        MapFile(path, 3);
        FAIL() << "no failure";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Invalid file map-kind");
    }
    TFileStreamEx file(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(MapWholeFile(file.Handle(), 3, false), nullptr);
    EXPECT_THROW(MapWholeFile(file.Handle(), 3, true), Exception);

    WriteBytes(Path("empty.bin"), "");
    EXPECT_EQ(MapFile(Path("empty.bin"), fmkRead), nullptr);
}

}  // namespace
}  // namespace cm
