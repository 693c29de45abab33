// String routines on 8-bit ANSI strings. Only the ASCII letters are folded for comparisons, so
// the results never depend on the code page or the C locale.
#include <cstdint>
#include <string>
#include <string_view>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Strings.h"

namespace cm {

namespace {

// Replacements ReplaceAllText may make; needing one more means a runaway loop in the caller.
constexpr int MaxReplacements = 9999;

constexpr char HexDigitChars[] = "0123456789ABCDEF";

unsigned char FoldAscii(char c) {
    unsigned char b = static_cast<unsigned char>(c);
    return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - ('a' - 'A')) : b;
}

bool EqualAsciiAt(std::string_view pattern, std::string_view text, size_t at) {
    for (size_t i = 0; i < pattern.size(); ++i)
        if (FoldAscii(pattern[i]) != FoldAscii(text[at + i])) return false;
    return true;
}

// 0-based index of the first match at or after from, or npos.
size_t FindText(std::string_view pattern, std::string_view text, size_t from, bool exactCase) {
    if (pattern.empty() || from >= text.size() || pattern.size() > text.size() - from)
        return std::string_view::npos;
    if (exactCase) return text.find(pattern, from);
    for (size_t at = from; at + pattern.size() <= text.size(); ++at)
        if (EqualAsciiAt(pattern, text, at)) return at;
    return std::string_view::npos;
}

int PosFrom(std::string_view pattern, std::string_view text, int start, bool exactCase) {
    size_t from = start < 1 ? 0 : static_cast<size_t>(start) - 1;
    size_t at = FindText(pattern, text, from, exactCase);
    return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool SameTextAscii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && EqualAsciiAt(a, b, 0);
}

int PosTextAscii(std::string_view pattern, std::string_view text, int start) {
    return PosFrom(pattern, text, start, false);
}

int PosText(std::string_view pattern, std::string_view text, int start) {
    return PosFrom(pattern, text, start, true);
}

std::string ReplaceAllText(std::string_view text, std::string_view oldText, std::string_view newText, bool exactCase) {
    std::string result;
    size_t from = 0;
    int replacements = 0;
    for (;;) {
        size_t at = FindText(oldText, text, from, exactCase);
        if (at == std::string_view::npos) break;
        CM_ASSERT("cm/Objects", replacements < MaxReplacements);
        ++replacements;
        result.append(text, from, at - from);
        result += newText;
        from = at + oldText.size();
    }
    result.append(text, from, std::string_view::npos);
    return result;
}

std::string ReplaceCharsInSet(std::string_view text, std::string_view charSet, char replacement) {
    std::string result(text);
    for (char& c : result)
        if (charSet.find(c) != std::string_view::npos) c = replacement;
    return result;
}

std::string HexDigits(uint64_t value, int count) {
    if (count <= 0) return {};
    std::string result(static_cast<size_t>(count), '0');
    for (int i = count - 1; i >= 0 && value != 0; --i) {
        result[static_cast<size_t>(i)] = HexDigitChars[value & 0xF];
        value >>= 4;
    }
    return result;
}

std::string HexPointer(uint32_t value) {
    return "0x" + HexDigits(value, 8);
}

// The runtime's integer conversion: leading blanks, an optional sign, then decimal digits or
// hex digits after "$", "0x" or "0X". Decimal values must fit int32; hex values may use all
// 32 bits and are taken as the bit pattern ("$FFFFFFFF" is -1), as the runtime does.
bool TryParseInt(std::string_view text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size()) return false;

    uint64_t magnitude = 0;
    const uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    for (; i < text.size(); ++i) {
        int digit = hex ? HexDigitValue(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0) return false;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (magnitude > limit) return false;
    }
    uint32_t bits = static_cast<uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    value = static_cast<int32_t>(bits);
    return true;
}

std::string LowerCaseAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    return result;
}

std::string UpperCaseAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    return result;
}

std::string TrimText(std::string_view text) {
    auto isTrimmed = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t begin = 0, end = text.size();
    while (begin < end && isTrimmed(text[begin])) ++begin;
    while (end > begin && isTrimmed(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

}  // namespace cm
