// The shared log, driven through copies of log_writer (built beside this test), each run from a
// temporary directory of its own so that every case has its own Logs directory and log file.
// "Level" is set with the system's registry tool in both registry views and removed afterwards.
#include "diagnostics/Logs.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "support/ScratchDirectory.h"
#include "support/ProcessStart.h"

namespace cm {
namespace {

const char* const kLevelKey = "HKLM\\SOFTWARE\\Tavrel\\Corvane\\Log";

std::string ExeDirectory() {
    char buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, length);
    return path.substr(0, path.find_last_of('\\') + 1);
}

// Starts the command line; the handle owns the process.
UniqueHandle Start(const std::string& commandLine) {
    std::string mutableLine = commandLine;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!test::CreateProcessRetrying(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                    nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start " << commandLine << " (error " << ::GetLastError() << ")";
        return UniqueHandle();
    }
    UniqueHandle thread(info.hThread);
    return UniqueHandle(info.hProcess);
}

DWORD Finish(const UniqueHandle& process) {
    if (!process) return 0xFFFFFFFF;
    EXPECT_EQ(::WaitForSingleObject(process.get(), 120000), WAIT_OBJECT_0);
    DWORD code = 0xFFFFFFFF;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

DWORD RunReg(const std::string& arguments) {
    char directory[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(directory, MAX_PATH);
    return Finish(Start("\"" + std::string(directory, length) + "\\reg.exe\" " + arguments));
}

// Sets "Level" in both views (type nullptr: removes it).
void SetLevel(const char* type, const std::string& data) {
    for (const char* view : {"64", "32"}) {
        if (type == nullptr) {
            RunReg(std::string("delete ") + kLevelKey + " /v Level /f /reg:" + view);
        } else {
            ASSERT_EQ(RunReg(std::string("add ") + kLevelKey + " /v Level /t " + type + " /d \"" + data +
                             "\" /f /reg:" + view),
                      0u);
        }
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

bool IsTimestamp(const std::string& text) {
    const std::string shape = "99/99/9999 99:99:99.999";
    if (text.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == '9' ? !isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i]) return false;
    return true;
}

// A title line by its rule: fill x10, title, fill up to column 40, timestamp, fill up to 79.
void ExpectTitleLine(const std::string& line, const std::string& title, char fill) {
    const size_t stampAt = 10 + std::max<size_t>(title.size(), 30);
    ASSERT_GE(line.size(), stampAt + 23) << line;
    EXPECT_EQ(line.substr(0, 10), std::string(10, fill)) << line;
    EXPECT_EQ(line.substr(10, title.size()), title) << line;
    EXPECT_EQ(line.substr(10 + title.size(), stampAt - 10 - title.size()),
              std::string(stampAt - 10 - title.size(), fill)) << line;
    EXPECT_TRUE(IsTimestamp(line.substr(stampAt, 23))) << line;
    const size_t width = std::max<size_t>(stampAt + 23, 79);
    EXPECT_EQ(line.size(), width) << line;
    EXPECT_EQ(line.substr(stampAt + 23), std::string(width - stampAt - 23, fill)) << line;
}

// One copy of log_writer in a temporary directory of its own.
class LogCase {
public:
    explicit LogCase(const std::string& exeName)
        : name_(exeName), scratch_("corvane_logs"), directory_(scratch_.Path()) {
        EXPECT_TRUE(::CopyFileA((ExeDirectory() + "log_writer.exe").c_str(), ExePath().c_str(), FALSE));
    }

    const std::string& Directory() const { return directory_; }
    std::string ExePath() const { return directory_ + "\\" + name_ + ".exe"; }
    std::string LogDirectory() const { return directory_ + "\\Logs"; }
    std::string LogPath(const std::string& suffix = "") const { return LogDirectory() + "\\" + name_ + suffix + ".log"; }

    UniqueHandle StartWriter(const std::string& arguments) const { return Start("\"" + ExePath() + "\" " + arguments); }
    DWORD Run(const std::string& arguments) const { return Finish(StartWriter(arguments)); }

    bool LogExists(const std::string& suffix = "") const { return FileExistsPlain(LogPath(suffix)); }
    std::string ReadLog(const std::string& suffix = "") const {
        UniqueFileHandle file(::CreateFileA(LogPath(suffix).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) return "(missing)";
        std::string text(static_cast<size_t>(::GetFileSize(file.get(), nullptr)), '\0');
        DWORD read = 0;
        if (!text.empty()) ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
        text.resize(read);
        return text;
    }
    void WriteLog(const std::string& content) const {
        ::CreateDirectoryA(LogDirectory().c_str(), nullptr);
        UniqueFileHandle file(::CreateFileA(LogPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file.valid());
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    }

private:
    std::string name_;
    cm::test::TScratchDirectory scratch_;
    std::string directory_;
};

class LogsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetLevel(nullptr, ""); }
    static void TearDownTestSuite() {
        for (const char* view : {"64", "32"}) RunReg(std::string("delete ") + kLevelKey + " /f /reg:" + view);
    }
    void TearDown() override { SetLevel(nullptr, ""); }
};

// An entry of log_writer as it appears in the file.
std::string WriterEntry(const std::string& tag, DWORD pid, int index, size_t filler = 40) {
    const std::string id = tag + " " + std::to_string(pid) + " " + std::to_string(index);
    return "BEGIN " + id + "\r\n" + std::string(filler, 'x') + "\r\nEND " + id + "\r\n";
}

TEST_F(LogsTest, LevelDecidesBannersAndUnforcedEntries) {
    struct Case {
        const char* name;
        const char* type;  // nullptr: no "Level" value
        const char* data;
        bool enabled;
        bool initError;
    };
    const Case cases[] = {
        {"absent", nullptr, "", false, false},
        {"number 0", "REG_DWORD", "0", false, false},
        {"number 1", "REG_DWORD", "1", true, false},
        {"string 1", "REG_SZ", "1", true, false},
        {"letters", "REG_SZ", "abc", false, true},
        {"binary", "REG_BINARY", "01", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLevel(c.type, c.data);

        // Unforced entries alone: a file only when enabled.
        LogCase quiet("Quiet");
        ASSERT_EQ(quiet.Run("write 1 plain"), 0u);
        EXPECT_EQ(quiet.LogExists(), c.enabled);

        LogCase mixed("Mixed");
        UniqueHandle process = mixed.StartWriter("write 1 plain forced 1 forced");
        const DWORD pid = ::GetProcessId(process.get());
        ASSERT_EQ(Finish(process), 0u);
        const std::string log = mixed.ReadLog();
        const std::vector<std::string> lines = Lines(log);
        ASSERT_FALSE(lines.empty()) << log;

        std::string expected;
        size_t line = 0;
        if (c.enabled) {
            ExpectTitleLine(lines[0], "Started", '-');
            ASSERT_GE(lines.size(), 3u);
            EXPECT_EQ(lines[1].rfind("Build=1552   PID=" + std::to_string(pid) + "   TID=", 0), 0u) << lines[1];
            EXPECT_NE(lines[1].find("   Computer="), std::string::npos) << lines[1];
            EXPECT_EQ(lines[2], "");
            line = 3;
            expected = WriterEntry("plain", pid, 0);
        }
        if (c.initError) {
            const std::string type = std::string(c.type) == "REG_SZ" ? "Invalid registry integer value at: "
                                                                      : "Unexpected registry value type at: ";
            expected = "An error occurred while initializing log.\r\nFailed to access registry information.\r\n" +
                       type + "SOFTWARE\\Tavrel\\Corvane\\Log\\Level\r\n";
        }
        expected += WriterEntry("forced", pid, 0);
        size_t at = 0;
        for (size_t i = 0; i < line; ++i) at = log.find("\r\n", at) + 2;
        EXPECT_EQ(log.substr(at, expected.size()), expected);
        const std::string rest = log.substr(at + expected.size());
        if (c.enabled) {
            const std::vector<std::string> stop = Lines(rest);
            ASSERT_EQ(stop.size(), 2u) << rest;
            ExpectTitleLine(stop[0], "Stopped (PID=" + std::to_string(pid) + ")", '-');
            EXPECT_EQ(stop[1], "");
        } else {
            EXPECT_EQ(rest, "");
        }
    }
}

TEST_F(LogsTest, WritesAfterCloseAreDropped) {
    SetLevel("REG_DWORD", "1");
    LogCase closing("Closing");
    UniqueHandle process = closing.StartWriter("forced 1 kept close forced 1 lost write 1 lost warn lost");
    const DWORD pid = ::GetProcessId(process.get());
    ASSERT_EQ(Finish(process), 0u);
    const std::string log = closing.ReadLog();
    // Banner, the entry, and no stop line.
    const std::string entry = WriterEntry("kept", pid, 0);
    ASSERT_GE(log.size(), entry.size());
    EXPECT_EQ(log.substr(log.size() - entry.size()), entry);
    EXPECT_EQ(log.find("lost"), std::string::npos);
    EXPECT_EQ(log.find("Stopped"), std::string::npos);
}

TEST_F(LogsTest, VirtualEnvironmentKeepsTheLogSilent) {
    SetLevel("REG_DWORD", "1");
    LogCase silent("Silent");
    ASSERT_TRUE(::CopyFileA((ExeDirectory() + "__Tavrel_VE__.dll").c_str(),
                            (silent.Directory() + "\\__Tavrel_VE__.dll").c_str(), FALSE));
    ASSERT_EQ(silent.Run("ve write 1 plain forced 1 forced warn w warntrace t"), 0u);
    EXPECT_FALSE(DirectoryExistsPlain(silent.LogDirectory()));
    // The same copy without the module logs.
    ASSERT_EQ(silent.Run("forced 1 forced"), 0u);
    EXPECT_TRUE(silent.LogExists());
}

TEST_F(LogsTest, ForcedEntryLayoutsAndInstanceFile) {
    LogCase layouts("Layouts");
    ::SetEnvironmentVariableA("TavrelLogInstance", "7");
    UniqueHandle process = layouts.StartWriter(
        "warn hello warntrace there title Started - title 123456789012345678901234567890 = "
        "title 1234567890123456789012345678901234567890123456 * title 12345678901234567890123456789012345678901234567890 #");
    ::SetEnvironmentVariableA("TavrelLogInstance", nullptr);
    const DWORD pid = ::GetProcessId(process.get());
    ASSERT_EQ(Finish(process), 0u);
    EXPECT_FALSE(layouts.LogExists());
    const std::vector<std::string> lines = Lines(layouts.ReadLog("_7"));
    ASSERT_EQ(lines.size(), 15u);
    ExpectTitleLine(lines[0], "Warning", '=');
    EXPECT_EQ(lines[1], "hello");
    EXPECT_EQ(lines[2], "");
    ExpectTitleLine(lines[3], "Warning", '-');
    EXPECT_EQ(lines[4].rfind("PID=" + std::to_string(pid) + " TID=", 0), 0u) << lines[4];
    EXPECT_NE(lines[4].find(" [Main Thread] Build=1552"), std::string::npos) << lines[4];
    EXPECT_EQ(lines[5], "there");
    EXPECT_EQ(lines[6].rfind("($CALLTRACE:", 0), 0u) << lines[6];
    EXPECT_EQ(lines[6].back(), ')');
    // Titles of 7, 30, 46 (79 wide with the timestamp) and 50 characters, each followed by an empty line.
    ExpectTitleLine(lines[7], "Started", '-');
    ExpectTitleLine(lines[9], "123456789012345678901234567890", '=');
    ExpectTitleLine(lines[11], "1234567890123456789012345678901234567890123456", '*');
    ExpectTitleLine(lines[13], "12345678901234567890123456789012345678901234567890", '#');
    EXPECT_EQ(lines[11].size(), 79u);
    EXPECT_EQ(lines[13].size(), 83u);
    for (size_t i : {8, 10, 12, 14}) EXPECT_EQ(lines[i], "");
}

TEST_F(LogsTest, ThreadNamesNewestWinsAndOldestAreDropped) {
    LogCase names("Names");
    ASSERT_EQ(names.Run("ids main name first name second ids renamed fakenames 127 ids full fakenames 1 ids "
                        "dropped"),
              0u);
    std::map<std::string, std::string> shown;  // tag -> name part of the TID
    for (const std::string& line : Lines(names.ReadLog())) {
        std::istringstream in(line);
        std::string ids, tag, pid, tid;
        in >> ids >> tag >> pid >> tid;
        if (ids != "IDS") continue;
        const size_t open = line.find(" ["), close = line.find("] Build=");
        shown[tag] = open == std::string::npos ? "" : line.substr(open + 2, close - open - 2);
    }
    // Registered: Main Thread, first, second, then fakes: with 127 fakes 130 entries were added
    // (Main Thread dropped), one more drops "first", not yet "second".
    EXPECT_EQ(shown, (std::map<std::string, std::string>{
                         {"main", "Main Thread"}, {"renamed", "second"}, {"full", "second"}, {"dropped", "second"}}));
    LogCase dropped("Dropped");
    ASSERT_EQ(dropped.Run("name only fakenames 129 ids gone"), 0u);
    const std::string log = dropped.ReadLog();
    EXPECT_NE(log.find("IDS gone PID="), std::string::npos) << log;
    EXPECT_EQ(log.find(" ["), std::string::npos) << log;
}

TEST_F(LogsTest, TrimKeepsTheNewestPartBeforeAWrite) {
    struct Case {
        const char* name;
        size_t size;
        bool trimmed;
    };
    const Case cases[] = {{"at the limit", LogMaxSize, false}, {"one byte over", LogMaxSize + 1, true},
                          {"far over", 3 * LogMaxSize, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCase trim("Trim");
        std::string old(c.size, '\0');
        for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
        trim.WriteLog(old);
        UniqueHandle process = trim.StartWriter("forced 1 new");
        const DWORD pid = ::GetProcessId(process.get());
        ASSERT_EQ(Finish(process), 0u);
        const std::string kept = c.trimmed ? old.substr(old.size() - LogTrimKeptSize) : old;
        const std::string log = trim.ReadLog();
        EXPECT_EQ(log.size(), kept.size() + WriterEntry("new", pid, 0).size());
        EXPECT_TRUE(log == kept + WriterEntry("new", pid, 0));
    }
}

// Parses a log of writer entries: per process, the indices of its entries in file order. Text
// before the first line that starts an entry is returned in head; any other line breaks the parse.
struct TParsed {
    std::map<std::string, std::vector<int>> Indices;  // "<tag> <pid>" -> indices
    std::string Head;
    std::string Error;
};

TParsed ParseEntries(const std::string& log, size_t filler) {
    TParsed parsed;
    const std::vector<std::string> lines = Lines(log);
    size_t i = 0;
    while (i < lines.size() && lines[i].rfind("BEGIN ", 0) != 0) parsed.Head += lines[i++] + "\n";
    for (; i < lines.size(); i += 3) {
        if (i + 2 >= lines.size() || lines[i].rfind("BEGIN ", 0) != 0 || lines[i + 1] != std::string(filler, 'x') ||
            lines[i + 2] != "END " + lines[i].substr(6)) {
            parsed.Error = "broken entry at line " + std::to_string(i) + ": " + lines[i];
            return parsed;
        }
        const std::string id = lines[i].substr(6);
        const size_t lastBlank = id.rfind(' ');
        parsed.Indices[id.substr(0, lastBlank)].push_back(std::stoi(id.substr(lastBlank + 1)));
    }
    return parsed;
}

// Starts the writers waiting on one event, then lets them go together.
std::vector<UniqueHandle> RunTogether(const LogCase& log, int processes, const std::string& arguments) {
    const std::string eventName = "corvane_logs_go_" + std::to_string(::GetCurrentProcessId());
    UniqueHandle go(::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    std::vector<UniqueHandle> writers;
    for (int p = 0; p < processes; ++p) writers.push_back(log.StartWriter("go " + eventName + " " + arguments));
    ::Sleep(500);
    ::SetEvent(go.get());
    for (const UniqueHandle& writer : writers) EXPECT_EQ(Finish(writer), 0u);
    return writers;
}

TEST_F(LogsTest, ConcurrentProcessesNeitherInterleaveNorLoseEntries) {
    constexpr int kProcesses = 8, kEntries = 1000;
    LogCase load("Load");
    RunTogether(load, kProcesses, "forced " + std::to_string(kEntries) + " load");
    const TParsed parsed = ParseEntries(load.ReadLog(), 40);
    ASSERT_EQ(parsed.Error, "");
    EXPECT_EQ(parsed.Head, "");
    ASSERT_EQ(parsed.Indices.size(), static_cast<size_t>(kProcesses));
    std::vector<int> all(kEntries);
    for (int i = 0; i < kEntries; ++i) all[i] = i;
    for (const auto& [writer, indices] : parsed.Indices) EXPECT_EQ(indices, all) << writer;
}

TEST_F(LogsTest, TrimmingUnderLoadCutsOnlyTheFirstEntry) {
    constexpr int kProcesses = 8, kEntries = 1000;
    constexpr size_t kFiller = 300;
    LogCase load("TrimLoad");
    std::string old;
    for (int i = 0; old.size() < 2000000; ++i) old += WriterEntry("old", 0, i, kFiller);
    load.WriteLog(old);
    RunTogether(load, kProcesses, "filler 300 forced " + std::to_string(kEntries) + " load");
    const std::string log = load.ReadLog();
    EXPECT_LE(log.size(), static_cast<size_t>(LogMaxSize) + WriterEntry("load", 0, 0, kFiller).size() + 16);
    const TParsed parsed = ParseEntries(log, kFiller);
    ASSERT_EQ(parsed.Error, "");
    // The cut leaves at most the tail of one entry before the first whole one.
    EXPECT_LT(parsed.Head.size(), kFiller + 64);
    // Each process's surviving entries are its newest ones, in order.
    int writers = 0;
    for (const auto& [writer, indices] : parsed.Indices) {
        if (writer.rfind("load ", 0) != 0) continue;
        ++writers;
        ASSERT_FALSE(indices.empty());
        for (size_t i = 0; i < indices.size(); ++i)
            ASSERT_EQ(indices[i], kEntries - static_cast<int>(indices.size()) + static_cast<int>(i)) << writer;
    }
    EXPECT_EQ(writers, kProcesses);
    EXPECT_EQ(parsed.Indices.count("old 0"), 0u);  // 2.7 MB were appended: the old content is gone
}

// A write leaves the caller's last error as it was.
TEST_F(LogsTest, AWriteKeepsTheCallersLastError) {
    LogCase plain("LastError");
    EXPECT_EQ(plain.Run("lasterror"), 0u);
    EXPECT_NE(plain.ReadLog().find("LASTERROR"), std::string::npos);
}

// Another process holds the log mutex for ever: a writer waiting for it stops when the log is
// closed, and the close does not wait for it; the writer's entry is dropped.
TEST_F(LogsTest, CloseDoesNotWaitForAWriterStuckOnTheMutex) {
    LogCase held("Held");
    const std::string holding = "corvane_logs_held_" + std::to_string(::GetCurrentProcessId());
    UniqueHandle ready(::CreateEventA(nullptr, TRUE, FALSE, holding.c_str()));
    UniqueHandle holder = held.StartWriter("hold " + holding);
    ASSERT_EQ(::WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(held.Run("closewhilewaiting"), 0u);
    ASSERT_TRUE(::TerminateProcess(holder.get(), 9));
    ::WaitForSingleObject(holder.get(), 5000);
    EXPECT_EQ(held.ReadLog().find("WAITING WRITER"), std::string::npos);
}

TEST_F(LogsTest, MutexOfAKilledWriterIsTakenOverWithWarnings) {
    LogCase killed("Killed");
    const std::string holding = "corvane_logs_holding_" + std::to_string(::GetCurrentProcessId());
    UniqueHandle held(::CreateEventA(nullptr, TRUE, FALSE, holding.c_str()));
    UniqueHandle holder = killed.StartWriter("forced 1 before hold " + holding);
    ASSERT_EQ(::WaitForSingleObject(held.get(), 30000), WAIT_OBJECT_0);
    // The second writer's wait starts once it has started up, which takes seconds on a slow
    // (emulated) machine: it says when, and then waits through a few 200 ms slices.
    const std::string waiting = "corvane_logs_waiting_" + std::to_string(::GetCurrentProcessId());
    UniqueHandle writerWaits(::CreateEventA(nullptr, TRUE, FALSE, waiting.c_str()));
    UniqueHandle next = killed.StartWriter("slice 200 signal " + waiting + " forced 1 after");
    ASSERT_EQ(::WaitForSingleObject(writerWaits.get(), 60000), WAIT_OBJECT_0);
    ::Sleep(1500);
    ASSERT_TRUE(::TerminateProcess(holder.get(), 9));
    ASSERT_EQ(Finish(next), 0u);

    const std::string log = killed.ReadLog();
    const size_t before = log.find("BEGIN before");
    const size_t firstDeadlock = log.find("Wait State Warning (possible deadlock)");
    const size_t ended = log.find("Wait State Ended (deadlock condition avoided)");
    const size_t abandoned = log.find("Wait State Warning (wait abandoned)");
    const size_t after = log.find("BEGIN after");
    ASSERT_NE(before, std::string::npos) << log;
    ASSERT_NE(firstDeadlock, std::string::npos) << log;
    ASSERT_NE(ended, std::string::npos) << log;
    ASSERT_NE(abandoned, std::string::npos) << log;
    ASSERT_NE(after, std::string::npos) << log;
    EXPECT_LT(before, firstDeadlock);
    EXPECT_LT(firstDeadlock, ended);
    EXPECT_LT(ended, abandoned);
    EXPECT_LT(abandoned, after);
    // Each warning is a whole entry with ids and a call trace of the waiting writer.
    const size_t pidText = log.find("PID=" + std::to_string(::GetProcessId(next.get())) + " TID=");
    EXPECT_LT(pidText, firstDeadlock) << log;
    EXPECT_NE(log.find("($CALLTRACE:", abandoned), std::string::npos);
    // The writer went on and closed normally: its mutex is free for the next one.
    EXPECT_EQ(killed.Run("forced 1 last"), 0u);
    EXPECT_NE(killed.ReadLog().find("BEGIN last"), std::string::npos);
}

}  // namespace
}  // namespace cm
