// corvane-pack: packs a product into a Corvane setup bootstrap, and inspects and verifies packed
// bootstraps. The same program for Linux and Windows; see --help.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Pack.h"
#include "PackFiles.h"
#include "cm/Packets/Packets.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

const char* const Help =
    "usage: corvane-pack build --setup SETUP.exe [options]\n"
    "       corvane-pack inspect BOOTSTRAP.exe [--json]\n"
    "       corvane-pack verify BOOTSTRAP.exe [--quiet]\n"
    "       corvane-pack --help\n"
    "\n"
    "build: packs a product into a setup bootstrap: the package (the product information info.dat,\n"
    "the files of DIR, the setup executable at the tail), LZMA coded unless --stored, with its\n"
    "metadata, the decoder and an integrity record, written as resources into a copy of the stub.\n"
    "  --setup FILE       the setup executable the bootstrap starts (required)\n"
    "  --files DIR        every file under DIR, with its relative path\n"
    "  --caption TEXT     the product caption (makes info.dat, or replaces the caption of --info)\n"
    "  --info FILE        an existing product information file (info.dat)\n"
    "  --date DAYS        the package date, days since 30 December 1899 (e.g. 46000.5)\n"
    "  --date-from-epoch  the package date from SOURCE_DATE_EPOCH (which must be set)\n"
    "                     (without --date: SOURCE_DATE_EPOCH when set, else the newest\n"
    "                     modification time of the inputs)\n"
    "  --arch x86|x64     the bootstrap's architecture (default x86, the shipped one)\n"
    "  --stub-dir DIR     where bootstrap.exe, bootstrap-console.exe and lzma.exe of that\n"
    "                     architecture are (default: <this program's dir>/../../win32/bin for x86,\n"
    "                     .../win64/bin for x64: the build tree's sibling)\n"
    "  --console          pack the console bootstrap instead of the GUI one\n"
    "  --stored           store the package without compressing it\n"
    "  -o, --output FILE  the bootstrap to write (default CorvaneSetup.exe)\n"
    "  --package-out FILE also keep the package (Setup.pak, before coding) as FILE\n"
    "  -q, --quiet        print nothing but errors\n"
    "inspect: prints the stub's architecture and subsystem, the resources, the metadata, the\n"
    "integrity record, the package's files and product information (--json: as JSON).\n"
    "verify: checks all of that; exit code 0 when the bootstrap is whole, 1 otherwise.\n"
    "\n"
    "Errors are one line on standard error with exit code 1 (2 for wrong usage); a failed build\n"
    "leaves no output file behind (an existing one is left as it was).\n";

[[noreturn]] void Usage(const std::string& message) {
    std::fprintf(stderr, "corvane-pack: %s (see corvane-pack --help)\n", message.c_str());
    std::exit(ExitUsage);
}

double ParseDays(const std::string& text) {
    char* end = nullptr;
    const double days = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !(days >= 0 && days < 2958466))  // up to the year 9999
        Usage("--date needs a number of days since 30 December 1899, not '" + text + "'");
    return days;
}

int Build(const std::vector<std::string>& args) {
    pack::TBuildOptions o;
    bool quiet = false, haveSetup = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) Usage(a + " needs a value");
            return args[++i];
        };
        if (a == "--setup") { o.Setup = value(); haveSetup = true; }
        else if (a == "--files") o.Files = value();
        else if (a == "--caption") o.Caption = value();
        else if (a == "--info") o.Info = value();
        else if (a == "--date") o.Date = ParseDays(value());
        else if (a == "--date-from-epoch") o.DateFromEpoch = true;
        else if (a == "--arch") {
            const std::string& arch = value();
            if (arch == "x86") o.Arch = pack::TArch::X86;
            else if (arch == "x64") o.Arch = pack::TArch::X64;
            else Usage("--arch is x86 or x64, not '" + arch + "'");
        }
        else if (a == "--stub-dir") o.StubDir = value();
        else if (a == "--console") o.Console = true;
        else if (a == "--stored") o.Stored = true;
        else if (a == "-o" || a == "--output") o.Output = value();
        else if (a == "--package-out") o.PackageOut = value();
        else if (a == "-q" || a == "--quiet") quiet = true;
        else Usage("unknown option '" + a + "'");
    }
    if (!haveSetup) Usage("build needs --setup SETUP.exe");
    if (o.Date && o.DateFromEpoch) Usage("--date and --date-from-epoch exclude each other");
    o.Progress = pack::DefaultProgressMode(quiet);
    pack::BuildBootstrap(o);
    return ExitOk;
}

int InspectOrVerify(const std::string& command, const std::vector<std::string>& args) {
    std::string path;
    bool json = false, quiet = false;
    for (const std::string& a : args) {
        if (command == "inspect" && a == "--json") json = true;
        else if (command == "verify" && (a == "-q" || a == "--quiet")) quiet = true;
        else if (!a.empty() && a[0] == '-') Usage("unknown option '" + a + "'");
        else if (path.empty()) path = a;
        else Usage(command + " takes one bootstrap");
    }
    if (path.empty()) Usage(command + " needs BOOTSTRAP.exe");
    return command == "inspect" ? pack::InspectBootstrap(path, json) : pack::VerifyBootstrap(path, quiet);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) Usage("a command is needed: build, inspect or verify");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(Help, stdout);
        return ExitOk;
    }
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") {
            std::fputs(Help, stdout);
            return ExitOk;
        }
    const std::string command = args[0];
    args.erase(args.begin());
    try {
        cm::InitializePackets();
        cm::InitializeSetupPackets();
        cm::InitializeProductInformation();
        if (command == "build") return Build(args);
        if (command == "inspect" || command == "verify") return InspectOrVerify(command, args);
        Usage("unknown command '" + command + "'");
    } catch (const std::exception& e) {
        std::string message = e.what();
        for (size_t at; (at = message.find_first_of("\r\n")) != std::string::npos;) message.replace(at, 1, " ");
        std::fprintf(stderr, "%scorvane-pack: %s\n", pack::ProgressLineOpen() ? "\n" : "", message.c_str());
        return ExitFailure;
    }
}
