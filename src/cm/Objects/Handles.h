// Move-only owners of system handles: one template, each owner a traits struct naming its
// close function and its invalid value.
#pragma once

#include <utility>

#include "cm/Objects/WinApi.h"

namespace cm {

template <typename Traits>
class UniqueResource {
public:
    using T = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    T get() const { return value_; }
    bool valid() const { return value_ != Traits::Invalid(); }
    explicit operator bool() const { return valid(); }
    T release() { return std::exchange(value_, Traits::Invalid()); }
    void reset(T value = Traits::Invalid()) {
        T old = std::exchange(value_, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    // For out-parameters of system calls: closes the current value first.
    T* put() { reset(); return &value_; }

private:
    T value_ = Traits::Invalid();
};

namespace detail {
struct KernelHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::FindClose(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static HMODULE Invalid() { return nullptr; }
    static void Close(HMODULE h) { ::FreeLibrary(h); }
};
struct MappedViewTraits {
    using Type = void*;
    static void* Invalid() { return nullptr; }
    static void Close(void* p) { ::UnmapViewOfFile(p); }
};
struct VirtualBlockTraits {
    using Type = void*;
    static void* Invalid() { return nullptr; }
    static void Close(void* p) { ::VirtualFree(p, 0, MEM_RELEASE); }
};
struct LocalMemoryTraits {
    using Type = void*;
    static void* Invalid() { return nullptr; }
    static void Close(void* p) { ::LocalFree(p); }
};
struct RegistryKeyTraits {
    using Type = HKEY;
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY key) { ::RegCloseKey(key); }
};
struct FontTraits {
    using Type = HFONT;
    static HFONT Invalid() { return nullptr; }
    static void Close(HFONT font) { ::DeleteObject(font); }
};
struct WindowTraits {
    using Type = HWND;
    static HWND Invalid() { return nullptr; }
    static void Close(HWND window) { ::DestroyWindow(window); }
};
}  // namespace detail

// Kernel objects whose failure value is null (processes, threads, events, mutexes, mappings).
using UniqueHandle = UniqueResource<detail::KernelHandleTraits>;
// File handles, whose failure value is INVALID_HANDLE_VALUE.
using UniqueFileHandle = UniqueResource<detail::FileHandleTraits>;
using UniqueFindHandle = UniqueResource<detail::FindHandleTraits>;
using UniqueModule = UniqueResource<detail::ModuleTraits>;
using UniqueMappedView = UniqueResource<detail::MappedViewTraits>;
using UniqueVirtualBlock = UniqueResource<detail::VirtualBlockTraits>;
// Blocks the system allocated for the caller with LocalAlloc (security descriptors, SID texts).
using UniqueLocalMemory = UniqueResource<detail::LocalMemoryTraits>;
// An opened or created registry key (never one of the predefined root keys).
using UniqueRegistryKey = UniqueResource<detail::RegistryKeyTraits>;
using UniqueFont = UniqueResource<detail::FontTraits>;
// A window and, with it, the windows it owns. Only the thread that made a window can destroy it:
// reset the owner on that thread.
using UniqueWindow = UniqueResource<detail::WindowTraits>;

}  // namespace cm
