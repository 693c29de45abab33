#include "PackFiles.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <csignal>

#ifdef _WIN32
#include <process.h>
#include "cm/Objects/WinApi.h"
#define CORVANE_GETPID _getpid
#else
#include <unistd.h>
#define CORVANE_GETPID getpid
#endif

namespace pack {

namespace {

// The temporary files of the pending outputs, for the signal handler: fixed storage, since a
// handler may neither allocate nor take locks.
constexpr int MaxPendingFiles = 4;
constexpr size_t MaxPendingPath = 4096;
char PendingPaths[MaxPendingFiles][MaxPendingPath];
volatile std::sig_atomic_t PendingUsed[MaxPendingFiles];

// An interrupted run (Ctrl-C, a cancelled CI job) removes its temporary files, then ends as the
// signal would have ended it. unlink is async-signal-safe; on Windows the CRT runs the handler on
// a thread of its own, and a file still open in the main thread cannot be deleted there.
extern "C" void RemovePendingFiles(int signal) {
    for (int i = 0; i < MaxPendingFiles; ++i)
        if (PendingUsed[i]) {
#ifdef _WIN32
            ::DeleteFileA(PendingPaths[i]);
#else
            ::unlink(PendingPaths[i]);
#endif
        }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

int RegisterPendingFile(const std::filesystem::path& path) {
    static const bool installed = [] {
        for (int signal : {SIGINT, SIGTERM
#ifndef _WIN32
                           , SIGHUP
#endif
             })
            std::signal(signal, RemovePendingFiles);
        return true;
    }();
    (void)installed;
    const std::string text = path.string();
    if (text.size() >= MaxPendingPath) return -1;
    for (int i = 0; i < MaxPendingFiles; ++i)
        if (!PendingUsed[i]) {
            std::memcpy(PendingPaths[i], text.c_str(), text.size() + 1);
            PendingUsed[i] = 1;
            return i;
        }
    return -1;
}

void UnregisterPendingFile(int slot) {
    if (slot >= 0) PendingUsed[slot] = 0;
}

}  // namespace

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

TStdFileStream::TStdFileStream(const std::filesystem::path& path, bool write) : FPath(path), FWrite(write) {
    FFile = std::fopen(path.string().c_str(), write ? "wb" : "rb");
    if (!FFile)
        throw EPackError(std::string(write ? "cannot create " : "cannot open ") + Quoted(path) + ": " + std::strerror(errno));
    std::setvbuf(FFile, nullptr, _IOFBF, 1 << 20);
}

TStdFileStream::~TStdFileStream() {
    if (FFile) std::fclose(FFile);
}

int32_t TStdFileStream::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    const size_t n = std::fread(buffer, 1, static_cast<size_t>(count), FFile);
    if (n == 0 && std::ferror(FFile)) throw EPackError("cannot read " + Quoted(FPath) + ": " + std::strerror(errno));
    return static_cast<int32_t>(n);
}

int32_t TStdFileStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    return static_cast<int32_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), FFile));
}

int32_t TStdFileStream::Seek(int32_t offset, cm::SeekOrigin origin) {
    const int whence = origin == cm::soBeginning ? SEEK_SET : origin == cm::soCurrent ? SEEK_CUR : SEEK_END;
    if (std::fseek(FFile, offset, whence) != 0) throw EPackError("cannot seek in " + Quoted(FPath));
    const long position = std::ftell(FFile);
    if (position < 0 || position > INT32_MAX) throw EPackError("cannot seek in " + Quoted(FPath));
    return static_cast<int32_t>(position);
}

void TStdFileStream::Close() {
    if (!FFile) return;
    const bool failed = std::ferror(FFile) != 0;
    const int closed = std::fclose(FFile);
    FFile = nullptr;
    if (FWrite && (failed || closed != 0))
        throw EPackError("cannot write " + Quoted(FPath) + ": " + std::strerror(errno ? errno : EIO));
}

std::string ReadWholeFile(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw EPackError("cannot read " + Quoted(path) + ": it is a directory");
    std::FILE* f = std::fopen(path.string().c_str(), "rb");
    if (!f) throw EPackError("cannot read " + Quoted(path) + ": " + std::strerror(errno));
    std::string bytes;
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw EPackError("cannot read " + Quoted(path) + ": read error");
    return bytes;
}

TPendingFile::TPendingFile(std::filesystem::path target, const char* suffix)
    : FTarget(std::move(target)) {
    FTemp = FTarget;
    FTemp += std::string(suffix) + "-" + std::to_string(CORVANE_GETPID());
    FSignalSlot = RegisterPendingFile(FTemp);
}

TPendingFile::~TPendingFile() {
    UnregisterPendingFile(FSignalSlot);
    if (FDone) return;
    std::error_code ignored;
    std::filesystem::remove(FTemp, ignored);
}

void TPendingFile::Commit() {
    std::error_code error;
#ifdef _WIN32
    // A rename onto an existing file fails on Windows: the old one goes first.
    std::filesystem::remove(FTarget, error);
#endif
    std::filesystem::rename(FTemp, FTarget, error);
    if (error) throw EPackError("cannot write " + Quoted(FTarget) + ": " + error.message());
    FDone = true;
    UnregisterPendingFile(FSignalSlot);
    FSignalSlot = -1;
}

}  // namespace pack
