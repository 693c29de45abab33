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

// Entered with the stack as the faulting instruction left it plus the return address pushed by
// RedirectToFaultRaise. The frame pointer keeps the caller's stack position for the unwinder
// (CFA = ebp + 8), so the stack can be aligned for the raising routine whatever it was.
__asm__(
    ".text\n"
    ".globl _CorvaneFaultTrampoline\n"
    ".def _CorvaneFaultTrampoline; .scl 2; .type 32; .endef\n"
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

extern "C" void CorvaneFaultTrampoline();

namespace cm::watch {

void RedirectToFaultRaise(CONTEXT& context) {
    context.Esp -= sizeof(DWORD);
    *reinterpret_cast<DWORD*>(context.Esp) = context.Eip + 1;
    context.Eip = reinterpret_cast<DWORD>(&CorvaneFaultTrampoline);
}

void ContextTraceStart(const CONTEXT& context, const void*& first, const void*& start) {
    first = reinterpret_cast<const void*>(context.Eip);
    start = reinterpret_cast<const void*>(context.Eip != 0 ? context.Ebp : context.Esp);
}

}  // namespace cm::watch
