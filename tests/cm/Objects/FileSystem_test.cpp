// Directories, deletion, tree deletion and the information routines of FileSystem.cpp.

#include <string>
#include <utility>
#include <vector>

#include "cm/Objects/FileSystem.h"
#include "cm/Objects/SystemWrappers.h"
#include "support/DirectoryLink.h"
#include "FileSystemTestSupport.h"

namespace cm {
namespace {

// ---- Directories ----

struct NotificationLog {
    std::vector<std::pair<std::string, std::string>> Calls;  // (notification, path)
};
struct NotificationTag {
    const char* Name;
    NotificationLog* Log;
};
void RecordNotification(void* userData, const std::string& path) {
    auto* tag = static_cast<NotificationTag*>(userData);
    tag->Log->Calls.emplace_back(tag->Name, path);
}

TEST_F(FileSystemTest, ForceDirectoryPathCreatesChainAndNotifiesEnabledOnceInOrder) {
    NotificationLog log;
    NotificationTag first{"first", &log}, disabled{"disabled", &log}, last{"last", &log};
    Watch(RecordNotification, &first, true);
    Watch(RecordNotification, &disabled, false);
    Watch(RecordNotification, &last, true);

    const std::string path = root_ + "a\\b\\c\\";
    EXPECT_TRUE(ForceDirectoryPath(path));
    EXPECT_TRUE(DirectoryExistsPlain(root_ + "a\\b\\c"));
    // One call per notification for the whole chain, with the path as passed in.
    const std::vector<std::pair<std::string, std::string>> expected = {{"first", path}, {"last", path}};
    EXPECT_EQ(log.Calls, expected);

    log.Calls.clear();
    EXPECT_FALSE(ForceDirectoryPath(path));
    EXPECT_FALSE(ForceDirectoryPath(root_));
    EXPECT_FALSE(ForceDirectoryPath(""));
    EXPECT_TRUE(log.Calls.empty());
}

TEST_F(FileSystemTest, ForceDirectoryPathLeavesBareDrivesAndTwoCharacterPathsAlone) {
    NotificationLog log;
    NotificationTag tag{"watch", &log};
    Watch(RecordNotification, &tag, true);
    char previous[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
    // Relative two-character names would be created in the current directory if they were
    // not refused before any disk access.
    for (const char* path : {"ab", "ab\\", "Q:", "Q:\\"}) {
        EXPECT_FALSE(ForceDirectoryPath(path)) << path;
        EXPECT_FALSE(Exists("ab")) << path;
    }
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(log.Calls.empty());
}

TEST_F(FileSystemTest, ForceDirectoryPathBelowAFileReportsContextThenCause) {
    MakeTree({"file.txt"});
    const std::string file = root_ + "file.txt";
    const std::string path = file + "\\sub\\deeper";
    const std::string cause = "Cannot create directory '" + file + "'" + SystemSuffix(ERROR_ALREADY_EXISTS);
    const struct {
        const char* Context;
        std::string FirstLine;
    } cases[] = {
        {"", "Failed to create directory: " + path},
        {"temporary directory", "Failed to create directory (temporary directory): " + path},
    };
    for (const auto& c : cases) {
        try {
            ForceDirectoryPath(path, c.Context);
            ADD_FAILURE() << "no error for " << c.Context;
        } catch (const EWin32Error& e) {
            EXPECT_EQ(e.message(), c.FirstLine + "\r\n" + cause);
            EXPECT_EQ(e.ErrorCode, static_cast<uint32_t>(ERROR_ALREADY_EXISTS));
        }
    }
    EXPECT_TRUE(FileExistsPlain(file));
}

TEST_F(FileSystemTest, CreateDirectoryCheckedByWhatExists) {
    MakeTree({"dir\\", "file.txt"});
    const struct {
        const char* Name;
        bool FailIfExists;
        bool Created;
        uint32_t Error;  // 0: no error
    } cases[] = {
        {"new", false, true, 0},
        {"new2", true, true, 0},
        {"dir", false, false, 0},
        {"dir", true, false, ERROR_ALREADY_EXISTS},
        // A file of that name is no directory, whatever fail-if-exists says.
        {"file.txt", false, false, ERROR_ALREADY_EXISTS},
        {"missing\\child", false, false, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        const std::string path = root_ + c.Name;
        SCOPED_TRACE(c.Name);
        if (c.Error == 0) {
            EXPECT_EQ(CreateDirectoryChecked(path, nullptr, c.FailIfExists), c.Created);
            EXPECT_TRUE(DirectoryExistsPlain(path));
        } else {
            try {
                CreateDirectoryChecked(path, nullptr, c.FailIfExists);
                ADD_FAILURE() << "no error";
            } catch (const EWin32Error& e) {
                EXPECT_EQ(e.message(), "Cannot create directory '" + path + "'" + SystemSuffix(c.Error));
                EXPECT_EQ(e.ErrorCode, c.Error);
            }
        }
    }
}

TEST_F(FileSystemTest, TempDirectoryIsTheSystemsWithTrailingBackslash) {
    const std::string temp = GetTempDirectory();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '\\');
    EXPECT_TRUE(DirectoryExistsPlain(temp));
    char expected[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, expected);
    EXPECT_EQ(temp, AddTrailingBackslash(std::string(expected, length)));
}

TEST_F(FileSystemTest, AttributeTests) {
    MakeTree({"file.txt", "readonly.txt", "dir\\"});
    ASSERT_TRUE(SetFileAttributesA((root_ + "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    const struct {
        const char* Name;
        bool File, Directory, ReadOnly;
    } cases[] = {
        {"file.txt", true, false, false},
        {"readonly.txt", true, false, true},
        {"dir", false, true, false},
        {"missing", false, false, false},
        {"missing\\below", false, false, false},
    };
    for (const auto& c : cases) {
        const std::string path = root_ + c.Name;
        EXPECT_EQ(FileExistsPlain(path), c.File) << c.Name;
        EXPECT_EQ(DirectoryExistsPlain(path), c.Directory) << c.Name;
        EXPECT_EQ(IsReadOnlyFile(path), c.ReadOnly) << c.Name;
    }
}

// ---- Deletion ----

TEST_F(FileSystemTest, DeleteFileCheckedReportsReadOnlyAndMissingFiles) {
    MakeTree({"readonly.txt", "dir\\"});
    const std::string readOnly = root_ + "readonly.txt";
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string hint = "\r\nCannot delete a read-only file";
    const struct {
        std::string Path;
        bool FailIfMissing;
        uint32_t Error;  // 0: returns silently
        std::string Hint;
    } cases[] = {
        {readOnly, false, ERROR_ACCESS_DENIED, hint},
        {readOnly, true, ERROR_ACCESS_DENIED, hint},
        {root_ + "missing.txt", false, 0, ""},
        {root_ + "missing.txt", true, ERROR_FILE_NOT_FOUND, ""},
        {root_ + "dir", false, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path + (c.FailIfMissing ? " (fail if missing)" : ""));
        if (c.Error == 0) {
            EXPECT_NO_THROW(DeleteFileChecked(c.Path, c.FailIfMissing));
            continue;
        }
        try {
            DeleteFileChecked(c.Path, c.FailIfMissing);
            ADD_FAILURE() << "no error";
        } catch (const EWin32Error& e) {
            EXPECT_EQ(e.message(), "Failed to delete file '" + c.Path + "'" + c.Hint + SystemSuffix(c.Error));
            EXPECT_EQ(e.ErrorCode, c.Error);
        }
    }
    EXPECT_TRUE(FileExistsPlain(readOnly));
    EXPECT_TRUE(DirectoryExistsPlain(root_ + "dir"));

    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL));
    DeleteFileChecked(readOnly, true);
    EXPECT_FALSE(Exists("readonly.txt"));
}

// ---- Tree deletion ----

TEST_F(FileSystemTest, DeleteDirectoryTreeRemovesNestedTree) {
    MakeTree({"t\\", "t\\x.txt", "t\\a\\", "t\\a\\y.txt", "t\\a\\b\\", "t\\a\\b\\c\\", "t\\a\\b\\c\\f.txt", "t\\e\\",
              "keep.txt"});
    DeleteDirectoryTree(root_ + "t");
    EXPECT_FALSE(Exists("t"));
    EXPECT_TRUE(Exists("keep.txt"));
}

TEST_F(FileSystemTest, DeleteDirectoryTreeLeavesDotNamedFilesAndTheirDirectories) {
    MakeTree({"t\\", "t\\w.txt", "t\\a\\", "t\\a\\.keep", "t\\a\\z.txt", "t\\b\\", "t\\b\\v.txt"});
    EXPECT_NO_THROW(DeleteDirectoryTree(root_ + "t"));
    EXPECT_TRUE(Exists("t\\a\\.keep"));
    EXPECT_FALSE(Exists("t\\a\\z.txt"));
    EXPECT_FALSE(Exists("t\\w.txt"));
    EXPECT_FALSE(Exists("t\\b"));

    // Strict: the directory that cannot be removed is an error.
    try {
        DeleteDirectoryTree(root_ + "t", "*.*", false, true);
        ADD_FAILURE() << "no error";
    } catch (const EWin32Error& e) {
        EXPECT_EQ(e.message(), "Failed to remove directory \"" + root_ + "t\\a\"" + SystemSuffix(ERROR_DIR_NOT_EMPTY));
    }
    EXPECT_TRUE(Exists("t\\a\\.keep"));
}

TEST_F(FileSystemTest, DeleteDirectoryTreeStrictRaisesOnFileHeldOpen) {
    for (bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "strict" : "lenient");
        MakeTree({"t\\", "t\\held.txt", "t\\free.txt"});
        const std::string held = root_ + "t\\held.txt";
        // Opened without delete sharing: nobody can delete it while this handle lives.
        UniqueFileHandle file(CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.valid());
        if (strict) {
            try {
                DeleteDirectoryTree(root_ + "t", "*.*", false, true);
                ADD_FAILURE() << "no error";
            } catch (const EWin32Error& e) {
                EXPECT_EQ(e.message(), "Failed to delete file '" + held + "'" + SystemSuffix(e.ErrorCode));
                EXPECT_EQ(e.ErrorCode, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
            }
        } else {
            EXPECT_NO_THROW(DeleteDirectoryTree(root_ + "t"));
            EXPECT_FALSE(Exists("t\\free.txt"));
        }
        EXPECT_TRUE(Exists("t\\held.txt"));
        file.reset();
        DeleteDirectoryTree(root_ + "t");
        EXPECT_FALSE(Exists("t"));
    }
}

TEST_F(FileSystemTest, SingleLinkFilesOnlyKeepsHardLinkedFiles) {
    for (bool singleLinkOnly : {true, false}) {
        SCOPED_TRACE(singleLinkOnly ? "single-link files only" : "all files");
        MakeTree({"t\\", "t\\single.txt", "t\\linked.txt"});
        ASSERT_TRUE(CreateHardLinkA((root_ + "outside.txt").c_str(), (root_ + "t\\linked.txt").c_str(), nullptr));
        EXPECT_EQ(GetFileInformationByName(root_ + "outside.txt").nNumberOfLinks, 2u);

        DeleteDirectoryTree(root_ + "t", "*.*", singleLinkOnly, false);
        EXPECT_FALSE(Exists("t\\single.txt"));
        EXPECT_EQ(Exists("t\\linked.txt"), singleLinkOnly);
        EXPECT_EQ(Exists("t"), singleLinkOnly);
        EXPECT_TRUE(Exists("outside.txt"));

        test::RemoveScratchTree(root_ + "t");
        ASSERT_TRUE(DeleteFileA((root_ + "outside.txt").c_str()));
    }
}

TEST_F(FileSystemTest, DeleteDirectoryTreeDoesNotFollowDirectoryLinks) {
    MakeTree({"target\\", "target\\precious.txt", "t\\", "t\\x.txt"});
    if (!CreateSymbolicLinkA((root_ + "t\\link").c_str(), (root_ + "target").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
        GTEST_SKIP() << "directory links not available here (error " << GetLastError() << ")";
    DWORD attributes = GetFileAttributesA((root_ + "t\\link").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        // Wine 8 reports success for CreateSymbolicLink without creating anything.
        GTEST_SKIP() << "directory links are not created (or not reported as reparse points) here";
    DeleteDirectoryTree(root_ + "t");
    EXPECT_TRUE(Exists("target\\precious.txt"));
    EXPECT_FALSE(Exists("t"));
}

// ---- Information routines ----

TEST_F(FileSystemTest, ResolveFileNameGivesStoredCase) {
    MakeTree({"StoredCase.Txt"});
    for (const char* asked : {"storedcase.txt", "STOREDCASE.TXT", "StoredCase.Txt"}) {
        WIN32_FIND_DATAA data{};
        EXPECT_EQ(ResolveFileName(root_ + asked, &data, true), root_ + "StoredCase.Txt") << asked;
        EXPECT_EQ(data.nFileSizeLow, std::string("content of StoredCase.Txt").size());
    }
    const std::string missing = root_ + "missing.txt";
    EXPECT_EQ(ResolveFileName(missing, nullptr, false), missing);
    try {
        ResolveFileName(missing, nullptr, true);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "File not found: " + missing);
    }
}

TEST_F(FileSystemTest, SearchFilePathFindsFilesInTheGivenDirectories) {
    MakeTree({"found.txt"});
    const std::string directories = root_ + "missing;" + RemoveTrailingBackslash(root_);
    EXPECT_TRUE(SameTextAscii(SearchFilePath(directories, "found.txt"), root_ + "found.txt"));
    EXPECT_EQ(SearchFilePath(directories, "absent.txt"), "");
    // The default order includes the system directory.
    EXPECT_TRUE(SameTextAscii(SearchFilePath("", "kernel32.dll"), SystemDirectory() + "kernel32.dll"));
}

TEST(EnvironmentTest, ValuesAroundTheFirstBufferSize) {
    const char* name = "CM_FS_TEST_VALUE";
    for (size_t length : {1u, 127u, 128u, 129u, 300u, 5000u}) {
        std::string value;
        for (size_t i = 0; i < length; ++i) value += static_cast<char>('a' + i % 26);
        ASSERT_TRUE(SetEnvironmentVariableA(name, value.c_str()));
        EXPECT_EQ(GetEnvironmentValue(name), value) << length;
    }
    ASSERT_TRUE(SetEnvironmentVariableA(name, nullptr));
    EXPECT_EQ(GetEnvironmentValue(name), "");
}

}  // namespace
}  // namespace cm
