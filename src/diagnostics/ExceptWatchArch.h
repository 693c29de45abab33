// What the exception watch shares with its per-architecture parts (ExceptWatch_x86.cpp,
// ExceptWatch_x64.cpp): the personality wrapper of each architecture reports through
// PersonalityConsulted; faults are turned into exceptions by RedirectToFaultRaise.
#pragma once

#include <unwind.h>

#include <cstdint>

#include "cm/Objects/WinApi.h"

namespace cm::watch {

// A frame of the program was consulted for the exception ue (search pass, or unwinding when
// unwinding is set); ip is the frame's instruction address, stack its stack position. Reports
// C++ exceptions of this runtime only: anything else was reported by the vectored handler.
void PersonalityConsulted(_Unwind_Exception_Class exceptionClass, const _Unwind_Exception* ue, bool unwinding,
                          uintptr_t ip, uintptr_t stack) noexcept;

// Makes the thread, when it continues with context, raise the pending fault's exception as if the
// faulting instruction had called the raising routine: the return address is the faulting
// instruction + 1, so that the unwinder finds that instruction's frame and handler region. The
// per-architecture trampoline pushes it, keeps the stack aligned and carries unwind data.
void RedirectToFaultRaise(CONTEXT& context);

// The call trace's first address and stack start for a processor context.
void ContextTraceStart(const CONTEXT& context, const void*& first, const void*& start);

}  // namespace cm::watch

// Raises the exception of the fault the vectored handler left pending for the calling thread.
// Reached only through the trampoline.
extern "C" [[noreturn]] void CorvaneRaisePendingFault();
