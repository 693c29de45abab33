// The x64 side of the architecture seam (see Architecture.h).
#include "cm/Objects/Architecture.h"

#include <cstring>

namespace cm::arch {

namespace {
// jmp qword ptr [rip+0], followed by the 8-byte target: 14 bytes, no register changed.
constexpr uint8_t JumpIndirectRip[6] = {0xFF, 0x25, 0x00, 0x00, 0x00, 0x00};
constexpr size_t JumpAbsoluteSize = sizeof JumpIndirectRip + sizeof(uint64_t);
static_assert(JumpAbsoluteSize <= DetourJumpMaxSize);
}  // namespace

std::string StdCallExportName(const std::string& name, int) { return name; }

uintptr_t CallLibraryRoutine(const void* routine, std::initializer_list<uintptr_t> arguments) {
    uintptr_t a[LibraryCallMaxArguments] = {};
    size_t count = 0;
    for (uintptr_t argument : arguments) {
        if (count == LibraryCallMaxArguments) break;
        a[count++] = argument;
    }
    // Every routine takes its first four arguments in registers and the rest on the stack, which
    // the caller cleans: calling with more arguments than the routine reads is harmless.
    using TRoutine = uintptr_t (*)(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t);
    return reinterpret_cast<TRoutine>(const_cast<void*>(routine))(a[0], a[1], a[2], a[3], a[4]);
}

const NT_TIB* CurrentThreadBlock() {
    // The block's own linear address is kept at offset 0x30 of the GS segment (read directly: the
    // compiler's intrinsic for it trips its own array-bounds check).
    const NT_TIB* tib;
    __asm__("movq %%gs:0x30, %0" : "=r"(tib));
    return tib;
}

size_t DetourJumpSize() { return JumpAbsoluteSize; }

bool EncodeDetourJump(const void*, const void* target, uint8_t* out) {
    const uint64_t address = reinterpret_cast<uintptr_t>(target);
    std::memcpy(out, JumpIndirectRip, sizeof JumpIndirectRip);
    std::memcpy(out + sizeof JumpIndirectRip, &address, sizeof address);
    return true;
}

}  // namespace cm::arch
