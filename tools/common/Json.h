// The tools' JSON: string and number forms, and a small writer that indents nested objects and arrays by two blanks.
// Keys and values are written in the order given; the caller keeps them unique.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tooljson {

// A JSON string of 8-bit text: each byte as the code point of its value (so the bytes are kept),
// control characters, quotes, backslashes and everything from 0x7F escaped.
std::string JsonString(std::string_view bytes);
// A JSON string of UTF-16 code units: every unit outside printable ASCII escaped as \uXXXX.
std::string JsonString(std::u16string_view units);
// The shortest text that reads back as the same double; "NaN", "Infinity" and "-Infinity" as
// strings (JSON has no such numbers).
std::string JsonNumber(double value);

class TJsonWriter {
public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The key of the next value inside an object.
    TJsonWriter& Key(std::string_view key);
    // A value already in JSON form (a number, true, false, null, a JsonString).
    void Raw(const std::string& json);
    void String(std::string_view bytes) { Raw(JsonString(bytes)); }
    void Integer(int64_t value) { Raw(std::to_string(value)); }
    void Boolean(bool value) { Raw(value ? "true" : "false"); }
    void Null() { Raw("null"); }

    // The document, ending in a line break.
    std::string Text() const { return FText + "\n"; }

private:
    void BeforeValue();
    void Close(char bracket);

    struct TLevel {
        bool Empty = true;
    };
    std::string FText;
    std::vector<TLevel> FLevels;
    bool FAfterKey = false;
};

}  // namespace tooljson
