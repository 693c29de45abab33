// Directories, the temporary directory, attribute tests, deletion and the flag-driven file
// enumeration (which also deletes directory trees). Every system failure raises EWin32Error in
// the system error message form.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "cm/Objects/WinApi.h"

namespace cm {

// ---- Directories ----

// True when the directory was created; false when it already existed and failIfExists is false.
// Raises "Cannot create directory '%s'" for every other failure.
bool CreateDirectoryChecked(const std::string& path, SECURITY_ATTRIBUTES* security, bool failIfExists);

// Creates the directory and its missing parents; true when at least the last directory was
// created by this call. Failures are re-raised with "Failed to create directory (%s): %s"
// (context, path) or "Failed to create directory: %s" (path) in front.
bool ForceDirectoryPath(const std::string& path, std::string_view context = {});

// Directory-created notifications: called in list order with (user data, path) after
// ForceDirectoryPath created a directory chain.
using DirectoryCreatedCallback = void (*)(void* userData, const std::string& path);
struct DirectoryCreatedNotification {
    DirectoryCreatedCallback Callback = nullptr;
    bool Enabled = true;
    void* UserData = nullptr;
};
// Returns a handle for removal. The process-wide list is guarded; callbacks run outside the guard.
int AddDirectoryCreatedNotification(DirectoryCreatedCallback callback, void* userData, bool enabled = true);
void RemoveDirectoryCreatedNotification(int handle);

// The user's temporary directory with a trailing backslash, forced to exist.
// Raises "Failed to get temporary directory".
std::string GetTempDirectory();

// Attribute tests; an unreadable path is false.
bool FileExistsPlain(const std::string& path);
bool DirectoryExistsPlain(const std::string& path);
bool IsReadOnlyFile(const std::string& path);

// ---- Deletion and enumeration ----

enum FileEnumFlags : uint16_t {
    LowerCaseNames = 0x0001,
    FullPath = 0x0002,
    ShortName = 0x0004,
    DeleteFound = 0x0008,
    IncludeDirectories = 0x0010,
    DirectoriesOnly = 0x0020,
    Recursive = 0x0040,
    IncludeDotNames = 0x0080,
    SingleLinkFilesOnly = 0x0100,
    StrictDelete = 0x0200,
};

struct FileEnumEntry {
    std::string Name;
    std::string FullPath;   // only with FullPath
    std::string ShortName;  // only with ShortName
    WIN32_FIND_DATAA FindData;
};

using FileEnumCallback = std::function<void(void* userData, const FileEnumEntry& entry)>;

// Deletes the file. Without failIfMissing a path that is not an existing file is left alone.
// Raises "Failed to delete file '%s'" (+ CR LF "Cannot delete a read-only file" for code 5 on a
// read-only file).
void DeleteFileChecked(const std::string& path, bool failIfMissing);

// Walks directory\mask by the flags; returns true when the first search found anything. Links to
// other places (junctions, symbolic links) are never walked, at the root or below it.
bool EnumerateFiles(const std::string& directory, uint16_t flags, const std::string& mask,
                    const FileEnumCallback& callback, void* userData = nullptr);

// Deletes every file and subdirectory matching mask under the directory, bottom-up, then the
// directory itself (a failure of that last removal is ignored).
void DeleteDirectoryTree(const std::string& directory, const std::string& mask = "*.*",
                         bool singleLinkFilesOnly = false, bool strict = false);

// ---- System and file information ----

bool IsWindows64Bit();
// Full path of the file found on the search path (empty list: the system's order), or empty.
std::string SearchFilePath(const std::string& searchPath, const std::string& fileName);
// The path with its last component in the stored case; raises "File not found: " + path when
// nothing matches and raiseIfMissing is set, else returns the path unchanged.
std::string ResolveFileName(const std::string& path, WIN32_FIND_DATAA* findData, bool raiseIfMissing);
// The variable's value, or empty when it is not set.
std::string GetEnvironmentValue(const std::string& name);

}  // namespace cm
