// Path arithmetic, string routines and command-line splitting. Pure string functions: no
// file-system access, no operating system; built and tested on the host too.
// Strings hold 8-bit ANSI bytes; positions returned to callers are 1-based (0 = not found).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cm {

// ---- Paths ----

// Empty stays empty; a path ending in '\' is unchanged; otherwise '\' is appended.
std::string AddTrailingBackslash(std::string_view path);
// Removes one trailing '\' if present.
std::string RemoveTrailingBackslash(std::string_view path);
// Up to and including the last '/', ':' or '\' (trailing blanks ignored when looking); empty without one.
std::string ExtractPathPart(std::string_view path);
// After the last separator up to the last non-blank; the input unchanged without a separator.
std::string ExtractNamePart(std::string_view path);
// Cuts an extension (a '.' after the last separator) and appends the given one (may be empty).
std::string ChangeExtension(std::string_view path, std::string_view extension);
// From the last '.' on (dot included), empty when a separator comes after it or there is none.
std::string ExtractExtension(std::string_view path);
// The name part without its extension.
std::string ExtractBaseName(std::string_view path);
// Not empty and either a drive ("x:") or a leading '\' or '/'.
bool IsAbsolutePath(std::string_view path);
// Slashes to backslashes, collapsed separators (UNC prefix kept), "." and ".." components resolved,
// trailing dots of component names removed, a doubled drive colon reduced. The root ("C:\", "\",
// "\\server\share") is never climbed above: unresolved ".." are dropped there, kept in a relative path.
void NormalizePath(std::string& path);
// Joins base and relative by the path-combination rule, then normalises; a relative part with one
// leading separator goes under the base's drive or UNC share. Raises Exception
// "Base path cannot be an empty string (relative path is "%s")" for a relative part with an
// empty base. nameStart (optional) receives the 1-based position where the final name starts.
std::string CombinePath(std::string_view base, std::string_view relative, int* nameStart = nullptr);

// ---- Strings ----

// Equal length and bytes; only ASCII letters compare without regard to case.
bool SameTextAscii(std::string_view a, std::string_view b);
// 1-based position of pattern in text at or after start (1-based), or 0.
int PosTextAscii(std::string_view pattern, std::string_view text, int start = 1);
int PosText(std::string_view pattern, std::string_view text, int start = 1);
// Replaces every occurrence of oldText (at most 9,999 of them; a 10,000th is an assertion).
std::string ReplaceAllText(std::string_view text, std::string_view oldText, std::string_view newText, bool exactCase);
// Every character of text that occurs in charSet becomes replacement.
std::string ReplaceCharsInSet(std::string_view text, std::string_view charSet, char replacement);
// Exactly count upper-case hex digits of the value's low nibbles.
std::string HexDigits(uint64_t value, int count);
// "0x" + 8 upper-case hex digits.
std::string HexPointer(uint32_t value);
// Whole text a valid 32-bit integer: leading blanks, optional sign, decimal digits or hex digits
// after "$"/"0x" (hex may use all 32 bits). value is written only on success.
bool TryParseInt(std::string_view text, int32_t& value);
// ASCII lower case / upper case of the letters A-Z / a-z only.
std::string LowerCaseAscii(std::string_view text);
std::string UpperCaseAscii(std::string_view text);
// Removes blanks and control characters (bytes <= ' ') from both ends.
std::string TrimText(std::string_view text);

// ---- Command lines ----

// Double quotes around the text, nothing inside escaped.
std::string QuoteString(std::string_view text);
std::string SingleQuoteString(std::string_view text);
// The text as one argument of a command line, as the Windows argument rules (CommandLineToArgvW,
// the C runtime's parser) read it back: unchanged when it is not empty and holds no blank, tab or
// double quote; otherwise in double quotes, a double quote inside written as \" and the
// backslashes that precede a double quote or the closing quote doubled.
std::string QuoteArgument(std::string_view text);
// The first argument of a command line and the number of characters it consumes (both quotes
// of a quoted argument; not the blank or tab after an unquoted one). Raises Exception
// "Closing quotation mark not found." for an opening quote without a closing one.
std::string ExtractFirstArgument(std::string_view commandLine, size_t& consumed);
// Deletes the first argument from the front of the line and returns it; with trim, blanks and
// control characters are removed from both ends of what remains.
std::string RemoveFirstArgument(std::string& commandLine, bool trim);

}  // namespace cm
