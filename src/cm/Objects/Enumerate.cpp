// File deletion and the flag-driven enumeration, which also deletes directory trees.
#include <cstring>

#include "cm/Objects/Errors.h"
#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/SystemWrappers.h"

namespace cm {

namespace {

constexpr const char* kUnit = "cm/Objects";

// The flags DeleteDirectoryTree always passes: DeleteFound + IncludeDirectories + Recursive.
constexpr uint16_t kDeleteTreeFlags = DeleteFound | IncludeDirectories | Recursive;

// The large-fetch search flag exists from Windows 6.1 on; older systems reject the call with it.
bool LargeFetchSupported() {
    static const bool supported = [] {
        OSVERSIONINFOEXA version{};
        version.dwOSVersionInfoSize = sizeof version;
        version.dwMajorVersion = 6;
        version.dwMinorVersion = 1;
        DWORDLONG condition = 0;
        condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
        condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
        return VerifyVersionInfoA(&version, VER_MAJORVERSION | VER_MINORVERSION, condition) != FALSE;
    }();
    return supported;
}

std::string FixedText(const char* text, size_t capacity) { return std::string(text, strnlen(text, capacity)); }

// The pseudo-entries for the directory itself and its parent.
bool IsSelfOrParent(const std::string& name) { return name == "." || name == ".."; }

// Deletes one file found in DeleteFound mode. Without StrictDelete every failure (including
// one to read the link count) leaves the file in place silently.
void DeleteFoundFile(const std::string& path, uint16_t flags) {
    const bool strict = (flags & StrictDelete) != 0;
    if (flags & SingleLinkFilesOnly) {
        // A file with more than one link is shared with a place outside the tree: deleting this
        // name would not free it and would take it from whoever uses that name here.
        DWORD links = 0;
        try {
            links = GetFileInformationByName(path).nNumberOfLinks;
        } catch (const Exception&) {
            if (strict) throw;
            return;
        }
        if (links != 1) return;
    }
    if (strict)
        DeleteFileChecked(path, false);
    else
        DeleteFileA(path.c_str());
}

}  // namespace

void DeleteFileChecked(const std::string& path, bool failIfMissing) {
    if (!failIfMissing && !FileExistsPlain(path)) return;
    if (DeleteFileA(path.c_str())) return;
    DWORD code = GetLastError();
    std::string format = "Failed to delete file '%s'";
    if (code == ERROR_ACCESS_DENIED && IsReadOnlyFile(path)) format += "\r\nCannot delete a read-only file";
    RaiseSystemError(format, {path}, code);
}

bool EnumerateFiles(const std::string& directory, uint16_t flags, const std::string& mask,
                    const FileEnumCallback& callback, void* userData) {
    // A one-character directory is a root or the current directory: never walked, so that a
    // caller's empty or defaulted path cannot turn a tree deletion into a drive deletion.
    if (directory.empty()) return false;
    if (directory.size() == 1 && (directory[0] == '\\' || (directory[0] >= '.' && directory[0] <= '/')))
        return false;

    // Nor is a link (junction, symbolic link) at the root: like the links met inside a tree, its
    // contents belong to another place, and a tree deletion must not reach them.
    const DWORD rootAttributes = GetFileAttributesA(RemoveTrailingBackslash(directory).c_str());
    if (rootAttributes != INVALID_FILE_ATTRIBUTES && (rootAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;

    if ((flags & Recursive) && !(flags & (FullPath | DeleteFound)))
        throw Exception("Invalid file enumeration flags: 'recursive' specified without 'full path'");
    if (flags & DirectoriesOnly) flags |= IncludeDirectories;
    CM_ASSERT(kUnit, !(flags & StrictDelete) || (flags & DeleteFound));

    const std::string base = AddTrailingBackslash(directory);
    const std::string pattern = base + mask;
    WIN32_FIND_DATAA data{};
    // The standard information level is needed for the short names; large fetch reads the
    // directory in bigger chunks where the system supports it.
    UniqueFindHandle find(FindFirstFileExA(pattern.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                                           nullptr, LargeFetchSupported() ? FIND_FIRST_EX_LARGE_FETCH : 0));
    if (!find) return false;

    do {
        const std::string name = FixedText(data.cFileName, sizeof data.cFileName);
        const bool dotName = !name.empty() && name[0] == '.';
        // "." and ".." are never entries, even with IncludeDotNames: handing them on would make
        // a deletion remove the directory being walked or its parent.
        if (IsSelfOrParent(name) || (dotName && !(flags & IncludeDotNames))) continue;

        const bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const std::string path = base + name;

        // Bottom-up: a directory's contents are handled before the directory itself. Dot-named
        // directories are never entered; nor are links to other places (junctions, symbolic
        // links), whose contents do not belong to this tree and must not be deleted with it.
        const bool isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (isDirectory && (flags & Recursive) && !dotName && !isLink)
            EnumerateFiles(path, flags, mask, callback, userData);

        const bool matches = isDirectory ? (flags & IncludeDirectories) != 0 : (flags & DirectoriesOnly) == 0;
        if (!matches) continue;

        if (flags & DeleteFound) {
            if (isDirectory) {
                if (!RemoveDirectoryA(path.c_str()) && (flags & StrictDelete))
                    RaiseLastSystemError("Failed to remove directory \"%s\"", {path});
            } else {
                DeleteFoundFile(path, flags);
            }
        } else if (callback) {
            FileEnumEntry entry;
            entry.Name = name;
            if (flags & FullPath) entry.FullPath = path;
            if (flags & ShortName) {
                // The system leaves the short name empty when the name is already a valid 8.3 name.
                entry.ShortName = FixedText(data.cAlternateFileName, sizeof data.cAlternateFileName);
                if (entry.ShortName.empty()) entry.ShortName = name;
            }
            if (flags & LowerCaseNames) {
                entry.Name = LowerCaseAscii(entry.Name);
                entry.FullPath = LowerCaseAscii(entry.FullPath);
                entry.ShortName = LowerCaseAscii(entry.ShortName);
            }
            entry.FindData = data;
            callback(userData, entry);
        }
    } while (FindNextFileA(find.get(), &data));
    return true;
}

void DeleteDirectoryTree(const std::string& directory, const std::string& mask, bool singleLinkFilesOnly,
                         bool strict) {
    uint16_t flags = kDeleteTreeFlags;
    if (singleLinkFilesOnly) flags |= SingleLinkFilesOnly;
    if (strict) flags |= StrictDelete;
    EnumerateFiles(directory, flags, mask, nullptr);
    // The directory stays when something in it was left behind; that is not an error here.
    if (!directory.empty()) RemoveDirectoryA(directory.c_str());
}

}  // namespace cm
