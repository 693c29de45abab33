// Whole-program runs of bootstrap executables with fixture payloads, observed from outside.
#include <gtest/gtest.h>

#include "cm/Objects.h"
#include "e2e/BootstrapRun.h"
#include "helpers/BootstrapFixture.h"
#include "helpers/PackageBuilder.h"
#include "support/DirectoryLink.h"
#include "support/ProcessStart.h"

#include <commctrl.h>

#include <algorithm>
#include <regex>
#include <sstream>

namespace e2e {
namespace {

using cm::test::BootstrapResources;
using cm::test::MetadataRecord;

class BootstrapE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string& bin = TestBinDirectory();
        GuiBootstrap = cm::CombinePath(bin, "..\\bin\\bootstrap.exe");
        ConsoleBootstrap = cm::CombinePath(bin, "..\\bin\\bootstrap-console.exe");
        Decoder = cm::test::ReadWholeFile(cm::CombinePath(bin, "..\\bin\\lzma.exe"));
        SetupImage = cm::test::ReadWholeFile(bin + "sample_setup.exe");

        // A package without product information: one file, then the setup image.
        std::string content = "CORVANE TEST PACKAGE\r\n";
        for (int i = 0; i < 20000; ++i) content += static_cast<char>((i * 7919) >> 5);
        Package = cm::test::BuildSetupPackage({std::nullopt, PackageDate, {{"readme.txt", content}}, SetupImage});
        CaptionPackage = cm::test::BuildSetupPackage({"Corvane Test", PackageDate, {{"readme.txt", content}}, SetupImage});
        std::string pak = WorkDirectory() + "Setup.pak", lzma = WorkDirectory() + "Setup.lzma";
        cm::test::WriteWholeFile(pak, Package);
        std::string decoder = cm::CombinePath(bin, "..\\bin\\lzma.exe");
        ASSERT_EQ(0, cm::test::RunProcessRetrying(cm::QuoteString(decoder) + " e " + cm::QuoteString(pak) + " " + cm::QuoteString(lzma),
                                    true, cm::HideWindow));
        CompressedPackage = cm::test::ReadWholeFile(lzma);
    }

    // The run's work directory goes with the suite (process ids, which name it, come round again).
    static void TearDownTestSuite() {
        try {
            cm::DeleteDirectoryTree(WorkDirectory(), "*.*", false, false);
        } catch (...) {
        }
    }

    static BootstrapResources Stored() {
        return {Package, MetadataRecord(static_cast<int32_t>(SetupImage.size()), false), std::nullopt};
    }
    static BootstrapResources Compressed() {
        return {CompressedPackage, MetadataRecord(static_cast<int32_t>(SetupImage.size()), true), Decoder};
    }

    // A bootstrap with the given payload, made from the GUI or the console build.
    static std::string Make(const std::string& name, const BootstrapResources& resources, bool console = false) {
        std::string target = WorkDirectory() + name + ".exe";
        cm::test::MakeBootstrap(console ? ConsoleBootstrap : GuiBootstrap, target, resources);
        return target;
    }

    // The faulty test build with the stored payload, as <name>.exe, run with CORVANE_TEST_FAULT
    // set to fault; log gets what it logged.
    static RunResult RunFaulty(const std::string& name, const char* fault, std::string& log) {
        const std::string exe = WorkDirectory() + name + ".exe";
        const std::string logPath = WorkDirectory() + "Logs\\" + name + ".log";
        cm::test::MakeBootstrap(TestBinDirectory() + "bootstrap-console-faulty.exe", exe, Stored());
        ::DeleteFileA(logPath.c_str());
        ::SetEnvironmentVariableA("CORVANE_TEST_FAULT", fault);
        RunResult r = RunBootstrap(exe, {});
        ::SetEnvironmentVariableA("CORVANE_TEST_FAULT", nullptr);
        log = cm::test::ReadWholeFile(logPath);
        return r;
    }

    static std::string Report(const RunResult& r, const std::string& key) {
        auto it = r.Report.find(key);
        return it == r.Report.end() ? std::string("<missing>") : it->second;
    }

    // 27 August 2014, 03:45:34.100, and that calendar time as a file time.
    static constexpr double PackageDate = 41878.156644675924;
    static constexpr const char* PackageFileTime = "130535847341000000";

    static inline std::string GuiBootstrap, ConsoleBootstrap, Decoder, SetupImage, Package, CaptionPackage,
        CompressedPackage;
};

// The started setup sees exactly the specified command line, and its exit code reaches the caller.
TEST_F(BootstrapE2E, ForwardsCommandLineAndExitCode) {
    struct Case {
        bool compressed;
        std::string arguments;
        std::string expectedTail;
        int32_t expectedExit;
    };
    const Case cases[] = {
        {true, "", "", 0},
        {false, "", "", 0},
        {true, "/exit=7", "/exit=7", 7},
        {false, "  /silent   \"C:\\a b\"  /exit=-5  ", "/silent   \"C:\\a b\"  /exit=-5", -5},
    };
    std::string stored = Make("stored", Stored()), compressed = Make("compressed", Compressed());
    for (const Case& c : cases) {
        SCOPED_TRACE((c.compressed ? "compressed, args: " : "stored, args: ") + c.arguments);
        std::string exe = c.compressed ? compressed : stored;
        RunResult r = RunBootstrap(exe, {c.arguments});
        ASSERT_FALSE(r.TimedOut);
        ASSERT_TRUE(r.SetupRan) << r.StdOut;
        EXPECT_EQ(c.expectedExit, r.ExitCode);
        std::string expected = cm::QuoteString(r.TempDirectory + "Setup.exe") + " /installer_filename=" +
                               cm::QuoteString(exe) + " " + c.expectedTail;
        EXPECT_EQ(expected, Report(r, "cmdline"));
        EXPECT_EQ("2", Report(r, "subsystem")) << "the GUI build starts the setup unchanged";
        EXPECT_FALSE(DirectoryExists(r.TempDirectory)) << r.TempDirectory;
        EXPECT_EQ("", r.StdOut);
    }
}

// A setup that announces a change of the environment to every window (as setups do after
// changing PATH) gets its answer at once, whichever way it sends, and its exit code comes back:
// the bootstrap's windows that carry notifications are out of reach of broadcasts, and its waits
// for the decoder and the setup deliver what is sent to it meanwhile. A hidden top-level window on
// a thread that does not handle messages held a plain send until the bootstrap ended (a hang: the
// bootstrap waited for the setup), and a send with a time-out for all of its 30 s.
TEST_F(BootstrapE2E, ASetupThatBroadcastsIsAnsweredAtOnce) {
    struct Case {
        const char* how;
        bool console;
    };
    const Case cases[] = {{"send", false}, {"timeout", false}, {"send", true}};
    std::string gui = Make("broadcast", Compressed()), console = Make("broadcast_console", Compressed(), true);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.how) + (c.console ? ", console" : ", GUI"));
        RunOptions options(std::string("/broadcast=") + c.how + " /exit=3");
        options.TimeoutMs = 25000;
        RunResult r = RunBootstrap(c.console ? console : gui, options);
        ASSERT_FALSE(r.TimedOut) << "the broadcast did not return";
        ASSERT_TRUE(r.SetupRan) << r.StdOut;
        EXPECT_EQ(3, r.ExitCode);
        EXPECT_LT(std::stoi(Report(r, "broadcast")), 15000) << "a window of the bootstrap held the broadcast";
    }
}

// A directory made in advance at the predictable name (by another program of the same user,
// with an access list of its own) is left alone: the bootstrap makes a new one at the next free
// name, where the setup finds only what the bootstrap wrote, and removes it at the end.
TEST_F(BootstrapE2E, AnExistingTemporaryDirectoryIsLeftAloneAndTheNextNameTaken) {
    RunResult r = RunBootstrap(Make("reuse", Compressed()), {"/exit=3", true});
    ASSERT_TRUE(r.SetupRan);
    EXPECT_EQ(3, r.ExitCode);
    EXPECT_EQ(r.TempDirectory + "Setup.exe", Report(r, "self"));
    EXPECT_TRUE(std::regex_search(r.TempDirectory, std::regex("_[0-9]+\\\\$"))) << "a new name: " << r.TempDirectory;
    std::vector<std::string> entries;
    for (auto [it, end] = r.Report.equal_range("entry"); it != end; ++it) entries.push_back(it->second);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ((std::vector<std::string>{"Setup.exe", "Setup.lzma", "Setup.pak", "lzma.exe"}), entries);
    EXPECT_TRUE(r.PlantedIntact);
    EXPECT_FALSE(DirectoryExists(r.TempDirectory));
}

// The same, seen by the decoder: nothing planted is where it starts (a library there would be
// loaded by it with the bootstrap's rights); it finds only what the bootstrap wrote for it.
TEST_F(BootstrapE2E, PlantedFilesAreNotWhereTheDecoderStarts) {
    const std::string heldDecoder = cm::test::ReadWholeFile(TestBinDirectory() + "held_decoder.exe");
    const BootstrapResources held{Package, MetadataRecord(static_cast<int32_t>(SetupImage.size()), true), heldDecoder};
    const std::string seenPath = WorkDirectory() + "decoder-saw.txt";
    DeleteFileA(seenPath.c_str());
    SetEnvironmentVariableA("CORVANE_HELD_DECODER_REPORT", seenPath.c_str());
    RunOptions options("/exit=2", true);
    options.WhileRunning = [&](const RunResult& run) {
        for (int waited = 0; waited < 20000 && GetFileAttributesA(seenPath.c_str()) == INVALID_FILE_ATTRIBUTES;
             waited += 20)
            Sleep(20);
        cm::test::WriteWholeFile(run.TempDirectory + "go", "");
    };
    RunResult r = RunBootstrap(Make("planted", held, true), options);
    SetEnvironmentVariableA("CORVANE_HELD_DECODER_REPORT", nullptr);
    ASSERT_FALSE(r.TimedOut);
    ASSERT_TRUE(r.SetupRan);
    EXPECT_EQ(2, r.ExitCode);
    std::vector<std::string> seen;
    std::istringstream lines(cm::test::ReadWholeFile(seenPath));
    for (std::string line; std::getline(lines, line);) seen.push_back(line);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ((std::vector<std::string>{"Setup.lzma", "lzma.exe"}), seen);
    EXPECT_TRUE(r.PlantedIntact);
    EXPECT_FALSE(DirectoryExists(r.TempDirectory));
}

// A link planted at the directory's predictable name (a junction on Windows; under Wine, which
// makes none, a host symbolic link that Wine reports as one) is left alone: nothing is written or
// deleted through it, and the run goes on in a new directory at the next free name.
TEST_F(BootstrapE2E, ALinkAtTheTemporaryDirectoryNameIsLeftAlone) {
    const std::string target = WorkDirectory() + "link-target";
    cm::ForceDirectoryPath(target);
    cm::test::WriteWholeFile(target + "\\marker.txt", "precious");
    std::string link;
    bool planted = false;
    RunOptions options("/exit=5");
    options.BeforeStart = [&](const std::string& tempDirectory) {
        link = cm::RemoveTrailingBackslash(tempDirectory);
        planted = cm::test::MakeDirectoryLink(link, target);
    };
    RunResult r = RunBootstrap(Make("link", Compressed(), true), options);
    if (!link.empty()) cm::test::RemoveDirectoryLink(link);
    if (!planted) GTEST_SKIP() << "directory links are not created here";
    ASSERT_FALSE(r.TimedOut);
    ASSERT_TRUE(r.SetupRan) << r.StdOut;
    EXPECT_EQ(5, r.ExitCode);
    EXPECT_EQ(r.TempDirectory + "Setup.exe", Report(r, "self"));
    EXPECT_EQ(0u, r.TempDirectory.rfind(link + "_", 0)) << "a new name: " << r.TempDirectory;
    std::vector<std::string> left;
    cm::EnumerateFiles(target, cm::IncludeDirectories, "*",
                       [&](void*, const cm::FileEnumEntry& entry) { left.push_back(entry.Name); });
    EXPECT_EQ(std::vector<std::string>{"marker.txt"}, left);
    EXPECT_EQ("precious", cm::test::ReadWholeFile(target + "\\marker.txt"));
    EXPECT_FALSE(DirectoryExists(r.TempDirectory));
}

// A package with product information: its caption is passed last, as one argument, info.dat
// gets the package date, and a later fatal error shows the caption. The caption is the package's
// even when an info.dat lies beside the bootstrap (anybody who can write there could have put it
// there; the setup runs with the bootstrap's rights).
TEST_F(BootstrapE2E, ProductCaptionFromThePackage) {
    const int32_t exeSize = static_cast<int32_t>(SetupImage.size());
    const std::string planted = WorkDirectory() + "planted\\";
    ::CreateDirectoryA(planted.c_str(), nullptr);
    cm::test::WriteWholeFile(planted + "info.dat", cm::test::ProductInformationFile("Evil\" /Injected=1 \"x"));
    const std::string quoting = cm::test::BuildSetupPackage({"Say \"hi\" 2", PackageDate, {}, SetupImage});
    struct Case {
        std::string exe;
        const char* switchText;
    };
    const Case cases[] = {
        {Make("caption", {CaptionPackage, MetadataRecord(exeSize, false), std::nullopt}), "/ProductCaption=\"Corvane Test\""},
        {Make("planted\\caption", {CaptionPackage, MetadataRecord(exeSize, false), std::nullopt}),
         "/ProductCaption=\"Corvane Test\""},
        {Make("quote", {quoting, MetadataRecord(exeSize, false), std::nullopt}), "/ProductCaption=\"Say \\\"hi\\\" 2\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exe);
        RunResult r = RunBootstrap(c.exe, {"/exit=4 \"quoted arg\""});
        ASSERT_TRUE(r.SetupRan) << r.StdOut;
        EXPECT_EQ(4, r.ExitCode);
        EXPECT_EQ(cm::QuoteString(r.TempDirectory + "Setup.exe") + " /installer_filename=" + cm::QuoteString(c.exe) +
                      " /exit=4 \"quoted arg\" " + c.switchText,
                  Report(r, "cmdline"));
        EXPECT_EQ(PackageFileTime, Report(r, "infotime"));
        EXPECT_FALSE(DirectoryExists(r.TempDirectory));
    }
    ::DeleteFileA((planted + "info.dat").c_str());

    // Without an info.dat entry: no switch and no info.dat.
    RunResult plain = RunBootstrap(Make("no-caption", Stored()), {""});
    ASSERT_TRUE(plain.SetupRan);
    EXPECT_EQ(std::string::npos, Report(plain, "cmdline").find("/ProductCaption"));
    EXPECT_EQ("<missing>", Report(plain, "infotime"));

    // The caption is known when the setup image turns out not to be a program.
    const std::string notAProgram(4096, 'x');
    const std::string broken = cm::test::BuildSetupPackage({"Corvane Test", PackageDate, {}, notAProgram});
    RunOptions options;
    options.ExpectMessageBox = true;
    RunResult failed =
        RunBootstrap(Make("caption-fatal", {broken, MetadataRecord(static_cast<int32_t>(notAProgram.size()), false),
                                            std::nullopt}),
                     options);
    ASSERT_TRUE(failed.Box.Found) << "no message box (is there an X display?)";
    EXPECT_EQ("Corvane Test Setup", failed.Box.Caption);
    EXPECT_EQ(0u, failed.Box.Text.find("Failed to create process: ")) << failed.Box.Text;
    EXPECT_FALSE(failed.Box.TempDirectoryExisted);
    EXPECT_EQ(6, failed.ExitCode);
}

// The wait dialog as the user sees it while the payload is decoded (held by a stand-in decoder
// until the test has looked), and gone before the setup starts; the console build shows none.
struct DialogView {
    bool Found = false;
    HWND Window = nullptr;
    std::string Title, Text, Button;
    bool ButtonEnabled = true;
    RECT Rect{};
    int BarPosition = -1, BarMaximum = -1;
};

BOOL CALLBACK ReadDialogChild(HWND w, LPARAM param) {
    auto* view = reinterpret_cast<DialogView*>(param);
    char cls[64] = {}, text[256] = {};
    GetClassNameA(w, cls, sizeof cls);
    GetWindowTextA(w, text, sizeof text);
    if (lstrcmpiA(cls, "Button") == 0) {
        view->Button = text;
        view->ButtonEnabled = IsWindowEnabled(w) != FALSE;
    } else if (lstrcmpiA(cls, "Static") == 0) {
        view->Text = text;
    } else if (lstrcmpiA(cls, PROGRESS_CLASSA) == 0) {
        view->BarPosition = static_cast<int>(SendMessageA(w, PBM_GETPOS, 0, 0));
        view->BarMaximum = static_cast<int>(SendMessageA(w, PBM_GETRANGE, FALSE, 0));
    }
    return TRUE;
}

// The visible wait dialog of the process, waiting for it up to timeoutMs.
DialogView FindWaitDialog(DWORD processId, DWORD timeoutMs) {
    DialogView view;
    for (DWORD waited = 0; waited <= timeoutMs; waited += 20) {
        for (HWND w = FindWindowExA(nullptr, nullptr, "ProgressWndClass", nullptr); w;
             w = FindWindowExA(nullptr, w, "ProgressWndClass", nullptr)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid != processId || !IsWindowVisible(w))
                continue;
            char title[64] = {};
            GetWindowTextA(w, title, sizeof title);
            view.Found = true;
            view.Window = w;
            view.Title = title;
            GetWindowRect(w, &view.Rect);
            EnumChildWindows(w, ReadDialogChild, reinterpret_cast<LPARAM>(&view));
            return view;
        }
        Sleep(20);
    }
    return view;
}

TEST_F(BootstrapE2E, WaitDialogWhileExtracting) {
    const std::string heldDecoder = cm::test::ReadWholeFile(TestBinDirectory() + "held_decoder.exe");
    const BootstrapResources held{Package, MetadataRecord(static_cast<int32_t>(SetupImage.size()), true), heldDecoder};

    DialogView seen;
    bool stillShownAfterClose = false;
    RunOptions options;
    options.Arguments = "/exit=5";
    options.WhileRunning = [&](const RunResult& run) {
        seen = FindWaitDialog(run.ProcessId, 20000);
        // The two saves step the bar while the decoder is held.
        for (int waited = 0; seen.Found && seen.BarPosition < 2 && waited < 20000; waited += 20) {
            Sleep(20);
            seen = FindWaitDialog(run.ProcessId, 0);
        }
        // Closing it by the system menu or Alt+F4 is the disabled Cancel button: nothing happens.
        if (seen.Found) {
            PostMessageA(seen.Window, WM_SYSCOMMAND, SC_CLOSE, 0);
            PostMessageA(seen.Window, WM_CLOSE, 0, 0);
            Sleep(300);
            stillShownAfterClose = FindWaitDialog(run.ProcessId, 0).Found;
        }
        cm::test::WriteWholeFile(run.TempDirectory + "go", "");
    };
    RunResult r = RunBootstrap(Make("dialog", held), options);
    EXPECT_TRUE(stillShownAfterClose);
    ASSERT_TRUE(seen.Found) << "no wait dialog (is there an X display?)";
    EXPECT_EQ("Please Wait...", seen.Title);
    EXPECT_EQ("Extracting setup files...", seen.Text);
    EXPECT_EQ("&Cancel", seen.Button);
    EXPECT_FALSE(seen.ButtonEnabled);
    EXPECT_EQ(400, seen.Rect.right - seen.Rect.left);
    EXPECT_EQ(120, seen.Rect.bottom - seen.Rect.top);
    EXPECT_EQ((GetSystemMetrics(SM_CXFULLSCREEN) - 400) / 2, seen.Rect.left);
    EXPECT_EQ(4, seen.BarMaximum);
    EXPECT_EQ(2, seen.BarPosition) << "both resources saved, decoding held";
    ASSERT_TRUE(r.SetupRan);
    EXPECT_EQ(5, r.ExitCode);
    EXPECT_EQ("absent", Report(r, "waitdialog")) << "the dialog closes before the setup starts";
    EXPECT_FALSE(DirectoryExists(r.TempDirectory));

    // The console build shows progress as dots only.
    bool consoleDialog = true;
    options.WhileRunning = [&](const RunResult& run) {
        for (int waited = 0; waited < 20000 && !DirectoryExists(run.TempDirectory); waited += 20)
            Sleep(20);
        consoleDialog = FindWaitDialog(run.ProcessId, 1000).Found;
        cm::test::WriteWholeFile(run.TempDirectory + "go", "");
    };
    RunResult console = RunBootstrap(Make("dialog-console", held, true), options);
    EXPECT_FALSE(consoleDialog);
    ASSERT_TRUE(console.SetupRan);
    EXPECT_EQ(5, console.ExitCode);
}

// The log starts with the program: with "Level" 1 (the 32-bit view, which both builds read) the
// bootstrap's log beside it holds the start banner; the log is closed before the setup starts, so
// no stop line follows. Without "Level" nothing is written.
TEST_F(BootstrapE2E, LogStartsWithTheProgramAndClosesBeforeTheSetup) {
    const char* key = "SOFTWARE\\Tavrel\\Corvane\\Log";
    const std::string exe = Make("logged", Stored());
    const std::string log = WorkDirectory() + "Logs\\logged.log";

    // Logging off: only the forced entries, here the socket layer's settings at start-up.
    const std::string socketSettings =
        "\r\nCloseSocketInMainThread = False\r\nZeroWinsockSendBuffer   = False\r\nZeroWinsockRecvBuffer   = False"
        "\r\nMaxSendOperationSize    = 32KB\r\nMaxRecvOperationSize    = 2048KB\r\n";
    RunResult quiet = RunBootstrap(exe, {"/exit=2"});
    ASSERT_TRUE(quiet.SetupRan);
    const std::string quietText = cm::test::ReadWholeFile(log);
    EXPECT_EQ(0u, quietText.find("----------SocketComm Settings---------")) << quietText;
    EXPECT_EQ(quietText.find(socketSettings), quietText.size() - socketSettings.size()) << quietText;
    ASSERT_TRUE(DeleteFileA(log.c_str()));

    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY,
                                             nullptr, &handle, nullptr));
    const DWORD level = 1;
    RegSetValueExA(handle, "Level", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&level), sizeof level);
    RunResult logged = RunBootstrap(exe, {"/exit=2"});
    RegDeleteValueA(handle, "Level");
    RegCloseKey(handle);

    ASSERT_TRUE(logged.SetupRan);
    EXPECT_EQ(2, logged.ExitCode);
    const std::string text = cm::test::ReadWholeFile(log);
    EXPECT_EQ(0u, text.find("----------Started---")) << text;
    EXPECT_NE(std::string::npos, text.find("SocketComm Settings")) << text;
    EXPECT_NE(std::string::npos, text.find(socketSettings)) << text;
    EXPECT_NE(std::string::npos, text.find("PID=" + std::to_string(logged.ProcessId))) << text;
    // The run's phase times from the process's creation (the program's entry, each module's
    // start-up, the sequence's steps) and its peak memory, the last entries before the log closes.
    EXPECT_NE(std::string::npos, text.find("Setup phases (ms): entry ")) << text;
    EXPECT_NE(std::string::npos, text.find(", AppRemoteControl ")) << text;
    EXPECT_NE(std::string::npos, text.find(", package read ")) << text;
    // The integrity check runs on its own thread; its own time is logged beside the phases.
    EXPECT_NE(std::string::npos, text.find("Setup background work (ms): integrity check ")) << text;
    EXPECT_NE(std::string::npos, text.find("Setup peak memory (bytes): working set ")) << text;
    EXPECT_EQ(std::string::npos, text.find("Stopped")) << text;
}

// Two bootstraps of the same program started at once (the second while the first runs, so that it
// finds the first one's remote-control markers and log mutex) both run to the end with their own
// exit codes and clean up after themselves.
TEST_F(BootstrapE2E, TwoBootstrapsStartedAtOnceBothRunToTheEnd) {
    for (const bool console : {false, true}) {
        SCOPED_TRACE(console ? "console build" : "GUI build");
        const std::string exe = Make(console ? "twice_console" : "twice", Compressed(), console);
        RunResult second;
        RunOptions firstOptions{"/exit=3"};
        firstOptions.WhileRunning = [&](const RunResult&) { second = RunBootstrap(exe, {"/exit=5"}); };
        const RunResult first = RunBootstrap(exe, firstOptions);
        for (const RunResult* r : {&first, static_cast<const RunResult*>(&second)}) {
            ASSERT_FALSE(r->TimedOut);
            EXPECT_TRUE(r->SetupRan) << r->StdOut;
            EXPECT_FALSE(DirectoryExists(r->TempDirectory)) << r->TempDirectory;
        }
        EXPECT_EQ(first.ExitCode, 3);
        EXPECT_EQ(second.ExitCode, 5);
        EXPECT_NE(first.ProcessId, second.ProcessId);
    }
}

// A hung process of the same program holds the log mutex for ever (a copy of log_writer named like
// the bootstrap takes the mutex of that name): with logging on, the bootstrap gives up on its log
// after the bounded wait and still starts its setup.
TEST_F(BootstrapE2E, AHungHolderOfTheLogMutexDoesNotStopTheSetup) {
    const std::string exe = Make("hung", Stored());
    const std::string holderDirectory = WorkDirectory() + "holder\\";
    cm::ForceDirectoryPath(holderDirectory);
    ASSERT_TRUE(CopyFileA((TestBinDirectory() + "log_writer.exe").c_str(), (holderDirectory + "hung.exe").c_str(), FALSE));
    const std::string holding = "corvane_e2e_hung_" + std::to_string(GetCurrentProcessId());
    cm::UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, holding.c_str()));
    PROCESS_INFORMATION holder{};
    cm::test::RunProcessRetrying(cm::QuoteString(holderDirectory + "hung.exe") + " hold " + holding, false, 0, {}, &holder);
    cm::UniqueHandle holderProcess(holder.hProcess), holderThread(holder.hThread);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);

    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrel\\Corvane\\Log", 0, nullptr, 0,
                                             KEY_WRITE | KEY_WOW64_32KEY, nullptr, &handle, nullptr));
    const DWORD level = 1;
    RegSetValueExA(handle, "Level", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&level), sizeof level);
    RunOptions options("/exit=4");
    options.TimeoutMs = 120000;
    RunResult r = RunBootstrap(exe, options);
    RegDeleteValueA(handle, "Level");
    RegCloseKey(handle);
    TerminateProcess(holderProcess.get(), 9);
    WaitForSingleObject(holderProcess.get(), 5000);

    ASSERT_FALSE(r.TimedOut);
    ASSERT_TRUE(r.SetupRan);
    EXPECT_EQ(4, r.ExitCode);
    EXPECT_FALSE(DirectoryExists(r.TempDirectory));
}

// Console build: the exact bytes on standard output, and the setup converted to the console subsystem.
TEST_F(BootstrapE2E, ConsoleOutputAndConversion) {
    const std::string erase = "\r" + std::string(78, ' ') + "\r";
    struct Case {
        BootstrapResources resources;
        std::string expectedOut;
    };
    const Case cases[] = {
        {Compressed(), "Please wait...." "..." + erase},
        {Stored(), "Please wait..." ".." + erase},
    };
    int n = 0;
    for (const Case& c : cases) {
        RunResult r = RunBootstrap(Make("console" + std::to_string(++n), c.resources, true), {"/exit=9"});
        ASSERT_TRUE(r.SetupRan);
        EXPECT_EQ(9, r.ExitCode);
        EXPECT_EQ(c.expectedOut, r.StdOut);
        EXPECT_EQ("3", Report(r, "subsystem"));
        EXPECT_FALSE(DirectoryExists(r.TempDirectory));
    }
}

// Bad payloads end with a clear fatal message and exit code 6; no setup runs from garbage and
// nothing is left in the temporary directory.
TEST_F(BootstrapE2E, BadInputIsAFatalErrorAndLeavesNothing) {
    std::string truncated = CompressedPackage.substr(0, CompressedPackage.size() / 2);
    std::string corrupt = CompressedPackage;
    for (size_t i = 200; i < 260 && i < corrupt.size(); ++i) corrupt[i] = static_cast<char>(~corrupt[i]);
    const int32_t exeSize = static_cast<int32_t>(SetupImage.size());
    const int32_t packageSize = static_cast<int32_t>(Package.size());

    struct Case {
        std::string name;
        BootstrapResources resources;
        std::string expectedOut;  // after "Please wait..."
    };
    const Case cases[] = {
        {"no-metadata", {Package, std::nullopt, std::nullopt}, "Fatal Error: Failed to load setup metadata resource.\r\n"},
        {"short-metadata", {Package, std::string("\x10\x00\x00", 3), std::nullopt},
         "Fatal Error: Setup metadata resource is too short (3 bytes).\r\n"},
        {"negative-size", {Package, MetadataRecord(-5, false), std::nullopt},
         "Fatal Error: Invalid setup metadata: executable size -5.\r\n"},
        {"zero-size", {Package, MetadataRecord(0, false), std::nullopt},
         "Fatal Error: Invalid setup metadata: executable size 0.\r\n"},
        {"oversize", {Package, MetadataRecord(packageSize + 1, false), std::nullopt},
         ".Fatal Error: Invalid setup package: executable size " + std::to_string(packageSize + 1) +
             " exceeds package size " + std::to_string(packageSize) + ".\r\n"},
        {"truncated-lzma", {truncated, MetadataRecord(exeSize, true), Decoder},
         "..Fatal Error: Decompression failed. Tool returned code: 1\r\n"},
        {"corrupt-lzma", {corrupt, MetadataRecord(exeSize, true), Decoder},
         "..Fatal Error: Decompression failed. Tool returned code: 1\r\n"},
        {"no-payload-stored", {std::nullopt, MetadataRecord(exeSize, false), std::nullopt},
         ".Fatal Error: Invalid setup package: executable size " + std::to_string(exeSize) +
             " exceeds package size 0.\r\n"},
        {"no-payload-compressed", {std::nullopt, MetadataRecord(exeSize, true), Decoder},
         "..Fatal Error: Decompression failed. Tool returned code: 1\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult r = RunBootstrap(Make("bad-" + c.name, c.resources, true), {});
        ASSERT_FALSE(r.TimedOut);
        EXPECT_EQ(6, r.ExitCode);
        EXPECT_EQ("Please wait..." + c.expectedOut, r.StdOut);
        EXPECT_FALSE(r.SetupRan);
        EXPECT_FALSE(DirectoryExists(r.TempDirectory));
    }

    // A package whose packet stream lies: the package read fails, nothing is started.
    std::string lying = Package;
    lying[7] = '\x7F';  // TotalSize far beyond the file
    RunResult bad = RunBootstrap(Make("bad-package", {lying, MetadataRecord(exeSize, false), std::nullopt}, true), {});
    EXPECT_EQ(6, bad.ExitCode);
    EXPECT_EQ(0u, bad.StdOut.find("Please wait.....Fatal Error: Failed to load packet TSetupPacket from file " +
                                  bad.TempDirectory + "Setup.pak\r\nCannot load packet. Total size "))
        << bad.StdOut;
    EXPECT_FALSE(bad.SetupRan);
    EXPECT_FALSE(DirectoryExists(bad.TempDirectory));

    // A missing decoder: the start of the empty lzma.exe fails with the launcher's message.
    RunResult r = RunBootstrap(Make("bad-no-decoder", {CompressedPackage, MetadataRecord(exeSize, true), std::nullopt}, true), {});
    EXPECT_EQ(6, r.ExitCode);
    EXPECT_EQ(0u, r.StdOut.find("Please wait.....Fatal Error: Failed to create process: ; \"")) << r.StdOut;
    EXPECT_FALSE(r.SetupRan);
    EXPECT_FALSE(DirectoryExists(r.TempDirectory));
}

// A fault of the bootstrap's own code in the middle of the sequence (a test build's write to an
// unmapped address while the setup executable is cut out, both files open) ends as any fatal
// error does: reported in the log, the files closed and the temporary directory removed, the
// mapped message shown, exit code 6.
TEST_F(BootstrapE2E, FaultMidSequenceEndsCleanly) {
    std::string log;
    RunResult r = RunFaulty("faulty", "cut", log);
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(6, r.ExitCode);
    EXPECT_FALSE(r.SetupRan);
    EXPECT_FALSE(DirectoryExists(r.TempDirectory)) << r.TempDirectory;
    const std::string address = "[0-9A-F]{" + std::to_string(2 * sizeof(void*)) + "}";
    EXPECT_TRUE(std::regex_match(r.StdOut, std::regex("Please wait\\.+Fatal Error: Access violation at address " +
                                                      address + " in module 'faulty\\.exe'\\. Write of address 0+10\r\n")))
        << r.StdOut;
    EXPECT_NE(log.find("\r\nEAccessViolation   Code=0xC0000005   Flags=0x0   Addr=0x"), std::string::npos) << log;
}

// A stack overflow of the program's code ends the process with the fatal exit code and a short
// report in the log (the full report, with its call trace, needs more stack than is left).
TEST_F(BootstrapE2E, StackOverflowEndsWithTheFatalCodeAndAReport) {
    std::string log;
    RunResult r = RunFaulty("overflow", "overflow", log);
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(6, r.ExitCode);
    EXPECT_FALSE(r.SetupRan);
    EXPECT_NE(log.find("\r\nEStackOverflow   Code=0xC00000FD   Flags=0x"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\n\r\nStack overflow\r\n"), std::string::npos) << log;
    cm::DeleteDirectoryTree(r.TempDirectory);
}

// GUI build: the fatal error is a message box read from the real window; the temporary
// directory is already gone when it shows.
TEST_F(BootstrapE2E, GuiFatalErrorMessageBox) {
    std::string corrupt = CompressedPackage;
    for (size_t i = 200; i < 260 && i < corrupt.size(); ++i) corrupt[i] = static_cast<char>(~corrupt[i]);
    std::string exe = Make("gui-fatal", {corrupt, MetadataRecord(static_cast<int32_t>(SetupImage.size()), true), Decoder});
    RunOptions options;
    options.ExpectMessageBox = true;
    RunResult r = RunBootstrap(exe, options);
    ASSERT_FALSE(r.TimedOut);
    ASSERT_TRUE(r.Box.Found) << "no message box (is there an X display?)";
    EXPECT_EQ(" Setup", r.Box.Caption);
    EXPECT_EQ("Decompression failed. Tool returned code: 1", r.Box.Text);
    EXPECT_EQ(std::vector<std::string>{"OK"}, r.Box.Buttons);
    EXPECT_TRUE(r.Box.RedIcon) << "the error icon";
    EXPECT_FALSE(r.Box.TempDirectoryExisted);
    EXPECT_EQ(6, r.ExitCode);
    EXPECT_FALSE(r.SetupRan);
}

}  // namespace
}  // namespace e2e
