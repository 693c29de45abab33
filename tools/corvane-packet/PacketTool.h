// corvane-packet: lists the registered packet classes and reads files of packets for people
// (text) and programs (JSON). The same program for Linux and Windows; see its --help.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace packettool {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;  // the input cannot be read
constexpr int ExitUsage = 2;    // wrong command line

// Runs the tool with args (the command line after the program's name). The packet classes must
// be registered (the program's packet modules). Writes the result to out, or one error line to
// err (nothing to out then); returns the exit code.
int RunPacketTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace packettool
