#include "bootstrap/Resources.h"

#include "cm/Objects.h"
#include "cm/StreamUtils/FileStream.h"

namespace bootstrap {

std::string_view ResourceBytes(HMODULE module, const char* name, const char* type) {
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

std::string LoadResourceString(HMODULE module, const char* name, const char* type) {
    return std::string(ResourceBytes(module, name, type));
}

bool LoadResourceToStream(HMODULE module, const char* name, const char* type, cm::TStream& stream) {
    std::string_view bytes = ResourceBytes(module, name, type);
    if (bytes.empty()) return false;
    stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    return true;
}

bool SaveResourceToFile(HMODULE module, const char* name, const char* type, uint32_t fileFlags,
                        const std::string& path) {
    const auto flags = static_cast<uint16_t>(fileFlags);
    // Created before the resource is looked up, so a missing resource still leaves an empty file.
    // Written with plain writes, temporary or not: the size is known, a full disk is a write error
    // rather than a fault in a mapped view, and no space has to be reserved (by writing zeros
    // where the system cannot allocate) before the bytes are written, which wrote a payload of
    // tens of megabytes twice.
    cm::TFileStreamEx stream(path, cm::fmCreate, flags, 0);
    return LoadResourceToStream(module, name, type, stream);
}

}  // namespace bootstrap
