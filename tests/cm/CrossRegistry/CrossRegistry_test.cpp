// TCrossRegistry reading values that the system's own registry tool wrote into the 64-bit and
// the 32-bit view (Wine's default prefix is 64-bit, so this 32-bit program sees both).
#include "cm/CrossRegistry/CrossRegistry.h"

#include <gtest/gtest.h>

#include <string>

#include "cm/Objects/Handles.h"
#include "support/MessageOf.h"
#include "support/ScratchDirectory.h"
#include "support/ProcessStart.h"

namespace cm {
namespace {

using test::MessageOf;

const std::string& TestKey() {
    static const std::string key = "SOFTWARE\\CorvaneCrossRegistryTest_" + std::to_string(::GetCurrentProcessId());
    return key;
}

// Runs the system registry tool with the arguments; returns its exit code.
DWORD RunReg(const std::string& arguments) {
    char directory[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(directory, MAX_PATH);
    std::string commandLine = "\"" + std::string(directory, length) + "\\reg.exe\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!test::CreateProcessRetrying(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                    nullptr, &startup, &info))
        return 0xFFFFFFFF;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

// Imports the lines (the values of the test key in the registry tool's text form) into one view,
// "64" or "32", with one run of the tool.
void ImportValues(const std::string& view, const std::string& valueLines) {
    const cm::test::TScratchDirectory scratch("corvane_cross_registry");
    const std::string path = scratch.File(view + ".reg");
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" + TestKey() + "]\r\n" +
                             valueLines;
    cm::test::WriteFileBytes(path, text);
    EXPECT_EQ(RunReg("import \"" + path + "\" /reg:" + view), 0u);
}

class CrossRegistryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ImportValues("64",
                     "\"Dword\"=dword:00000007\r\n"
                     "\"DwordAllOnes\"=dword:ffffffff\r\n"
                     "\"Decimal\"=\"12\"\r\n"
                     "\"Signed\"=\"  -5\"\r\n"
                     "\"Dollar\"=\"$1F\"\r\n"
                     "\"BareX\"=\"x10\"\r\n"
                     "\"ZeroX\"=\"0x10\"\r\n"
                     "\"Expand\"=hex(2):33,00,00,00\r\n"  // "3" as an expandable string
                     "\"Letters\"=\"abc\"\r\n"
                     "\"Trailing\"=\"12abc\"\r\n"
                     "\"Empty\"=\"\"\r\n"
                     "\"TooBig\"=\"2147483648\"\r\n"
                     "\"Binary\"=hex:01,02\r\n"
                     "\"Qword\"=hex(b):05,00,00,00,00,00,00,00\r\n"
                     "\"Text\"=\"hello world\"\r\n"
                     "\"View\"=dword:00000040\r\n");
        ImportValues("32", "\"View\"=dword:00000020\r\n");
    }
    static void TearDownTestSuite() {
        RunReg("delete \"HKLM\\" + TestKey() + "\" /f /reg:64");
        RunReg("delete \"HKLM\\" + TestKey() + "\" /f /reg:32");
    }

    // A registry over the 64-bit view of HKLM with the test key open.
    static void Open64(TCrossRegistry& registry) {
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        registry.Access = KEY_READ;
        registry.Use64BitView = true;
        ASSERT_TRUE(registry.OpenKey(TestKey(), false));
    }
};

TEST_F(CrossRegistryTest, DefaultsOfANewRegistry) {
    TCrossRegistry registry;
    EXPECT_EQ(registry.RootKey, HKEY_CURRENT_USER);
    EXPECT_EQ(registry.CurrentKey.get(), nullptr);
    EXPECT_EQ(registry.Access, static_cast<REGSAM>(KEY_ALL_ACCESS));
    EXPECT_TRUE(registry.LazyWrite);
    EXPECT_FALSE(registry.CloseRootKey || registry.Use64BitView || registry.Use32BitView);
}

TEST_F(CrossRegistryTest, ReadIntegerAcceptsNumbersAndNumericStrings) {
    TCrossRegistry registry;
    Open64(registry);
    struct Case {
        const char* name;
        int32_t expected;
    };
    const Case cases[] = {
        {"Dword", 7}, {"DwordAllOnes", -1}, {"Decimal", 12}, {"Signed", -5}, {"Dollar", 31},
        {"BareX", 16}, {"ZeroX", 16},       {"Expand", 3},   {"Missing", 42},
    };
    for (const Case& c : cases) EXPECT_EQ(registry.ReadInteger(c.name, 42), c.expected) << c.name;
}

TEST_F(CrossRegistryTest, ReadIntegerRejectsOtherTextsAndTypes) {
    TCrossRegistry registry;
    Open64(registry);
    const std::string at = TestKey() + "\\";
    struct Case {
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        {"Letters", "Invalid registry integer value at: " + at + "Letters"},
        {"Trailing", "Invalid registry integer value at: " + at + "Trailing"},
        {"Empty", "Invalid registry integer value at: " + at + "Empty"},
        {"TooBig", "Invalid registry integer value at: " + at + "TooBig"},
        {"Binary", "Unexpected registry value type at: " + at + "Binary"},
        {"Qword", "Unexpected registry value type at: " + at + "Qword"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MessageOf([&] { registry.ReadInteger(c.name, 0); }), c.expected);
        // The general error class, not the registry one.
        try {
            registry.ReadInteger(c.name, 0);
        } catch (const Exception& e) {
            EXPECT_EQ(dynamic_cast<const ERegistryException*>(&e), nullptr) << c.name;
        }
    }
}

TEST_F(CrossRegistryTest, ReadStringAndDataInfo) {
    TCrossRegistry registry;
    Open64(registry);
    EXPECT_EQ(registry.ReadString("Text"), "hello world");
    EXPECT_EQ(registry.ReadString("Expand"), "3");
    EXPECT_EQ(registry.ReadString("Empty"), "");
    EXPECT_EQ(registry.ReadString("Missing"), "");
    EXPECT_EQ(MessageOf<ERegistryException>([&] { registry.ReadString("Dword"); }), "Invalid data type for 'Dword'");

    struct Case {
        const char* name;
        TRegDataType type;
        int32_t size;  // -1: not compared (the ANSI size of a stored wide string is only an upper bound)
    };
    const Case cases[] = {
        {"Text", TRegDataType::String, 12},      {"Expand", TRegDataType::ExpandString, -1},
        {"Dword", TRegDataType::Integer, 4},     {"Binary", TRegDataType::Binary, 2},
        {"Qword", TRegDataType::Unknown, 8},
    };
    for (const Case& c : cases) {
        TRegDataInfo info;
        ASSERT_TRUE(registry.GetDataInfo(c.name, info)) << c.name;
        EXPECT_EQ(info.RegData, c.type) << c.name;
        if (c.size < 0) continue;
        EXPECT_EQ(info.DataSize, c.size) << c.name;
        EXPECT_EQ(registry.GetDataSize(c.name), c.size) << c.name;
    }
    TRegDataInfo info;
    EXPECT_FALSE(registry.GetDataInfo("Missing", info));
    EXPECT_EQ(registry.GetDataSize("Missing"), -1);
}

// The registry view a program sees without a view flag: that of its own bitness.
int32_t OwnView() { return sizeof(void*) == 8 ? 64 : 32; }

TEST_F(CrossRegistryTest, ViewFlagsChooseTheView) {
    struct Case {
        const char* name;
        bool use64;
        bool use32;
        int32_t expected;
    };
    // Without a flag a program sees the view of its own bitness.
    const Case cases[] = {{"64-bit view", true, false, 64}, {"32-bit view", false, true, 32},
                          {"default", false, false, OwnView()}};
    for (const Case& c : cases) {
        TCrossRegistry registry;
        registry.RootKey = HKEY_LOCAL_MACHINE;
        registry.Access = KEY_READ;
        registry.Use64BitView = c.use64;
        registry.Use32BitView = c.use32;
        ASSERT_TRUE(registry.OpenKey("\\" + TestKey(), false)) << c.name;
        EXPECT_EQ(registry.ReadInteger("View", 0), c.expected) << c.name;
    }
}

TEST_F(CrossRegistryTest, ViewFlagsReachTheAccessMaskOnlyOnA64BitSystem) {
    struct Case {
        bool use64, use32, system64;
        REGSAM expected;
    };
    const Case cases[] = {
        {true, false, true, KEY_READ | 0x100}, {false, true, true, KEY_READ | 0x200},
        {true, true, true, KEY_READ | 0x300},  {false, false, true, KEY_READ},
        {true, true, false, KEY_READ},         {true, false, false, KEY_READ},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TCrossRegistry::EffectiveAccessFor(KEY_READ, c.use64, c.use32, c.system64), c.expected)
            << c.use64 << c.use32 << c.system64;
    TCrossRegistry registry;
    registry.Use32BitView = true;
    EXPECT_EQ(registry.EffectiveAccess(), static_cast<REGSAM>(KEY_ALL_ACCESS | 0x200));  // Wine's prefix is 64-bit
}

TEST_F(CrossRegistryTest, OpenKeyPathsAreRelativeOrAbsolute) {
    TCrossRegistry registry;
    registry.RootKey = HKEY_LOCAL_MACHINE;
    registry.Access = KEY_READ;
    ASSERT_TRUE(registry.OpenKey("SOFTWARE", false));
    EXPECT_EQ(registry.CurrentPath, "SOFTWARE");
    const std::string leaf = TestKey().substr(TestKey().find('\\') + 1);
    ASSERT_TRUE(registry.OpenKey(leaf, false));
    EXPECT_EQ(registry.CurrentPath, TestKey());
    EXPECT_EQ(registry.ReadInteger("View", 0), OwnView());

    // A failed open keeps the open key.
    EXPECT_FALSE(registry.OpenKey("NoSuchKey", false));
    EXPECT_EQ(registry.CurrentPath, TestKey());
    EXPECT_NE(registry.CurrentKey.get(), nullptr);

    ASSERT_TRUE(registry.OpenKey("\\SOFTWARE", false));
    EXPECT_EQ(registry.CurrentPath, "SOFTWARE");

    registry.CloseKey();
    EXPECT_EQ(registry.CurrentKey.get(), nullptr);
    EXPECT_EQ(registry.CurrentPath, "");
}

TEST_F(CrossRegistryTest, OpenKeyCreatesOnlyWhenAsked) {
    TCrossRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    registry.Use64BitView = true;
    const std::string path = "\\" + TestKey() + "\\Created";
    EXPECT_FALSE(registry.OpenKey(path, false));
    ASSERT_TRUE(registry.OpenKey(path, true));
    EXPECT_EQ(registry.CurrentPath, TestKey() + "\\Created");
    // Created in the 64-bit view only.
    TCrossRegistry view32;
    view32.SetRootKey(HKEY_LOCAL_MACHINE);
    view32.Access = KEY_READ;
    view32.Use32BitView = true;
    EXPECT_FALSE(view32.OpenKey(path, false));
}

TEST_F(CrossRegistryTest, SetRootKeyClosesTheOpenKey) {
    TCrossRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    registry.Access = KEY_READ;
    ASSERT_TRUE(registry.OpenKey("SOFTWARE", false));
    registry.SetRootKey(HKEY_LOCAL_MACHINE);  // the same root: nothing changes
    EXPECT_EQ(registry.CurrentPath, "SOFTWARE");
    registry.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_EQ(registry.CurrentKey.get(), nullptr);
    EXPECT_EQ(registry.CurrentPath, "");
    EXPECT_EQ(registry.RootKey, HKEY_CURRENT_USER);
}

}  // namespace
}  // namespace cm
