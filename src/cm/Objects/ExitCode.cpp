// SetProcessExitCode: the exit code with which this process ends, whoever ends it.
//
// The language runtime ends the program through kernel32's ExitProcess with its own code (the
// value main returned, or 0). To make a stored code win, the first bytes of ExitProcess are
// replaced with a jump to ExitHandler (the architecture's detour jump: 5 bytes on x86, 14 on x64),
// which puts exactly the bytes it replaced back and calls the real ExitProcess with the code
// chosen here. Because the bytes are restored before the call, the patch works even where
// ExitProcess itself is only a short stub jumping on into another module.
#include "cm/Objects/Process.h"

#include <atomic>
#include <cstring>

#include "cm/Objects/Architecture.h"
#include "cm/Objects/Errors.h"
#include "cm/Objects/SystemWrappers.h"

namespace cm {
namespace {

using ExitProcessFunction = void(WINAPI*)(UINT);

// Exit-code override state.
std::atomic<int32_t> StoredExitCode{0};
std::atomic<bool> HookAttempted{false};
ExitProcessFunction ExitProcessAddress = nullptr;
uint8_t SavedBytes[arch::DetourJumpMaxSize];
size_t SavedByteCount = 0;  // the bytes the jump replaced

// ExitHandler's entrants: the first one puts the original bytes back; any other thread that
// reached the jump meanwhile waits until they are back before calling through.
std::atomic<int> RestoreState{0};  // 0 patched, 1 restoring, 2 restored (or could not be)
std::atomic<bool> RestoreSucceeded{false};

bool RestoreOriginalBytes() {
    void* entry = reinterpret_cast<void*>(ExitProcessAddress);
    DWORD oldProtect;
    // A plain VirtualProtect: the process is ending, raising here would help no one.
    if (!::VirtualProtect(entry, SavedByteCount, PAGE_EXECUTE_READWRITE, &oldProtect)) return false;
    std::memcpy(entry, SavedBytes, SavedByteCount);
    DWORD ignored;
    ::VirtualProtect(entry, SavedByteCount, oldProtect, &ignored);
    ::FlushInstructionCache(::GetCurrentProcess(), entry, SavedByteCount);
    return true;
}

// Reached by the jump written over ExitProcess's entry, with ExitProcess's own arguments and
// return address on the stack; hence the same calling convention. Never returns.
void WINAPI ExitHandler(UINT requestedCode) {
    int expected = 0;
    if (RestoreState.compare_exchange_strong(expected, 1)) {
        RestoreSucceeded = RestoreOriginalBytes();
        RestoreState = 2;
    } else {
        while (RestoreState.load() != 2) ::Sleep(0);
    }

    const int32_t requested = static_cast<int32_t>(requestedCode);
    const int32_t stored = StoredExitCode.load();
    // A negative code asked for by anyone (a crash report, a forced end) is kept unless the
    // stored code is itself negative.
    const int32_t finalCode = (requested < 0 && stored >= 0) ? requested : stored;

    if (RestoreSucceeded)
        ExitProcessAddress(static_cast<UINT>(finalCode));
    // The entry still jumps here: calling it would recurse forever, so end without it.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(finalCode));
    for (;;) ::Sleep(INFINITE);
}

// Raises on any failure; the caller swallows it.
void InstallExitHook() {
    HMODULE kernel = GetModuleHandleChecked("kernel32.dll");
    auto entry = reinterpret_cast<uint8_t*>(GetProcAddressChecked(kernel, "ExitProcess"));

    const size_t jumpSize = arch::DetourJumpSize();
    uint8_t jump[arch::DetourJumpMaxSize];
    if (!arch::EncodeDetourJump(entry, reinterpret_cast<const void*>(&ExitHandler), jump)) return;

    const DWORD oldProtect = ProtectMemory(entry, jumpSize, PAGE_EXECUTE_READWRITE);
    std::memcpy(SavedBytes, entry, jumpSize);
    SavedByteCount = jumpSize;
    ExitProcessAddress = reinterpret_cast<ExitProcessFunction>(entry);
    std::memcpy(entry, jump, jumpSize);
    ProtectMemory(entry, jumpSize, oldProtect);
    ::FlushInstructionCache(::GetCurrentProcess(), entry, jumpSize);
}

}  // namespace

void SetProcessExitCode(int32_t code) {
    // Stored before the hook goes in, so that an exit racing the first call already sees it.
    StoredExitCode = code;
    if (!HookAttempted.exchange(true)) {
        try {
            InstallExitHook();
        } catch (...) {
            // Without the hook the process ends with the runtime's own code.
        }
    }
}

}  // namespace cm
