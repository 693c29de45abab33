#include "cm/StreamUtils/FileStream.h"

#include <algorithm>
#include <cstring>

#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/SystemWrappers.h"
#include "cm/StreamUtils/MappedFileStream.h"

namespace cm {

namespace {

constexpr const char* Unit = "cm/StreamUtils";
constexpr int32_t OpenAttemptsPerSecond = 20;
constexpr DWORD OpenRetryDelayMs = 50;
constexpr int32_t CompareChunkSize = 1 << 20;  // 1,048,576 bytes per mapped comparison chunk

DWORD AccessOf(uint16_t mode) {
    switch (mode & FileModeAccessMask) {
        case fmOpenRead: return GENERIC_READ;
        case fmOpenWrite: return GENERIC_WRITE;
        case fmOpenReadWrite: return GENERIC_READ | GENERIC_WRITE;
    }
    AssertionFailure(Unit, __LINE__, "valid access value in open mode");
}

DWORD SharingOf(uint16_t mode) {
    switch (mode & FileModeShareMask) {
        case fmShareCompat:
        case fmShareExclusive: return 0;
        case fmShareDenyWrite: return FILE_SHARE_READ;
        case fmShareDenyRead: return FILE_SHARE_WRITE;
        case fmShareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
    AssertionFailure(Unit, __LINE__, "valid sharing value in open mode");
}

// The attribute and flag value of CreateFile for the file flags.
DWORD AttributesOf(uint16_t flags) {
    if (flags == 0) return FILE_ATTRIBUTE_NORMAL;
    DWORD result = 0;
    if (flags & ffWriteThrough) result |= FILE_FLAG_WRITE_THROUGH;
    if (flags & ffNoBuffering) result |= FILE_FLAG_NO_BUFFERING;
    if (flags & ffSequentialScan) result |= FILE_FLAG_SEQUENTIAL_SCAN;
    if (flags & ffDeleteOnClose) result |= FILE_FLAG_DELETE_ON_CLOSE;
    if (flags & ffTemporary) result |= FILE_ATTRIBUTE_TEMPORARY;
    if (flags & ffOverlapped) result |= FILE_FLAG_OVERLAPPED;
    if (flags & ffRandomAccess) result |= FILE_FLAG_RANDOM_ACCESS;
    return result;
}

bool IsMissingPathError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_DRIVE;
}

FILETIME ToFileTime(int64_t time) {
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(time));
    result.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(time) >> 32);
    return result;
}

}  // namespace

std::string FileOpenFailureMessage(const std::string& fileName, uint16_t mode, uint32_t error) {
    const bool create = mode == fmCreate;
    if (error == ERROR_ACCESS_DENIED && (create || (mode & FileModeAccessMask) != fmOpenRead) &&
        IsReadOnlyFile(fileName))
        return Format(create ? "Cannot overwrite a read-only file: %s" : "Cannot open a read-only file for writing: %s",
                      {fileName});
    return Format(create ? "Cannot create file: %s" : "Cannot open file: %s", {fileName});
}

TFileStreamEx::TFileStreamEx(const std::string& fileName, uint16_t mode, uint16_t flags, int32_t retrySeconds)
    : FFileName(fileName), FFlags(flags) {
    CM_ASSERT(Unit, retrySeconds >= 0);
    const bool create = mode == fmCreate;
    DWORD access, sharing, disposition;
    if (create) {
        access = GENERIC_READ | GENERIC_WRITE;
        sharing = 0;
        disposition = CREATE_ALWAYS;
    } else {
        access = AccessOf(mode);
        sharing = SharingOf(mode);
        if (flags & ffShareDelete) sharing |= FILE_SHARE_DELETE;
        disposition = (flags & ffCreateAlways) ? CREATE_ALWAYS : (flags & ffOpenAlways) ? OPEN_ALWAYS : OPEN_EXISTING;
    }
    const DWORD attributes = AttributesOf(flags);

    int32_t attempts = retrySeconds * OpenAttemptsPerSecond;
    bool directoryTried = false;
    while (attempts >= 0) {
        FHandle.reset(::CreateFileA(fileName.c_str(), access, sharing, nullptr, disposition, attributes, nullptr));
        if (FHandle.valid()) return;
        const DWORD error = ::GetLastError();
        if (attempts != 0 && !IsMissingPathError(error)) {
            // Another process may hold the file (a scanner, the previous run still exiting).
            ::Sleep(OpenRetryDelayMs);
            --attempts;
            continue;
        }
        std::string message;
        try {
            if ((flags & ffForceDirectories) && !directoryTried) {
                directoryTried = true;
                if (ForceDirectoryPath(ExtractPathPart(fileName))) continue;  // at once, attempts unchanged
            }
            message = FileOpenFailureMessage(fileName, mode, error);
        } catch (const Exception& e) {
            message = e.message();
        }
        RaiseSystemError("%s", {message}, error);
    }
}

TFileStreamEx::~TFileStreamEx() {
    if (FFlags & ffKeepHandleOpen) FHandle.release();
}

int32_t TFileStreamEx::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    DWORD done = 0;
    ::SetLastError(ERROR_SUCCESS);
    const BOOL ok = ::ReadFile(FHandle.get(), buffer, static_cast<DWORD>(count), &done, nullptr);
    if (static_cast<int32_t>(done) < count) {
        const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
        if (error != ERROR_SUCCESS && error != ERROR_HANDLE_EOF) {
            const int32_t position = Seek(0, soCurrent);
            throw EWin32Error(Format("Failed to %s file '%s' (%d bytes at position %d): %s",
                                     {"read from", FFileName, count, position, SystemErrorText(error)}),
                              error);
        }
    }
    return static_cast<int32_t>(done);
}

int32_t TFileStreamEx::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    DWORD done = 0;
    ::SetLastError(ERROR_SUCCESS);
    const BOOL ok = ::WriteFile(FHandle.get(), buffer, static_cast<DWORD>(count), &done, nullptr);
    if (static_cast<int32_t>(done) < count) {
        // A write that reports success but moves fewer bytes leaves no code of its own: the text
        // is then that of code 0.
        const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
        const int32_t position = Seek(0, soCurrent);
        throw EWin32Error(Format("Failed to %s file '%s' (%d bytes at position %d): %s",
                                 {"write to", FFileName, count, position, SystemErrorText(error)}),
                          error);
    }
    return count;
}

int32_t TFileStreamEx::Seek(int32_t offset, SeekOrigin origin) {
    DWORD method = origin == soBeginning ? FILE_BEGIN : origin == soCurrent ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance, result;
    distance.QuadPart = offset;
    if (!::SetFilePointerEx(FHandle.get(), distance, &result, method)) return -1;
    return static_cast<int32_t>(result.LowPart);
}

void TFileStreamEx::SetSize(int32_t size) {
    SetFilePointerChecked(FHandle.get(), size, FILE_BEGIN);
    SetEndOfFileChecked(FHandle.get());
}

void TFileStreamEx::Flush() {
    FlushFileBuffersChecked(FHandle.get());
}

bool TFileStreamEx::SameContent(const void* buffer, int32_t count) {
    const int64_t size = GetFileSizeChecked(FHandle.get());
    if (size != count) return false;
    if (size == 0) return true;
    UniqueHandle mapping(CreateFileMappingChecked(FHandle.get(), PAGE_READONLY, size));
    const char* expected = static_cast<const char*>(buffer);
    for (int64_t offset = 0; offset < size; offset += CompareChunkSize) {
        const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(CompareChunkSize, size - offset));
        UniqueMappedView view(MapViewChecked(mapping.get(), FILE_MAP_READ, offset, chunk));
        if (std::memcmp(view.get(), expected + offset, static_cast<size_t>(chunk)) != 0) return false;
    }
    return true;
}

BY_HANDLE_FILE_INFORMATION TFileStreamEx::GetFileInformation() const {
    return GetFileInformationChecked(FHandle.get());
}

int64_t TFileStreamEx::GetLastWriteTime() const {
    const FILETIME time = GetFileInformation().ftLastWriteTime;
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

void TFileStreamEx::SetFileTimes(const int64_t* creation, const int64_t* lastAccess, const int64_t* lastWrite) {
    FILETIME times[3];
    if (creation) times[0] = ToFileTime(*creation);
    if (lastAccess) times[1] = ToFileTime(*lastAccess);
    if (lastWrite) times[2] = ToFileTime(*lastWrite);
    try {
        SetFileTimeChecked(FHandle.get(), creation ? &times[0] : nullptr, lastAccess ? &times[1] : nullptr,
                           lastWrite ? &times[2] : nullptr);
    } catch (...) {
        ReraiseWithContextFmt("Failed to set file time: %s", {FFileName});
    }
}

}  // namespace cm
