// Registry access that can address the 64-bit or the 32-bit view explicitly, with lenient
// integer reading (a number stored as a string is accepted). Win32 only.
#pragma once

#include <cstdint>
#include <string>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Object.h"
#include "cm/Objects/WinApi.h"

namespace cm {

// A failed registry read ("Invalid data type for '%s'", "Failed to get data for '%s'").
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// Value types as the class reports them; every system type but the four below is Unknown.
enum class TRegDataType { Unknown = 0, String = 1, ExpandString = 2, Integer = 3, Binary = 4 };

struct TRegDataInfo {
    TRegDataType RegData = TRegDataType::Unknown;
    int32_t DataSize = 0;
};

class TCrossRegistry : public TObject {
public:
    TCrossRegistry() = default;
    // CloseKey; also closes the root key when CloseRootKey is set.
    ~TCrossRegistry() override;
    TCrossRegistry(const TCrossRegistry&) = delete;
    TCrossRegistry& operator=(const TCrossRegistry&) = delete;

    // When different from RootKey: closes the old root when CloseRootKey is set (and clears it),
    // takes the new root and closes the open key.
    void SetRootKey(HKEY rootKey);
    // Closes the open key, if any, and clears CurrentPath.
    void CloseKey();
    // Opens (with canCreate and a non-empty path: creates or opens) the key with EffectiveAccess.
    // A path starting with "\" is absolute (below RootKey); any other is relative to the open key
    // (or RootKey when none is open) and is appended to CurrentPath. On success the new key
    // replaces the open one. Returns whether it succeeded; never raises.
    bool OpenKey(const std::string& path, bool canCreate);

    // Type and size of a value of the open key; false when it does not exist.
    bool GetDataInfo(const std::string& valueName, TRegDataInfo& info) const;
    // Size of the value in bytes, -1 when it does not exist.
    int32_t GetDataSize(const std::string& valueName) const;
    bool ValueExists(const std::string& valueName) const;
    // The string (or expandable string) value cut at its first NUL; empty when missing or empty.
    // Raises ERegistryException "Invalid data type for '%s'" for another type and
    // "Failed to get data for '%s'" when the read fails.
    std::string ReadString(const std::string& valueName) const;
    // The default when the value is missing; an integer value; or a string value holding a 32-bit
    // integer (leading blanks, a sign, decimal digits or hex digits after "$", "x" or "0x").
    // Raises Exception "Invalid registry integer value at: %s\%s" for a string that is no integer,
    // "Unexpected registry value type at: %s\%s" for another type (CurrentPath, value name), and
    // ERegistryException "Failed to get data for '%s'" when the read fails.
    int32_t ReadInteger(const std::string& valueName, int32_t defaultValue) const;

    // Access plus the view flags, which only a 64-bit system is given.
    REGSAM EffectiveAccess() const;
    // The same rule with the system's bitness as an argument.
    static REGSAM EffectiveAccessFor(REGSAM access, bool use64BitView, bool use32BitView, bool system64Bit);

    UniqueRegistryKey CurrentKey;  // the open key, if any
    HKEY RootKey = HKEY_CURRENT_USER;  // closed by this object only when CloseRootKey is set
    bool LazyWrite = true;
    std::string CurrentPath;
    bool CloseRootKey = false;
    REGSAM Access = KEY_ALL_ACCESS;
    bool Use64BitView = false;
    bool Use32BitView = false;

private:
    // The open key, or RootKey when none is open.
    HKEY BaseKey() const { return CurrentKey ? CurrentKey.get() : RootKey; }
    // Reads up to size bytes of the value; returns its system type and sets size to the bytes read.
    DWORD ReadRaw(const std::string& valueName, void* buffer, DWORD& size) const;
};

// The 32-bit integer in a registry string: leading blanks, an optional sign, then decimal digits
// or hex digits after "$", "x" or "0x" (hex may use all 32 bits). False when the text is no such
// integer; value is written only on success.
bool TryParseRegistryInteger(const std::string& text, int32_t& value);

}  // namespace cm
