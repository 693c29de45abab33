#include "bootstrap/SetupCore.h"

#include <cstring>

#include "bootstrap/Resources.h"
#include "cm/Objects.h"
#include "cm/StreamUtils/FileStream.h"
#include "cm/StreamUtils/MappedFileStream.h"

namespace bootstrap {

namespace {

constexpr const char* TempDirectoryPrefix = "Tavrel_Setup_";
constexpr uint32_t DecoderOptions = cm::HideWindow | cm::NewConsole | cm::NoErrorDialogs;  // 0x40009
constexpr int ConsoleEraseWidth = 78;

// Offsets inside a PE image: the DOS header's pointer to the NT headers, and the subsystem
// field behind the signature (4 bytes) and the file header (20 bytes).
constexpr size_t DosLfanewOffset = 0x3C;
constexpr size_t SubsystemOffsetInNtHeaders = 4 + 20 + 68;

// Reads the subsystem field of the image loaded at module. Raises
// "Invalid module at base address 0x%x" with the cause on the next line.
uint16_t LoadedImageSubsystem(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    try {
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        if (dos->e_magic != IMAGE_DOS_SIGNATURE) throw cm::Exception("Invalid DOS signature");
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
        if (nt->Signature != IMAGE_NT_SIGNATURE) throw cm::Exception("Invalid PE signature");
        return nt->OptionalHeader.Subsystem;
    } catch (...) {
        cm::ReraiseWithContextFmt("Invalid module at base address 0x%x", {reinterpret_cast<uintptr_t>(module)});
    }
}

// Rewrites the subsystem field of the executable file in place (the only two bytes that change).
void SetFileImageSubsystem(const std::string& path, uint16_t subsystem) {
    try {
        cm::UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) cm::RaiseLastSystemError("Cannot open file '%s'", {path});
        auto readAt = [&](int64_t offset, void* buffer, DWORD size) {
            cm::SetFilePointerChecked(file.get(), offset, FILE_BEGIN);
            DWORD got = 0;
            if (!ReadFile(file.get(), buffer, size, &got, nullptr) || got != size)
                throw cm::Exception("Invalid executable image (file too short)");
        };
        IMAGE_DOS_HEADER dos;
        readAt(0, &dos, sizeof dos);
        if (dos.e_magic != IMAGE_DOS_SIGNATURE) throw cm::Exception("Invalid DOS signature");
        uint32_t ntOffset = static_cast<uint32_t>(dos.e_lfanew);
        uint32_t signature = 0;
        readAt(ntOffset, &signature, sizeof signature);
        if (signature != IMAGE_NT_SIGNATURE) throw cm::Exception("Invalid PE signature");
        uint16_t magic = 0;
        readAt(int64_t(ntOffset) + 4 + 20, &magic, sizeof magic);
        if (magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC && magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            throw cm::Exception("Invalid optional header");
        // The subsystem sits at the same offset in PE32 and PE32+ optional headers.
        cm::SetFilePointerChecked(file.get(), int64_t(ntOffset) + SubsystemOffsetInNtHeaders, FILE_BEGIN);
        DWORD written = 0;
        if (!WriteFile(file.get(), &subsystem, sizeof subsystem, &written, nullptr) || written != sizeof subsystem)
            cm::RaiseLastSystemError("Failed to write to file '%s'", {path});
        cm::CloseHandleChecked(file.release());
    } catch (...) {
        cm::ReraiseWithContextFmt("Failed to load image from file: %s", {path});
    }
}

void WriteStdOut(std::string_view text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void FlushStdOut() {
    // Writes above are unbuffered; flushing the handle itself may fail on consoles and pipes,
    // which is of no concern here.
    FlushFileBuffers(GetStdHandle(STD_OUTPUT_HANDLE));
}

}  // namespace

SetupMetadata ParseSetupMetadata(const std::string& record) {
    if (record.empty()) throw cm::Exception("Failed to load setup metadata resource.");
    if (record.size() < SetupMetadataSize)
        throw cm::Exception(cm::Format("Setup metadata resource is too short (%d bytes).",
                                       {static_cast<int>(record.size())}));
    SetupMetadata m;
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<uint8_t>(record[i]);
    m.ExeSize = static_cast<int32_t>(size);
    m.Compressed = static_cast<uint8_t>(record[4]);
    return m;
}

int32_t SetupCore::Run() {
    int32_t exitCode = 0;
    try {
        Console = LoadedImageSubsystem(Module) == SubsystemWindowsConsole;
        try {
            if (Console) {
                WriteStdOut("Please wait...");
                FlushStdOut();
            }
            Metadata = ParseSetupMetadata(LoadResourceString(Module, MAKEINTRESOURCEA(ResMetadata), RT_RCDATA));
            if (Metadata.ExeSize <= 0)
                throw cm::Exception(cm::Format("Invalid setup metadata: executable size %d.", {Metadata.ExeSize}));

            std::string directoryName = TempDirectoryPrefix + std::to_string(GetCurrentProcessId());
            TempDirectory = cm::AddTrailingBackslash(cm::CombinePath(cm::GetTempDirectory(), directoryName));
            cm::ForceDirectoryPath(TempDirectory);
            LzmaPath = TempDirectory + "lzma.exe";
            SetupExePath = TempDirectory + "Setup.exe";
            SetupLzmaPath = TempDirectory + "Setup.lzma";
            SetupPakPath = TempDirectory + "Setup.pak";
            InfoDatPath = TempDirectory + "info.dat";

            Extract();
            CutSetupExecutable();
            if (Console) SetFileImageSubsystem(SetupExePath, SubsystemWindowsConsole);
            StepProgress();

            std::string commandLine = BuildSetupCommandLine();
            if (Console) {
                WriteStdOut("\r" + std::string(ConsoleEraseWidth, ' ') + "\r");
                FlushStdOut();
            }
            exitCode = cm::RunProcess(commandLine, true, 0);
            cm::SetProcessExitCode(exitCode);
        } catch (...) {
            CleanUp();
            throw;
        }
        CleanUp();
    } catch (const std::exception& e) {
        ShowFatalError(e.what());
        exitCode = FatalExitCode;
        cm::SetProcessExitCode(exitCode);
    }
    return exitCode;
}

void SetupCore::Extract() {
    if (Metadata.Compressed != 0) {
        // The saves' results are not examined: a missing resource leaves an empty file and the
        // failure shows at the next step that uses it.
        SaveResourceToFile(Module, MAKEINTRESOURCEA(ResDecoder), RT_RCDATA, FileFlagTemporary, LzmaPath);
        StepProgress();
        SaveResourceToFile(Module, MAKEINTRESOURCEA(ResPayload), RT_RCDATA, FileFlagTemporary, SetupLzmaPath);
        StepProgress();
        DecodePayload();
        StepProgress();
    } else {
        SaveResourceToFile(Module, MAKEINTRESOURCEA(ResPayload), RT_RCDATA, FileFlagTemporary, SetupPakPath);
        StepProgress();
    }
}

void SetupCore::DecodePayload() {
    std::string commandLine = cm::QuoteString(LzmaPath) + " d " + cm::QuoteString(SetupLzmaPath) + " " +
                              cm::QuoteString(SetupPakPath);
    int32_t code = cm::RunProcess(commandLine, true, DecoderOptions);
    if (code != 0) throw cm::Exception("Decompression failed. Tool returned code: " + std::to_string(code));
}

void SetupCore::CutSetupExecutable() {
    // Others may read the package meanwhile, not change it.
    cm::TFileStreamEx package(SetupPakPath, cm::fmOpenRead | cm::fmShareDenyWrite, 0, 0);
    const int32_t packageSize = package.Size();
    // A stored size larger than the package would make the cut start before the package does.
    if (Metadata.ExeSize > packageSize)
        throw cm::Exception(cm::Format("Invalid setup package: executable size %d exceeds package size %d.",
                                       {Metadata.ExeSize, packageSize}));
    // Declared second, so freed first, also when a step fails.
    cm::TMappedFileStream exe(SetupExePath, cm::fmCreate, cm::ffTemporary, 0);
    if (package.Seek(-Metadata.ExeSize, cm::soEnd) != packageSize - Metadata.ExeSize)
        throw cm::EStreamError("Stream read error");
    exe.CopyFrom(package, Metadata.ExeSize);
    exe.Close();  // cuts the file back to the image's size; a failure here must not go unseen
}

std::string SetupCore::BuildSetupCommandLine() const {
    std::string ownPath = cm::GetModuleFileNameChecked(nullptr);
    std::string commandLine = cm::QuoteString(SetupExePath) + " /installer_filename=" + cm::QuoteString(ownPath);
    std::string tail = GetCommandLineA();
    cm::RemoveFirstArgument(tail, true);
    commandLine += " " + tail;
    if (!ProductCaption.empty()) commandLine += " /ProductCaption=" + ProductCaption;
    return commandLine;
}

void SetupCore::StepProgress() {
    if (Console) {
        WriteStdOut(".");
        FlushStdOut();
    }
}

void SetupCore::ShowFatalError(const std::string& message) const {
    if (Console) {
        WriteStdOut("Fatal Error: " + message + "\r\n");
        FlushStdOut();
    } else {
        MessageBoxA(nullptr, message.c_str(), (ProductCaption + " Setup").c_str(), MB_ICONERROR | MB_OK);
    }
}

void SetupCore::CleanUp() {
    if (TempDirectory.empty()) return;
    try {
        cm::DeleteDirectoryTree(TempDirectory, "*.*", false, false);
    } catch (...) {
        // Left-overs in the temporary directory must not hide the outcome of the setup.
    }
}

}  // namespace bootstrap
