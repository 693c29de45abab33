// Registry access across the 32-bit and 64-bit views.
#include "cm/CrossRegistry/CrossRegistry.h"

#include <vector>

#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Format.h"
#include "cm/Objects/Strings.h"

namespace cm {

namespace {

// The view flags of the access mask; older headers may lack them.
constexpr REGSAM Wow64Key64 = 0x0100;
constexpr REGSAM Wow64Key32 = 0x0200;

TRegDataType DataTypeOf(DWORD systemType) {
    switch (systemType) {
        case REG_SZ: return TRegDataType::String;
        case REG_EXPAND_SZ: return TRegDataType::ExpandString;
        case REG_DWORD: return TRegDataType::Integer;
        case REG_BINARY: return TRegDataType::Binary;
        default: return TRegDataType::Unknown;
    }
}

}  // namespace

bool TryParseRegistryInteger(const std::string& text, int32_t& value) {
    // The common parser knows "$" and "0x"; a bare "x" after the blanks and the sign is the same
    // hex prefix.
    size_t i = text.find_first_not_of(' ');
    if (i != std::string::npos && (text[i] == '+' || text[i] == '-')) ++i;
    if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        std::string rewritten = text;
        rewritten[i] = '$';
        return TryParseInt(rewritten, value);
    }
    return TryParseInt(text, value);
}

TCrossRegistry::~TCrossRegistry() {
    CloseKey();
    if (CloseRootKey) RegCloseKey(RootKey);
}

void TCrossRegistry::SetRootKey(HKEY rootKey) {
    if (rootKey == RootKey) return;
    if (CloseRootKey) {
        RegCloseKey(RootKey);
        CloseRootKey = false;
    }
    RootKey = rootKey;
    CloseKey();
}

void TCrossRegistry::CloseKey() {
    if (!CurrentKey) return;
    CurrentKey.reset();
    CurrentPath.clear();
}

REGSAM TCrossRegistry::EffectiveAccessFor(REGSAM access, bool use64BitView, bool use32BitView, bool system64Bit) {
    // A 32-bit system refuses or misreads the view flags, and has only the one view anyway.
    if (!system64Bit) return access;
    if (use32BitView) access |= Wow64Key32;
    if (use64BitView) access |= Wow64Key64;
    return access;
}

REGSAM TCrossRegistry::EffectiveAccess() const {
    return EffectiveAccessFor(Access, Use64BitView, Use32BitView, IsWindows64Bit());
}

bool TCrossRegistry::OpenKey(const std::string& path, bool canCreate) {
    const bool absolute = !path.empty() && path[0] == '\\';
    const std::string subKey = absolute ? path.substr(1) : path;
    const HKEY base = absolute ? RootKey : BaseKey();
    UniqueRegistryKey opened;
    LONG status;
    if (canCreate && !subKey.empty()) {
        status = RegCreateKeyExA(base, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, EffectiveAccess(), nullptr,
                                 opened.put(), nullptr);
    } else {
        status = RegOpenKeyExA(base, subKey.c_str(), 0, EffectiveAccess(), opened.put());
    }
    if (status != ERROR_SUCCESS) return false;

    std::string newPath;
    if (CurrentKey && !absolute)
        newPath = subKey.empty() ? CurrentPath : CurrentPath + "\\" + subKey;
    else
        newPath = subKey;
    CloseKey();
    CurrentKey = std::move(opened);
    CurrentPath = std::move(newPath);
    return true;
}

bool TCrossRegistry::GetDataInfo(const std::string& valueName, TRegDataInfo& info) const {
    DWORD type = REG_NONE;
    DWORD size = 0;
    info = TRegDataInfo{};
    if (RegQueryValueExA(BaseKey(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    info.RegData = DataTypeOf(type);
    info.DataSize = static_cast<int32_t>(size);
    return true;
}

int32_t TCrossRegistry::GetDataSize(const std::string& valueName) const {
    TRegDataInfo info;
    return GetDataInfo(valueName, info) ? info.DataSize : -1;
}

bool TCrossRegistry::ValueExists(const std::string& valueName) const {
    TRegDataInfo info;
    return GetDataInfo(valueName, info);
}

DWORD TCrossRegistry::ReadRaw(const std::string& valueName, void* buffer, DWORD& size) const {
    DWORD type = REG_NONE;
    // The system never writes more than size bytes: a value that grew since its size was taken
    // fails with "more data" instead of overrunning the buffer.
    if (RegQueryValueExA(BaseKey(), valueName.c_str(), nullptr, &type, static_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        throw ERegistryException(Format("Failed to get data for '%s'", {valueName}));
    return type;
}

std::string TCrossRegistry::ReadString(const std::string& valueName) const {
    const int32_t size = GetDataSize(valueName);
    if (size <= 0) return {};
    std::vector<char> buffer(static_cast<size_t>(size));
    DWORD read = static_cast<DWORD>(size);
    const TRegDataType type = DataTypeOf(ReadRaw(valueName, buffer.data(), read));
    if (type != TRegDataType::String && type != TRegDataType::ExpandString)
        throw ERegistryException(Format("Invalid data type for '%s'", {valueName}));
    std::string text(buffer.data(), read);
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

int32_t TCrossRegistry::ReadInteger(const std::string& valueName, int32_t defaultValue) const {
    TRegDataInfo info;
    if (!GetDataInfo(valueName, info)) return defaultValue;
    switch (info.RegData) {
        case TRegDataType::String:
        case TRegDataType::ExpandString: {
            int32_t value = 0;
            if (!TryParseRegistryInteger(ReadString(valueName), value))
                throw Exception(Format("Invalid registry integer value at: %s\\%s", {CurrentPath, valueName}));
            return value;
        }
        case TRegDataType::Integer: {
            // A stored integer shorter than 4 bytes keeps zeros in its missing high bytes.
            uint32_t value = 0;
            DWORD size = sizeof value;
            ReadRaw(valueName, &value, size);
            return static_cast<int32_t>(value);
        }
        default:
            throw Exception(Format("Unexpected registry value type at: %s\\%s", {CurrentPath, valueName}));
    }
}

}  // namespace cm
