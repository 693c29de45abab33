// The bootstrap's main sequence: extract the payload into a private temporary directory,
// decode it, cut the setup executable out of the package, start it with the forwarded command
// line, hand its exit code on and clean up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "bootstrap/PayloadCheck.h"
#include "bootstrap/PayloadFormat.h"
#include "bootstrap/WaitDialog.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"
#include "catalogue/SetupPackets.h"

namespace bootstrap {

// Exit code after a failure reported as a fatal error.
constexpr int32_t FatalExitCode = 6;


class SetupCore {
public:
    // The payload check is the one the program started at its entry; without one, the
    // sequence starts its own where it needs the result.
    explicit SetupCore(HMODULE module, std::unique_ptr<TPayloadCheck> payloadCheck = nullptr)
        : Module(module), PayloadCheck(std::move(payloadCheck)) {}

    // Runs the whole sequence on the calling thread and returns the process exit code (also
    // stored with SetProcessExitCode): the setup executable's, or 6 after a fatal error.
    int32_t Run();

    // Reports a failure of the module start-up as a fatal error (console or message box, by the
    // module's own header) and stores exit code 6, which it returns.
    static int32_t ReportStartupFailure(HMODULE module, const std::string& message);

private:
    // Waits for the check of resource 1000 against the integrity record 1003, which must be done
    // before anything is written to disk; raises "Setup package is damaged: checksum mismatch."
    // when they differ.
    void VerifyPayload();
    void Extract();
    void DecodePayload();
    void CutSetupExecutable();
    void ReadPackage();
    std::string BuildSetupCommandLine() const;
    void StepProgress();
    void CloseWaitDialog() noexcept;
    void ShowFatalError(const std::string& message) const;
    // Removes the private directory (what cannot be removed stays); never raises.
    void CleanUp() noexcept;

    HMODULE Module;
    std::unique_ptr<TPayloadCheck> PayloadCheck;
    bool Console = false;
    std::unique_ptr<TWaitDialog> WaitDialog;  // GUI build only, while extracting
    SetupMetadata Metadata;
    std::string TempDirectory;  // with a trailing backslash once set
    cm::UniqueFileHandle TempDirectoryHold;  // the private directory, held open until clean-up
    std::string LzmaPath, SetupExePath, SetupLzmaPath, SetupPakPath, InfoDatPath;
    std::string ProductCaption;
    // The loaded package; kept until the process ends, as the product information loader is.
    std::unique_ptr<cm::TSetupPacket> Package;
};

}  // namespace bootstrap
