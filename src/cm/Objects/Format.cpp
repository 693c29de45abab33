#include "cm/Objects/Format.h"

#include <cstdio>

namespace cm {

namespace {

void AppendUnsignedHex(std::string& out, unsigned long long value, int minDigits) {
    char digits[17];
    int n = 0;
    do {
        digits[n++] = "0123456789ABCDEF"[value & 0xF];
        value >>= 4;
    } while (value != 0 && n < 16);
    while (n < minDigits && n < 16) digits[n++] = '0';
    while (n > 0) out += digits[--n];
}

}  // namespace

std::string Format(std::string_view format, FormatArgs args) {
    std::string out;
    out.reserve(format.size() + 16);
    auto next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%' || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        char letter = format[i + 1];
        if (letter == '%') {
            out += '%';
            ++i;
            continue;
        }
        if ((letter != 's' && letter != 'd' && letter != 'u' && letter != 'x' && letter != 'p') ||
            next == args.end()) {
            out += c;  // not ours: written unchanged
            continue;
        }
        ++i;
        const FormatArg& arg = *next++;
        char buffer[32];
        switch (letter) {
            case 's':
                if (arg.kind() == FormatArg::Kind::Text) {
                    out += arg.text();
                } else {
                    std::snprintf(buffer, sizeof buffer, "%lld", arg.asInteger());
                    out += buffer;
                }
                break;
            case 'd':
                std::snprintf(buffer, sizeof buffer, "%lld", arg.asInteger());
                out += buffer;
                break;
            case 'u':
                std::snprintf(buffer, sizeof buffer, "%llu", arg.asUnsigned());
                out += buffer;
                break;
            case 'x': {
                unsigned long long v = arg.asUnsigned();
                // A negative 32-bit value prints as its 32-bit pattern, as the system's own formatter does.
                if (arg.kind() == FormatArg::Kind::Integer && arg.asInteger() < 0 &&
                    arg.asInteger() >= INT32_MIN)
                    v &= 0xFFFFFFFFull;
                AppendUnsignedHex(out, v, 1);
                break;
            }
            case 'p':
                AppendUnsignedHex(out, arg.asUnsigned(), static_cast<int>(sizeof(void*) * 2));
                break;
        }
    }
    return out;
}

}  // namespace cm
