// TFileStreamEx: a stream over a file handle with explicit open modes and file flags, a
// retrying open and transfer errors that name the file and the position. Win32 only.
#pragma once

#include <cstdint>
#include <string>

#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"
#include "cm/StreamUtils/Stream.h"

namespace cm {

// Open modes. fmCreate creates the file anew (or truncates it) for reading and writing with no
// sharing; every other value combines one access value with one sharing value.
enum FileOpenMode : uint16_t {
    fmCreate = 0xFFFF,
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,  // others may read
    fmShareDenyRead = 0x0030,   // others may write
    fmShareDenyNone = 0x0040,   // others may read and write
};

constexpr uint16_t FileModeAccessMask = 0x0003;
constexpr uint16_t FileModeShareMask = 0x00F0;

// File flags; 0 opens with the normal attribute.
enum FileStreamFlags : uint16_t {
    ffForceDirectories = 0x0001,  // create the missing directory (once) when the open fails
    ffWriteThrough = 0x0002,
    ffNoBuffering = 0x0004,
    ffSequentialScan = 0x0008,
    ffDeleteOnClose = 0x0010,
    ffTemporary = 0x0020,
    ffOverlapped = 0x0040,
    ffMappedNoInitialSize = 0x0080,  // mapped stream: start at size 0 and never cut the file back
    ffKeepHandleOpen = 0x0100,       // the handle is not closed when the stream is freed
    ffMappedWritable = 0x0200,       // mapped stream, set by the stream itself
    ffRandomAccess = 0x0400,
    ffShareDelete = 0x0800,    // open modes only
    ffCreateAlways = 0x1000,   // open modes only
    ffOpenAlways = 0x2000,     // open modes only
    ffMappedSetEndOfFile = 0x4000,  // mapped stream: set the file's end before each growth of the mapping
};

// The message of a failed open of the file in the mode with the error code, before the system
// error form is applied: one of the read-only messages when access was denied to a writer and
// the file is read-only, else "Cannot create file: %s" or "Cannot open file: %s".
std::string FileOpenFailureMessage(const std::string& fileName, uint16_t mode, uint32_t error);

// The handle stream with the system's file open. Reads and writes go to the handle directly.
class TFileStreamEx : public TStream {
public:
    // Opens or creates the file. A file that cannot be opened for another reason than a missing
    // file, path or drive (a sharing violation, say) is tried again every 50 ms for retrySeconds
    // seconds (>= 0, else an assertion failure); the open blocks that long. Raises EWin32Error
    // "Cannot create file: %s", "Cannot open file: %s", "Cannot overwrite a read-only file: %s" or
    // "Cannot open a read-only file for writing: %s" (file name) in the system error form with the
    // open's error code.
    TFileStreamEx(const std::string& fileName, uint16_t mode, uint16_t flags = 0, int32_t retrySeconds = 0);
    // Closes the handle unless ffKeepHandleOpen is set.
    ~TFileStreamEx() override;

    TFileStreamEx(const TFileStreamEx&) = delete;
    TFileStreamEx& operator=(const TFileStreamEx&) = delete;

    // A short read at the end of the file returns what was read; any other short read, and every
    // short write, raises EWin32Error "Failed to read from file '%s' (%d bytes at position %d): %s"
    // (or "write to"): file name, requested count, position after the attempt, system text.
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    // The handle's file pointer; returns the new position's low 32 bits, -1 when the move failed.
    int32_t Seek(int32_t offset, SeekOrigin origin) override;
    // Moves the file's end to size. Raises the OS errors of setting the pointer and the end.
    void SetSize(int32_t size) override;

    // Flushes the file's buffers to disk. Raises "Failed to flush file buffers".
    virtual void Flush();
    // True when the file's whole content equals the count bytes at buffer. Compares through
    // mapped chunks of at most 1 MB; raises the OS errors of the size, mapping and views.
    virtual bool SameContent(const void* buffer, int32_t count);

    // Raises "Failed to get file information for handle 0x0%x".
    BY_HANDLE_FILE_INFORMATION GetFileInformation() const;
    // The last-write time as a 64-bit file time.
    int64_t GetLastWriteTime() const;
    // Each time may be null (left unchanged). Raises "Failed to set file time: %s" + CR LF + the
    // OS error "Failed to set file time".
    void SetFileTimes(const int64_t* creation, const int64_t* lastAccess, const int64_t* lastWrite);
    void SetLastWriteTime(int64_t time) { SetFileTimes(nullptr, nullptr, &time); }

    HANDLE Handle() const { return FHandle.get(); }
    const std::string& FileName() const { return FFileName; }
    uint16_t Flags() const { return FFlags; }

protected:
    std::string FFileName;
    uint16_t FFlags = 0;
    UniqueFileHandle FHandle;
};

}  // namespace cm
