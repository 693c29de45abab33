// corvane-pack: the commands (build, inspect, verify) over the payload format of
// bootstrap/PayloadFormat.h. Portable: the host and both Windows builds make the same bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Progress.h"

namespace pack {

// The largest package any bootstrap takes: its streams count in signed 32 bits.
constexpr uint64_t MaxPackageSize = 0x7FFFFFFFu;
// The largest package the x86 bootstrap can hold. Its 2 GB address space (the image is not large
// address aware) must take the mapped image with the payload (as large as the package when
// stored) and the package loaded by the packet engine (at most 1.2 times its size), beside the
// system's libraries, stacks and heaps (about 150 MB in a 32-bit process): 2.2 x 768 MiB + 150 MB
// stays below 2 GB. The x64 bootstrap has no such limit.
constexpr uint64_t X86PackageCeiling = uint64_t{768} << 20;

enum class TArch { X86, X64 };

struct TBuildOptions {
    std::filesystem::path Setup;
    std::optional<std::filesystem::path> Files;
    std::optional<std::string> Caption;
    std::optional<std::filesystem::path> Info;
    std::optional<double> Date;         // days since 30 December 1899
    bool DateFromEpoch = false;         // SOURCE_DATE_EPOCH, which must be set
    TArch Arch = TArch::X86;
    bool Stored = false;
    bool Console = false;               // the console bootstrap instead of the GUI one
    std::optional<std::filesystem::path> StubDir;
    std::filesystem::path Output = "CorvaneSetup.exe";
    std::optional<std::filesystem::path> PackageOut;  // also keep the package (Setup.pak) there
    TProgressMode Progress = TProgressMode::Lines;
};

// The directory of the running program (for the default stub directories).
std::filesystem::path ProgramDirectory();
// Where the stubs of the architecture are found without --stub-dir: the build's sibling tree,
// <program dir>/../../win32/bin or .../win64/bin (for a Windows build of the same architecture,
// its own directory).
std::filesystem::path DefaultStubDirectory(TArch arch);

// Packs the bootstrap; raises EPackError with the one-line reason. Prints the summary line
// (unless quiet).
void BuildBootstrap(const TBuildOptions& options);

// inspect: prints the bootstrap's description (text or JSON) to stdout; returns the exit code.
int InspectBootstrap(const std::filesystem::path& path, bool json);
// verify: checks everything; prints "OK: ..." or one "FAILED: ..." line per problem; returns 0 or 1.
int VerifyBootstrap(const std::filesystem::path& path, bool quiet);

}  // namespace pack
