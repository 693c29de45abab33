// Sequential write then read of 256 MB through TMappedFileStream against a plain WriteFile /
// ReadFile loop with 256 KB buffers, on the same file system in the same run. Prints
//   BENCH mapped_write_vs_plain <mapped throughput / plain throughput> 0.8
//   BENCH mapped_read_vs_plain  <mapped throughput / plain throughput> 0.8
// Each side runs three times, alternating, and its best time counts.
#include "BenchName.h"
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"
#include "cm/StreamUtils/MappedFileStream.h"

namespace {

constexpr int32_t ChunkSize = 256 * 1024;
constexpr int32_t ChunkCount = 1024;  // 256 MB
constexpr int Rounds = 3;

double Seconds() {
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; ::QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Fill(std::vector<char>& buffer, int32_t chunk) {
    for (size_t i = 0; i < buffer.size(); i += 64) buffer[i] = static_cast<char>(chunk + i);
}

uint32_t Sum(const std::vector<char>& buffer) {
    uint32_t sum = 0;
    for (size_t i = 0; i < buffer.size(); i += 64) sum += static_cast<unsigned char>(buffer[i]);
    return sum;
}

double PlainWrite(const std::string& path, std::vector<char>& buffer) {
    const double start = Seconds();
    cm::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) throw cm::Exception("cannot create " + path);
    for (int32_t chunk = 0; chunk < ChunkCount; ++chunk) {
        Fill(buffer, chunk);
        DWORD written = 0;
        if (!::WriteFile(file.get(), buffer.data(), ChunkSize, &written, nullptr) || written != ChunkSize)
            throw cm::Exception("plain write failed");
    }
    file.reset();
    return Seconds() - start;
}

double PlainRead(const std::string& path, std::vector<char>& buffer, uint32_t& sum) {
    const double start = Seconds();
    cm::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) throw cm::Exception("cannot open " + path);
    for (int32_t chunk = 0; chunk < ChunkCount; ++chunk) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), ChunkSize, &read, nullptr) || read != ChunkSize)
            throw cm::Exception("plain read failed");
        sum += Sum(buffer);
    }
    file.reset();
    return Seconds() - start;
}

double MappedWrite(const std::string& path, std::vector<char>& buffer) {
    const double start = Seconds();
    cm::TMappedFileStream stream(path, cm::fmCreate);
    for (int32_t chunk = 0; chunk < ChunkCount; ++chunk) {
        Fill(buffer, chunk);
        stream.WriteBuffer(buffer.data(), ChunkSize);
    }
    stream.Close();
    return Seconds() - start;
}

double MappedRead(const std::string& path, std::vector<char>& buffer, uint32_t& sum) {
    const double start = Seconds();
    cm::TMappedFileStream stream(path, cm::fmOpenRead | cm::fmShareDenyWrite);
    for (int32_t chunk = 0; chunk < ChunkCount; ++chunk) {
        stream.ReadBuffer(buffer.data(), ChunkSize);
        sum += Sum(buffer);
    }
    stream.Close();
    return Seconds() - start;
}

}  // namespace

int main() {
    try {
        const std::string path = cm::GetTempDirectory() + "mapped_stream_bench.bin";
        std::vector<char> buffer(ChunkSize);
        double plainWrite = 1e9, mappedWrite = 1e9, plainRead = 1e9, mappedRead = 1e9;
        uint32_t plainSum = 0, mappedSum = 0;
        for (int round = 0; round < Rounds; ++round) {
            plainWrite = std::min(plainWrite, PlainWrite(path, buffer));
            plainRead = std::min(plainRead, PlainRead(path, buffer, plainSum));
            mappedWrite = std::min(mappedWrite, MappedWrite(path, buffer));
            mappedRead = std::min(mappedRead, MappedRead(path, buffer, mappedSum));
        }
        ::DeleteFileA(path.c_str());
        if (plainSum != mappedSum) {
            std::fprintf(stderr, "content differs between the two sides\n");
            return 1;
        }
        const double megabytes = static_cast<double>(ChunkSize) * ChunkCount / (1024.0 * 1024.0);
        std::printf("plain write  %8.1f MB/s\nmapped write %8.1f MB/s\nplain read   %8.1f MB/s\nmapped read  %8.1f MB/s\n",
                    megabytes / plainWrite, megabytes / mappedWrite, megabytes / plainRead, megabytes / mappedRead);
        // Throughput ratio: mapped over plain (higher is better for the mapped stream).
        std::printf("BENCH %s %.3f 0.8\n", BenchName("mapped_write_vs_plain").c_str(), plainWrite / mappedWrite);
        std::printf("BENCH %s %.3f 0.8\n", BenchName("mapped_read_vs_plain").c_str(), plainRead / mappedRead);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
