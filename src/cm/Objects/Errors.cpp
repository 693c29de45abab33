#include "cm/Objects/Errors.h"

#include <cstdio>

namespace cm {

std::string SystemErrorMessage(std::string_view format, FormatArgs args, uint32_t code) {
    std::string message = Format(format, args);
    message += ": ";
    message += SystemErrorText(code);
    message += " (";
    message += std::to_string(code);
    message += ")";
    return message;
}

void RaiseSystemError(std::string_view format, FormatArgs args, uint32_t code) {
    throw EWin32Error(SystemErrorMessage(format, args, code), code);
}

void CheckSystemCall(bool ok, std::string_view message) {
    if (!ok) RaiseLastSystemError(message);
}

void CheckSystemCallFmt(bool ok, std::string_view format, FormatArgs args) {
    if (!ok) RaiseLastSystemError(format, args);
}

void ReraiseWithContext(std::string_view message) {
    std::string text(message);
    try {
        throw;
    } catch (const EAbort& e) {
        throw EAbort(text + "\r\n" + e.message());
    } catch (const EWin32Error& e) {
        throw EWin32Error(text + "\r\n" + e.message(), e.ErrorCode);
    } catch (const Exception& e) {
        throw Exception(text + "\r\n" + e.message());
    } catch (const std::exception& e) {
        // The language runtime's own (out of memory, a length beyond a container's limit): their
        // text is the only cause a reader of the message gets.
        throw Exception(text + "\r\n" + e.what());
    } catch (...) {
        throw Exception(text);
    }
}

void ReraiseWithContextFmt(std::string_view format, FormatArgs args) {
    ReraiseWithContext(Format(format, args));
}

void AssertionFailure(const char* unit, int line, const char* condition) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, ", line %d)", line);
    throw EAssertionFailed(std::string("Assertion failure: ") + condition + " (" + unit + buffer);
}

}  // namespace cm
