#include "bootstrap/SetupCore.h"

#include <cstring>

#include "bootstrap/PhaseTimes.h"
#include "bootstrap/Resources.h"
#include "cm/ModuleExp/ModuleExp.h"
#include "cm/Objects.h"
#include "cm/StreamUtils/FileStream.h"
#include "cm/StreamUtils/VirtualStreamFile.h"
#include "cm/Objects/DateTime.h"
#include "cm/Objects/PrivateDirectory.h"
#include "cm/Objects/ScopeExit.h"
#include "diagnostics/Logs.h"
#include "catalogue/ProductInfoLoader.h"
#include "catalogue/SetupPacketsFile.h"

namespace bootstrap {

namespace {

constexpr const char* TempDirectoryPrefix = "Tavrel_Setup_";
constexpr uint32_t DecoderOptions = cm::HideWindow | cm::NewConsole | cm::NoErrorDialogs;  // 0x40009
constexpr int ConsoleEraseWidth = 78;
constexpr const char* WaitDialogMessage = "Extracting setup files...";
// Two resource saves, the decoding, the cut: the compressed path's progress steps.
constexpr int32_t WaitDialogSteps = 4;
constexpr const char* InfoFileName = cm::ProductInformationFileName;

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

#ifdef CORVANE_FAULT_INJECTION
// Test builds only, never the shipped program: CORVANE_TEST_FAULT=<point> makes the sequence
// fault at that point by a write to an unmapped address, as a defect of the program would.
constexpr uintptr_t TestFaultAddress = 0x10;
// CORVANE_TEST_FAULT=overflow: endless recursion at the "cut" point instead, until the stack
// overflows.
[[gnu::noinline]] int RecurseWithoutEnd(int depth) {
    volatile char frame[512];
    frame[depth % sizeof frame] = static_cast<char>(depth);
    return depth < 0 ? 0 : RecurseWithoutEnd(depth + 1) + frame[depth % sizeof frame];
}

void InjectTestFault(const char* point) {
    char value[32] = {};
    const DWORD length = ::GetEnvironmentVariableA("CORVANE_TEST_FAULT", value, sizeof value);
    if (length == 0 || length >= sizeof value) return;
    if (std::strcmp(value, "overflow") == 0 && std::strcmp(point, "cut") == 0) RecurseWithoutEnd(0);
    if (std::strcmp(value, point) != 0) return;
    volatile uintptr_t address = TestFaultAddress;
    *reinterpret_cast<volatile int*>(address) = 1;
}
#endif

}  // namespace

int32_t SetupCore::Run() {
    int32_t exitCode = 0;
    try {
        // A bad own header fails loudly: nothing else could be trusted either.
        Console = cm::TModuleExplorer::CreateForModule(Module, true)->Subsystem() == cm::ImageSubsystemWindowsConsole;
        if (!Console)
            WaitDialog = std::make_unique<TWaitDialog>(0, WaitDialogMessage, WaitDialogSteps);
        MarkPhase("dialog");
        {
            // The directory goes and the dialog closes when the sequence ends, also by an error:
            // both are gone before the error shows.
            cm::TScopeExit cleanUp([this]() noexcept {
                CleanUp();
                CloseWaitDialog();
            });
            if (Console) {
                WriteStdOut("Please wait...");
                FlushStdOut();
            }
            Metadata = ParseSetupMetadata(LoadResourceString(Module, MAKEINTRESOURCEA(ResMetadata), RT_RCDATA));
            if (Metadata.ExeSize <= 0)
                throw cm::Exception(cm::Format("Invalid setup metadata: executable size %d.", {Metadata.ExeSize}));
            VerifyPayload();
            MarkPhase("checked");

            // The name is predictable: whatever is found at it (a directory made in advance with
            // an access list of somebody else's, a link) is left alone, and a new directory is
            // made at the next free name. The setup learns it from its own path.
            const std::string directoryName = TempDirectoryPrefix + std::to_string(GetCurrentProcessId());
            std::string directory;
            TempDirectoryHold = cm::CreatePrivateDirectory(cm::CombinePath(cm::GetTempDirectory(), directoryName),
                                                           cm::DefaultPrivateDirectoryAccess(), directory);
            TempDirectory = cm::AddTrailingBackslash(directory);
            MarkPhase("directory");
            LzmaPath = TempDirectory + "lzma.exe";
            SetupExePath = TempDirectory + "Setup.exe";
            SetupLzmaPath = TempDirectory + "Setup.lzma";
            SetupPakPath = TempDirectory + "Setup.pak";
            InfoDatPath = TempDirectory + InfoFileName;

            Extract();
            CutSetupExecutable();
            MarkPhase("cut");
            if (Console) {
                // The setup shares the console build's console: make it a console program too.
                auto explorer = cm::TModuleExplorer::CreateForFile(SetupExePath, cm::emFileCopy);
                explorer->SetConsoleSubsystem();
                explorer->SaveImageToFile(SetupExePath);
            }
            StepProgress();
            ReadPackage();
            MarkPhase("package read");

            std::string commandLine = BuildSetupCommandLine();
            CloseWaitDialog();
            MarkPhase("dialog closed");
            if (Console) {
                WriteStdOut("\r" + std::string(ConsoleEraseWidth, ' ') + "\r");
                FlushStdOut();
            }
            // The setup writes the product's log itself: ours is closed before it starts.
            LogPhases();
            cm::LogClose();
            exitCode = cm::RunProcess(commandLine, true, 0);
            cm::SetProcessExitCode(exitCode);
        }
    } catch (const std::exception& e) {
        // The dialog is gone before the error shows (it may not have existed at all).
        CloseWaitDialog();
        ShowFatalError(e.what());
        exitCode = FatalExitCode;
        cm::SetProcessExitCode(exitCode);
    }
    return exitCode;
}

void SetupCore::VerifyPayload() {
    if (!PayloadCheck) PayloadCheck = std::make_unique<TPayloadCheck>(Module);
    PayloadCheck->Wait();
    NoteBackgroundWork("integrity check", PayloadCheck->CheckMilliseconds());
}

void SetupCore::Extract() {
    if (Metadata.Compressed != 0) {
        // The saves' results are not examined: a missing resource leaves an empty file and the
        // failure shows at the next step that uses it.
        SaveResourceToFile(Module, MAKEINTRESOURCEA(ResDecoder), RT_RCDATA, FileFlagTemporary, LzmaPath);
        StepProgress();
        SaveResourceToFile(Module, MAKEINTRESOURCEA(ResPayload), RT_RCDATA, FileFlagTemporary, SetupLzmaPath);
        StepProgress();
        MarkPhase("saved");
        DecodePayload();
        StepProgress();
        MarkPhase("decoded");
    } else {
        SaveResourceToFile(Module, MAKEINTRESOURCEA(ResPayload), RT_RCDATA, FileFlagTemporary, SetupPakPath);
        StepProgress();
        MarkPhase("saved");
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
    // Declared second, so freed first, also when a step fails. Plain writes of a known size: no
    // space reservation (zeros written first) as a growing mapping needs.
    cm::TFileStreamEx exe(SetupExePath, cm::fmCreate, cm::ffTemporary, 0);
#ifdef CORVANE_FAULT_INJECTION
    InjectTestFault("cut");  // both files open
#endif
    if (package.Seek(-Metadata.ExeSize, cm::soEnd) != packageSize - Metadata.ExeSize)
        throw cm::EStreamError("Stream read error");
    exe.CopyFrom(package, Metadata.ExeSize);
}

void SetupCore::ReadPackage() {
    // The packet stream at the start of the package; the executable image behind it is ignored.
    // Every header, name and length of it is read and checked, but of the files' contents only
    // info.dat's: the others are the setup's to read, and loading them all would read the whole
    // package again into memory.
    cm::TDeferredBlobs contents;
    Package = cm::LoadSetupPacket(SetupPakPath, 0);
    const int32_t index = Package->Files.IndexOfName(InfoFileName, false);
    if (index < 0)
        return;
    cm::LoadDeferredContent(*Package->Files.Items(index), contents, SetupPakPath);
    // The package date is a calendar time, written as it stands (no time-zone adjustment). A date
    // that is no calendar time leaves the time the system gives the new file.
    int64_t lastWriteTime = 0;
    if (!cm::DateTimeToFileTime(Package->SetupDateTime, lastWriteTime))
        lastWriteTime = 0;
    cm::SaveVirtualStreamToFile(Package->Files.Items(index)->Content, InfoDatPath, 0, lastWriteTime);
    // Read by a loader of its own: the process's shared loader prefers the info.dat beside the
    // executable, which anybody who can write there could have planted.
    ProductCaption = cm::TProductInfoLoader(InfoDatPath).ProductCaption;
}

std::string SetupCore::BuildSetupCommandLine() const {
    std::string ownPath = cm::GetModuleFileNameChecked(nullptr);
    std::string commandLine = cm::QuoteString(SetupExePath) + " /installer_filename=" + cm::QuoteString(ownPath);
    std::string tail = GetCommandLineA();
    cm::RemoveFirstArgument(tail, true);
    commandLine += " " + tail;
    // One argument, whatever the caption holds: quoted as the setup's parser reads it back.
    if (!ProductCaption.empty()) commandLine += " /ProductCaption=" + cm::QuoteArgument(ProductCaption);
    return commandLine;
}

void SetupCore::StepProgress() {
    if (WaitDialog)
        WaitDialog->Step(1);
    if (Console) {
        WriteStdOut(".");
        FlushStdOut();
    }
}

void SetupCore::CloseWaitDialog() noexcept {
    // Ends the dialog's thread and window; the owner's window (none here) comes to the front.
    WaitDialog.reset();
}

void SetupCore::ShowFatalError(const std::string& message) const {
    if (Console) {
        WriteStdOut("Fatal Error: " + message + "\r\n");
        FlushStdOut();
    } else {
        MessageBoxA(nullptr, message.c_str(), (ProductCaption + " Setup").c_str(), MB_ICONERROR | MB_OK);
    }
}

int32_t SetupCore::ReportStartupFailure(HMODULE module, const std::string& message) {
    SetupCore core(module);
    try {
        core.Console = cm::TModuleExplorer::CreateForModule(module, true)->Subsystem() ==
                       cm::ImageSubsystemWindowsConsole;
    } catch (...) {
        // A bad own header: report as the delivered GUI build would.
    }
    core.ShowFatalError(message);
    cm::SetProcessExitCode(FatalExitCode);
    return FatalExitCode;
}

void SetupCore::CleanUp() noexcept {
    // Emptied while still held (nobody can rename it and put a link in its place meanwhile),
    // then, empty, removed. Left-overs must not hide the outcome of the setup.
    if (TempDirectory.empty()) return;
    cm::RemovePrivateDirectory(std::move(TempDirectoryHold), TempDirectory);
}

}  // namespace bootstrap
