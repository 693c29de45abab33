// RunProcess and SetProcessExitCode, driven against cm_process_child (built beside this test).
#include "cm/Objects/Process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cm/Objects/Errors.h"
#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"
#include "support/ScratchDirectory.h"
#include "support/ProcessStart.h"

namespace cm {
namespace {

std::string ExeDirectory() {
    char buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, length);
    return path.substr(0, path.find_last_of('\\') + 1);
}

const std::string& ChildPath() {
    static const std::string path = ExeDirectory() + "cm_process_child.exe";
    return path;
}

// The child's command line: its quoted path followed by the arguments.
std::string Child(const std::string& arguments) {
    return "\"" + ChildPath() + "\" " + arguments;
}

std::string SystemCommandInterpreter() {
    char buffer[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(buffer, MAX_PATH);
    return std::string(buffer, length) + "\\cmd.exe";
}

std::string ReadWholeFile(const std::string& path) {
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return "(missing)";
    std::string text(4096, '\0');
    DWORD read = 0;
    ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
    text.resize(read);
    return text;
}

UniqueFileHandle OpenInheritable(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    return UniqueFileHandle(::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                          disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A handle as the runtime block stores it: a pointer-sized slot, little-endian bytes.
std::string HandleHex(HANDLE handle) {
    const uint64_t value = reinterpret_cast<uintptr_t>(handle);
    std::string hex;
    for (size_t i = 0; i < sizeof(HANDLE); ++i) hex += HexDigits((value >> (8 * i)) & 0xFF, 2);
    return hex;
}

// A private scratch directory; the child writes its reports into it.
class ProcessTest : public cm::test::ScratchDirectoryTest {
protected:
    std::string File(const std::string& name) {
        files_.push_back(dir_ + "\\" + name);
        return files_.back();
    }
    // Runs the child with a report command and returns the report.
    std::string Report(const std::string& command, uint32_t options = 0, const std::string& currentDirectory = {},
                       void* environment = nullptr, const std::string& desktop = {},
                       const StdHandleTriple* handles = nullptr) {
        const std::string report = File("report.txt");
        ::DeleteFileA(report.c_str());
        EXPECT_EQ(0, test::RunProcessRetrying(Child("\"" + report + "\" " + command), true, options, currentDirectory, nullptr,
                                environment, handles, nullptr, {}, desktop));
        return ReadWholeFile(report);
    }

    std::vector<std::string> files_;
};

// ---- Exit codes and the process-information output ----

TEST_F(ProcessTest, WaitReturnsTheChildsExitCode) {
    for (int32_t code : {0, 7, -3, 259}) {
        EXPECT_EQ(code, test::RunProcessRetrying(Child("- exit " + std::to_string(code)), true, 0)) << code;
    }
}

TEST_F(ProcessTest, ProcessInformationHandsTheHandlesToTheCaller) {
    struct Case {
        bool Wait;
        uint32_t Options;
        int32_t Returned;
    };
    for (const Case& c : {Case{true, 0, 5}, Case{false, 0, -1}, Case{false, Suspended, -1}}) {
        PROCESS_INFORMATION info{};
        const int32_t returned = test::RunProcessRetrying(Child("- sleep 50 5"), c.Wait, c.Options, {}, &info);
        UniqueHandle process(info.hProcess), thread(info.hThread);
        EXPECT_EQ(c.Returned, returned);
        ASSERT_TRUE(process && thread);
        EXPECT_EQ(info.dwProcessId, ::GetProcessId(process.get()));
        EXPECT_EQ(info.dwThreadId, ::GetThreadId(thread.get()));
        if (c.Options & Suspended) {
            EXPECT_EQ(1u, ::ResumeThread(thread.get()));
        }
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 10000));
        DWORD code = 0;
        ASSERT_TRUE(::GetExitCodeProcess(process.get(), &code));
        EXPECT_EQ(5u, code);
    }
}

TEST_F(ProcessTest, UserTokenStartsTheProcessForThatUser) {
    UniqueHandle own, primary;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put()));
    ASSERT_TRUE(::DuplicateTokenEx(own.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                                   primary.put()));
    EXPECT_EQ(6, test::RunProcessRetrying(Child("- exit 6"), true, 0, {}, nullptr, nullptr, nullptr, primary.get()));
}

// ---- What the child is started with ----

// Priority classes and the error mode a child inherits are not observable under Wine, which
// ignores both at process creation.
TEST_F(ProcessTest, StartupInformationFollowsTheOptions) {
    struct Case {
        const char* Command;
        uint32_t Options;
        const char* Expected;
    };
    const Case cases[] = {
        {"show", 0, "0 0"},
        {"show", HideWindow, "1 0"},
        {"show", ShowMaximized, "1 3"},
        {"show", HideWindow | ShowMaximized, "1 3"},
        {"reserved", 0, "0 "},
    };
    for (const Case& c : cases) EXPECT_EQ(c.Expected, Report(c.Command, c.Options)) << c.Command << " " << c.Options;
}

TEST_F(ProcessTest, CommandLineApplicationAndDirectoryArePassedAsGiven) {
    const std::string report = File("report.txt");
    // With an application name the command line goes through unchanged, its first word included.
    const std::string line = "any-name \"" + report + "\" cmdline";
    ASSERT_EQ(0, test::RunProcessRetrying(line, true, 0, {}, nullptr, nullptr, nullptr, nullptr, ChildPath()));
    EXPECT_EQ(line, ReadWholeFile(report));

    EXPECT_EQ(Child("\"" + report + "\" cmdline"), Report("cmdline"));
    const std::string directory = Report("cwd", 0, dir_);
    EXPECT_TRUE(SameTextAscii(dir_, directory)) << directory;
    EXPECT_EQ("WinSta0\\Default", Report("desktop", 0, {}, nullptr, "WinSta0\\Default"));
}

TEST_F(ProcessTest, EnvironmentBlockInBothEncodings) {
    char ansi[] = "CORVANE_PROBE=narrow\0";
    wchar_t wide[] = L"CORVANE_PROBE=wide\0";
    EXPECT_EQ("narrow", Report("env CORVANE_PROBE", 0, {}, ansi));
    EXPECT_EQ("wide", Report("env CORVANE_PROBE", UnicodeEnvironment, {}, wide));
}

// ---- Standard handles ----

class ProcessHandlesTest : public ProcessTest {
protected:
    void SetUp() override {
        ProcessTest::SetUp();
        const std::string inputPath = File("in.txt");
        {
            UniqueFileHandle writer = OpenInheritable(inputPath, GENERIC_WRITE, CREATE_ALWAYS);
            DWORD written;
            ::WriteFile(writer.get(), "ping\r\n", 6, &written, nullptr);
        }
        input_ = OpenInheritable(inputPath, GENERIC_READ, OPEN_EXISTING);
        output_ = OpenInheritable(File("out.txt"), GENERIC_WRITE, CREATE_ALWAYS);
        error_ = OpenInheritable(File("err.txt"), GENERIC_WRITE, CREATE_ALWAYS);
        ASSERT_TRUE(input_ && output_ && error_);
        triple_ = StdHandleTriple{output_.get(), input_.get(), error_.get()};
    }
    void CloseAll() {
        input_.reset();
        output_.reset();
        error_.reset();
    }

    UniqueFileHandle input_, output_, error_;
    StdHandleTriple triple_;
};

TEST_F(ProcessHandlesTest, TripleRedirectsTheChildsStandardStreams) {
    ASSERT_EQ(0, test::RunProcessRetrying(Child("- stdio"), true, InheritHandles, {}, nullptr, nullptr, &triple_));
    CloseAll();
    EXPECT_EQ("out:ping", ReadWholeFile(dir_ + "\\out.txt"));
    EXPECT_EQ("err:ping", ReadWholeFile(dir_ + "\\err.txt"));
}

TEST_F(ProcessHandlesTest, RuntimeBlockCarriesInputOutputError) {
    // 4 + 3 + 3 slots: 19 bytes on x86, 31 on x64.
    const std::string header = std::to_string(7 + 3 * sizeof(HANDLE)) + " 03000000C1C1C1";
    EXPECT_EQ(header + HandleHex(input_.get()) + HandleHex(output_.get()) + HandleHex(error_.get()),
              Report("reserved", InheritHandles | PassStdHandlesToRuntime, {}, nullptr, {}, &triple_));
    // Without a triple the block names this process's own standard handles.
    EXPECT_EQ(header + HandleHex(::GetStdHandle(STD_INPUT_HANDLE)) + HandleHex(::GetStdHandle(STD_OUTPUT_HANDLE)) +
                  HandleHex(::GetStdHandle(STD_ERROR_HANDLE)),
              Report("reserved", PassStdHandlesToRuntime));
}

// ---- The command interpreter ----

TEST_F(ProcessTest, CommandInterpreterRoutes) {
    struct Case {
        const char* Name;
        std::string CommandLine;
        uint32_t Options;
        int32_t ExitCode;
        const char* Redirected;  // what the redirect target holds afterwards
    };
    const std::string target = File("redirected.txt");
    const Case cases[] = {
        // A command only the interpreter knows: direct start fails, the retry runs it.
        {"fallback", "exit 9", ShellFallback, 9, "(missing)"},
        {"always", "echo always> \"" + target + "\"", AlwaysShell, 0, "always\r\n"},
        // The child exists, so a direct start would succeed and print to our output instead.
        {"redirect", Child("- print redirected") + " > \"" + target + "\"", ShellFallback, 0, "redirected"},
    };
    for (const Case& c : cases) {
        ::DeleteFileA(target.c_str());
        EXPECT_EQ(c.ExitCode, test::RunProcessRetrying(c.CommandLine, true, c.Options)) << c.Name;
        EXPECT_EQ(c.Redirected, ReadWholeFile(target)) << c.Name;
    }
}

// ---- Failures ----

TEST_F(ProcessTest, FailedStartReportsTheLastAttempt) {
    const std::string missing = dir_ + "\\missing.exe";
    const std::string noDirectory = dir_ + "\\no-such-directory";
    struct Case {
        const char* Name;
        std::string CommandLine;
        uint32_t Options;
        std::string CurrentDirectory;
        std::string ApplicationName;
        std::string Reported;  // message before the system text
    };
    const Case cases[] = {
        {"direct", missing, 0, {}, {}, "Failed to create process: ; " + missing},
        {"application", "x", 0, {}, missing, "Failed to create process: " + missing + "; x"},
        {"both empty", "", 0, {}, {}, "Failed to create process: ; "},
        // Both attempts fail in a missing directory: the interpreter's is the one reported.
        {"fallback", Child("- exit 0"), ShellFallback, noDirectory, {},
         "Failed to create process: " + SystemCommandInterpreter() + "; cmd /c \"" + Child("- exit 0") + "\""},
    };
    for (const Case& c : cases) {
        try {
            test::RunProcessRetrying(c.CommandLine, true, c.Options, c.CurrentDirectory, nullptr, nullptr, nullptr, nullptr,
                       c.ApplicationName);
            ADD_FAILURE() << c.Name << ": no exception";
        } catch (const EWin32Error& e) {
            EXPECT_NE(0u, e.ErrorCode) << c.Name;
            EXPECT_EQ(SystemErrorMessage("%s", {c.Reported}, e.ErrorCode), e.message()) << c.Name;
        }
    }
}

TEST_F(ProcessTest, NoErrorDialogsRestoresTheErrorMode) {
    const UINT original = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    EXPECT_EQ(0, test::RunProcessRetrying(Child("- exit 0"), true, NoErrorDialogs));
    EXPECT_EQ(static_cast<UINT>(SEM_FAILCRITICALERRORS), ::GetErrorMode());
    EXPECT_THROW(test::RunProcessRetrying(dir_ + "\\missing.exe", true, NoErrorDialogs), EWin32Error);
    EXPECT_EQ(static_cast<UINT>(SEM_FAILCRITICALERRORS), ::GetErrorMode());
    ::SetErrorMode(original);
}

// ---- SetProcessExitCode, in the child ----

TEST(ProcessExitCode, StoredCodeDecidesTheProcessesExitCode) {
    struct Case {
        const char* Arguments;
        uint32_t Expected;
    };
    const Case cases[] = {
        {"return 4", 4},                             // no stored code: the runtime's own
        {"3 return 0", 3},                           // normal end of the program
        {"3 9 return 0", 9},                         // the last call wins
        {"3 exitprocess 5", 3},                      // a non-negative request is replaced
        {"3 exitprocess -5", 0xFFFFFFFB},            // a negative request stays
        {"-7 exitprocess -5", 0xFFFFFFF9},           // ... unless the stored code is negative too
        {"-7 return 0", 0xFFFFFFF9},
    };
    for (const Case& c : cases) {
        PROCESS_INFORMATION info{};
        test::RunProcessRetrying(Child(std::string("- setexit ") + c.Arguments), true, 0, {}, &info);
        UniqueHandle process(info.hProcess), thread(info.hThread);
        DWORD code = 0;
        ASSERT_TRUE(::GetExitCodeProcess(process.get(), &code));
        EXPECT_EQ(c.Expected, code) << c.Arguments;
    }
}

}  // namespace
}  // namespace cm
