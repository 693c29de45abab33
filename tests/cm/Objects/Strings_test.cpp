#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Strings.h"

namespace cm {
namespace {

TEST(Strings, SameTextAsciiFoldsOnlyAsciiLetters) {
    struct Case { std::string a, b; bool same; };
    const Case cases[] = {
        {"", "", true},
        {"Setup.EXE", "setup.exe", true},
        {"abc", "abcd", false},
        {"[", "{", false},                 // 0x5B and 0x7B differ by the case bit but are no letters
        {"@", "`", false},
        {"\xC4", "\xE4", false},           // code-page letters compare exactly
        {"\xC4x", "\xC4X", true},
        {std::string("a\0b", 3), std::string("A\0B", 3), true},
        {std::string("a\0b", 3), "a", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.same, SameTextAscii(c.a, c.b)) << c.a << " / " << c.b;
}

TEST(Strings, PosText) {
    struct Case { const char* pattern; const char* text; int start; int ascii; int exact; };
    const Case cases[] = {
        {"b", "abcabc", 1, 2, 2},
        {"B", "abcabc", 1, 2, 0},
        {"b", "abcabc", 3, 5, 5},
        {"b", "abcabc", 5, 5, 5},
        {"b", "abcabc", 6, 0, 0},
        {"b", "abcabc", 99, 0, 0},
        {"abc", "xAbC", 1, 2, 0},
        {"abcd", "abc", 1, 0, 0},
        {"bc", "abc", 3, 0, 0},             // pattern longer than the rest
        {"", "abc", 1, 0, 0},
        {"a", "", 1, 0, 0},
        {"\xE4", "\xC4\xE4", 1, 2, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.ascii, PosTextAscii(c.pattern, c.text, c.start)) << c.pattern << " in " << c.text;
        EXPECT_EQ(c.exact, PosText(c.pattern, c.text, c.start)) << c.pattern << " in " << c.text;
    }
    EXPECT_EQ(1, PosText("a", "abc"));
}

TEST(Strings, ReplaceAllText) {
    struct Case { const char* text; const char* oldText; const char* newText; bool exact; const char* expected; };
    const Case cases[] = {
        {"a%DIR%b%dir%", "%DIR%", "C:\\x", true, "aC:\\xb%dir%"},
        {"a%DIR%b%dir%", "%DIR%", "C:\\x", false, "aC:\\xbC:\\x"},
        {"aaa", "a", "aa", true, "aaaaaa"},  // continues after the inserted text
        {"aaaa", "aa", "b", true, "bb"},
        {"abc", "", "x", true, "abc"},
        {"abc", "abc", "", true, ""},
        {"", "a", "b", true, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, ReplaceAllText(c.text, c.oldText, c.newText, c.exact)) << c.text;
}

TEST(Strings, ReplaceAllTextStopsAtTenThousandthReplacement) {
    EXPECT_EQ(std::string(9999, 'y'), ReplaceAllText(std::string(9999, 'x'), "x", "y", true));
    EXPECT_THROW(ReplaceAllText(std::string(10000, 'x'), "x", "y", false), EAssertionFailed);
}

TEST(Strings, ReplaceCharsInSet) {
    EXPECT_EQ("a_b_c_d", ReplaceCharsInSet("a<b>c|d", "<>|", '_'));
    EXPECT_EQ("abc", ReplaceCharsInSet("abc", "", '_'));
    EXPECT_EQ("_x_", ReplaceCharsInSet("\xFFx\xFE", "\xFE\xFF", '_'));
}

TEST(Strings, HexDigits) {
    EXPECT_EQ("00FF", HexDigits(0xFF, 4));
    EXPECT_EQ("CD", HexDigits(0xABCD, 2));  // higher digits dropped
    EXPECT_EQ("", HexDigits(0xABCD, 0));
    EXPECT_EQ("FEDCBA9876543210", HexDigits(0xFEDCBA9876543210ull, 16));
    EXPECT_EQ("0000FEDCBA9876543210", HexDigits(0xFEDCBA9876543210ull, 20));
    EXPECT_EQ("0x0040A0FF", HexPointer(0x40A0FF));
    EXPECT_EQ("0xFFFFFFFF", HexPointer(0xFFFFFFFFu));
}

TEST(Strings, TryParseInt) {
    struct Good { const char* text; int32_t value; };
    const Good good[] = {
        {"0", 0}, {"42", 42}, {"-42", -42}, {"+7", 7}, {"  12", 12}, {"007", 7},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"$1F", 31}, {"0x1f", 31}, {"0X1F", 31}, {"-$10", -16},
        {"$FFFFFFFF", -1}, {"0x80000000", INT32_MIN}, {"$000000001", 1},
    };
    for (const auto& c : good) {
        int32_t value = 12345;
        EXPECT_TRUE(TryParseInt(c.text, value)) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
    for (const char* text : {"", " ", "-", "+", "$", "0x", "12 ", "1a", "a1", "2147483648", "-2147483649",
                             "$100000000", "99999999999999999999", "0x-1", "--1", "1.0", "\t1"}) {
        int32_t value = 12345;
        EXPECT_FALSE(TryParseInt(text, value)) << text;
        EXPECT_EQ(12345, value) << text;
    }
}

TEST(Strings, CaseAndTrim) {
    EXPECT_EQ("abc[\xC4]z", LowerCaseAscii("AbC[\xC4]Z"));
    EXPECT_EQ("ABC{\xE4}Z", UpperCaseAscii("abc{\xE4}z"));
    EXPECT_EQ("a b", TrimText(" \t\r\n a b \x01\x20"));
    EXPECT_EQ("\xA0x\xA0", TrimText("\xA0x\xA0"));  // bytes above 0x7F are not blanks
    EXPECT_EQ("", TrimText(" \t "));
    EXPECT_EQ("", TrimText(""));
}

}  // namespace
}  // namespace cm
