// The x86 side of the architecture seam (see Architecture.h).
#include "cm/Objects/Architecture.h"

#include <cstring>

namespace cm::arch {

namespace {
constexpr uint8_t JumpRel32Opcode = 0xE9;
constexpr size_t JumpRel32Size = 5;
}  // namespace

std::string StdCallExportName(const std::string& name, int argumentBytes) {
    return "_" + name + "@" + std::to_string(argumentBytes);
}

const NT_TIB* CurrentThreadBlock() {
    // The block's own linear address is kept at offset 0x18 of the FS segment (read directly: the
    // compiler's intrinsic for it trips its own array-bounds check).
    const NT_TIB* tib;
    __asm__("movl %%fs:0x18, %0" : "=r"(tib));
    return tib;
}

size_t DetourJumpSize() { return JumpRel32Size; }

bool EncodeDetourJump(const void* at, const void* target, uint8_t* out) {
    // On x86 every address is within reach of a 32-bit displacement (it wraps around).
    const uint32_t rel32 = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target)) -
                           static_cast<uint32_t>(reinterpret_cast<uintptr_t>(at) + JumpRel32Size);
    out[0] = JumpRel32Opcode;
    std::memcpy(out + 1, &rel32, sizeof rel32);
    return true;
}

}  // namespace cm::arch
