// What differs between the x86 and the x64 build, one declaration each. The bodies are in
// Architecture_x86.cpp and Architecture_x64.cpp; the build compiles the one of its target. The
// call trace has its own pair (diagnostics/CallTrace_x86.cpp, _x64.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "cm/Objects/WinApi.h"

namespace cm::arch {

// The name under which a library of this architecture exports the __stdcall routine `name`
// taking argumentBytes bytes of arguments: "_name@N" on x86; `name` itself on x64, which has one
// calling convention and no name decoration.
std::string StdCallExportName(const std::string& name, int argumentBytes);

// Calls a routine of a separately built library with pointer-sized arguments (at most
// LibraryCallMaxArguments) and returns its result register, whose low 32 bits are an int result.
// On x86 the stack pointer is put back after the call, so that the call is right whether the
// routine pops its arguments (__stdcall) or leaves them (__cdecl): a library's export names do
// not tell its convention reliably. x64 has one convention.
constexpr size_t LibraryCallMaxArguments = 5;
uintptr_t CallLibraryRoutine(const void* routine, std::initializer_list<uintptr_t> arguments);

// The current thread's information block (its stack bounds among others).
const NT_TIB* CurrentThreadBlock();

// The jump that diverts a routine's entry to another routine: x86 a 5-byte relative jump; x64 a
// 14-byte absolute jump through the address stored behind it, since a relative jump cannot reach
// from a system library to this module across the 64-bit address space.
constexpr size_t DetourJumpMaxSize = 14;
// The size of the jump written at `at` towards `target`.
size_t DetourJumpSize();
// Encodes the jump that, placed at `at`, continues at `target`, into out (DetourJumpSize bytes).
// False when this architecture's jump cannot reach target from at.
bool EncodeDetourJump(const void* at, const void* target, uint8_t* out);

}  // namespace cm::arch
