#include "cm/Objects/PrivateDirectory.h"

#include <sddl.h>

#include "cm/Objects/Errors.h"
#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Format.h"
#include "cm/Objects/Strings.h"

namespace cm {

namespace {

// Access lists in the security descriptor language: protected (no inherited entries), full access
// for the named principals only, inherited by every file and subdirectory made inside.
constexpr const char* AdministratorsAndSystemAcl = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
constexpr const char* UserAclPrefix = "D:P(A;OICI;FA;;;";

std::string CurrentUserSidText() {
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken))
        RaiseLastSystemError("Failed to open the process token");
    UniqueHandle token(rawToken);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        RaiseLastSystemError("Failed to read the process token's user");
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        RaiseLastSystemError("Failed to convert the user's security identifier");
    UniqueLocalMemory owned(text);
    return text;
}

void CreateDirectoryWithAccess(const std::string& path, TPrivateDirectoryAccess access) {
    UniqueLocalMemory descriptor = PrivateDirectorySecurity(access);
    SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
    // Fails when anything appeared at the path since the caller looked: never reused unseen.
    CreateDirectoryChecked(path, &security, true);
}

// Opened without sharing deletion: the directory cannot be removed or renamed while held. The
// reparse-point flag opens a link itself rather than its target, so that a link is seen as one.
UniqueFileHandle HoldDirectory(const std::string& path) {
    UniqueFileHandle handle(::CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) RaiseLastSystemError("Cannot open directory '%s'", {path});
    return handle;
}

[[noreturn]] void RaiseLink(const std::string& path) {
    throw Exception(Format("Cannot use directory '%s': it is a link to another location", {path}));
}

}  // namespace

UniqueLocalMemory PrivateDirectorySecurity(TPrivateDirectoryAccess access) {
    const std::string acl = access == TPrivateDirectoryAccess::AdministratorsAndSystem
                                ? std::string(AdministratorsAndSystemAcl)
                                : UserAclPrefix + CurrentUserSidText() + ")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(acl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        RaiseLastSystemError("Failed to build an access list");
    return UniqueLocalMemory(descriptor);
}

bool IsProcessElevated() {
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return false;
    UniqueHandle token(rawToken);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

TPrivateDirectoryAccess DefaultPrivateDirectoryAccess() {
    return IsProcessElevated() ? TPrivateDirectoryAccess::AdministratorsAndSystem
                               : TPrivateDirectoryAccess::CurrentUser;
}

UniqueFileHandle OpenPrivateDirectory(const std::string& path, TPrivateDirectoryAccess access) {
    const std::string directory = RemoveTrailingBackslash(path);
    const DWORD attributes = ::GetFileAttributesA(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryWithAccess(directory, access);
    else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        RaiseLink(directory);
    UniqueFileHandle held = HoldDirectory(directory);
    // Looked at again, through the handle and by the path, also for a directory just made: the
    // path may have been swapped for a link before it was opened. (Some systems report a link
    // opened through the handle as its target, but by the path as a link.)
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(held.get(), &information))
        RaiseLastSystemError("Cannot open directory '%s'", {directory});
    const DWORD byPath = ::GetFileAttributesA(directory.c_str());
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (byPath != INVALID_FILE_ATTRIBUTES && (byPath & FILE_ATTRIBUTE_REPARSE_POINT)))
        RaiseLink(directory);
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        throw Exception(Format("Cannot use directory '%s': it is a file", {directory}));

    // Whatever was left or planted here (also in the moment between making and holding a new
    // directory) goes before anything of ours is written.
    EnumerateFiles(directory, DeleteFound | IncludeDirectories | Recursive | IncludeDotNames, "*", nullptr);
    std::string remaining;
    EnumerateFiles(directory, IncludeDirectories | IncludeDotNames, "*", [&](void*, const FileEnumEntry& entry) {
        if (remaining.empty()) remaining = entry.Name;
    });
    if (!remaining.empty())
        throw Exception(Format("Cannot empty directory '%s': '%s' could not be removed", {directory, remaining}));
    return held;
}

}  // namespace cm
