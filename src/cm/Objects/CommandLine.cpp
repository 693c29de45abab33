// Quoting and splitting of command lines as the bootstrap forwards them.
#include <string>
#include <string_view>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Strings.h"

namespace cm {

namespace {

// Blanks that end an unquoted argument: the separators of the Windows command-line rules.
bool IsArgumentBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string QuoteString(std::string_view text) {
    std::string result;
    result.reserve(text.size() + 2);
    result += '"';
    result += text;
    result += '"';
    return result;
}

std::string SingleQuoteString(std::string_view text) {
    std::string result;
    result.reserve(text.size() + 2);
    result += '\'';
    result += text;
    result += '\'';
    return result;
}

std::string QuoteArgument(std::string_view text) {
    if (!text.empty() && text.find_first_of(" \t\"") == std::string_view::npos) return std::string(text);
    std::string result = "\"";
    size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double before a double quote: written twice, plus one for the quote.
        result.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        result += c;
    }
    result.append(backslashes * 2, '\\');
    return result + '"';
}

std::string ExtractFirstArgument(std::string_view commandLine, size_t& consumed) {
    if (!commandLine.empty() && commandLine.front() == '"') {
        size_t closing = commandLine.find('"', 1);
        if (closing == std::string_view::npos) throw Exception("Closing quotation mark not found.");
        consumed = closing + 1;
        return std::string(commandLine.substr(1, closing - 1));
    }
    size_t end = 0;
    while (end < commandLine.size() && !IsArgumentBlank(commandLine[end])) ++end;
    consumed = end;
    return std::string(commandLine.substr(0, end));
}

std::string RemoveFirstArgument(std::string& commandLine, bool trim) {
    size_t consumed = 0;
    std::string argument = ExtractFirstArgument(commandLine, consumed);
    commandLine.erase(0, consumed);
    if (trim) commandLine = TrimText(commandLine);
    return argument;
}

}  // namespace cm
