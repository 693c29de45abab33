// Type-safe formatting with the system's format letters: %s %d %u %x %p %%.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace cm {

// One argument of Format. Integers keep their signedness; pointers print as 8 (or, on a
// 64-bit host, 16) upper-case hex digits.
class FormatArg {
public:
    enum class Kind { Integer, Unsigned, Text, Pointer };

    FormatArg(int v) : kind_(Kind::Integer), int_(v) {}
    FormatArg(long v) : kind_(Kind::Integer), int_(v) {}
    FormatArg(long long v) : kind_(Kind::Integer), int_(v) {}
    FormatArg(unsigned v) : kind_(Kind::Unsigned), uint_(v) {}
    FormatArg(unsigned long v) : kind_(Kind::Unsigned), uint_(v) {}
    FormatArg(unsigned long long v) : kind_(Kind::Unsigned), uint_(v) {}
    FormatArg(const char* v) : kind_(Kind::Text), text_(v ? v : "") {}
    FormatArg(const std::string& v) : kind_(Kind::Text), text_(v) {}
    FormatArg(std::string_view v) : kind_(Kind::Text), text_(v) {}
    FormatArg(const void* v) : kind_(Kind::Pointer), uint_(reinterpret_cast<uintptr_t>(v)) {}

    Kind kind() const { return kind_; }
    long long asInteger() const { return kind_ == Kind::Integer ? int_ : static_cast<long long>(uint_); }
    unsigned long long asUnsigned() const { return kind_ == Kind::Integer ? static_cast<unsigned long long>(int_) : uint_; }
    std::string_view text() const { return text_; }

private:
    Kind kind_;
    long long int_ = 0;
    unsigned long long uint_ = 0;
    std::string_view text_;
};

using FormatArgs = std::initializer_list<FormatArg>;

// Fills the format with the arguments:
//   %s text (an integer argument prints in decimal), %d signed decimal, %u unsigned decimal,
//   %x upper-case hex without leading zeros (a negative int prints as its 32-bit pattern),
//   %p pointer as upper-case hex digits of pointer width, %% a percent sign.
// A letter without a matching argument, or an unknown letter, is written unchanged; it never raises.
std::string Format(std::string_view format, FormatArgs args = {});

}  // namespace cm
