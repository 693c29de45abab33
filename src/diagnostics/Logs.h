// The product's shared log: one plain-text file per executable (and log instance) in a "Logs"
// directory beside the executable, appended to by every process of that executable under a named
// mutex and kept below LogMaxSize by cutting its oldest part. Also the process-wide thread-name
// registry used in log lines, and call traces for warnings and exception reports. Win32 only.
#pragma once

#include <cstdint>
#include <string>

namespace cm {

// Write options; combine with |.
enum TLogOption : uint32_t {
    LogForced = 2,  // write even when logging is not enabled by the "Level" value
};
using TLogOptions = uint32_t;

constexpr uint32_t LogMaxSize = 0x200000;                // 2,097,152: a longer file is trimmed before a write
constexpr uint32_t LogTrimKeptSize = LogMaxSize / 4 * 3;  // 1,572,864: the newest part kept by a trim
constexpr uint32_t LogBuildNumber = 1552;                // the product's build number
constexpr int LogThreadNamesMax = 128;                   // older names are dropped beyond this
// How long a writer waits for the log mutex held by another process before it drops its entry
// and the log of this process falls silent: a hung process of the product must not hang this
// one. Normal appends hold the mutex for milliseconds; the limit leaves room for one deadlock
// warning at the product's 20-second warning slice.
constexpr int32_t LogMutexWaitLimitMs = 30000;
// How long LogClose waits for writers still inside an append before it goes on without them.
constexpr int32_t LogCloseWaitLimitMs = 2000;
constexpr int CallTraceMaxEntries = 128;
constexpr uint32_t CallTraceMaxRepeat = 0x100000;

// The product's caption, which names the registry key of "Level"; given by the program's start-up
// (the log knows no product). It may raise: the failure becomes the start-up failure entry.
using TProductCaptionSource = std::string (*)();

// Start-up and shut-down of the module, called in order by the program's entry (not static
// constructors). InitializeLogs never raises: registry and caption failures become the start-up
// failure entry; it installs LogWarningWithTrace as the warning hook and its thread-error and
// dispatch-warning writers as the thread report hooks, and writes the start banner when logging
// is enabled. FinalizeLogs writes the stop line when enabled, closes the log, removes its hooks
// and empties the thread-name registry; it never raises.
void InitializeLogs(TProductCaptionSource productCaption);
void FinalizeLogs();

// True when the "Level" value read at start-up is greater than 0.
bool LogEnabled();
// Full path of the log file fixed at start-up (empty before).
std::string LogFilePath();

// Appends text + CR LF to the log file under the log mutex (blocks on it with the deadlock watch).
// Dropped before start-up, after LogClose, when logging is disabled and LogForced is not given,
// when the file cannot be opened, and on re-entry from the same thread.
// Raises the write error (the mutex is released first).
void LogWrite(const std::string& text, TLogOptions options = 0);

// fill x10 + title + fill x(30 - title length, none when 30 or longer) + local time
// "dd/mm/yyyy hh:nn:ss.zzz", then fill up to 79 characters. Empty before start-up.
std::string LogTitleLine(const std::string& title, char fill);

// LogWrite(LogTitleLine(title, fill) + CR LF, options). Raises as LogWrite.
void LogTitled(const std::string& title, char fill, TLogOptions options = 0);

// Forced warning entry: title line ("Warning", '=') + CR LF + text + CR LF. Never raises.
void LogWarning(const std::string& text) noexcept;

// Forced warning entry with LogProcessIds and CallTraceText(nullptr, nullptr). The warning hook
// of cm/Objects after start-up. Raises as LogWrite.
void LogWarningWithTrace(const std::string& text);

// "PID=<pid> TID=" + ThreadIdText() + " Build=1552".
std::string LogProcessIds();

// The current thread id in decimal, + " [" + name + "]" when the registry holds a name for it
// (the newest registration of an id wins).
std::string ThreadIdText();

// Adds a name for a thread id; the oldest entries are dropped while more than 128 are held.
void RegisterThreadName(uint32_t threadId, const std::string& name);

// "($CALLTRACE:" + anchor address + ":" + call sites found on the current thread's stack + ")";
// first (when given) is the first entry, start (when given and inside the stack) is where the
// scan begins instead of the current stack position. Never raises: a failed collection gives
// "Failed to generate call trace: " + message.
std::string CallTraceText(const void* first = nullptr, const void* start = nullptr);

// Closes the file and the mutex for good; every later write is dropped. A second call does nothing.
void LogClose();

// Greater than 0 while the current thread is inside a log write (the exception watch uses it to
// stay out of the log's own faults).
int LogWritingDepth();

}  // namespace cm
