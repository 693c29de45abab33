#include "bootstrap/Resources.h"

#include <algorithm>

#include "cm/Objects.h"

namespace bootstrap {

namespace {

// The resource's bytes in the loaded image (valid while the module stays loaded), or an empty
// view in each of the four failure cases (missing, size 0, not loadable, not lockable).
std::string_view FindResourceBytes(HMODULE module, const char* name, const char* type) {
    HRSRC info = FindResourceA(module, name, type);
    if (info == nullptr) return {};
    DWORD size = SizeofResource(module, info);
    if (size == 0) return {};
    HGLOBAL loaded = LoadResource(module, info);
    if (loaded == nullptr) return {};
    const void* data = LockResource(loaded);
    if (data == nullptr) return {};
    return {static_cast<const char*>(data), size};
}

}  // namespace

std::string LoadResourceString(HMODULE module, const char* name, const char* type) {
    return std::string(FindResourceBytes(module, name, type));
}

bool SaveResourceToFile(HMODULE module, const char* name, const char* type, uint32_t fileFlags,
                        const std::string& path) {
    // Created first, so a missing resource still leaves an empty file, as callers expect.
    cm::UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                          fileFlags ? fileFlags : FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) cm::RaiseLastSystemError("Cannot create file '%s'", {path});

    std::string_view bytes = FindResourceBytes(module, name, type);
    if (bytes.empty()) return false;

    // Written in slices: a single WriteFile of many megabytes is legal but gives no chance to
    // report where a short write happened.
    constexpr size_t slice = 1 << 20;
    for (size_t done = 0; done < bytes.size();) {
        DWORD want = static_cast<DWORD>(std::min(slice, bytes.size() - done));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, want, &written, nullptr))
            cm::RaiseLastSystemError("Failed to write to file '%s'", {path});
        if (written != want) throw cm::Exception("Stream write error");
        done += written;
    }
    cm::CloseHandleChecked(file.release());  // a failed close can mean lost data: report it
    return true;
}

}  // namespace bootstrap
