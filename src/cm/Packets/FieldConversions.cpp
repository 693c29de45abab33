#include "cm/Packets/FieldConversions.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "cm/Objects/DateTime.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/Format.h"
#include "cm/Objects/Strings.h"

namespace cm::packet_engine {

int64_t ParseInteger(const std::string& text, int64_t low, int64_t high) {
    if (text.empty())
        return 0;
    int32_t value32;
    if (TryParseInt(text, value32))
        return value32;
    if (high <= INT32_MAX)
        throw Exception(Format("'%s' is not a valid integer value", {text}));
    // Wider values: plain decimal.
    const std::string trimmed = TrimText(text);
    int64_t value64;
    const char* end = trimmed.data() + trimmed.size();
    const char* first = trimmed.data() + (!trimmed.empty() && trimmed[0] == '+' ? 1 : 0);
    auto [ptr, ec] = std::from_chars(first, end, value64);
    if (ec == std::errc() && ptr == end && first != end && value64 >= low && value64 <= high)
        return value64;
    throw Exception(Format("'%s' is not a valid integer value", {text}));
}

double ParseFloat(const std::string& text) {
    const std::string trimmed = TrimText(text);
    const char* end = trimmed.data() + trimmed.size();
    const char* first = trimmed.data() + (!trimmed.empty() && trimmed[0] == '+' ? 1 : 0);
    double value;
    auto [ptr, ec] = std::from_chars(first, end, value);
    if (ec != std::errc() || ptr != end || first == end || !std::isfinite(value))
        throw Exception(Format("'%s' is not a valid floating point value", {text}));
    return value;
}

int64_t RoundHalfEven(double value) {
    if (!(std::fabs(value) < 9.2e18))
        throw Exception(Format("'%s' is not a valid integer value", {DateTimeToText(value)}));
    double rounded = std::round(value);
    if (std::fabs(value - std::trunc(value)) == 0.5 && std::fmod(rounded, 2.0) != 0)
        rounded -= value < 0 ? -1 : 1;
    return static_cast<int64_t>(rounded);
}

std::string GeneralFloat4(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.4G", value);
    return text;
}

std::string GeneralFloat15(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15G", value);
    return text;
}

std::string QuotedText(std::string text) {
    for (char& c : text)
        if (c == '\0')
            c = ' ';
    return "'" + text + "'";
}

}  // namespace cm::packet_engine
