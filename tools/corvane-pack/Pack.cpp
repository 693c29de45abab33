// corvane-pack build: the package through the packet engine, the LZMA coding, the resources.
#include "Pack.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>

#include "LzmaCoder.h"
#include "PackFiles.h"
#include "bootstrap/PayloadFormat.h"
#include "cm/ModuleExp/ModuleExp.h"
#include "cm/ModuleExp/ResourceSection.h"
#include "cm/Objects/Sha256.h"
#include "cm/StreamUtils/PointerStream.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"

#ifdef _WIN32
#include "cm/Objects/WinApi.h"
#endif

namespace pack {

namespace fs = std::filesystem;

namespace {

constexpr const char* InfoFileName = cm::ProductInformationFileName;
constexpr uint8_t ProductInfoComponents = 3;  // both sides read the product information
constexpr uint8_t FileComponents = 1;
constexpr double UnixEpochDays = 25569.0;     // 1 January 1970 as a day count
constexpr double SecondsPerDay = 86400.0;
constexpr uint16_t MachineI386 = 0x014C;
constexpr uint16_t MachineAmd64 = 0x8664;
constexpr uint16_t FileExecutableImage = 0x0002;
constexpr uint16_t FileDll = 0x2000;
constexpr uint32_t FileHeaderMachineField = 0;
constexpr uint32_t FileHeaderCharacteristicsField = 18;
// Longest relative path of a packed file: what fits MAX_PATH below a short installation directory.
constexpr size_t MaxPackedNameLength = 200;
// The product's default service ports, as a new product information file has them.
constexpr int32_t DefaultPortCoordinatorService = 31104;
constexpr int32_t DefaultPortAgentService = 31105;
constexpr int32_t DefaultPortAgentHelper = 31106;

const char* ArchName(TArch arch) { return arch == TArch::X86 ? "x86" : "x64"; }

double FileTimeToDays(fs::file_time_type time) {
    const auto system = std::chrono::file_clock::to_sys(time);
    const double seconds = std::chrono::duration<double>(system.time_since_epoch()).count();
    return UnixEpochDays + std::floor(seconds) / SecondsPerDay;
}

double EpochToDays(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long long seconds = std::strtoll(text, &end, 10);
    if (!*text || *end || errno != 0 || seconds < 0)
        throw EPackError(std::string("SOURCE_DATE_EPOCH is not a number of seconds: '") + text + "'");
    return UnixEpochDays + static_cast<double>(seconds) / SecondsPerDay;
}

// Why the name cannot be a file of the package (a relative Windows path in 8-bit characters that
// every Windows file system takes), or empty when it can.
std::string BadNameReason(const std::string& name) {
    if (name.size() > MaxPackedNameLength) return "it is longer than " + std::to_string(MaxPackedNameLength) + " characters";
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(name.find('\\', start), name.size());
        const std::string part = name.substr(start, end - start);
        for (unsigned char c : part) {
            if (c < 0x20 || c >= 0x7F) return "it holds a character outside printable ASCII";
            if (std::strchr("<>:\"|?*/", c)) return std::string("it holds the character '") + static_cast<char>(c) + "'";
        }
        if (part.back() == '.' || part.back() == ' ') return "a part of it ends with a dot or a blank";
        std::string stem = part.substr(0, part.find('.'));
        for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        static const std::set<std::string> devices = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4",
                                                      "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                                      "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
        if (devices.count(stem)) return "'" + part + "' is a device name on Windows";
        if (end == name.size()) return {};
        start = end + 1;
    }
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct TInputFile {
    std::string Name;  // relative, backslash-separated
    fs::path Path;
    uint64_t Size;
};

// Every regular file under the directory, in byte order of their package names: the order does
// not depend on the file system's.
std::vector<TInputFile> CollectFiles(const fs::path& directory, double& newest) {
    std::error_code error;
    if (!fs::is_directory(directory, error)) throw EPackError("cannot read " + Quoted(directory) + ": not a directory");
    std::vector<TInputFile> files;
    fs::recursive_directory_iterator it(directory, fs::directory_options::none, error);
    if (error) throw EPackError("cannot read " + Quoted(directory) + ": " + error.message());
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) throw EPackError("cannot read " + Quoted(directory) + ": " + error.message());
        const fs::directory_entry& entry = *it;
        if (entry.is_directory()) continue;
        if (!entry.is_regular_file())
            throw EPackError("cannot pack " + Quoted(entry.path()) + ": not a regular file");
        std::string name = fs::relative(entry.path(), directory).generic_string();
        std::replace(name.begin(), name.end(), '/', '\\');
        const std::string reason = BadNameReason(name);
        if (!reason.empty()) throw EPackError("cannot pack file '" + name + "': " + reason);
        files.push_back({name, entry.path(), static_cast<uint64_t>(entry.file_size())});
        newest = std::max(newest, FileTimeToDays(entry.last_write_time()));
    }
    if (error) throw EPackError("cannot read " + Quoted(directory) + ": " + error.message());
    std::sort(files.begin(), files.end(), [](const TInputFile& a, const TInputFile& b) { return a.Name < b.Name; });
    // Windows file names ignore case: two names differing only in case would be one file there.
    std::set<std::string> seen = {Upper(InfoFileName)};
    for (const TInputFile& f : files)
        if (!seen.insert(Upper(f.Name)).second)
            throw EPackError("cannot pack file '" + f.Name + "': " +
                             (Upper(f.Name) == Upper(InfoFileName) ? std::string("the package's product information has that name")
                                                                   : "another file has the same name but for case"));
    return files;
}

// The product information: the given file (checked to be one) with the caption replaced when one
// is given, or a new one with the caption.
std::string ProductInformation(const TBuildOptions& options, std::string& caption) {
    cm::TProductInformationPacket info;
    if (options.Info) {
        const std::string bytes = ReadWholeFile(*options.Info);
        try {
            cm::TPointerStream stream(bytes.data(), static_cast<int32_t>(std::min<size_t>(bytes.size(), INT32_MAX)));
            info.LoadFromStream(stream);
        } catch (const std::exception& e) {
            throw EPackError("cannot read product information " + Quoted(*options.Info) + ": " +
                             std::string(e.what()).substr(0, std::string(e.what()).find('\r')));
        }
    } else {
        info.DefaultPortCoordinatorService = DefaultPortCoordinatorService;
        info.DefaultPortAgentService = DefaultPortAgentService;
        info.DefaultPortAgentHelper = DefaultPortAgentHelper;
    }
    if (options.Caption) info.ProductCaption = *options.Caption;
    caption = info.ProductCaption;
    cm::TVirtualStream stream;
    info.SaveToStream(stream);
    return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

void AddFile(cm::TSetupPacket& package, const std::string& name, uint8_t components) {
    auto file = std::make_unique<cm::TSetupFilePacket>();
    file->Filename = name;
    file->Description = name;
    file->Components = components;
    package.Files.Add(std::move(file));
}

// Checks that the image is a Windows executable (not a library); returns its machine.
uint16_t CheckExecutable(const std::string& bytes, const fs::path& path, const char* what) {
    try {
        auto explorer = cm::TModuleExplorer::CreateForFileImage(bytes.data(), bytes.size(), cm::emMappedFile);
        const uint16_t characteristics = cm::PeRead16(explorer->FileHeader() + FileHeaderCharacteristicsField);
        if (!(characteristics & FileExecutableImage) || (characteristics & FileDll))
            throw EPackError(std::string(what) + " " + Quoted(path) + " is not a Windows executable (it is a library or an object)");
        return cm::PeRead16(explorer->FileHeader() + FileHeaderMachineField);
    } catch (const EPackError&) {
        throw;
    } catch (const std::exception&) {
        throw EPackError(std::string(what) + " " + Quoted(path) + " is not a Windows executable (no valid PE header)");
    }
}

std::string MegaBytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

fs::path ProgramDirectory() {
#ifdef _WIN32
    char path[MAX_PATH * 2] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return n ? fs::path(std::string(path, n)).parent_path() : fs::current_path();
#else
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path() : self.parent_path();
#endif
}

fs::path DefaultStubDirectory(TArch arch) {
    return (ProgramDirectory() / ".." / ".." / (arch == TArch::X86 ? "win32" : "win64") / "bin").lexically_normal();
}

void BuildBootstrap(const TBuildOptions& options) {
    TProgress progress(options.Progress);

    // Inputs first: nothing is written before they are all known to be good.
    const fs::path stubDir = options.StubDir ? *options.StubDir : DefaultStubDirectory(options.Arch);
    const fs::path stubPath = stubDir / (options.Console ? "bootstrap-console.exe" : "bootstrap.exe");
    const fs::path lzmaPath = stubDir / "lzma.exe";
    const std::string stub = ReadWholeFile(stubPath);
    const uint16_t wantedMachine = options.Arch == TArch::X86 ? MachineI386 : MachineAmd64;
    if (CheckExecutable(stub, stubPath, "stub") != wantedMachine)
        throw EPackError("stub " + Quoted(stubPath) + " is not an " + ArchName(options.Arch) + " bootstrap");
    std::string decoder;
    if (!options.Stored) {
        decoder = ReadWholeFile(lzmaPath);
        if (CheckExecutable(decoder, lzmaPath, "decoder") != wantedMachine)
            throw EPackError("decoder " + Quoted(lzmaPath) + " is not an " + ArchName(options.Arch) + " program");
    }
    auto stubExplorer = cm::TModuleExplorer::CreateForFileImage(stub.data(), stub.size(), cm::emMappedFile);
    cm::TResourceTable resources;
    try {
        resources = cm::ReadResources(*stubExplorer);
    } catch (const std::exception& e) {
        throw EPackError("cannot pack stub " + Quoted(stubPath) + ": " + e.what());
    }
    for (int id : {bootstrap::ResPayload, 1001, 1002, 1003})
        if (resources.Find(cm::ResourceTypeRcData, static_cast<uint16_t>(id)))
            throw EPackError("stub " + Quoted(stubPath) + " already carries a payload (resource " + std::to_string(id) + ")");

    std::string setupImage = ReadWholeFile(options.Setup);
    CheckExecutable(setupImage, options.Setup, "setup");
    double newest = FileTimeToDays(fs::last_write_time(options.Setup));
    std::vector<TInputFile> files;
    if (options.Files) files = CollectFiles(*options.Files, newest);
    if (!options.Caption && !options.Info) throw EPackError("the product information is missing: give --caption or --info");
    if (options.Info) newest = std::max(newest, FileTimeToDays(fs::last_write_time(*options.Info)));
    std::string caption;
    const std::string productInfo = ProductInformation(options, caption);

    uint64_t inputBytes = setupImage.size() + productInfo.size();
    for (const TInputFile& f : files) inputBytes += f.Size;
    const uint64_t limit = options.Arch == TArch::X86 ? X86PackageCeiling : MaxPackageSize;
    if (inputBytes > limit)
        throw EPackError("the product (" + MegaBytes(inputBytes) + ") is larger than the " + ArchName(options.Arch) +
                         " bootstrap can hold (" + MegaBytes(limit) + ")" +
                         (options.Arch == TArch::X86 ? ": use --arch x64" : ""));

    double date = newest;
    if (options.Date) {
        date = *options.Date;
    } else if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        date = EpochToDays(epoch);
    } else if (options.DateFromEpoch) {
        throw EPackError("--date-from-epoch: SOURCE_DATE_EPOCH is not set");
    }

    // The output's place must take a file before the work starts.
    std::error_code ignored;
    for (const fs::path& target : {options.Output, options.PackageOut.value_or(fs::path())})
        if (!target.empty() && fs::is_directory(target, ignored))
            throw EPackError("cannot create " + Quoted(target) + ": it is a directory");
    TPendingFile output(options.Output);
    try {
        TStdFileStream probe(output.TempPath(), true);
        probe.Close();
    } catch (const EPackError&) {
        throw EPackError("cannot create " + Quoted(options.Output) + ": " + std::strerror(errno));
    }

    // The package: product information first, the files, the setup image at the tail. One copy
    // of the product is held (in the packet) while the packet engine writes it to a file beside
    // the output; then the packet goes before the payload is made from that file.
    TPendingFile packageFile(options.PackageOut ? *options.PackageOut : options.Output, ".pak-part");
    uint64_t packageSize = 0;
    {
        cm::TSetupPacket package;
        package.SetupDateTime = date;
        package.ProductCaption = caption;
        AddFile(package, InfoFileName, ProductInfoComponents);
        auto* info = package.Files.Items(0);
        info->Content.WriteBuffer(productInfo.data(), static_cast<int32_t>(productInfo.size()));
        info->Content.Rewind();
        progress.Begin("packing", inputBytes);
        uint64_t done = productInfo.size();
        for (const TInputFile& f : files) {
            AddFile(package, f.Name, FileComponents);
            auto* file = package.Files.Items(package.Files.Count() - 1);
            TStdFileStream in(f.Path, false);
            file->Content.SetSizeExact(static_cast<int32_t>(f.Size));
            in.ReadBuffer(file->Content.Memory(), static_cast<int32_t>(f.Size));
            char probe;
            if (in.Read(&probe, 1) != 0) throw EPackError("cannot pack " + Quoted(f.Path) + ": it grew while it was read");
            done += f.Size;
            progress.Update(done);
        }
        TStdFileStream out(packageFile.TempPath(), true);
        package.SaveToStream(out);
        out.WriteBuffer(setupImage.data(), static_cast<int32_t>(setupImage.size()));
        packageSize = static_cast<uint64_t>(out.Position());
        out.Close();
        progress.Update(inputBytes);
        progress.End();
    }
    const auto exeSize = static_cast<int32_t>(setupImage.size());
    setupImage = std::string();
    if (packageSize > limit)
        throw EPackError("the package (" + MegaBytes(packageSize) + ") is larger than the " + ArchName(options.Arch) +
                         " bootstrap can hold (" + MegaBytes(limit) + ")" +
                         (options.Arch == TArch::X86 ? ": use --arch x64" : ""));

    std::string payload;
    if (options.Stored) {
        payload = ReadWholeFile(packageFile.TempPath());
    } else {
        TStdFileStream in(packageFile.TempPath(), false);
        progress.Begin("compressing", packageSize);
        payload = LzmaEncode(in, packageSize, [&](uint64_t done) { progress.Update(done); });
        progress.End();
    }

    resources.SetView(cm::ResourceTypeRcData, bootstrap::ResPayload, cm::ResourceLanguageNeutral, payload);
    resources.Set(cm::ResourceTypeRcData, bootstrap::ResMetadata, cm::ResourceLanguageNeutral,
                  bootstrap::MakeSetupMetadata(exeSize, !options.Stored));
    if (!options.Stored) resources.SetView(cm::ResourceTypeRcData, bootstrap::ResDecoder, cm::ResourceLanguageNeutral, decoder);
    resources.Set(cm::ResourceTypeRcData, bootstrap::ResIntegrity, cm::ResourceLanguageNeutral,
                  bootstrap::MakeIntegrityRecord(cm::Sha256(payload)));
    uint64_t imageSize = 0;
    try {
        const cm::TPEImageWithResources image = cm::RebuildResourceSection(*stubExplorer, resources);
        TStdFileStream out(output.TempPath(), true);
        image.WriteTo(out);
        out.Close();
        imageSize = image.Size();
    } catch (const EPackError&) {
        throw;
    } catch (const std::exception& e) {
        throw EPackError("cannot pack stub " + Quoted(stubPath) + ": " + e.what());
    }
    output.Commit();
    if (options.PackageOut) packageFile.Commit();

    if (options.Progress != TProgressMode::Quiet)
        std::printf("corvane-pack: wrote %s (%llu bytes, %s): %zu files, package %llu bytes, payload %llu bytes %s\n",
                    Quoted(options.Output).c_str(), static_cast<unsigned long long>(imageSize), ArchName(options.Arch),
                    files.size() + 1, static_cast<unsigned long long>(packageSize),
                    static_cast<unsigned long long>(payload.size()), options.Stored ? "stored" : "LZMA");
}

}  // namespace pack
