#include "cm/StreamUtils/MappedFileStream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cm/Objects/Strings.h"
#include "cm/Objects/SystemWrappers.h"

namespace cm {

void TMappedViewUnmapper::Unmap(void* view) {
    // The view is dropped with its record; a failure leaves nothing to undo, so it is not raised.
    ::UnmapViewOfFile(view);
}

namespace {

constexpr const char* Unit = "cm/StreamUtils";
constexpr int64_t MaxStreamSize = INT32_MAX;  // positions and sizes of the stream interface are 32-bit
constexpr int64_t ZeroChunkSize = 1 << 20;     // zeros written per call when reserving space

// A handle as the number the messages print: the whole pointer-sized value.
uintptr_t HandleNumber(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }

// Raises the OS errors "Failed to set file pointer for handle 0x0%x" and "Failed to set end of
// file for handle 0x0%x".
void SetFileEnd(HANDLE file, int64_t length) {
    SetFilePointerChecked(file, length, FILE_BEGIN);
    SetEndOfFileChecked(file);
}

// Writes zeros over [from, to) of the file at explicit offsets (the mapped stream does not use
// the file pointer); returns ERROR_SUCCESS or the code of the failed write.
DWORD WriteZeros(HANDLE file, int64_t from, int64_t to) {
    const std::vector<char> zeros(static_cast<size_t>(std::min<int64_t>(ZeroChunkSize, to - from)), 0);
    for (int64_t offset = from; offset < to;) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD count = static_cast<DWORD>(std::min<int64_t>(static_cast<int64_t>(zeros.size()), to - offset));
        DWORD done = 0;
        // An overlapped handle (ffOverlapped) completes the write later: wait for it.
        if (!::WriteFile(file, zeros.data(), count, &done, &at) &&
            (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(file, &at, &done, TRUE)))
            return ::GetLastError();
        if (done == 0) return ERROR_DISK_FULL;
        offset += done;
    }
    return ERROR_SUCCESS;
}

// Makes the disk hold length bytes of the file, so that a mapping that extends the file to that
// length can be written to; returns ERROR_SUCCESS or the error code (ERROR_DISK_FULL when the
// space is not there), the file then keeping its length. A file already that long is left alone.
//
// A writable mapping extends its file without allocating the new pages (a sparse file under Wine
// and wherever the file system allows one); a page the disk cannot hold then faults in the middle
// of a copy into the view and ends the process. The allocation call reserves the space where the
// system has one (not under Wine); elsewhere writing zeros does.
DWORD ReserveFileSpace(HANDLE file, int64_t length) {
    const int64_t size = GetFileSizeChecked(file);
    if (size >= length) return ERROR_SUCCESS;
    FILE_ALLOCATION_INFO info;
    info.AllocationSize.QuadPart = length;
    if (::SetFileInformationByHandle(file, FileAllocationInfo, &info, sizeof(info))) return ERROR_SUCCESS;
    DWORD error = ::GetLastError();
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return error;
    error = WriteZeros(file, size, length);
    // Zeros written before the disk filled up are not the stream's: give the space back. Only
    // when there are some: Wine fails to set a full disk's file end at its current place.
    if (error != ERROR_SUCCESS && GetFileSizeChecked(file) > size) SetFileEnd(file, size);
    return error;
}

}  // namespace

HANDLE CreateFileMappingChecked(HANDLE file, DWORD protect, int64_t maximumSize) {
    HANDLE mapping = ::CreateFileMappingA(file, nullptr, protect, static_cast<DWORD>(maximumSize >> 32),
                                          static_cast<DWORD>(maximumSize), nullptr);
    if (!mapping)
        RaiseLastSystemError("Failed to create file mapping for handle 0x%p (%s bytes)", {file, maximumSize});
    return mapping;
}

void* MapViewChecked(HANDLE mapping, DWORD access, int64_t offset, int32_t count) {
    const DWORD high = static_cast<DWORD>(offset >> 32);
    const DWORD low = static_cast<DWORD>(offset);
    void* view = ::MapViewOfFile(mapping, access, high, low, static_cast<SIZE_T>(count));
    if (!view)
        RaiseLastSystemError("Failed to map view of file mapping 0x0%x at position %d:%d (%d bytes)",
                             {HandleNumber(mapping), high, low, count});
    return view;
}

// ---- TMappedViewCache ----

TMappedViewCache::TMappedViewCache(int shift, int maxViews, TMapViewEvent onMapView)
    : OnMapView(std::move(onMapView)), FShift(shift), FViewSize(1 << shift), Mask((1 << shift) - 1),
      FMaxViews(maxViews) {
    CM_ASSERT(Unit, shift > 0 && shift < 31 && maxViews > 0);
}

std::vector<int32_t> TMappedViewCache::ViewKeys() const {
    std::vector<int32_t> keys;
    if (Views)
        for (int32_t i = 0; i < Views->Count(); ++i) keys.push_back(Views->Item(i).Key);
    return keys;
}

void* TMappedViewCache::GetView(int32_t& count, int64_t position, int64_t size) {
    if (count == 0) return nullptr;
    if (position < 0 || count < 0 || position + count > size)
        throw EStreamError(Format("Cannot map view of mapped stream: Invalid position/size requested "
                                  "(position = %s, size = %s, stream size = %s)",
                                  {position, count, size}));
    const int32_t first = static_cast<int32_t>(position >> FShift);
    const int32_t last = static_cast<int32_t>((position + count - 1) >> FShift);
    const int32_t offsetInView = static_cast<int32_t>(position & Mask);
    if (first < last) count = FViewSize - offsetInView;

    if (!Views) Views = std::make_unique<TIntegerViewList>(lfOwnsViews);
    const int32_t index = Views->IndexOf(first);
    if (index >= 0) {
        if (index > 0) Views->Move(index, 0);
        return static_cast<char*>(Views->ViewAt(0)) + offsetInView;
    }
    while (Views->Count() >= FMaxViews) Views->DeleteLast();
    // OnMapView may clear the list (a growing stream drops its old mapping), so the list is
    // touched again only once the new view is held.
    UniqueMappedView view(OnMapView(FViewSize, static_cast<int64_t>(first) << FShift));
    Views->Insert(0, first, view.get());
    return static_cast<char*>(view.release()) + offsetInView;
}

int32_t TMappedViewCache::Read(void* buffer, int64_t& position, int64_t size, int32_t count) {
    const int64_t available = size - position;
    if (count <= 0 || available <= 0) return 0;
    const int32_t total = static_cast<int32_t>(std::min<int64_t>(count, available));
    char* target = static_cast<char*>(buffer);
    int32_t left = total;
    try {
        while (left > 0) {
            int32_t n = left;
            const void* source = GetView(n, position, size);
            std::memcpy(target, source, static_cast<size_t>(n));
            target += n;
            position += n;
            left -= n;
        }
    } catch (...) {
        ReraiseWithContextFmt("Failed to read %s bytes at %s from mapped view", {left, position});
    }
    return total;
}

int32_t TMappedViewCache::Write(const void* buffer, int64_t& position, int64_t size, int32_t count) {
    if (count <= 0) return 0;
    const char* source = static_cast<const char*>(buffer);
    int32_t left = count;
    try {
        while (left > 0) {
            int32_t n = left;
            void* target = GetView(n, position, size);
            std::memcpy(target, source, static_cast<size_t>(n));
            source += n;
            position += n;
            left -= n;
        }
    } catch (...) {
        ReraiseWithContextFmt("Failed to write %s bytes at %s to mapped view", {left, position});
    }
    return count;
}

// ---- TMappedFileStream ----

TMappedFileStream::TMappedFileStream(const std::string& fileName, uint16_t mode, uint16_t flags, int32_t retrySeconds)
    : TFileStreamEx(fileName, mode, static_cast<uint16_t>(flags & ~ffMappedWritable), retrySeconds) {
    FCache = std::make_unique<TMappedViewCache>(
        MappedStreamViewShift, MappedStreamMaxViews,
        [this](int32_t count, int64_t offset) { return MapView(count, offset); });
    const uint16_t access = mode & FileModeAccessMask;
    if (mode == fmCreate || access == fmOpenWrite || access == fmOpenReadWrite) FFlags |= ffMappedWritable;
    if (!(FFlags & ffMappedNoInitialSize)) FSize = GetFileSizeChecked(FHandle.get());
}

TMappedFileStream::~TMappedFileStream() {
    try {
        Close();
    } catch (const std::exception&) {
        // A destructor cannot report; callers that must know call Close() first.
    }
}

void TMappedFileStream::Close() {
    if (FClosed) return;
    FClosed = true;
    try {
        CloseMapping();
        if (FHandle.valid() && CutsBackOnClose() && GetFileSizeChecked(FHandle.get()) != FSize)
            SetFileEnd(FHandle.get(), FSize);
        FCache.reset();
    } catch (...) {
        FCache.reset();
        if (!(FFlags & ffKeepHandleOpen)) FHandle.reset();
        ReraiseWithContextFmt("Failed to close mapped file: %s", {FFileName});
    }
    if (!(FFlags & ffKeepHandleOpen)) FHandle.reset();
}

void TMappedFileStream::CloseMapping() {
    if (FCache) FCache->Clear();
    FMapping.reset();
}

void TMappedFileStream::EnsureMapping() {
    int64_t target = Writable() ? FCache->RoundUp(FSize) : FSize;
    if (FMappedSize < target) {
        const int64_t needed = target;
        // Each growth of the mapping costs a new mapping object and the loss of the cached views,
        // so a stream that keeps growing grows by a doubling step. Only a stream that cuts its file
        // back on close may run ahead of its size: any other would leave the excess on disk.
        if (CutsBackOnClose()) {
            FGrowthStep = FGrowthStep == 0 ? FCache->ViewSize() : std::min<int64_t>(2 * FGrowthStep, MappedStreamMaxGrowthStep);
            target = std::max(target, std::min(FMappedSize + FGrowthStep, FCache->RoundUp(MaxStreamSize)));
        }
        // The old mapping goes first: a file cannot be cut back (after a failed reservation)
        // while a view of it is mapped. Should the growth fail, the next access maps the old
        // length again.
        CloseMapping();
        if (Writable()) {
            // A growth step that does not fit falls back to the views the size needs.
            DWORD error = ReserveFileSpace(FHandle.get(), target);
            if (error != ERROR_SUCCESS && target > needed) {
                target = needed;
                error = ReserveFileSpace(FHandle.get(), target);
            }
            if (error != ERROR_SUCCESS)
                RaiseSystemError("Failed to reserve %s bytes of disk space for handle 0x0%x",
                                 {target, HandleNumber(FHandle.get())}, error);
        }
        // (The zeros of a reservation may have put the end there already.)
        if ((FFlags & ffMappedSetEndOfFile) && CutsBackOnClose() && GetFileSizeChecked(FHandle.get()) != target)
            SetFileEnd(FHandle.get(), target);
    }
    if (FMapping.valid()) return;
    // A writable mapping larger than the file extends the file: the stream grows its file here.
    if (target > 0)
        FMapping.reset(CreateFileMappingChecked(FHandle.get(), Writable() ? PAGE_READWRITE : PAGE_READONLY, target));
    FMappedSize = target;
}

void* TMappedFileStream::MapView(int32_t count, int64_t offset) {
    EnsureMapping();
    if (!FMapping.valid()) throw EStreamError("Failed to obtain mapping object handle while mapping view");
    if (Writable()) return MapViewChecked(FMapping.get(), FILE_MAP_WRITE, offset, count);
    // A read-only mapping covers only the file: never map past its end.
    if (offset + count > FSize) count = static_cast<int32_t>(FSize - offset);
    return MapViewChecked(FMapping.get(), FILE_MAP_READ, offset, count);
}

void TMappedFileStream::SetSize64(int64_t size) {
    CM_ASSERT(Unit, size >= 0 && size <= MaxStreamSize);
    const int64_t previous = FSize;
    FSize = size;
    try {
        EnsureMapping();
    } catch (...) {
        // The file was not grown (a full disk): close must not cut it to a size never written.
        FSize = previous;
        throw;
    }
}

void TMappedFileStream::SetSize(int32_t size) {
    SetSize64(size);
}

int32_t TMappedFileStream::Read(void* buffer, int32_t count) {
    try {
        // A read of a view or more from a read-only file goes to the file itself: the same bytes
        // (nothing unwritten can sit in the views of a read-only mapping), without mapping views
        // and faulting their pages in one by one only to copy them once. Not for a handle opened
        // without buffering (reads must then be sector-aligned) or for overlapped operation
        // (the read would complete later): the views serve those.
        if (!Writable() && !(FFlags & (ffNoBuffering | ffOverlapped)) && count >= FCache->ViewSize())
            return ReadDirect(buffer, count);
        return FCache->Read(buffer, FPosition, FSize, count);
    } catch (...) {
        ReraiseWithContextFmt("Failed to read from mapped file: %s", {FFileName});
    }
}

int32_t TMappedFileStream::ReadDirect(void* buffer, int32_t count) {
    const int64_t available = FSize - FPosition;
    if (FPosition < 0 || available <= 0)
        return 0;
    const DWORD wanted = static_cast<DWORD>(std::min<int64_t>(count, available));
    // A positioned read: the handle's own file pointer is not the stream's position.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(FPosition);
    at.OffsetHigh = static_cast<DWORD>(FPosition >> 32);
    DWORD read = 0;
    if (!::ReadFile(Handle(), buffer, wanted, &read, &at))
        RaiseLastSystemError("Failed to read %s bytes at %s", {static_cast<unsigned>(wanted), FPosition});
    FPosition += read;
    return static_cast<int32_t>(read);
}

int32_t TMappedFileStream::Write(const void* buffer, int32_t count) {
    try {
        if (!Writable()) throw EStreamError("Cannot write to a read-only mapped file.");
        if (count <= 0) return 0;
        if (FPosition + count > FSize) {
            try {
                SetSize64(FPosition + count);
            } catch (const EAssertionFailed&) {
                throw;
            } catch (...) {
                // A growth that failed (a full disk) names the write like a failed copy does.
                ReraiseWithContextFmt("Failed to write %s bytes at %s to mapped view", {count, FPosition});
            }
        }
        return FCache->Write(buffer, FPosition, FSize, count);
    } catch (const EAssertionFailed&) {
        throw;  // a programming error keeps its kind
    } catch (...) {
        ReraiseWithContextFmt("Failed to write to mapped file: %s", {FFileName});
    }
}

int32_t TMappedFileStream::Seek(int32_t offset, SeekOrigin origin) {
    switch (origin) {
        case soBeginning: FPosition = offset; break;
        case soCurrent: FPosition += offset; break;
        case soEnd: FPosition = FSize + offset; break;
    }
    return static_cast<int32_t>(FPosition);
}

void TMappedFileStream::Flush() {
    CloseMapping();
    TFileStreamEx::Flush();
}

// ---- Whole-file mapping ----

void* MapWholeFile(HANDLE file, int kind, bool raiseOnError) {
    DWORD protect, access;
    switch (kind) {
        case fmkRead: protect = PAGE_READONLY; access = FILE_MAP_READ; break;
        case fmkReadWrite: protect = PAGE_READWRITE; access = FILE_MAP_WRITE; break;
        case fmkCopyOnWrite: protect = PAGE_READONLY; access = FILE_MAP_COPY; break;
        default:
            if (raiseOnError) throw EStreamError("Invalid file map-kind");
            return nullptr;
    }
    try {
        const int64_t size = GetFileSizeChecked(file);
        if (size == 0) return nullptr;
        // The view keeps the mapping object alive, so the object is closed as soon as it is mapped.
        UniqueHandle mapping(CreateFileMappingChecked(file, protect, 0));
        return MapViewChecked(mapping.get(), access, 0, 0);
    } catch (const Exception&) {
        if (raiseOnError) throw;
        return nullptr;
    }
}

void* MapFile(const std::string& fileName, int kind, BY_HANDLE_FILE_INFORMATION* info) {
    if (kind != fmkRead && kind != fmkReadWrite && kind != fmkCopyOnWrite) throw EStreamError("Invalid file map-kind");
    TFileStreamEx file(fileName, kind == fmkReadWrite ? fmOpenReadWrite | fmShareDenyWrite : fmOpenRead | fmShareDenyWrite);
    if (info) *info = file.GetFileInformation();
    return MapWholeFile(file.Handle(), kind, true);
}

}  // namespace cm
