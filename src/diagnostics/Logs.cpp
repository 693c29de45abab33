// The shared log file: start-up and shut-down, the serialised append with trimming, title lines,
// warnings and the thread-name registry. Call traces are in CallTrace.cpp.
#include "diagnostics/Logs.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <memory>
#include <vector>

#include "catalogue/ProductInformation.h"
#include "cm/CrossRegistry/CrossRegistry.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/Sync.h"
#include "cm/Objects/SystemWrappers.h"
#include "cm/NotifyQueue/NotifyQueue.h"
#include "cm/ThreadPool/SafeThread.h"

namespace cm {

namespace {

constexpr const char* VirtualEnvironmentModule = "__Tavrel_VE__";
constexpr const char* InstanceVariable = "TavrelLogInstance";
constexpr const char* LogDirectoryName = "Logs";
constexpr const char* LogKeyTemplate = "SOFTWARE\\Tavrel\\Corvane\\Log";
// The word of the log's registry key that the product caption replaces.
constexpr const char* ProductWord = ProductName;
constexpr const char* LevelValueName = "Level";
constexpr const char* MutexPrefix = "Tavrel_LogMutex_";
constexpr const char* MainThreadName = "Main Thread";
constexpr const char* InitErrorEntry =
    "An error occurred while initializing log.\r\nFailed to access registry information.\r\n";
constexpr size_t TitleLeftFill = 10;
constexpr size_t TitleColumn = 30;
constexpr size_t TitleMinWidth = 79;
// Entries that arrive from the writer's own thread while it waits for the log mutex (the wait's
// warnings) are kept for it up to this number; a wait that warns longer only loses the surplus.
constexpr size_t PendingEntriesMax = 16;

struct TThreadName {
    std::string Name;
    uint32_t ThreadId;
};

struct TThreadNames {
    TFastMutex Lock;
    std::deque<TThreadName> Entries;
};

struct TLogState {
    std::atomic<bool> Initialised{false};
    std::atomic<bool> Closed{false};
    // Set when a writer gave up waiting for the log mutex: no later writer waits again.
    std::atomic<bool> Stalled{false};
    // Writers between their close check and the end of their append; LogClose waits (bounded)
    // for them to leave before it closes the file and the mutex.
    std::atomic<int32_t> Writers{0};
    std::atomic<bool> Enabled{false};
    std::atomic<bool> TrimEnabled{false};
    // The open runs once: OpenDone is published after the attempt, under OpenLock.
    std::atomic<bool> OpenDone{false};
    bool OpenAttempted = false;
    SRWLOCK OpenLock = SRWLOCK_INIT;
    // Signalled by LogClose: a writer waiting for the mutex stops waiting.
    UniqueHandle CloseEvent{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    TProductCaptionSource ProductCaption = nullptr;
    std::string LogPath;
    std::string InitError;
    std::atomic<bool> InitErrorWritten{false};
    UniqueFileHandle LogFile;
    std::unique_ptr<TWinMutex> LogMutex;
    std::unique_ptr<TThreadNames> ThreadNames;
};

TLogState& State() {
    static TLogState state;
    return state;
}

// ---- The per-thread writer frame (LogWriting) ----

// Present while the thread is inside an append; collects what the thread logs meanwhile.
struct TWriterFrame {
    std::vector<std::string> Pending;
};

DWORD WriterSlot() {
    static const DWORD slot = TlsAlloc();
    return slot;
}

TWriterFrame* CurrentWriterFrame() {
    const DWORD slot = WriterSlot();
    if (slot == TLS_OUT_OF_INDEXES) return nullptr;
    // TlsGetValue clears the last error; a log call must leave the caller's error code alone.
    const DWORD lastError = GetLastError();
    auto* frame = static_cast<TWriterFrame*>(TlsGetValue(slot));
    SetLastError(lastError);
    return frame;
}

class TWriterFrameScope {
public:
    explicit TWriterFrameScope(TWriterFrame& frame) { TlsSetValue(WriterSlot(), &frame); }
    ~TWriterFrameScope() { TlsSetValue(WriterSlot(), nullptr); }
    TWriterFrameScope(const TWriterFrameScope&) = delete;
    TWriterFrameScope& operator=(const TWriterFrameScope&) = delete;
};

// ---- File access (under the log mutex) ----

void WriteAll(TLogState& s, const char* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(s.LogFile.get(), data, static_cast<DWORD>(size), &written, nullptr) || written == 0)
            RaiseLastSystemError("Failed to write to log file '%s'", {s.LogPath});
        data += written;
        size -= written;
    }
}

void ReadAll(TLogState& s, char* data, size_t size) {
    while (size > 0) {
        DWORD read = 0;
        if (!ReadFile(s.LogFile.get(), data, static_cast<DWORD>(size), &read, nullptr))
            RaiseLastSystemError("Failed to read log file '%s'", {s.LogPath});
        if (read == 0) throw Exception(Format("Failed to read log file '%s': unexpected end of file", {s.LogPath}));
        data += read;
        size -= read;
    }
}

// Keeps the newest LogTrimKeptSize bytes of a file of size bytes. The kept part is written over
// the start before the file is cut, so a writer that dies half-way leaves the newest entries at
// the file's end for the next trim, instead of an empty file.
void Trim(TLogState& s, int64_t size) {
    std::vector<char> kept(LogTrimKeptSize);
    SetFilePointerChecked(s.LogFile.get(), size - LogTrimKeptSize, FILE_BEGIN);
    ReadAll(s, kept.data(), kept.size());
    SetFilePointerChecked(s.LogFile.get(), 0, FILE_BEGIN);
    WriteAll(s, kept.data(), kept.size());
    SetEndOfFileChecked(s.LogFile.get());
}

// Appends text + CR LF at the end of the open file under the log mutex. Entries this thread logged
// meanwhile (the wait's abandonment warning, anything logged while the log opened) are written
// first. The wait is bounded (LogMutexWaitLimitMs) and ends with a close: the entry is dropped
// then, and after a time-out the log falls silent.
void AppendEntry(TLogState& s, TWriterFrame& frame, const std::string& text) {
    if (s.Stalled) return;
    // Waited for in deadlock-warning slices up to the limit, with the warnings of a watched wait
    // in their order (see WaitForObjects); a mutex left by a dead writer is taken over.
    const HANDLE waits[] = {s.LogMutex->Handle.get(), s.CloseEvent.get()};
    const DWORD count = s.CloseEvent ? 2 : 1;
    bool warned = false;
    DWORD result = WAIT_TIMEOUT;
    for (int64_t waited = 0; waited < LogMutexWaitLimitMs;) {
        const DWORD slice = static_cast<DWORD>(
            std::min<int64_t>(std::max<uint32_t>(DeadlockWarningSlice(), 1), LogMutexWaitLimitMs - waited));
        result = WaitForMultipleObjects(count, waits, FALSE, slice);
        if (result != WAIT_TIMEOUT) break;
        waited += slice;
        if (waited < LogMutexWaitLimitMs) {
            warned = true;
            CallWarningHook("Wait State Warning (possible deadlock)");
        }
    }
    const bool acquired = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0;
    if (acquired && warned) CallWarningHook("Wait State Ended (deadlock condition avoided)");
    if (result == WAIT_ABANDONED_0) CallWarningHook("Wait State Warning (wait abandoned)");
    if (!acquired) {
        if (result == WAIT_TIMEOUT) s.Stalled = true;  // the log falls silent
        return;  // closed, or the wait failed: the entry is dropped
    }
    TMutexRelease release(s.LogMutex->Handle.get());

    int64_t end = SetFilePointerChecked(s.LogFile.get(), 0, FILE_END);
    if (end > static_cast<int64_t>(LogMaxSize) && s.TrimEnabled) {
        Trim(s, end);
        end = SetFilePointerChecked(s.LogFile.get(), 0, FILE_END);
    }
    std::string block;
    for (const std::string& pending : frame.Pending) block += pending + "\r\n";
    block += text;
    block += "\r\n";
    WriteAll(s, block.data(), block.size());
}

// Opens the mutex and the file on the first write that needs them; one attempt per process.
void OpenOnce(TLogState& s) {
    if (s.OpenDone.load(std::memory_order_acquire)) return;
    TSrwExclusiveLock guard(s.OpenLock);
    if (s.OpenAttempted) return;
    s.OpenAttempted = true;
    struct TPublish {
        TLogState& s;
        ~TPublish() { s.OpenDone.store(true, std::memory_order_release); }
    } publish{s};

    // No "Global\" prefix: the file is per installation directory, and writers of other sessions
    // reach it through the open security attributes.
    const std::string mutexName = MutexPrefix + LowerCaseAscii(ExtractBaseName(s.LogPath));
    try {
        s.LogMutex = std::make_unique<TWinMutex>(OpenSecurityAttributes(), mutexName);
    } catch (const Exception&) {
        return;  // the log stays silent
    }
    // Temporary attribute: the system keeps the file's data in its cache rather than flushing
    // every append. Shared for writing: every process of the executable appends to it.
    s.LogFile.reset(CreateFileA(s.LogPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
}

std::string Timestamp() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%02u/%02u/%04u %02u:%02u:%02u.%03u", t.wDay, t.wMonth, t.wYear, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

// Reads "Level"; raises what the registry or the product information raise. Always from the
// 32-bit view, the one the x86 program sees by default: one setting serves the x86 and the x64
// build alike.
bool ReadLogLevelEnabled(TProductCaptionSource productCaption) {
    TCrossRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    registry.Access = KEY_READ;
    registry.Use32BitView = true;
    const std::string caption = productCaption ? productCaption() : std::string(ProductWord);
    const std::string key = ReplaceAllText(LogKeyTemplate, ProductWord, caption, true);
    if (!registry.OpenKey(key, false)) return false;
    return registry.ReadInteger(LevelValueName, 0) > 0;
}

// The thread classes' reports: a forced "Thread Error" entry, and dispatch errors as warnings.
void LogThreadErrorEntry(const std::string& message) noexcept {
    try {
        LogTitled("Thread Error", '-', LogForced);
        LogWrite(message, LogForced);
    } catch (...) {
    }
}

void LogDispatchWarning(const std::string& text) noexcept { LogWarning(text); }

// The notify queues' reports: warnings, and the undelivered-notification report at shut-down.
void LogNotifyTitled(const std::string& title, char fill, bool forced) noexcept {
    try {
        LogTitled(title, fill, forced ? TLogOptions{LogForced} : TLogOptions{0});
    } catch (...) {
    }
}
void LogNotifyWrite(const std::string& text, bool forced) noexcept {
    try {
        LogWrite(text, forced ? TLogOptions{LogForced} : TLogOptions{0});
    } catch (...) {
    }
}

}  // namespace

void InitializeLogs(TProductCaptionSource productCaption) {
    TLogState& s = State();
    s.ProductCaption = productCaption;
    if (GetModuleHandleA(VirtualEnvironmentModule) != nullptr) {
        s.Closed = true;
        return;
    }
    try {
        // Made once and never freed: other threads may look names up at any time.
        if (!s.ThreadNames) s.ThreadNames = std::make_unique<TThreadNames>();
        RegisterThreadName(GetCurrentThreadId(), MainThreadName);

        const std::string instance = GetEnvironmentValue(InstanceVariable);
        const std::string suffix = instance.empty() ? std::string() : "_" + instance;
        std::string modulePath = GetModuleFileNameChecked(nullptr);
        if (FileExistsPlain(modulePath)) modulePath = ResolveFileName(modulePath, nullptr, false);
        const std::string logDirectory = ExtractPathPart(modulePath) + LogDirectoryName;
        // A failure shows later as a failed open, which leaves the log silent.
        CreateDirectoryA(logDirectory.c_str(), nullptr);

        s.InitError.clear();
        try {
            s.Enabled = ReadLogLevelEnabled(s.ProductCaption);
        } catch (const std::exception& e) {
            s.InitError = e.what();
            s.Enabled = false;
        }

        s.LogPath = logDirectory + "\\" + ExtractBaseName(modulePath) + suffix + ".log";
        s.Initialised = true;
        SetWarningHook(&LogWarningWithTrace);
        SetThreadReportHooks({&LogThreadErrorEntry, &LogDispatchWarning});
        SetNotifyLogHooks({&LogDispatchWarning, &LogNotifyTitled, &LogNotifyWrite});
    } catch (...) {
        return;  // the log stays silent
    }
    if (s.Enabled) {
        try {
            LogWrite(LogTitleLine("Started", '-') + "\r\nBuild=" + std::to_string(LogBuildNumber) +
                     "   PID=" + std::to_string(GetCurrentProcessId()) +
                     "   TID=" + std::to_string(GetCurrentThreadId()) + "   Computer=" + GetComputerNameSafe() +
                     "\r\n");
        } catch (...) {
        }
    }
    s.TrimEnabled = true;
}

void FinalizeLogs() {
    TLogState& s = State();
    if (s.Enabled) {
        try {
            LogTitled("Stopped (PID=" + std::to_string(GetCurrentProcessId()) + ")", '-');
        } catch (...) {
        }
    }
    LogClose();
    if (GetWarningHook() == &LogWarningWithTrace) SetWarningHook(nullptr);
    if (ThreadReportHooks().ThreadError == &LogThreadErrorEntry) SetThreadReportHooks({});
    if (NotifyLogHooks().Write == &LogNotifyWrite) SetNotifyLogHooks({});
    if (TThreadNames* names = s.ThreadNames.get()) {
        // Emptied under its lock rather than freed: a lookup may be running on another thread.
        TFastMutexLock lock(names->Lock);
        names->Entries.clear();
    }
    s.InitError.clear();
}

bool LogEnabled() { return State().Enabled; }

std::string LogFilePath() { return State().Initialised ? State().LogPath : std::string(); }

int LogWritingDepth() { return CurrentWriterFrame() != nullptr ? 1 : 0; }

void LogWrite(const std::string& text, TLogOptions options) {
    TLogState& s = State();
    if (!s.Initialised) return;
    if (!s.Enabled && (options & LogForced) == 0) return;
    if (TWriterFrame* frame = CurrentWriterFrame()) {
        // Re-entry from this thread's own write (its open, its wait): kept for that write, never
        // written here, so the log never waits on itself.
        if (frame->Pending.size() < PendingEntriesMax) frame->Pending.push_back(text);
        return;
    }
    // The caller's last error survives the write: a failure is often logged between the failed
    // call and the reading of its error code.
    const DWORD lastError = GetLastError();
    struct TRestoreLastError {
        DWORD Code;
        ~TRestoreLastError() { SetLastError(Code); }
    } restore{lastError};
    TWriterFrame frame;
    TWriterFrameScope scope(frame);
    struct TWriterCount {
        std::atomic<int32_t>& Count;
        explicit TWriterCount(std::atomic<int32_t>& count) : Count(count) { ++Count; }
        ~TWriterCount() { --Count; }
    } counted(s.Writers);
    if (s.Closed) return;  // checked after counting in: LogClose waits only for those past it
    OpenOnce(s);
    if (!s.LogFile || !s.LogMutex) return;
    if (!s.InitError.empty() && !s.InitErrorWritten.exchange(true))
        frame.Pending.insert(frame.Pending.begin(), InitErrorEntry + s.InitError);
    AppendEntry(s, frame, text);
}

std::string LogTitleLine(const std::string& title, char fill) {
    if (!State().Initialised) return {};
    std::string line(TitleLeftFill, fill);
    line += title;
    if (title.size() < TitleColumn) line.append(TitleColumn - title.size(), fill);
    line += Timestamp();
    if (line.size() < TitleMinWidth) line.append(TitleMinWidth - line.size(), fill);
    return line;
}

void LogTitled(const std::string& title, char fill, TLogOptions options) {
    LogWrite(LogTitleLine(title, fill) + "\r\n", options);
}

void LogWarning(const std::string& text) noexcept {
    try {
        LogWrite(LogTitleLine("Warning", '=') + "\r\n" + text + "\r\n", LogForced);
    } catch (...) {
    }
}

void LogWarningWithTrace(const std::string& text) {
    TLogState& s = State();
    if (!s.Initialised || s.Closed) return;  // spares the stack scan of an entry that would be dropped
    LogWrite(LogTitleLine("Warning", '-') + "\r\n" + LogProcessIds() + "\r\n" + text + "\r\n" +
                 CallTraceText(nullptr, nullptr),
             LogForced);
}

std::string LogProcessIds() {
    return "PID=" + std::to_string(GetCurrentProcessId()) + " TID=" + ThreadIdText() +
           " Build=" + std::to_string(LogBuildNumber);
}

std::string ThreadIdText() {
    const uint32_t id = GetCurrentThreadId();
    std::string text = std::to_string(id);
    TThreadNames* names = State().ThreadNames.get();
    if (names == nullptr) return text;
    TFastMutexLock lock(names->Lock);
    for (auto it = names->Entries.rbegin(); it != names->Entries.rend(); ++it) {
        if (it->ThreadId == id) {
            text += " [" + it->Name + "]";
            break;
        }
    }
    return text;
}

void RegisterThreadName(uint32_t threadId, const std::string& name) {
    TThreadNames* names = State().ThreadNames.get();
    if (names == nullptr) return;
    TFastMutexLock lock(names->Lock);
    while (names->Entries.size() > static_cast<size_t>(LogThreadNamesMax)) names->Entries.pop_front();
    names->Entries.push_back({name, threadId});
}

void LogClose() {
    TLogState& s = State();
    // Set first so that new writers stop at their check; writers waiting for the mutex stop too.
    s.Closed = true;
    if (s.CloseEvent) SetEvent(s.CloseEvent.get());
    // Writers already past the check finish their append; one that does not within the limit
    // (stuck in a system call) keeps the file and the mutex, which are then left open rather
    // than closed under it.
    for (int32_t waited = 0; s.Writers.load() > 0 && waited < LogCloseWaitLimitMs; waited += 10) Sleep(10);
    if (s.Writers.load() > 0) return;
    s.LogFile.reset();
    s.LogMutex.reset();
}

}  // namespace cm
