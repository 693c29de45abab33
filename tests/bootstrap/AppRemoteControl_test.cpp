// The application remote control, under Wine: names, markers seen from another process, signals
// set by name as a peer would, and the access list of the published objects.
#include "bootstrap/AppRemoteControl.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "cm/ThreadPool/MessageLoop.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"
#include "diagnostics/Logs.h"
#include "catalogue/ProductInfoLoader.h"
#include "support/ProcessStart.h"

namespace bootstrap {
namespace {

class LogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { cm::InitializeLogs(&cm::ProductCaptionBesideExecutable); }
    void TearDown() override { cm::FinalizeLogs(); }
};
const auto* const Environment = ::testing::AddGlobalTestEnvironment(new LogEnvironment);

std::string TestDirectory() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return cm::ExtractPathPart(path);
}

// Runs the peer program (or a copy of it) with arguments; returns its exit code, or -1 when it
// did not end within the time limit.
int RunPeer(const std::string& program, const std::string& arguments, DWORD timeoutMs = 60000,
            cm::UniqueHandle* running = nullptr) {
    std::string commandLine = cm::QuoteString(program) + " " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!cm::test::CreateProcessRetrying(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &info))
        return -2;
    cm::UniqueHandle process(info.hProcess), thread(info.hThread);
    if (running) {
        *running = std::move(process);
        return 0;
    }
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 99);
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

std::string PeerProgram() { return TestDirectory() + "remote_control_peer.exe"; }

// A unique application name per test, so that runs of the suite do not meet each other.
std::string AppName(const char* what) { return std::string("RcTest_") + what + "_" + std::to_string(::GetCurrentProcessId()); }

// Pumps the test thread's messages for the given time.
void PumpFor(DWORD ms) {
    const DWORD start = ::GetTickCount();
    for (DWORD now = start; now - start < ms; now = ::GetTickCount()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - (now - start), QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
}

uint64_t ThreadProcessorMs(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return UINT64_MAX;
    auto value = [](const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return (value(kernel) + value(user)) / 10000;
}

// The test thread owns a window-mode queue, as the program's main thread does.
class AppRemoteControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        cm::AttachThread(queue_);
        cm::SetMode(queue_, cm::NotifyWindowMode);
    }
    cm::TNotifyQueue queue_;
};

TEST(RemoteControlNames, NamesFollowCaptionApplicationUserStationAndVersion) {
    struct Case {
        uint32_t Major;
        const char* GlobalMutex;
        const char* Event7;
    };
    const Case cases[] = {
        {4, "TavrelCorvane Test_setup_Mutex", "TavrelCorvane Test_setup_Event_7"},
        {5, "Global\\TavrelCorvane Test_setup_Mutex", "Global\\TavrelCorvane Test_setup_Event_7"},
        {10, "Global\\TavrelCorvane Test_setup_Mutex", "Global\\TavrelCorvane Test_setup_Event_7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Major);
        const TRemoteControlNames names = RemoteControlNames("Corvane Test", "SetUP", "alice", "WinSta0", c.Major);
        EXPECT_EQ(names.Mutexes[0], "TavrelCorvane Test_setup_Mutex_alice_WinSta0");  // never global
        EXPECT_EQ(names.Mutexes[1], c.GlobalMutex);
        EXPECT_EQ(names.Events[7], c.Event7);
        EXPECT_EQ(names.Events[0], "");
    }
}

TEST_F(AppRemoteControlTest, WithAnOldWindowsVersionNoObjectIsGlobal) {
    TAppRemoteControl control(AppName("old"), 4);
    ASSERT_FALSE(control.InitializationFailed);
    for (const std::string& name : control.Names.Mutexes) EXPECT_EQ(name.find("Global\\"), std::string::npos) << name;
    for (int k = 1; k < RemoteEventCount; ++k) {
        const std::string& name = control.Names.Events[k];
        EXPECT_EQ(name.find("Global\\"), std::string::npos) << name;
        cm::UniqueHandle opened(::OpenEventA(SYNCHRONIZE, FALSE, name.c_str()));
        EXPECT_TRUE(opened.valid()) << name;  // made under that very name
    }
}

// Another process of the same user and window station finds both markers of a running instance.
TEST_F(AppRemoteControlTest, ASecondProcessFindsBothMarkers) {
    const std::string app = AppName("markers");
    EXPECT_EQ(RunPeer(PeerProgram(), "markers " + app), 10) << "alone: no marker existed";
    TAppRemoteControl control(app);
    ASSERT_FALSE(control.InitializationFailed);
    EXPECT_FALSE(control.AlreadyExisted[0]);
    EXPECT_FALSE(control.AlreadyExisted[1]);
    EXPECT_EQ(RunPeer(PeerProgram(), "markers " + app), 13) << "both markers existed";
}

// The default application name is the executable's name, lower-cased in the object names.
TEST(AppRemoteControl, AnExecutableNamedSetupExeGetsSetupNames) {
    const std::string dir = TestDirectory() + "rc_setup_" + std::to_string(::GetCurrentProcessId()) + "\\";
    ::CreateDirectoryA(dir.c_str(), nullptr);
    const std::string setup = dir + "Setup.exe";
    ASSERT_TRUE(::CopyFileA(PeerProgram().c_str(), setup.c_str(), FALSE));
    const std::string namesFile = dir + "names.txt";
    EXPECT_EQ(RunPeer(setup, "names " + cm::QuoteString(namesFile)), 0);
    std::ifstream in(namesFile);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) names.push_back(line);
    in.close();
    EXPECT_EQ(names.size(), static_cast<size_t>(RemoteMutexCount + RemoteEventCount - 1));
    for (const std::string& name : names) EXPECT_NE(name.find("_setup_"), std::string::npos) << name;
    ::DeleteFileA(namesFile.c_str());
    ::DeleteFileA(setup.c_str());
    ::RemoveDirectoryA(dir.c_str());
}

// Signal 1, set by name from another process, ends the instance's message loop at the first tick
// of its quit clock.
TEST_F(AppRemoteControlTest, SignalOneFromAnotherProcessEndsTheMessageLoop) {
    const std::string app = AppName("serve");
    cm::UniqueHandle peer;
    ASSERT_EQ(RunPeer(PeerProgram(), "serve " + app, 0, &peer), 0);
    // The peer's names are this process's: same product, user and window station.
    const TRemoteControlNames names = RemoteControlNames(cm::ProductInfo("")->ProductCaption, app, "", "", 0);
    cm::UniqueHandle event;
    for (int tries = 0; tries < 3000 && !event; ++tries) {
        event.reset(::OpenEventA(EVENT_MODIFY_STATE, FALSE, names.Events[RemoteQuitSignal].c_str()));
        if (!event) ::Sleep(10);
    }
    ASSERT_TRUE(event.valid()) << "the peer never published its events";
    ASSERT_TRUE(::SetEvent(event.get()));
    ASSERT_EQ(::WaitForSingleObject(peer.get(), 20000), WAIT_OBJECT_0);
    DWORD code = 99;
    ::GetExitCodeProcess(peer.get(), &code);
    EXPECT_EQ(code, 0u) << "3: the loop did not end";
}

TEST_F(AppRemoteControlTest, SignalOneRunsItsHandlerThenQuitsAtTheFirstClockTick) {
    TAppRemoteControl control(AppName("quit"));
    ASSERT_FALSE(control.InitializationFailed);
    DWORD handledAt = 0;
    control.RegisterHandler(RemoteQuitSignal, [&handledAt](TAppRemoteControl&) { handledAt = ::GetTickCount(); });
    cm::UniqueHandle event(::OpenEventA(EVENT_MODIFY_STATE, FALSE, control.Names.Events[RemoteQuitSignal].c_str()));
    ASSERT_TRUE(event.valid());
    // A stuck loop is ended from outside after 20 s, which the test then reports.
    std::atomic<bool> ended{false}, rescued{false};
    const DWORD owner = ::GetCurrentThreadId();
    std::thread watchdog([&] {
        for (int i = 0; i < 2000 && !ended; ++i) ::Sleep(10);
        if (!ended) {
            rescued = true;
            ::PostThreadMessageA(owner, WM_QUIT, 0, 0);
        }
    });
    ASSERT_TRUE(::SetEvent(event.get()));
    cm::MessageLoop(0);
    const DWORD endedAt = ::GetTickCount();
    ended = true;
    watchdog.join();
    EXPECT_FALSE(rescued);
    EXPECT_NE(handledAt, 0u);
    ASSERT_NE(control.QuitClock, nullptr);
    EXPECT_EQ(control.QuitClock->Interval(), RemoteQuitClockMs);
    EXPECT_GE(endedAt - handledAt + 20, RemoteQuitClockMs) << "the loop ends at the clock's tick, not at once";
}

std::atomic<int> gWaitWarnings{0};
void CountWaitWarning(const std::string& message) {
    if (message.rfind("Wait State", 0) == 0) ++gWaitWarnings;
}

// The control thread waits without limit by design: the guarded waits' deadlock watch (here cut
// to 20 ms slices) must not fire for it.
TEST_F(AppRemoteControlTest, TheControlThreadsEndlessWaitRaisesNoDeadlockWarning) {
    const cm::TWarningHook previousHook = cm::SetWarningHook(&CountWaitWarning);
    const uint32_t previousSlice = cm::SetDeadlockWarningSlice(20);
    gWaitWarnings = 0;
    {
        TAppRemoteControl control(AppName("nowarn"));
        EXPECT_FALSE(control.InitializationFailed);
        PumpFor(300);
    }
    cm::SetDeadlockWarningSlice(previousSlice);
    cm::SetWarningHook(previousHook);
    EXPECT_EQ(gWaitWarnings, 0);
}

// A signal set once is handled once, and the control thread does not spin on the event.
TEST_F(AppRemoteControlTest, ASignalSetOnceIsHandledOnceWithoutSpinning) {
    TAppRemoteControl control(AppName("once"));
    ASSERT_FALSE(control.InitializationFailed);
    std::vector<int> handled;
    for (int k : {2, 18}) control.RegisterHandler(k, [&handled, k](TAppRemoteControl&) { handled.push_back(k); });
    cm::UniqueHandle event(::OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, control.Names.Events[2].c_str()));
    ASSERT_TRUE(event.valid());
    PumpFor(100);
    const uint64_t before = ThreadProcessorMs(control.Thread->Handle.get());
    ASSERT_TRUE(::SetEvent(event.get()));
    PumpFor(1000);
    const uint64_t spent = ThreadProcessorMs(control.Thread->Handle.get()) - before;
    EXPECT_EQ(handled, std::vector<int>{2});
    EXPECT_LT(spent, 200u) << "ms of processor time the control thread used in the second after the signal";
    EXPECT_EQ(::WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the event was reset";
}

TEST_F(AppRemoteControlTest, PublishedObjectsLetEveryoneSignalButNotTakeThemOver) {
    TAppRemoteControl control(AppName("acl"));
    ASSERT_FALSE(control.InitializationFailed);
    for (HANDLE handle : {control.Mutexes[0].get(), control.Mutexes[1].get(), control.Events[1].get(),
                          control.Events[18].get()}) {
        PACL acl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(::GetSecurityInfo(handle, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                    nullptr, &descriptor),
                  static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_NE(acl, nullptr) << "a null access list lets anyone take the object over";
        ASSERT_EQ(acl->AceCount, 1);
        void* entry = nullptr;
        ASSERT_TRUE(::GetAce(acl, 0, &entry));
        EXPECT_EQ(static_cast<ACCESS_ALLOWED_ACE*>(entry)->Mask, cm::OpenObjectAccess);
        ::LocalFree(descriptor);
    }
}

TEST_F(AppRemoteControlTest, StopIsIdempotentAndAFailedConstructionDoesNotRaise) {
    {
        TAppRemoteControl control(AppName("stop"));
        ASSERT_FALSE(control.InitializationFailed);
        control.RegisterHandler(3, [](TAppRemoteControl&) {});
        control.Stop();
        control.Stop();
        EXPECT_TRUE(control.Stopped);
        EXPECT_EQ(control.Thread, nullptr);
        EXPECT_EQ(control.Window.get(), nullptr);
        for (const auto& event : control.Events) EXPECT_FALSE(event.valid());
        EXPECT_FALSE(control.Handlers[3]);
    }
    // A mutex already holds the name of signal event 5: the event can be neither made nor opened.
    const std::string app = AppName("clash");
    const TRemoteControlNames names = RemoteControlNames(cm::ProductInfo("")->ProductCaption, app, "", "", 0);
    cm::UniqueHandle squatter(::CreateMutexA(nullptr, FALSE, names.Events[5].c_str()));
    ASSERT_TRUE(squatter.valid());
    TAppRemoteControl control(app);
    EXPECT_TRUE(control.InitializationFailed);
    EXPECT_TRUE(control.Events[4].valid());
    EXPECT_EQ(control.Thread, nullptr);
}

// The program's modules in their order: the main thread's queue is freed while the log still
// writes, so that a notification left pending at shut-down is reported in the log.
TEST(ProgramModules, ANotificationLeftAtShutDownIsReportedInTheLog) {
    const std::string ownLog = cm::LogFilePath();
    ASSERT_FALSE(ownLog.empty());
    const std::string ownName = cm::ExtractNamePart(ownLog);
    char ownProgram[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, ownProgram, MAX_PATH);
    const std::string testName = cm::ExtractBaseName(ownProgram);
    // The peer's log sits beside this program's, named after the peer (same instance suffix).
    ASSERT_EQ(ownName.rfind(testName, 0), 0u) << ownName;
    const std::string peerLog = cm::ExtractPathPart(ownLog) + "remote_control_peer" + ownName.substr(testName.size());
    const auto readLog = [&peerLog] {
        std::ifstream in(peerLog, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const size_t start = readLog().size();
    ASSERT_EQ(RunPeer(PeerProgram(), "modules -"), 0);
    const std::string text = readLog().substr(start);
    const size_t title = text.find("Notify Queue Warning-");
    const size_t count = text.find("Shutting down with 1 undelivered notifications in Primary Queue (High).\r\n");
    EXPECT_NE(title, std::string::npos) << text;
    ASSERT_NE(count, std::string::npos) << text;
    EXPECT_LT(title, count);
    // The argument's class is listed only while logging is enabled ("Level").
    if (cm::LogEnabled()) {
        EXPECT_NE(text.find("  TUndeliveredArgument", count), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace bootstrap
