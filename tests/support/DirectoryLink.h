// Test support (Windows): a link to a directory planted where a program expects a directory of
// its own, as another program of the same user could plant one.
//
// On Windows it is a junction: a mount-point reparse point set on an empty directory. Wine 8 makes
// no links of either kind (FSCTL_SET_REPARSE_POINT answers ERROR_NOT_SUPPORTED, CreateSymbolicLink
// reports success and makes nothing), but reports a symbolic link of the host's file system as a
// directory with FILE_ATTRIBUTE_REPARSE_POINT: there the link is made with the host's `ln`, started
// through Wine's own spawn routine. Wine cannot remove such a link either (RemoveDirectory and
// DeleteFile fail on it), so RemoveDirectoryLink uses the host's `rm` there.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include <winioctl.h>

#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"

namespace cm::test {

namespace detail {

// The mount-point form of the reparse data (ntifs.h, not among the user-mode headers).
struct MountPointReparseBuffer {
    ULONG ReparseTag;
    USHORT ReparseDataLength;
    USHORT Reserved;
    USHORT SubstituteNameOffset;
    USHORT SubstituteNameLength;
    USHORT PrintNameOffset;
    USHORT PrintNameLength;
    WCHAR PathBuffer[1];
};
constexpr DWORD ReparseHeaderSize = 8;  // tag, data length, reserved

inline bool IsLink(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

inline std::wstring FullWidePath(const std::string& path) {
    char full[MAX_PATH + 1] = {};
    ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    wchar_t wide[MAX_PATH + 1] = {};
    ::MultiByteToWideChar(CP_ACP, 0, full, -1, wide, MAX_PATH);
    return wide;
}

inline bool MakeJunction(const std::string& link, const std::string& target) {
    if (!::CreateDirectoryA(link.c_str(), nullptr)) return false;
    bool made = false;
    {
        cm::UniqueFileHandle handle(::CreateFileA(link.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (handle) {
            const std::wstring print = FullWidePath(target);
            const std::wstring substitute = L"\\??\\" + print;
            const size_t pathBytes = (substitute.size() + 1 + print.size() + 1) * sizeof(WCHAR);
            std::vector<BYTE> buffer(offsetof(MountPointReparseBuffer, PathBuffer) + pathBytes);
            auto* data = reinterpret_cast<MountPointReparseBuffer*>(buffer.data());
            data->ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
            data->ReparseDataLength =
                static_cast<USHORT>(offsetof(MountPointReparseBuffer, PathBuffer) - ReparseHeaderSize + pathBytes);
            data->SubstituteNameOffset = 0;
            data->SubstituteNameLength = static_cast<USHORT>(substitute.size() * sizeof(WCHAR));
            data->PrintNameOffset = static_cast<USHORT>((substitute.size() + 1) * sizeof(WCHAR));
            data->PrintNameLength = static_cast<USHORT>(print.size() * sizeof(WCHAR));
            std::memcpy(data->PathBuffer, substitute.c_str(), (substitute.size() + 1) * sizeof(WCHAR));
            std::memcpy(reinterpret_cast<BYTE*>(data->PathBuffer) + data->PrintNameOffset, print.c_str(),
                        (print.size() + 1) * sizeof(WCHAR));
            DWORD returned = 0;
            made = ::DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, data, static_cast<DWORD>(buffer.size()),
                                     nullptr, 0, &returned, nullptr) != FALSE;
        }
    }
    if (!made) ::RemoveDirectoryA(link.c_str());
    return made;
}

// Wine's routines, present only under Wine: a host program run with its arguments, and the host
// path of a Windows path (the caller frees it from the process heap). Their calling conventions
// differ: the spawn routine is a system routine (stdcall: on x86 it removes its arguments from
// the stack itself), the file-name routine a C one. On x64 both are the one convention there is.
using WineSpawn = LONG(WINAPI*)(char* const argv[], int wait);
using WineUnixName = char*(__cdecl*)(const wchar_t* path);

// Runs a host program under Wine and waits for it; false where this is not Wine.
inline bool RunHostProgram(std::vector<std::string> arguments) {
    auto spawn = reinterpret_cast<WineSpawn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp")));
    if (!spawn) return false;
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return spawn(argv.data(), 1) == 0;
}

inline std::string HostPath(const std::string& path) {
    auto unixName = reinterpret_cast<WineUnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return {};
    char* name = unixName(FullWidePath(path).c_str());
    if (!name) return {};
    std::string text = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return text;
}

}  // namespace detail

// Makes `link` (which must not exist; no trailing backslash) a link to the directory `target`.
// Returns true when `link` then reads as a link (FILE_ATTRIBUTE_REPARSE_POINT); false where this
// system can make none.
inline bool MakeDirectoryLink(const std::string& link, const std::string& target) {
    if (detail::MakeJunction(link, target)) return detail::IsLink(link);
    const std::string hostTarget = detail::HostPath(target), hostLink = detail::HostPath(link);
    if (hostTarget.empty() || hostLink.empty()) return false;
    return detail::RunHostProgram({"/bin/ln", "-s", hostTarget, hostLink}) && detail::IsLink(link);
}

// Removes a link made by MakeDirectoryLink, never what it points to.
inline void RemoveDirectoryLink(const std::string& link) {
    if (::RemoveDirectoryA(link.c_str()) || !detail::IsLink(link)) return;
    const std::string hostLink = detail::HostPath(link);
    if (!hostLink.empty()) detail::RunHostProgram({"/bin/rm", "-f", hostLink});
}

}  // namespace cm::test
