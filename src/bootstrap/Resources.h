// Reading the executable's own resources: as a byte string, or saved to a file.
#pragma once

#include <cstdint>
#include <string>

#include <string_view>

#include "bootstrap/PayloadFormat.h"
#include "cm/Objects/WinApi.h"
#include "cm/StreamUtils/Stream.h"

#include "cm/StreamUtils/FileStream.h"

namespace bootstrap {

// File flag of the created file: the temporary-file attribute (the file streams' own flag).
constexpr uint32_t FileFlagTemporary = cm::ffTemporary;

// The resource's bytes where the loaded image holds them (valid while the module stays loaded);
// empty when the resource is missing, has size 0 or cannot be loaded or locked.
std::string_view ResourceBytes(HMODULE module, const char* name, const char* type);

// Exactly the resource's bytes (zero bytes included); empty, without error, when the resource
// does not exist, has size 0 or cannot be loaded or locked.
std::string LoadResourceString(HMODULE module, const char* name, const char* type);

// Writes all bytes of the resource at the stream's position in one write (a short write raises
// the stream's write error) and returns true; returns false, without touching the stream, when
// the resource is missing, empty, or cannot be loaded or locked.
bool LoadResourceToStream(HMODULE module, const char* name, const char* type, cm::TStream& stream);

// Creates the file anew (an existing one is replaced) - through a mapped-file stream when the
// flags hold the temporary-file flag, through a file stream otherwise - then writes the resource
// into it, then closes it. Returns false, leaving an empty file, when the resource is missing or
// empty. Raises the stream classes' errors of creation, writing and closing.
bool SaveResourceToFile(HMODULE module, const char* name, const char* type, uint32_t fileFlags,
                        const std::string& path);

}  // namespace bootstrap
