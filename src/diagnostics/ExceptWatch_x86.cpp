// The exception watch on x86: DWARF-2 unwinding, which never passes through the system's
// exception dispatch; the personality routine is __gxx_personality_v0.
#include "diagnostics/ExceptWatchArch.h"

extern "C" {
_Unwind_Reason_Code __real___gxx_personality_v0(int version, _Unwind_Action actions,
                                                _Unwind_Exception_Class exceptionClass, _Unwind_Exception* ue,
                                                _Unwind_Context* context);

// The personality routine as every frame of the program names it (linked with
// -Wl,--wrap=__gxx_personality_v0): reports, then consults the runtime's routine unchanged.
_Unwind_Reason_Code __wrap___gxx_personality_v0(int version, _Unwind_Action actions,
                                                _Unwind_Exception_Class exceptionClass, _Unwind_Exception* ue,
                                                _Unwind_Context* context) {
    if (version == 1 && ue != nullptr && context != nullptr)
        cm::watch::PersonalityConsulted(exceptionClass, ue, (actions & _UA_CLEANUP_PHASE) != 0,
                                        _Unwind_GetIP(context), _Unwind_GetCFA(context));
    return __real___gxx_personality_v0(version, actions, exceptionClass, ue, context);
}
}

// Entered at the entry label with the stack as the faulting instruction left it and the return
// address in EAX: pushed there, it makes the frame of a call from the faulting instruction. The
// routine proper (with unwind data) starts after the push. Its frame pointer keeps the caller's
// stack position for the unwinder (CFA = ebp + 8), so the stack can be aligned for the raising
// routine whatever it was.
__asm__(
    ".text\n"
    ".globl _CorvaneFaultTrampolineEntry\n"
    ".def _CorvaneFaultTrampolineEntry; .scl 2; .type 32; .endef\n"
    "_CorvaneFaultTrampolineEntry:\n"
    "    pushl %eax\n"
    "_CorvaneFaultTrampoline:\n"
    ".cfi_startproc\n"
    "    pushl %ebp\n"
    ".cfi_def_cfa_offset 8\n"
    ".cfi_offset %ebp, -8\n"
    "    movl %esp, %ebp\n"
    ".cfi_def_cfa_register %ebp\n"
    "    andl $-16, %esp\n"
    "    call _CorvaneRaisePendingFault\n"
    "    ud2\n"
    ".cfi_endproc\n");

extern "C" void CorvaneFaultTrampolineEntry();

namespace cm::watch {

// Nothing is written to the thread's stack here: below the faulting stack position lie the
// system's own records of this dispatch. EAX is free to carry the address: a landing pad expects
// no call-clobbered register to survive the raise.
void RedirectToFaultRaise(CONTEXT& context) {
    context.Eax = context.Eip + 1;
    context.Eip = reinterpret_cast<DWORD>(&CorvaneFaultTrampolineEntry);
}

void ContextTraceStart(const CONTEXT& context, const void*& first, const void*& start) {
    first = reinterpret_cast<const void*>(context.Eip);
    start = reinterpret_cast<const void*>(context.Eip != 0 ? context.Ebp : context.Esp);
}

}  // namespace cm::watch
