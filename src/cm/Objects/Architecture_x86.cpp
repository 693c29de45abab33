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

uintptr_t CallLibraryRoutine(const void* routine, std::initializer_list<uintptr_t> arguments) {
    uintptr_t buffer[LibraryCallMaxArguments];
    size_t count = 0;
    for (uintptr_t argument : arguments) {
        if (count == LibraryCallMaxArguments) break;
        buffer[count++] = argument;
    }
    const uintptr_t* first = buffer;
    uintptr_t result;
    // The stack pointer is kept in ESI, which every convention preserves across the call; the
    // arguments are pushed last to first and whatever the routine leaves on the stack is dropped
    // by restoring ESP from it.
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "decl %%ecx\n\t"
        "pushl (%%edx,%%ecx,4)\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "call *%%eax\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(result), "+c"(count), "+d"(first)
        : "0"(routine)
        : "esi", "memory", "cc");
    return result;
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
