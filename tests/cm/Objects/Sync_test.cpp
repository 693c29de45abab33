// Guarded waits, the synchronisation wrappers and the named-object helpers, under Wine.
#include "cm/Objects/Sync.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cm/Objects/Errors.h"
#include "cm/Objects/Handles.h"
#include "support/MessageOf.h"

namespace cm {
namespace {

using test::MessageOf;

DWORD WINAPI ThreadBody(void* parameter) {
    std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(parameter));
    (*owned)();
    return 0;
}

// Starts a thread running the body; the owner joins it by waiting on the handle.
UniqueHandle StartThread(std::function<void()> body) {
    auto* heapBody = new std::function<void()>(std::move(body));
    HANDLE thread = ::CreateThread(nullptr, 0, &ThreadBody, heapBody, 0, nullptr);
    if (thread == nullptr) delete heapBody;
    return UniqueHandle(thread);
}

void Join(const UniqueHandle& thread) { ASSERT_EQ(::WaitForSingleObject(thread.get(), 30000), WAIT_OBJECT_0); }

// The warnings the hook received, in order; guarded because waits may warn from other threads.
std::vector<std::string> gWarnings;
CRITICAL_SECTION gWarningsLock;

void RecordWarning(const std::string& message) {
    ::EnterCriticalSection(&gWarningsLock);
    gWarnings.push_back(message);
    ::LeaveCriticalSection(&gWarningsLock);
}

size_t WarningCount() {
    ::EnterCriticalSection(&gWarningsLock);
    const size_t count = gWarnings.size();
    ::LeaveCriticalSection(&gWarningsLock);
    return count;
}

// Records every warning and shortens the deadlock slice to kSlice; restores both afterwards.
class SyncTest : public ::testing::Test {
protected:
    static constexpr uint32_t kSlice = 500;

    static void SetUpTestSuite() { ::InitializeCriticalSection(&gWarningsLock); }
    static void TearDownTestSuite() { ::DeleteCriticalSection(&gWarningsLock); }

    void SetUp() override {
        gWarnings.clear();
        previousHook_ = SetWarningHook(&RecordWarning);
        previousSlice_ = SetDeadlockWarningSlice(kSlice);
    }
    void TearDown() override {
        SetWarningHook(previousHook_);
        SetDeadlockWarningSlice(previousSlice_);
    }

    // A mutex left owned by a thread that has ended.
    static UniqueHandle AbandonedMutex() {
        UniqueHandle mutex(::CreateMutexA(nullptr, FALSE, nullptr));
        UniqueHandle thread = StartThread([&] { ::WaitForSingleObject(mutex.get(), INFINITE); });
        Join(thread);
        return mutex;
    }

private:
    TWarningHook previousHook_ = nullptr;
    uint32_t previousSlice_ = 0;
};

const std::string kPossibleDeadlock = "Wait State Warning (possible deadlock)";
const std::string kDeadlockAvoided = "Wait State Ended (deadlock condition avoided)";

TEST_F(SyncTest, EmptyHandleListIsRefused) {
    EXPECT_EQ(MessageOf([] { WaitForObjects(std::span<const HANDLE>(), false, 0, 0); }),
              "No objects to wait for specified.");
}

TEST_F(SyncTest, WatchedInfiniteWaitWarnsPerSliceAndOnceWhenItEnds) {
    // Signalled after two and a half slices: two slices end unsignalled.
    UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle signaller = StartThread([&] {
        ::Sleep(kSlice * 5 / 2);
        ::SetEvent(event.get());
    });
    EXPECT_EQ(WaitForObjects({event.get()}, false, WaitInfinite, WaitWarnDeadlock), 0);
    Join(signaller);
    EXPECT_EQ(gWarnings, (std::vector<std::string>{kPossibleDeadlock, kPossibleDeadlock, kDeadlockAvoided}));
}

TEST_F(SyncTest, WaitsThatEndInTimeOrAreUnwatchedDoNotWarn) {
    UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle signaller = StartThread([&] {
        ::Sleep(kSlice * 2);
        ::SetEvent(event.get());
    });
    // Unwatched infinite wait across two slice lengths, then a watched wait on a set event.
    EXPECT_TRUE(WaitForObject(event.get(), WaitInfinite, 0));
    EXPECT_TRUE(WaitForObject(event.get(), WaitInfinite, WaitWarnDeadlock));
    Join(signaller);
    EXPECT_TRUE(gWarnings.empty());
}

TEST_F(SyncTest, SignalAndWaitSignalsOnceAcrossSlices) {
    // A semaphore counts releases: a signal repeated by a later slice would show as a count of 2+.
    UniqueHandle semaphore(::CreateSemaphoreA(nullptr, 0, 10, nullptr));
    UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle signaller = StartThread([&] {
        ::Sleep(kSlice * 5 / 2);
        ::SetEvent(event.get());
    });
    EXPECT_EQ(WaitForObjects({event.get()}, false, WaitInfinite, WaitWarnDeadlock, semaphore.get()), 0);
    Join(signaller);
    EXPECT_EQ(::WaitForSingleObject(semaphore.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(semaphore.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(gWarnings.size(), 3u);
}

TEST_F(SyncTest, AbandonedMutexIsAcquiredWithAWarning) {
    struct Case {
        const char* name;
        bool withEvent;  // an unsignalled event before the mutex: the mutex is object 1 of 2
        TWaitFlags flags;
        int expectedIndex;
        std::vector<std::string> expectedWarnings;
    };
    const Case cases[] = {
        {"alone, warned", false, WaitWarnAbandoned, 0, {"Wait State Warning (wait abandoned)"}},
        {"alone, silent", false, 0, 0, {}},
        {"second of two", true, WaitWarnAbandoned, 1,
         {"Wait State Warning (wait abandoned)\r\nAbandoned object index is 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gWarnings.clear();
        UniqueHandle mutex = AbandonedMutex();
        UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        std::vector<HANDLE> handles;
        if (c.withEvent) handles.push_back(event.get());
        handles.push_back(mutex.get());
        EXPECT_EQ(WaitForObjects(handles, false, 1000, c.flags), c.expectedIndex);
        EXPECT_EQ(gWarnings, c.expectedWarnings);
        // The caller owns the mutex now: release succeeds once, then fails.
        EXPECT_TRUE(::ReleaseMutex(mutex.get()));
        EXPECT_FALSE(::ReleaseMutex(mutex.get()));
    }
}

// A warning hook that fails (the log's writer when the log cannot be written) changes nothing:
// the wait returns the abandoned mutex, owned, or the watched wait ends normally.
TEST_F(SyncTest, AFailingWarningHookNeverStopsAWait) {
    SetWarningHook([](const std::string&) { throw Exception("the log cannot be written"); });
    UniqueHandle mutex = AbandonedMutex();
    EXPECT_EQ(WaitForObjects(std::vector<HANDLE>{mutex.get()}, false, 1000, WaitWarnAbandoned), 0);
    EXPECT_TRUE(::ReleaseMutex(mutex.get()));

    UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle setter = StartThread([&] {
        ::Sleep(kSlice + 300);
        ::SetEvent(event.get());
    });
    EXPECT_TRUE(WaitForObject(event.get(), -1, WaitWarnDeadlock));
    Join(setter);
}

TEST_F(SyncTest, TimeOutReturnsMinusOneOrRaises) {
    UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(WaitForObjects({event.get()}, false, 50, WaitTimeoutResult | WaitWarnDeadlock), -1);
    EXPECT_FALSE(WaitForObject(event.get(), 0, WaitTimeoutResult));
    EXPECT_EQ(MessageOf([&] { WaitForObject(event.get(), 500, WaitWarnDeadlock); }),
              "Wait operation timed out after 500ms");
    EXPECT_TRUE(gWarnings.empty());  // finite waits are never sliced
}

TEST_F(SyncTest, WaitAllNeedsEveryObject) {
    UniqueHandle set(::CreateEventA(nullptr, TRUE, TRUE, nullptr));
    UniqueHandle unset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(WaitForObjects({unset.get(), set.get()}, false, 0, 0), 1);
    EXPECT_EQ(WaitForObjects({unset.get(), set.get()}, true, 0, WaitTimeoutResult), -1);
    ::SetEvent(unset.get());
    EXPECT_EQ(WaitForObjects({unset.get(), set.get()}, true, 0, 0), 0);
}

TEST_F(SyncTest, FailedWaitIsASystemError) {
    const HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x00FEDCB8));
    try {
        WaitForObject(bogus, 0, 0);
        FAIL() << "no exception";
    } catch (const EWin32Error& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(std::string(e.what()).rfind("Wait operation failed: ", 0), 0u) << e.what();
    }
}

TEST_F(SyncTest, EventSignalWaitAndReset) {
    TWinEvent event(nullptr, "", true, false);
    EXPECT_TRUE(event.Handle.valid());
    EXPECT_FALSE(event.AlreadyExisted);
    EXPECT_FALSE(event.Wait(0));
    event.Signal();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));  // manual reset stays set
    event.Reset();
    EXPECT_FALSE(event.Wait(10));

    TWinEvent autoReset(nullptr, "", false, true);
    EXPECT_TRUE(autoReset.Wait(0));
    EXPECT_FALSE(autoReset.Wait(0));
}

TEST_F(SyncTest, NamedObjectsReportExistingAndNameClashes) {
    const std::string name = "corvane_sync_test_" + std::to_string(::GetCurrentProcessId());
    {
        TWinEvent first(nullptr, name, true, false);
        TWinEvent second(nullptr, name, true, false);
        EXPECT_FALSE(first.AlreadyExisted);
        EXPECT_TRUE(second.AlreadyExisted);
        second.Signal();
        EXPECT_TRUE(first.Wait(0));  // one object under one name
        // A mutex cannot take the name of an event.
        const std::string message = MessageOf<EWin32Error>([&] { TWinMutex clash(nullptr, name); });
        EXPECT_EQ(message.rfind("Failed to create mutex object: '" + name + "': ", 0), 0u) << message;
    }
    TWinMutex first(nullptr, name);
    TWinMutex second(OpenSecurityAttributes(), name);
    EXPECT_FALSE(first.AlreadyExisted);
    EXPECT_TRUE(second.AlreadyExisted);
    const std::string message = MessageOf<EWin32Error>([&] { TWinEvent clash(nullptr, name, false, false); });
    EXPECT_EQ(message.rfind("Failed to create event object: '" + name + "': ", 0), 0u) << message;
}

TEST_F(SyncTest, WrapperFailuresNameTheHandle) {
    TWinMutex mutex(nullptr, "");
    const std::string handle = Format("0x0%x", {reinterpret_cast<uintptr_t>(mutex.Handle.get())});
    EXPECT_EQ(MessageOf([&] { mutex.Release(); }).rfind("Failed to release mutex object " + handle + ": ", 0), 0u);
    EXPECT_TRUE(mutex.Wait(0, 0));
    mutex.Release();

    // An event wrapper whose handle is a mutex: setting it fails. The wrapper is lent the handles
    // and gives them back before anything could close them.
    TWinEvent event(nullptr, "", true, false);
    const UniqueHandle own(event.Handle.release());
    event.Handle.reset(mutex.Handle.get());
    EXPECT_EQ(MessageOf([&] { event.Signal(); }).rfind("Failed to set event object " + handle + ": ", 0), 0u);
    event.Handle.release();
    event.Handle.reset(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x00FEDCB8)));
    EXPECT_EQ(MessageOf([&] { event.Wait(0); }).rfind("Error waiting for event: ", 0), 0u);
    event.Handle.release();
}

TEST_F(SyncTest, MutexWaitIsGuardedAgainstOtherThreads) {
    TWinMutex mutex(nullptr, "");
    UniqueHandle held(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    // The other thread owns the mutex before this one tries it, and keeps it until this one's
    // guarded wait has warned (a slow machine cannot make either happen too early).
    UniqueHandle holder = StartThread([&] {
        mutex.Wait(WaitInfinite, 0);
        ::SetEvent(held.get());
        for (int waited = 0; WarningCount() == 0 && waited < 30000; waited += 10) ::Sleep(10);
        mutex.Release();
    });
    ASSERT_EQ(::WaitForSingleObject(held.get(), 30000), WAIT_OBJECT_0);
    EXPECT_FALSE(mutex.Wait(0, WaitTimeoutResult));
    EXPECT_TRUE(mutex.Wait(WaitInfinite, WaitWarnDeadlock | WaitWarnAbandoned));
    mutex.Release();
    Join(holder);
    EXPECT_EQ(gWarnings, (std::vector<std::string>{kPossibleDeadlock, kDeadlockAvoided}));
}

TEST_F(SyncTest, FastMutexSerialisesContendingThreads) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    TFastMutex mutex;
    // A read-modify-write with a yield inside: without mutual exclusion updates are lost.
    volatile int counter = 0;
    std::vector<UniqueHandle> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.push_back(StartThread([&] {
            for (int i = 0; i < kRounds; ++i) {
                TFastMutexLock lock(mutex);
                const int seen = counter;
                if (i % 64 == 0) ::SwitchToThread();
                counter = seen + 1;
            }
        }));
    }
    for (const UniqueHandle& thread : threads) Join(thread);
    EXPECT_EQ(counter, kThreads * kRounds);

    // Re-entrant on the owning thread.
    TFastMutexLock outer(mutex);
    TFastMutexLock inner(mutex);
}

TEST_F(SyncTest, GlobalNameDependsOnTheSystemVersion) {
    struct Case {
        uint32_t major;
        const char* expected;
    };
    for (const Case& c : {Case{4, "Obj"}, Case{5, "Global\\Obj"}, Case{10, "Global\\Obj"}}) {
        EXPECT_EQ(GlobalName("Obj", c.major), c.expected) << c.major;
    }
    EXPECT_EQ(GlobalName("Obj"), "Global\\Obj");  // every supported system has sessions
}

// The one entry of an access list: everyone, allowed OpenObjectAccess and nothing else.
void ExpectEveryoneMayOnlyUse(PACL acl) {
    ASSERT_NE(acl, nullptr);  // a null list would grant every access, the access list included
    ASSERT_EQ(acl->AceCount, 1);
    void* entry = nullptr;
    ASSERT_TRUE(::GetAce(acl, 0, &entry));
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Mask, OpenObjectAccess);
    EXPECT_EQ(allowed->Mask & (WRITE_DAC | WRITE_OWNER | DELETE), 0u);
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    ASSERT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
    EXPECT_TRUE(::EqualSid(const_cast<DWORD*>(&allowed->SidStart), everyone));
}

TEST_F(SyncTest, OpenSecurityLetsEveryoneUseButNotTakeOverTheObject) {
    SECURITY_ATTRIBUTES* attributes = OpenSecurityAttributes();
    ASSERT_NE(attributes, nullptr);
    EXPECT_EQ(attributes, OpenSecurityAttributes());  // made once
    EXPECT_EQ(attributes->nLength, sizeof(SECURITY_ATTRIBUTES));  // 12 on x86, 24 on x64
    EXPECT_FALSE(attributes->bInheritHandle);
    EXPECT_EQ(attributes->lpSecurityDescriptor, OpenSecurityDescriptor());
    BOOL present = FALSE, defaulted = TRUE;
    PACL acl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(OpenSecurityDescriptor(), &present, &acl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    ExpectEveryoneMayOnlyUse(acl);

    // The list as the system keeps it on named objects made with it, read back through the
    // handles the wrappers hold; those handles carry no right to change it.
    const std::string name = "corvane_sync_open_" + std::to_string(::GetCurrentProcessId());
    TWinMutex mutex(attributes, name + "_mutex");
    TWinEvent event(attributes, name + "_event", true, false);
    TWinMutex mutexAgain(attributes, name + "_mutex");  // a peer opens it with the rights it grants
    EXPECT_TRUE(mutexAgain.AlreadyExisted);
    for (HANDLE handle : {mutex.Handle.get(), event.Handle.get(), mutexAgain.Handle.get()}) {
        PACL objectAcl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(::GetSecurityInfo(handle, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &objectAcl,
                                    nullptr, &descriptor),
                  static_cast<DWORD>(ERROR_SUCCESS));
        ExpectEveryoneMayOnlyUse(objectAcl);
        ::LocalFree(descriptor);
        EXPECT_NE(::SetSecurityInfo(handle, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                    nullptr),
                  static_cast<DWORD>(ERROR_SUCCESS));
    }
    event.Signal();
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_TRUE(mutexAgain.Wait(0, 0));
    mutexAgain.Release();
}

TEST_F(SyncTest, PostMessageGuardedPostsOrNamesTheFailure) {
    // A null window posts to the calling thread's queue.
    PostMessageGuarded(nullptr, WM_APP + 7, 11, 22);
    MSG message{};
    ASSERT_TRUE(::PeekMessageA(&message, nullptr, WM_APP + 7, WM_APP + 7, PM_REMOVE));
    EXPECT_EQ(message.wParam, 11u);
    EXPECT_EQ(message.lParam, 22);

    const HWND bogus = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x0BAD0));
    try {
        PostMessageGuarded(bogus, WM_APP + 1, 0, 0);
        FAIL() << "no exception";
    } catch (const EWin32Error& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<uint32_t>(ERROR_INVALID_WINDOW_HANDLE));
        EXPECT_EQ(std::string(e.what()).rfind("Failed to post message 0x08001 to window 0x0BAD0.: ", 0), 0u)
            << e.what();
    }
    EXPECT_TRUE(gWarnings.empty());
}

}  // namespace
}  // namespace cm
