// TMappedFileStream: a TFileStreamEx whose reads and writes go through memory-mapped views kept
// in a small LRU cache (TMappedViewCache); a writable file grows in whole views and is cut back
// to its logical size on close. Also the whole-file mapping routines. Win32 only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cm/Lists/TypedLists.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"
#include "cm/StreamUtils/FileStream.h"

namespace cm {

// Unmaps a mapped view for the view lists of the mapped-file stream.
struct TMappedViewUnmapper {
    static void Unmap(void* view);
};
using TIntegerViewList = TIntegerViewListWith<TMappedViewUnmapper>;

// The mapped stream's views: 1 shl 18 = 262,144 bytes, at most two mapped at a time.
constexpr int MappedStreamViewShift = 18;
constexpr int32_t MappedStreamViewSize = 1 << MappedStreamViewShift;
constexpr int MappedStreamMaxViews = 2;
// A growing stream that cuts its file back on close enlarges the file by one view at its first
// growth and doubles the step at each further growth, up to this many bytes (a whole number of
// views): a long write then recreates its mapping object a few dozen times instead of once per view.
constexpr int32_t MappedStreamMaxGrowthStep = 64 * 1024 * 1024;

// Creates a mapping object of maximumSize bytes over the file. Raises the OS error
// "Failed to create file mapping for handle 0x%p (<maximumSize> bytes)" (the handle with the
// pointer's width of hex digits).
HANDLE CreateFileMappingChecked(HANDLE file, DWORD protect, int64_t maximumSize);
// Maps count bytes at offset. Raises the OS error
// "Failed to map view of file mapping 0x0%x at position %d:%d (%d bytes)".
void* MapViewChecked(HANDLE mapping, DWORD access, int64_t offset, int32_t count);

class TMappedViewCache {
public:
    // Returns the base of a new view of count bytes at the file offset; raises on failure.
    using TMapViewEvent = std::function<void*(int32_t count, int64_t offset)>;

    TMappedViewCache(int shift, int maxViews, TMapViewEvent onMapView);

    // The address of the byte at position in a view, lowering count so that the range stays
    // within one view; null for a count of 0. Raises "Cannot map view of mapped stream: Invalid
    // position/size requested (position = %s, size = %s, stream size = %s)" for a range that is
    // not inside [0, size), and whatever OnMapView raises. May evict the least recently used view.
    void* GetView(int32_t& count, int64_t position, int64_t size);
    // Copies min(count, size - position) bytes out of the views, advancing position; returns
    // that number (0 at or past the end). Failures gain the line
    // "Failed to read %s bytes at %s from mapped view".
    int32_t Read(void* buffer, int64_t& position, int64_t size, int32_t count);
    // Copies all count bytes into the views (the caller has grown size first), advancing
    // position; returns count. Failures gain "Failed to write %s bytes at %s to mapped view".
    int32_t Write(const void* buffer, int64_t& position, int64_t size, int32_t count);
    int64_t RoundUp(int64_t size) const { return (size + Mask) & ~static_cast<int64_t>(Mask); }
    // Unmaps every view. May run inside OnMapView (a growing stream drops its old mapping), so
    // the list itself stays.
    void Clear() {
        if (Views) Views->Clear();
    }

    int Shift() const { return FShift; }
    int32_t ViewSize() const { return FViewSize; }
    int MaxViews() const { return FMaxViews; }
    // The cached view numbers, most recently used first.
    std::vector<int32_t> ViewKeys() const;

private:
    TMapViewEvent OnMapView;
    int FShift;
    int32_t FViewSize;
    int32_t Mask;
    int FMaxViews;
    // Keyed by view number, most recently used first; owns its views (lfOwnsViews), so deleting an
    // entry unmaps its view. Created on first use.
    std::unique_ptr<TIntegerViewList> Views;
};

class TMappedFileStream : public TFileStreamEx {
public:
    // The TFileStreamEx open; the stream is writable for fmCreate and the write access values.
    // Unless ffMappedNoInitialSize, the size is the file's size ("Failed to get file size for
    // handle 0x0%x"). No mapping is made yet.
    TMappedFileStream(const std::string& fileName, uint16_t mode, uint16_t flags = 0, int32_t retrySeconds = 0);
    // Close(), with any failure swallowed: call Close() to learn of one.
    ~TMappedFileStream() override;

    // Reading at or past the end copies nothing and returns 0. A read-only stream reads requests
    // of a view or more straight from the file, unless opened with ffNoBuffering or ffOverlapped.
    // Failures are re-raised with "Failed to read from mapped file: %s" in front.
    int32_t Read(void* buffer, int32_t count) override;
    // Grows the stream (and the file, in whole views) as needed. Raises "Failed to write to mapped
    // file: %s" + CR LF + the cause ("Cannot write to a read-only mapped file." among them); a
    // size of 2^31 bytes or more is an assertion failure, raised unchanged. The disk space of a
    // growth is reserved before the mapping covers it: a disk that cannot hold it raises (under
    // "Failed to write %s bytes at %s to mapped view") the OS error "Failed to reserve %s bytes of
    // disk space for handle 0x0%x" with ERROR_DISK_FULL, leaving position, size and the bytes
    // written before as they were.
    int32_t Write(const void* buffer, int32_t count) override;
    // No bounds check; returns the low 32 bits of the new position.
    int32_t Seek(int32_t offset, SeekOrigin origin) override;
    int32_t Size() override { return static_cast<int32_t>(FSize); }
    // Sets the logical size (>= 0, else an assertion failure) and maps as much; the file is not
    // cut here.
    void SetSize(int32_t size) override;
    // Drops the mapping and its views, then flushes the file's buffers.
    void Flush() override;

    // Drops the views and the mapping, cuts a writable file back to Size (unless
    // ffMappedNoInitialSize) and closes the handle (also when the cut fails). Raises
    // "Failed to close mapped file: %s" + CR LF + the cause. Idempotent.
    void Close();

    bool Writable() const { return (FFlags & ffMappedWritable) != 0; }
    int64_t Position64() const { return FPosition; }
    int64_t Size64() const { return FSize; }
    // The length the current mapping object covers (0 before the first mapping); while the stream
    // grows this is RoundUp(Size) or more, by the growth step.
    int64_t MappedSize() const { return FMappedSize; }
    HANDLE Mapping() const { return FMapping.get(); }
    TMappedViewCache& Cache() { return *FCache; }

private:
    bool CutsBackOnClose() const { return Writable() && !(FFlags & ffMappedNoInitialSize); }
    void SetSize64(int64_t size);
    int32_t ReadDirect(void* buffer, int32_t count);
    void EnsureMapping();
    void CloseMapping();
    void* MapView(int32_t count, int64_t offset);

    int64_t FPosition = 0;
    int64_t FSize = 0;
    int64_t FMappedSize = 0;   // 64-bit: RoundUp of a size near 2^31 does not fit 32 bits
    int64_t FGrowthStep = 0;   // the last growth of the mapping, 0 before the first
    UniqueHandle FMapping;
    std::unique_ptr<TMappedViewCache> FCache;
    bool FClosed = false;
};

// Map kinds of MapWholeFile and MapFile.
enum FileMapKind : int { fmkRead = 0, fmkReadWrite = 1, fmkCopyOnWrite = 2 };

// A view of the whole open file (null for an empty file). An unknown kind raises
// "Invalid file map-kind" when raiseOnError, else gives null; so does a failed mapping or view.
// The view is the caller's (UnmapViewOfFile, or a UniqueMappedView).
void* MapWholeFile(HANDLE file, int kind, bool raiseOnError);
// Opens the file (shared for reading; for writing with kind 1), fills info when given, and
// returns MapWholeFile(handle, kind, true); the file is closed, the view stays valid.
void* MapFile(const std::string& fileName, int kind, BY_HANDLE_FILE_INFORMATION* info = nullptr);

}  // namespace cm
