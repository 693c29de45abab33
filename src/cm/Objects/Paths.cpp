// Path arithmetic on ANSI path strings: no file-system access.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Strings.h"

namespace cm {

namespace {

constexpr char Backslash = '\\';
constexpr std::string_view PathSeparators = "/:\\";
constexpr std::string_view ExtensionDelimiters = "./:\\";

bool IsSlash(char c) { return c == '\\' || c == '/'; }

// Length of the path without its trailing blanks.
size_t LengthWithoutTrailingBlanks(std::string_view path) {
    size_t length = path.size();
    while (length > 0 && path[length - 1] == ' ') --length;
    return length;
}

// Index of the last path separator before end, or npos.
size_t LastSeparator(std::string_view path, size_t end) {
    return end == 0 ? std::string_view::npos : path.substr(0, end).find_last_of(PathSeparators);
}

bool EndsWithSingleDot(std::string_view name) {
    return name.size() >= 2 && name.back() == '.' && name[name.size() - 2] != '.';
}

// The root that an absolute relative part beginning with a single separator is put under:
// the drive of a drive path ("C:"), or server and share of a UNC path; empty otherwise.
std::string_view RootOfBase(std::string_view base) {
    if (base.size() >= 2 && base[1] == ':') return base.substr(0, 2);
    if (base.size() >= 2 && IsSlash(base[0]) && IsSlash(base[1])) {
        size_t pos = 2;
        for (int part = 0; part < 2 && pos < base.size(); ++part) {
            while (pos < base.size() && !IsSlash(base[pos])) ++pos;
            if (part == 0 && pos < base.size()) ++pos;
        }
        return base.substr(0, pos);
    }
    return {};
}

}  // namespace

std::string AddTrailingBackslash(std::string_view path) {
    std::string result(path);
    if (!result.empty() && result.back() != Backslash) result += Backslash;
    return result;
}

std::string RemoveTrailingBackslash(std::string_view path) {
    if (!path.empty() && path.back() == Backslash) path.remove_suffix(1);
    return std::string(path);
}

std::string ExtractPathPart(std::string_view path) {
    size_t separator = LastSeparator(path, LengthWithoutTrailingBlanks(path));
    if (separator == std::string_view::npos) return {};
    return std::string(path.substr(0, separator + 1));
}

std::string ExtractNamePart(std::string_view path) {
    size_t length = LengthWithoutTrailingBlanks(path);
    size_t separator = LastSeparator(path, length);
    if (separator == std::string_view::npos) return std::string(path);
    return std::string(path.substr(separator + 1, length - separator - 1));
}

std::string ChangeExtension(std::string_view path, std::string_view extension) {
    size_t last = path.find_last_of(ExtensionDelimiters);
    if (last != std::string_view::npos && path[last] == '.') path = path.substr(0, last);
    std::string result(path);
    result += extension;
    return result;
}

std::string ExtractExtension(std::string_view path) {
    size_t last = path.find_last_of(ExtensionDelimiters);
    if (last == std::string_view::npos || path[last] != '.') return {};
    return std::string(path.substr(last));
}

std::string ExtractBaseName(std::string_view path) {
    return ChangeExtension(ExtractNamePart(path), {});
}

bool IsAbsolutePath(std::string_view path) {
    if (path.empty()) return false;
    return (path.size() >= 2 && path[1] == ':') || IsSlash(path[0]);
}

// The root (drive, leading separator, UNC double separator) is split off first and never
// climbed above: ".." components that remain unresolved are dropped from a rooted or drive
// path and kept in a plain relative one. Server and share of a UNC path are taken as they are
// ("\\.\pipe" keeps its dot) and are part of the root.
void NormalizePath(std::string& path) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '/', Backslash);

    std::string root;
    size_t pos = 0;
    bool rooted = false;          // unresolved ".." components are dropped
    size_t literalComponents = 0;  // UNC server and share
    if (p.size() >= 2 && p[0] == Backslash && p[1] == Backslash) {
        root = "\\\\";
        pos = 2;
        rooted = true;
        literalComponents = 2;
    } else if (p.size() >= 2 && p[1] == ':') {
        root = p.substr(0, 2);
        pos = 2;
        while (pos < p.size() && p[pos] == ':') ++pos;  // "C::" is "C:"
        if (pos < p.size() && p[pos] == Backslash) root += Backslash;
        rooted = true;
    } else if (!p.empty() && p[0] == Backslash) {
        root = "\\";
        rooted = true;
    }

    std::vector<std::string_view> components;
    const size_t n = p.size();
    const bool trailingBackslash = pos < n && p[n - 1] == Backslash;
    size_t i = pos;
    while (i < n) {
        while (i < n && p[i] == Backslash) ++i;
        if (i >= n) break;
        size_t start = i;
        while (i < n && p[i] != Backslash) ++i;
        std::string_view name(p.data() + start, i - start);
        const bool backslashFollows = i < n;

        if (components.size() < literalComponents) {
            components.push_back(name);
        } else if (name == ".") {
            continue;
        } else if (name == "..") {
            if (components.size() > literalComponents && components.back() != "..")
                components.pop_back();
            else if (!rooted)
                components.push_back(name);
        } else {
            if (backslashFollows && EndsWithSingleDot(name)) name.remove_suffix(1);
            components.push_back(name);
        }
    }

    std::string result = root;
    for (size_t k = 0; k < components.size(); ++k) {
        if (k > 0) result += Backslash;
        result += components[k];
    }
    if (trailingBackslash && !components.empty()) result += Backslash;
    path = std::move(result);
}

std::string CombinePath(std::string_view base, std::string_view relative, int* nameStart) {
    if (relative.size() >= 2 && relative.front() == '"' && relative.back() == '"')
        relative = relative.substr(1, relative.size() - 2);

    std::string result;
    if (relative.empty()) {
        result = AddTrailingBackslash(base);
    } else {
        if (IsAbsolutePath(relative)) {
            const bool singleLeadingSlash =
                IsSlash(relative[0]) && (relative.size() < 2 || !IsSlash(relative[1]));
            if (singleLeadingSlash) result = RootOfBase(base);
            result += relative;
        } else {
            if (base.empty())
                throw Exception(Format("Base path cannot be an empty string (relative path is \"%s\")", {relative}));
            result = base;
            if (!IsSlash(base.back())) result += Backslash;
            result += relative;
        }
        NormalizePath(result);
    }

    if (nameStart) {
        size_t last = result.rfind(Backslash);
        *nameStart = last == std::string::npos ? 1 : static_cast<int>(last) + 2;
    }
    return result;
}

}  // namespace cm
