// Runs bootstrap executables the way a user does and observes them from outside: exit code,
// standard output, the sample setup's report, the temporary directory, the message box.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cm/Objects/WinApi.h"

namespace e2e {

struct MessageBoxView {
    bool Found = false;
    std::string Caption;
    std::string Text;
    std::vector<std::string> Buttons;  // texts of the visible buttons
    bool RedIcon = false;              // the icon control shows mostly red pixels (the error icon)
    bool TempDirectoryExisted = true;  // the bootstrap's temporary directory existed when the box was seen
};

struct RunResult {
    int32_t ExitCode = 0;
    bool TimedOut = false;
    DWORD ProcessId = 0;
    std::string StdOut;                                // bytes written to standard output
    bool SetupRan = false;                             // the sample setup wrote its report
    std::multimap<std::string, std::string> Report;    // its "key=value" lines
    // <temp>\Tavrel_Setup_<pid>\ of this run, or the first free of ..._<pid>_2\, _3\, ... when
    // something was there before it started (PrecreateTempDirectory, BeforeStart, a bootstrap of
    // an earlier run with the same process id that was stopped): the bootstrap leaves that alone.
    std::string TempDirectory;
    bool PlantedIntact = false;                        // PrecreateTempDirectory's files were all still there after the run
    MessageBoxView Box;
};

struct RunOptions {
    RunOptions() = default;
    RunOptions(std::string arguments, bool precreate = false)
        : Arguments(std::move(arguments)), PrecreateTempDirectory(precreate) {}

    std::string Arguments;            // text after the quoted program path
    // make a directory at the temporary directory's name (with planted files) first; it is
    // removed after the run
    bool PrecreateTempDirectory = false;
    bool ExpectMessageBox = false;    // read and dismiss the bootstrap's message box
    DWORD TimeoutMs = 60000;
    // Called with the run's predictable temporary directory name (trailing backslash) while the
    // bootstrap is created but not yet running, after the planted files of PrecreateTempDirectory.
    std::function<void(const std::string& tempDirectory)> BeforeStart;
    // Called once the bootstrap runs (temporary directory and process id known), before the
    // wait for its end.
    std::function<void(const RunResult&)> WhileRunning;
};

// The work directory of the test run (made on first use, with a trailing backslash).
const std::string& WorkDirectory();
// The directory of the test executable (with a trailing backslash).
const std::string& TestBinDirectory();
// The user's temporary directory as the bootstrap sees it.
std::string UserTempDirectory();

RunResult RunBootstrap(const std::string& exe, const RunOptions& options);

bool DirectoryExists(const std::string& path);

}  // namespace e2e
