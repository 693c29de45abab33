#include "Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tooljson {

namespace {

void AppendEscape(std::string& out, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", value);
    out += escape;
}

template <class Unit>
std::string Quote(std::basic_string_view<Unit> text) {
    std::string out = "\"";
    for (const Unit unit : text) {
        const unsigned c = static_cast<std::make_unsigned_t<Unit>>(unit);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7F)
                    AppendEscape(out, c);
                else
                    out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

std::string JsonString(std::string_view bytes) {
    return Quote(bytes);
}

std::string JsonString(std::u16string_view units) {
    return Quote(units);
}

std::string JsonNumber(double value) {
    if (std::isnan(value)) return "\"NaN\"";
    if (std::isinf(value)) return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

void TJsonWriter::BeforeValue() {
    if (FAfterKey) {
        FAfterKey = false;
        return;
    }
    if (FLevels.empty())
        return;
    FText += FLevels.back().Empty ? "\n" : ",\n";
    FLevels.back().Empty = false;
    FText.append(2 * FLevels.size(), ' ');
}

TJsonWriter& TJsonWriter::Key(std::string_view key) {
    BeforeValue();
    FText += JsonString(key) + ": ";
    FAfterKey = true;
    return *this;
}

void TJsonWriter::Raw(const std::string& json) {
    BeforeValue();
    FText += json;
}

void TJsonWriter::BeginObject() {
    BeforeValue();
    FText += "{";
    FLevels.push_back({});
}

void TJsonWriter::BeginArray() {
    BeforeValue();
    FText += "[";
    FLevels.push_back({});
}

void TJsonWriter::Close(char bracket) {
    const bool empty = FLevels.back().Empty;
    FLevels.pop_back();
    if (!empty) {
        FText += "\n";
        FText.append(2 * FLevels.size(), ' ');
    }
    FText += bracket;
}

void TJsonWriter::EndObject() { Close('}'); }
void TJsonWriter::EndArray() { Close(']'); }

}  // namespace tooljson
