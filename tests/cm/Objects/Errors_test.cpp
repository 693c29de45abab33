#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "cm/Objects/Errors.h"

namespace cm {
namespace {

TEST(Format, LettersAndArguments) {
    struct Case { std::string expected, actual; };
    const Case cases[] = {
        {"a 12 b", Format("a %d b", {12})},
        {"-5", Format("%d", {-5})},
        {"'C:\\x.txt'", Format("'%s'", {"C:\\x.txt"})},
        {"0x01F", Format("0x0%x", {0x1F})},
        {"FFFFFFFB", Format("%x", {-5})},
        {"100%", Format("100%%")},
        {"%s missing", Format("%s missing")},
        {"%q", Format("%q", {1})},
        {"7 left", Format("%s left", {7})},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, c.actual);
    EXPECT_EQ(sizeof(void*) * 2, Format("%p", {static_cast<const void*>(nullptr)}).size());
}

TEST(Errors, SystemErrorFormKeepsPercentOfSystemText) {
    try {
        RaiseSystemError("Failed to delete file '%s'", {"C:\\x.txt"}, 5);
        FAIL();
    } catch (const EWin32Error& e) {
        EXPECT_EQ(5u, e.ErrorCode);
        std::string m = e.message();
        EXPECT_EQ(0u, m.find("Failed to delete file 'C:\\x.txt': "));
        EXPECT_EQ(" (5)", m.substr(m.size() - 4));
    }
}

// Each kind survives the context line; foreign exceptions become the base class.
TEST(Errors, ReraiseWithContextKeepsKind) {
    auto reraise = [](auto thrower) {
        try {
            try {
                thrower();
            } catch (...) {
                ReraiseWithContext("outer");
            }
        } catch (const EAbort& e) {
            return std::string("abort:") + e.message();
        } catch (const EWin32Error& e) {
            return "win32 " + std::to_string(e.ErrorCode) + ":" + e.message();
        } catch (const Exception& e) {
            return "base:" + e.message();
        }
        return std::string("none");
    };
    EXPECT_EQ("abort:outer\r\ninner", reraise([] { throw EAbort("inner"); }));
    EXPECT_EQ("win32 87:outer\r\ninner", reraise([] { throw EWin32Error("inner", 87); }));
    EXPECT_EQ("base:outer\r\ninner", reraise([] { throw Exception("inner"); }));
    EXPECT_EQ("base:outer", reraise([] { throw 42; }));
    // The runtime's own exceptions keep their text.
    EXPECT_EQ("base:outer\r\ntoo long", reraise([] { throw std::length_error("too long"); }));
    EXPECT_EQ("base:outer\r\nstd::bad_alloc", reraise([] { throw std::bad_alloc(); }));
    EXPECT_EQ("base:outer\r\nmiddle\r\ninner", reraise([] {
        try { throw Exception("inner"); } catch (...) { ReraiseWithContextFmt("%s", {"middle"}); }
    }));
}

}  // namespace
}  // namespace cm
