// Internals of the packet engine: conversions between field values and text, as the typed
// accessors and the text forms use them. Not for users of packets.
#pragma once

#include <cstdint>
#include <string>

namespace cm {

// The conversions between wide-string fields and 8-bit text (accessors, text forms, the 8-bit wire
// form): on Windows through the system's ANSI code page, as every 8-bit string of the system is
// (a character the code page lacks becomes '?'); on the host as Latin-1 (code units above 255
// become '?'). WideText_win32.cpp and WideText_host.cpp.
std::string WideToNarrow(const std::u16string& value);
std::u16string NarrowToWide(const std::string& value);

namespace packet_engine {

// The runtime's integer parsing: empty text gives 0; otherwise an optional sign and decimal
// digits, or hex after "$" / "0x", within the 32-bit range. Where high exceeds the 32-bit range
// (members wider than 32 bits or unsigned), plain decimal text within [low, high] is taken as
// well. Raises "'%s' is not a valid integer value" beyond that.
int64_t ParseInteger(const std::string& text, int64_t low, int64_t high);
// The runtime's floating-point parsing (finite values only); raises "'%s' is not a valid floating
// point value".
double ParseFloat(const std::string& text);
// Rounded to the nearest integer, halves to even; raises "'%s' is not a valid integer value" for
// magnitudes beyond 64 bits.
int64_t RoundHalfEven(double value);
// The runtime's general number format with 4 (accessors) or 15 (text form) significant digits.
std::string GeneralFloat4(double value);
std::string GeneralFloat15(double value);
// A string's text form: in single quotes, every NUL shown as a blank, nothing escaped.
std::string QuotedText(std::string text);

}  // namespace packet_engine

}  // namespace cm
