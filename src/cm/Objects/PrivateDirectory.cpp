#include "cm/Objects/PrivateDirectory.h"

#include <sddl.h>
#include <winternl.h>

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

// The system's form of a full path, as the native file routines take it: \??\C:\..., and
// \??\UNC\server\share\... for a network path.
std::wstring NativePath(const std::string& path) {
    wchar_t wide[MAX_PATH + 1] = {};
    if (::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0)
        RaiseLastSystemError("Cannot create directory '%s'", {path});
    wchar_t full[MAX_PATH + 1] = {};
    const DWORD length = ::GetFullPathNameW(wide, MAX_PATH, full, nullptr);
    if (length == 0 || length > MAX_PATH) RaiseLastSystemError("Cannot create directory '%s'", {path});
    const std::wstring text(full, length);
    if (text.rfind(L"\\\\?\\", 0) == 0 || text.rfind(L"\\\\.\\", 0) == 0) return L"\\??\\" + text.substr(4);
    if (text.rfind(L"\\\\", 0) == 0) return L"\\??\\UNC\\" + text.substr(2);
    return L"\\??\\" + text;
}

constexpr NTSTATUS StatusNameCollision = static_cast<NTSTATUS>(0xC0000035);  // STATUS_OBJECT_NAME_COLLISION
constexpr ULONG CreateNew = 2;                                               // FILE_CREATE
constexpr ULONG DirectoryOnly = 0x1;                                         // FILE_DIRECTORY_FILE
constexpr ULONG SynchronousIo = 0x20;                                        // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG ForBackup = 0x4000;                                          // FILE_OPEN_FOR_BACKUP_INTENT

// Creates the directory and opens it in one call, or answers that something exists at the path
// (nullptr and collision set). Opened without sharing deletion: the directory can be neither
// removed nor renamed by others while held. The handle itself has no right to delete either:
// everybody else who opens the directory (the setup listing its files) would then have to share
// deletion, and the system's own directory listing does not.
UniqueFileHandle CreateAndHold(const std::string& path, PSECURITY_DESCRIPTOR security, bool& collision) {
    std::wstring native = NativePath(path);
    UNICODE_STRING name{};
    name.Buffer = native.data();
    name.Length = static_cast<USHORT>(native.size() * sizeof(wchar_t));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &name;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    attributes.SecurityDescriptor = security;
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const NTSTATUS status = ::NtCreateFile(
        &handle, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE, &attributes, &io,
        nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, CreateNew,
        DirectoryOnly | SynchronousIo | ForBackup, nullptr, 0);
    collision = status == StatusNameCollision;
    if (collision) return UniqueFileHandle();
    if (status < 0) RaiseSystemError("Cannot create directory '%s'", {path}, ::RtlNtStatusToDosError(status));
    return UniqueFileHandle(handle);
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

UniqueFileHandle CreatePrivateDirectory(const std::string& base, TPrivateDirectoryAccess access, std::string& made,
                                        int tries) {
    const std::string first = RemoveTrailingBackslash(base);
    UniqueLocalMemory descriptor = PrivateDirectorySecurity(access);
    std::string path;
    for (int n = 1; n <= tries; ++n) {
        path = n == 1 ? first : first + "_" + std::to_string(n);
        bool collision = false;
        UniqueFileHandle held = CreateAndHold(path, descriptor.get(), collision);
        if (!collision) {
            made = path;
            return held;
        }
    }
    throw Exception(
        Format("Cannot create a private directory at '%s': the names up to '%s' are all taken", {first, path}));
}

bool RemovePrivateDirectory(UniqueFileHandle held, const std::string& path) noexcept {
    const std::string directory = RemoveTrailingBackslash(path);
    try {
        // By name, below the held directory: it stays where it is meanwhile.
        EnumerateFiles(directory, DeleteFound | IncludeDirectories | Recursive | IncludeDotNames, "*", nullptr);
    } catch (...) {
        // What stays makes the removal of the directory fail below.
    }
    held.reset();
    // Empty now: whatever might be found at the name after the hold is gone, removing it deletes
    // nothing else (a link is removed itself, never what it points to).
    return ::RemoveDirectoryA(directory.c_str()) != FALSE;
}

}  // namespace cm
