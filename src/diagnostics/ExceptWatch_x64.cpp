// The exception watch on x64: C++ exceptions travel through the system's dispatcher as exception
// GccThrowCode, and every frame of the program with handlers names __gxx_personality_seh0 as its
// language handler.
#include "diagnostics/ExceptWatch.h"
#include "diagnostics/ExceptWatchArch.h"

extern "C" {
EXCEPTION_DISPOSITION __real___gxx_personality_seh0(PEXCEPTION_RECORD record, void* frame, PCONTEXT context,
                                                    PDISPATCHER_CONTEXT dispatch);

// The language handler as every frame of the program names it (linked with
// -Wl,--wrap=__gxx_personality_seh0): reports a C++ throw, then hands over unchanged. The
// runtime's colliding and forced unwinds (the other GCC codes) and foreign exceptions are not
// reported here: the latter were reported by the vectored handler.
EXCEPTION_DISPOSITION __wrap___gxx_personality_seh0(PEXCEPTION_RECORD record, void* frame, PCONTEXT context,
                                                    PDISPATCHER_CONTEXT dispatch) {
    if (record != nullptr && dispatch != nullptr && record->ExceptionCode == cm::GccThrowCode &&
        record->NumberParameters >= 1) {
        const auto* ue = reinterpret_cast<const _Unwind_Exception*>(record->ExceptionInformation[0]);
        if (ue != nullptr)
            cm::watch::PersonalityConsulted(ue->exception_class, ue,
                                            (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0,
                                            dispatch->ControlPc, dispatch->EstablisherFrame);
    }
    return __real___gxx_personality_seh0(record, frame, context, dispatch);
}
}

// Entered at the entry label with the stack as the faulting instruction left it and the return
// address in RAX: pushed there, it makes the frame of a call from the faulting instruction. The
// routine proper (with unwind data) starts after the push. Its frame register keeps the caller's
// stack position for the unwinder, so the stack can be aligned (and given its home area) for the
// raising routine whatever it was.
__asm__(
    ".text\n"
    ".globl CorvaneFaultTrampolineEntry\n"
    ".def CorvaneFaultTrampolineEntry; .scl 2; .type 32; .endef\n"
    "CorvaneFaultTrampolineEntry:\n"
    "    pushq %rax\n"
    ".def CorvaneFaultTrampoline; .scl 3; .type 32; .endef\n"
    ".seh_proc CorvaneFaultTrampoline\n"
    "CorvaneFaultTrampoline:\n"
    "    pushq %rbp\n"
    "    .seh_pushreg %rbp\n"
    "    movq %rsp, %rbp\n"
    "    .seh_setframe %rbp, 0\n"
    "    .seh_endprologue\n"
    "    andq $-16, %rsp\n"
    "    subq $32, %rsp\n"
    "    call CorvaneRaisePendingFault\n"
    "    int3\n"
    "    .seh_endproc\n");

extern "C" void CorvaneFaultTrampolineEntry();

namespace cm::watch {

// Nothing is written to the thread's stack here: below the faulting stack position lie the
// system's own records of this dispatch. RAX is free to carry the address: a landing pad expects
// no call-clobbered register to survive the raise.
void RedirectToFaultRaise(CONTEXT& context) {
    context.Rax = context.Rip + 1;
    context.Rip = reinterpret_cast<DWORD64>(&CorvaneFaultTrampolineEntry);
}

// x64 code keeps no frame pointer: the trace walks the unwinder's frames from the stack pointer.
void ContextTraceStart(const CONTEXT& context, const void*& first, const void*& start) {
    first = reinterpret_cast<const void*>(context.Rip);
    start = reinterpret_cast<const void*>(context.Rsp);
}

}  // namespace cm::watch
