#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Strings.h"
#ifdef _WIN32
#include "cm/Objects/WinApi.h"

#include <shellapi.h>
#endif

namespace cm {
namespace {

TEST(CommandLine, Quoting) {
    EXPECT_EQ("\"\"", QuoteString(""));
    EXPECT_EQ("\"C:\\a b\\x.exe\"", QuoteString("C:\\a b\\x.exe"));
    EXPECT_EQ("\"say \"hi\"\"", QuoteString("say \"hi\""));  // nothing escaped
    EXPECT_EQ("''", SingleQuoteString(""));
    EXPECT_EQ("'it's'", SingleQuoteString("it's"));
}

// The Windows argument rules read each of these back as the text it was made from (the Windows
// test build checks that through the system's own parser).
TEST(CommandLine, QuoteArgument) {
    struct Case { const char* text; const char* argument; };
    const Case cases[] = {
        {"Corvane", "Corvane"},
        {"C:\\dir\\", "C:\\dir\\"},                         // nothing to quote: backslashes stay as they are
        {"Corvane 4.2", "\"Corvane 4.2\""},
        {"", "\"\""},
        {"tab\there", "\"tab\there\""},
        {"Evil\" /Injected=1 \"x", "\"Evil\\\" /Injected=1 \\\"x\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},                      // a\"b: the backslash doubled, the quote escaped
        {"end with\\", "\"end with\\\\\""},                   // before the closing quote: doubled
        {"a\\b c", "\"a\\b c\""},                                // elsewhere: as it is
    };
    for (const auto& c : cases) EXPECT_EQ(c.argument, QuoteArgument(c.text)) << c.text;
#ifdef _WIN32
    for (const auto& c : cases) {
        const std::string line = std::string("setup.exe /ProductCaption=") + QuoteArgument(c.text);
        const std::wstring wide(line.begin(), line.end());
        int count = 0;
        LPWSTR* argv = ::CommandLineToArgvW(wide.c_str(), &count);
        ASSERT_NE(argv, nullptr);
        ASSERT_EQ(count, 2) << line;
        const std::wstring expected = L"/ProductCaption=" + std::wstring(c.text, c.text + std::strlen(c.text));
        EXPECT_TRUE(expected == argv[1]) << line;
        ::LocalFree(argv);
    }
#endif
}

TEST(CommandLine, ExtractFirstArgument) {
    struct Case { const char* line; const char* argument; size_t consumed; };
    const Case cases[] = {
        {"\"C:\\Program Files\\a.exe\" /x", "C:\\Program Files\\a.exe", 24},
        {"\"\" rest", "", 2},
        {"\"a\"b c", "a", 3},
        {"a.exe  /x", "a.exe", 5},           // the blank is not consumed
        {"a.exe\t/x", "a.exe", 5},
        {"a.exe", "a.exe", 5},
        {" a", "", 0},
        {"", "", 0},
        {"a\"b c\" d", "a\"b", 3},           // a quote inside an unquoted argument is plain text
    };
    for (const auto& c : cases) {
        size_t consumed = 999;
        EXPECT_EQ(c.argument, ExtractFirstArgument(c.line, consumed)) << c.line;
        EXPECT_EQ(c.consumed, consumed) << c.line;
    }
}

TEST(CommandLine, UnclosedQuoteRaises) {
    for (const char* line : {"\"", "\"C:\\a b.exe /x"}) {
        size_t consumed = 0;
        try {
            ExtractFirstArgument(line, consumed);
            FAIL() << line;
        } catch (const Exception& e) {
            EXPECT_STREQ("Closing quotation mark not found.", e.what());
        }
    }
    std::string line = "\"open";
    EXPECT_THROW(RemoveFirstArgument(line, true), Exception);
    EXPECT_EQ("\"open", line);  // left unchanged
}

TEST(CommandLine, RemoveFirstArgument) {
    struct Case { const char* line; bool trim; const char* argument; const char* rest; };
    const Case cases[] = {
        {"\"C:\\p q\\setup.exe\"", true, "C:\\p q\\setup.exe", ""},
        {"C:\\setup.exe  /s", true, "C:\\setup.exe", "/s"},
        {"C:\\setup.exe  /s", false, "C:\\setup.exe", "  /s"},
        {"\"a\"b c", false, "a", "b c"},
        {"x /a \"b c\" \r\n", true, "x", "/a \"b c\""},
        {"", true, "", ""},
    };
    for (const auto& c : cases) {
        std::string line = c.line;
        EXPECT_EQ(c.argument, RemoveFirstArgument(line, c.trim)) << c.line;
        EXPECT_EQ(c.rest, line) << c.line;
    }
}

}  // namespace
}  // namespace cm
