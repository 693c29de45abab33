// Checked wrappers over single system calls: each failure raises EWin32Error in the system error
// message form. Handles print as 0x0 + their value in hex, addresses as 0x0 + a pointer.
#include "cm/Objects/SystemWrappers.h"

#include <cstdio>
#include <vector>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"

namespace cm {

namespace {

// A computer name is at most 15 characters; the system is asked with room for its terminator.
constexpr DWORD kComputerNameBufferSize = MAX_COMPUTERNAME_LENGTH + 1;
// Length of the braced GUID text {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
constexpr int kGuidTextLength = 38;

uintptr_t HandleValue(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }

// Combines the two halves the file-pointer and file-size calls return.
int64_t Combine(DWORD low, LONG high) {
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low);
}

}  // namespace

HMODULE LoadLibraryChecked(const std::string& name) {
    HMODULE module = LoadLibraryA(name.c_str());
    if (module == nullptr) RaiseLastSystemError("Cannot load library '%s'", {name});
    return module;
}

FARPROC GetProcAddressChecked(HMODULE module, const std::string& name) {
    FARPROC proc = GetProcAddress(module, name.c_str());
    if (proc == nullptr) RaiseLastSystemError("Cannot get address of procedure '%s'", {name});
    return proc;
}

HMODULE GetModuleHandleChecked(const std::string& name) {
    // An empty name asks for the program's own module.
    HMODULE module = GetModuleHandleA(name.empty() ? nullptr : name.c_str());
    if (module == nullptr) RaiseLastSystemError("Cannot get handle of module '%s'", {name});
    return module;
}

std::string GetModuleFileNameChecked(HMODULE module) {
    // The call truncates silently when the buffer is too small (the result then fills it), so
    // the buffer grows until the name fits.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) RaiseLastSystemError("Cannot get filename of module 0x0%x", {HandleValue(module)});
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

void CloseHandleChecked(HANDLE handle) {
    if (!CloseHandle(handle)) RaiseLastSystemError("Failed to close handle 0x0%x", {HandleValue(handle)});
}

void SetFileTimeChecked(HANDLE file, const FILETIME* creation, const FILETIME* access, const FILETIME* write) {
    CheckSystemCall(SetFileTime(file, creation, access, write) != FALSE, "Failed to set file time");
}

BY_HANDLE_FILE_INFORMATION GetFileInformationChecked(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info))
        RaiseLastSystemError("Failed to get file information for handle 0x0%x", {HandleValue(file)});
    return info;
}

int64_t SetFilePointerChecked(HANDLE file, int64_t distance, DWORD method) {
    LONG high = static_cast<LONG>(distance >> 32);
    // All ones is also the low half of a valid position; only the error code tells them apart,
    // so it is cleared first rather than trusting the call to reset it on success.
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, static_cast<LONG>(static_cast<uint32_t>(distance)), &high, method);
    if (low == INVALID_SET_FILE_POINTER) {
        DWORD code = GetLastError();
        if (code != NO_ERROR) RaiseSystemError("Failed to set file pointer for handle 0x0%x", {HandleValue(file)}, code);
    }
    return Combine(low, high);
}

int64_t GetFileSizeChecked(HANDLE file) {
    DWORD high = 0;
    SetLastError(NO_ERROR);  // as above: all ones is a valid low half of a size
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE) {
        DWORD code = GetLastError();
        if (code != NO_ERROR) RaiseSystemError("Failed to get file size for handle 0x0%x", {HandleValue(file)}, code);
    }
    return Combine(low, static_cast<LONG>(high));
}

void SetEndOfFileChecked(HANDLE file) {
    if (!SetEndOfFile(file)) RaiseLastSystemError("Failed to set end of file for handle 0x0%x", {HandleValue(file)});
}

BY_HANDLE_FILE_INFORMATION GetFileInformationByName(const std::string& path) {
    // Read and write sharing: the file may be open elsewhere (a log being written, a module in use).
    UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) RaiseLastSystemError("Cannot open file for getting file information: %s", {path});
    return GetFileInformationChecked(file.get());
}

std::string GuidToString(const GUID& guid) {
    char buffer[kGuidTextLength + 1];
    int length = std::snprintf(buffer, sizeof buffer, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                               static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                               guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                               guid.Data4[6], guid.Data4[7]);
    if (length != kGuidTextLength) throw Exception("Failed to convert GUID to string");
    return std::string(buffer, length);
}

HANDLE DuplicateHandleChecked(HANDLE source, HANDLE fromProcess, HANDLE toProcess) {
    HANDLE target = nullptr;
    if (!DuplicateHandle(fromProcess, source, toProcess, &target, 0, FALSE, DUPLICATE_SAME_ACCESS))
        RaiseLastSystemError("Failed to duplicate handle 0x0%x (with same access rights, from process 0x0%x to 0x0%x)",
                             {HandleValue(source), HandleValue(fromProcess), HandleValue(toProcess)});
    return target;
}

void* VirtualAllocChecked(void* address, size_t size, DWORD allocationType, DWORD protect) {
    void* block = VirtualAlloc(address, size, allocationType, protect);
    if (block == nullptr)
        RaiseLastSystemError("Failed to allocate %d bytes of virtual memory at 0x0%p", {size, address});
    return block;
}

void VirtualFreeChecked(void* address, size_t size, DWORD freeType) {
    if (!VirtualFree(address, size, freeType))
        RaiseLastSystemError("Failed to free %d bytes of virtual memory at 0x0%p", {size, address});
}

MEMORY_BASIC_INFORMATION VirtualQueryChecked(const void* address) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(address, &info, sizeof info) == 0)
        RaiseLastSystemError("Failed to query virtual memory at 0x0%p", {address});
    return info;
}

void FlushFileBuffersChecked(HANDLE file) {
    CheckSystemCall(FlushFileBuffers(file) != FALSE, "Failed to flush file buffers");
}

DWORD ProtectMemory(void* address, size_t size, DWORD protect) {
    DWORD old = 0;
    if (!VirtualProtect(address, size, protect, &old))
        RaiseLastSystemError("Failed to change protection of %d bytes at 0x0%p", {size, address});
    return old;
}

std::string GetComputerNameChecked() {
    // Read once: a failure leaves nothing cached, so the next call asks again.
    static const std::string name = [] {
        char buffer[kComputerNameBufferSize];
        DWORD length = kComputerNameBufferSize;
        CheckSystemCall(GetComputerNameA(buffer, &length) != FALSE, "Failed to get computer name");
        return std::string(buffer, length);
    }();
    return name;
}

std::string GetComputerNameSafe() {
    try {
        return GetComputerNameChecked();
    } catch (const Exception& e) {
        return "<Unknown:" + e.message() + ">";
    }
}

const std::string& SystemDirectory() {
    static const std::string directory = [] {
        std::vector<char> buffer(MAX_PATH);
        UINT length = GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length >= buffer.size()) {
            // The result is the size needed, terminator included.
            buffer.resize(length);
            length = GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
            if (length >= buffer.size()) length = 0;
        }
        if (length == 0) RaiseLastSystemError("Failed to get system directory");
        return AddTrailingBackslash(std::string_view(buffer.data(), length));
    }();
    return directory;
}

bool ReserveExceptionStack() noexcept {
    ULONG size = ExceptionStackReserveBytes;
    return ::SetThreadStackGuarantee(&size) != FALSE;
}

}  // namespace cm
