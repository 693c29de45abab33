// The setup package through the packet engine against plain file transfers of the same bytes, in
// one run on the same file system. An ~80 MB package of 200 files (mixed compressible and random
// content, info.dat first) is built in memory. Each round times
//   save: TSetupPacket::SaveToStream into a new file, plain and with sfBuffered, against one
//         WriteFile of its bytes
//   load: LoadSetupPacket of that file (in a child process)   against one ReadFile into memory
// and the child reports the committed private memory the load added. Prints, from the median round:
//   BENCH packet_load_vs_plain_read <ratio> 1.5
//   BENCH packet_save_vs_plain_write <ratio> 1.5
//   BENCH packet_load_peak_memory_vs_file <ratio> 1.2
// Usage: packet_load_bench [ROUNDS]   (child modes: load PATH, read PATH)
#include "BenchName.h"
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects.h"
#include "cm/Objects/WinApi.h"

#include "cm/StreamUtils/FileStream.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"
#include "catalogue/SetupPacketsFile.h"

namespace {

constexpr int FileCount = 200;
constexpr int32_t FileSize = 400 * 1024;  // 200 x 400 KB, about 80 MB

double Seconds() {
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; ::QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The committed private bytes of this process now (heap and virtual memory; file views are not
// private). Measured while the loaded package is still alive, so it holds the load's peak but for
// the freed 64 KB read buffers.
double CommittedPrivate() {
    double total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (const char* address = nullptr; ::VirtualQuery(address, &info, sizeof info) == sizeof info;
         address = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            total += static_cast<double>(info.RegionSize);
        if (static_cast<const char*>(info.BaseAddress) + info.RegionSize < address)
            break;
    }
    return total;
}

std::unique_ptr<cm::TSetupPacket> BuildPackage() {
    auto package = std::make_unique<cm::TSetupPacket>();
    package->SetupDateTime = 46000.5;
    package->LicenseAgreement.assign(20000, 'L');
    uint32_t seed = 12345;
    for (int i = 0; i < FileCount; ++i) {
        auto file = std::make_unique<cm::TSetupFilePacket>();
        file->Filename = i == 0 ? "info.dat" : "bin\\file" + std::to_string(i) + ".dll";
        file->Description = "File " + std::to_string(i);
        file->Components = static_cast<uint8_t>(1 + i % 3);
        file->Content.SetSizeExact(FileSize);
        auto* bytes = static_cast<uint8_t*>(file->Content.Memory());
        for (int32_t k = 0; k < FileSize; ++k) {
            seed = seed * 1103515245 + 12345;
            // Every third file random, the others text-like.
            bytes[k] = i % 3 == 0 ? static_cast<uint8_t>(seed >> 16) : static_cast<uint8_t>('a' + (k * 7 + i) % 26);
        }
        package->Files.Add(std::move(file));
    }
    return package;
}

double PlainWrite(const std::string& path, const std::vector<char>& bytes) {
    const double t0 = Seconds();
    cm::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return Seconds() - t0;
}

std::vector<char> ReadAll(const std::string& path) {
    cm::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> bytes(::GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    return bytes;
}

// Child modes: prints "<seconds> <committed private bytes before> <after>".
int Child(const std::string& mode, const std::string& path) {
    cm::InitializePackets();
    cm::InitializeSetupPackets();
    cm::InitializeProductInformation();
    const double before = CommittedPrivate();
    const double t0 = Seconds();
    double elapsed, after;
    if (mode == "load") {
        auto package = cm::LoadSetupPacket(path, 0);
        elapsed = Seconds() - t0;
        after = CommittedPrivate();
    } else {
        const std::vector<char> bytes = ReadAll(path);
        elapsed = Seconds() - t0;
        after = CommittedPrivate();
    }
    std::printf("%.6f %.0f %.0f\n", elapsed, before, after);
    return 0;
}

struct ChildResult {
    double Seconds = 0, PeakBefore = 0, PeakAfter = 0;
};

ChildResult RunChild(const std::string& self, const std::string& mode, const std::string& path,
                     const std::string& outPath) {
    const std::string command = "cmd /c \"" + cm::QuoteString(self) + " " + mode + " " + cm::QuoteString(path) + " > " +
                                cm::QuoteString(outPath) + "\"";
    cm::RunProcess(command, true, cm::HideWindow);
    ChildResult r;
    if (FILE* f = std::fopen(outPath.c_str(), "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &r.Seconds, &r.PeakBefore, &r.PeakAfter) != 3)
            r = {};
        std::fclose(f);
    }
    return r;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3)
        return Child(argv[1], argv[2]);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    cm::InitializePackets();
    cm::InitializeSetupPackets();
    cm::InitializeProductInformation();

    const std::string dir = cm::GetTempDirectory() + "corvane_packet_bench_" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(dir.c_str(), nullptr);
    const std::string pak = dir + "\\Setup.pak", plain = dir + "\\plain.bin", out = dir + "\\child.txt";
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);

    auto package = BuildPackage();
    std::vector<double> saveRatios, bufferedRatios, loadRatios, memoryRatios;
    double fileSize = 0;
    for (int round = 0; round < rounds; ++round) {
        double t0 = Seconds();
        {
            cm::TFileStreamEx file(pak, 0xFFFF);
            package->SaveToStream(file);
        }
        const double save = Seconds() - t0;
        t0 = Seconds();
        {
            cm::TFileStreamEx file(pak, 0xFFFF);
            package->SaveToStream(file, nullptr, cm::sfBuffered);
        }
        const double buffered = Seconds() - t0;
        const std::vector<char> bytes = ReadAll(pak);
        fileSize = static_cast<double>(bytes.size());
        const double write = PlainWrite(plain, bytes);

        const ChildResult load = RunChild(self, "load", pak, out);
        const ChildResult read = RunChild(self, "read", pak, out);
        if (load.Seconds <= 0 || read.Seconds <= 0) {
            std::fprintf(stderr, "child run failed\n");
            return 1;
        }
        saveRatios.push_back(save / write);
        bufferedRatios.push_back(buffered / write);
        loadRatios.push_back(load.Seconds / read.Seconds);
        memoryRatios.push_back((load.PeakAfter - load.PeakBefore) / fileSize);
        std::fprintf(stderr,
                     "round %d: save %.3f s, buffered %.3f s, plain write %.3f s; load %.3f s, plain read %.3f s; "
                     "load +%.1f MB, plain read +%.1f MB, file %.1f MB\n",
                     round + 1, save, buffered, write, load.Seconds, read.Seconds, (load.PeakAfter - load.PeakBefore) / 1e6,
                     (read.PeakAfter - read.PeakBefore) / 1e6, fileSize / 1e6);
    }
    cm::DeleteDirectoryTree(dir, "*.*", false, false);
    std::printf("BENCH %s %.3f 1.5\n", BenchName("packet_load_vs_plain_read").c_str(), Median(loadRatios));
    std::printf("BENCH %s %.3f 1.5\n", BenchName("packet_save_vs_plain_write").c_str(), Median(saveRatios));
    std::printf("BENCH %s %.3f -\n", BenchName("packet_save_buffered_vs_plain_write").c_str(), Median(bufferedRatios));
    std::printf("BENCH %s %.3f 1.2\n", BenchName("packet_load_peak_memory_vs_file").c_str(), Median(memoryRatios));
    return 0;
}
