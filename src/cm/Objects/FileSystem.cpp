// Directories, the temporary directory, attribute tests and file-system information.
#include "cm/Objects/FileSystem.h"

#include <cstring>
#include <vector>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"

namespace cm {

namespace {

// Buffer sizes the system's own path routines are asked with first.
constexpr DWORD kPathBufferSize = MAX_PATH;
constexpr DWORD kEnvironmentBufferSize = 128;

// Processor architectures that mean a 64-bit Windows (IA-64, x64, 32-bit code on 64-bit Windows).
constexpr WORD kArchitectureIa64 = 6;
constexpr WORD kArchitectureAmd64 = 9;
constexpr WORD kArchitectureIa32OnWin64 = 10;

// ---- Directory-created notifications ----

struct NotificationSlot {
    int Handle;
    DirectoryCreatedNotification Entry;
};

// A slim lock needs no construction, so the list is usable before and after static initialisation.
SRWLOCK notificationLock = SRWLOCK_INIT;
std::vector<NotificationSlot>& NotificationList() {
    static std::vector<NotificationSlot> list;
    return list;
}
int lastNotificationHandle = 0;

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

// Calls the enabled notifications in list order. The list is copied under the lock and the
// callbacks run outside it, so a callback may add or remove notifications.
void NotifyDirectoryCreated(const std::string& path) {
    std::vector<DirectoryCreatedNotification> entries;
    {
        ExclusiveLock guard(notificationLock);
        for (const NotificationSlot& slot : NotificationList())
            if (slot.Entry.Enabled && slot.Entry.Callback != nullptr) entries.push_back(slot.Entry);
    }
    for (const DirectoryCreatedNotification& entry : entries) entry.Callback(entry.UserData, path);
}

// Creates the directory and its missing parents without context or notifications, so that a
// failure anywhere in the chain is reported once by the outermost call.
bool ForceDirectoryChain(const std::string& path) {
    std::string directory = RemoveTrailingBackslash(path);
    // A bare drive ("C:") is never created; the length test comes first so it costs no disk access.
    if (directory.size() <= 2 || DirectoryExistsPlain(directory)) return false;
    std::string parent = ExtractPathPart(directory);
    if (parent == directory) return false;
    if (!parent.empty()) ForceDirectoryChain(parent);
    return CreateDirectoryChecked(directory, nullptr, false);
}

}  // namespace

int AddDirectoryCreatedNotification(DirectoryCreatedCallback callback, void* userData, bool enabled) {
    ExclusiveLock guard(notificationLock);
    int handle = ++lastNotificationHandle;
    NotificationList().push_back({handle, {callback, enabled, userData}});
    return handle;
}

void RemoveDirectoryCreatedNotification(int handle) {
    ExclusiveLock guard(notificationLock);
    auto& list = NotificationList();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->Handle == handle) {
            list.erase(it);
            return;
        }
    }
}

// ---- Directories ----

bool CreateDirectoryChecked(const std::string& path, SECURITY_ATTRIBUTES* security, bool failIfExists) {
    if (CreateDirectoryA(path.c_str(), security)) return true;
    DWORD code = GetLastError();
    // "Already exists" is only success when the thing that exists is a directory: a file of
    // that name would otherwise be reported as a usable directory.
    if (code == ERROR_ALREADY_EXISTS && !failIfExists && DirectoryExistsPlain(path)) return false;
    RaiseSystemError("Cannot create directory '%s'", {path}, code);
}

bool ForceDirectoryPath(const std::string& path, std::string_view context) {
    if (path.empty()) return false;
    bool created = false;
    try {
        created = ForceDirectoryChain(path);
    } catch (...) {
        if (!context.empty())
            ReraiseWithContextFmt("Failed to create directory (%s): %s", {context, path});
        ReraiseWithContextFmt("Failed to create directory: %s", {path});
    }
    if (created) NotifyDirectoryCreated(path);
    return created;
}

std::string GetTempDirectory() {
    std::string buffer(kPathBufferSize, '\0');
    DWORD length = GetTempPathA(kPathBufferSize, buffer.data());
    if (length > kPathBufferSize) {
        // The buffer was too small: the result is the size needed, terminator included.
        buffer.assign(length, '\0');
        length = GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length >= buffer.size()) length = 0;
    }
    if (length == 0) RaiseLastSystemError("Failed to get temporary directory");
    buffer.resize(length);
    ForceDirectoryPath(buffer, "temporary directory");
    return AddTrailingBackslash(buffer);
}

// ---- Attribute tests ----

bool FileExistsPlain(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExistsPlain(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsReadOnlyFile(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// ---- System and file information ----

bool IsWindows64Bit() {
    static const bool is64Bit = [] {
        // GetNativeSystemInfo is looked up rather than imported: the program must still load on
        // systems without it, where the ordinary information is the native one.
        using GetNativeSystemInfoProc = void(WINAPI*)(SYSTEM_INFO*);
        SYSTEM_INFO info{};
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        FARPROC proc = kernel != nullptr ? GetProcAddress(kernel, "GetNativeSystemInfo") : nullptr;
        if (proc != nullptr)
            reinterpret_cast<GetNativeSystemInfoProc>(reinterpret_cast<void*>(proc))(&info);
        else
            GetSystemInfo(&info);
        WORD architecture = info.wProcessorArchitecture;
        return architecture == kArchitectureIa64 || architecture == kArchitectureAmd64 ||
               architecture == kArchitectureIa32OnWin64;
    }();
    return is64Bit;
}

std::string SearchFilePath(const std::string& searchPath, const std::string& fileName) {
    const char* directories = searchPath.empty() ? nullptr : searchPath.c_str();
    std::string buffer(kPathBufferSize, '\0');
    DWORD length = SearchPathA(directories, fileName.c_str(), nullptr, kPathBufferSize, buffer.data(), nullptr);
    if (length > kPathBufferSize) {
        // A longer result: the return value is the size needed, terminator included.
        buffer.assign(length, '\0');
        length = SearchPathA(directories, fileName.c_str(), nullptr, static_cast<DWORD>(buffer.size()),
                             buffer.data(), nullptr);
        if (length >= buffer.size()) length = 0;
    }
    buffer.resize(length);
    return buffer;
}

std::string ResolveFileName(const std::string& path, WIN32_FIND_DATAA* findData, bool raiseIfMissing) {
    WIN32_FIND_DATAA data{};
    UniqueFindHandle find(FindFirstFileA(path.c_str(), &data));
    if (!find) {
        if (raiseIfMissing) throw Exception("File not found: " + path);
        return path;
    }
    if (findData != nullptr) *findData = data;
    return ExtractPathPart(path) + std::string(data.cFileName, strnlen(data.cFileName, sizeof data.cFileName));
}

std::string GetEnvironmentValue(const std::string& name) {
    char small[kEnvironmentBufferSize];
    DWORD length = GetEnvironmentVariableA(name.c_str(), small, kEnvironmentBufferSize);
    if (length < kEnvironmentBufferSize) return std::string(small, length);  // 0: not set (or empty)

    // The value did not fit: length is the size needed, terminator included.
    std::vector<char> large(length);
    DWORD again = GetEnvironmentVariableA(name.c_str(), large.data(), length);
    if (again != length - 1)
        throw Exception(Format("Failed to get value of environment variable \"%s\": Buffer size mismatch", {name}));
    if (large[again] != '\0')
        throw Exception(Format("Failed to get value of environment variable \"%s\": Null terminator missing", {name}));
    return std::string(large.data(), again);
}

}  // namespace cm
