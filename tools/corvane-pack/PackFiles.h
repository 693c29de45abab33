// Files of the packer: a stream over a stdio file, whole-file reads, and output files that appear
// under their name only when complete. Portable (stdio and std::filesystem).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cm/StreamUtils/Stream.h"

namespace pack {

// A failure the user caused or can fix: one line, "corvane-pack: " + message, exit code 1.
class EPackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "'path'" as messages quote paths.
std::string Quoted(const std::filesystem::path& path);

// A cm::TStream over a stdio file opened for reading ("rb") or created for writing ("wb").
// Raises EPackError "cannot open|create 'path': reason".
class TStdFileStream : public cm::TStream {
public:
    TStdFileStream(const std::filesystem::path& path, bool write);
    ~TStdFileStream() override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Seek(int32_t offset, cm::SeekOrigin origin) override;
    // Flushes and closes; raises EPackError "cannot write 'path'" when any write failed.
    void Close();
    std::FILE* File() const { return FFile; }

private:
    std::filesystem::path FPath;
    std::FILE* FFile = nullptr;
    bool FWrite;
};

// The whole file; raises EPackError "cannot read 'path': reason".
std::string ReadWholeFile(const std::filesystem::path& path);

// A file written under a temporary name beside its final one ("name.part-<pid>"), renamed into
// place by Commit and removed otherwise (also when a failure unwinds): a failed run leaves no
// partial output and the previous file, if any, untouched. An interrupting signal (SIGINT,
// SIGTERM, SIGHUP) removes the temporary files of the pending outputs before the process ends.
class TPendingFile {
public:
    explicit TPendingFile(std::filesystem::path target, const char* suffix = ".part");
    ~TPendingFile();
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;
    const std::filesystem::path& TempPath() const { return FTemp; }
    // Renames the temporary file to the target (replacing it); raises EPackError.
    void Commit();

private:
    std::filesystem::path FTarget;
    std::filesystem::path FTemp;
    bool FDone = false;
    int FSignalSlot = -1;  // in the signal handler's table, or -1
};

}  // namespace pack
