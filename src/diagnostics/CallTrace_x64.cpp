// The x64 stack walk of the call trace: the system's unwinder, frame by frame. Every x64 function
// that is not a leaf carries unwind data, so the walk finds exactly the active calls, where a scan
// of the stack's words (as on x86) would also report stale return addresses.
#include "cm/Objects/Architecture.h"
#include "cm/Objects/WinApi.h"
#include "diagnostics/CallTrace.h"
#include "diagnostics/Logs.h"

namespace cm {

void TCallTrace::ScanStack(const void* start) {
    const NT_TIB* tib = arch::CurrentThreadBlock();
    const uintptr_t limit = reinterpret_cast<uintptr_t>(tib->StackLimit);
    const uintptr_t base = reinterpret_cast<uintptr_t>(tib->StackBase);
    uintptr_t from = reinterpret_cast<uintptr_t>(start);
    if (start != nullptr && (from < limit || from >= base)) from = limit;  // outside: the whole stack

    CONTEXT context{};
    RtlCaptureContext(&context);
    // Bounded by the stack's size as well as by the entry limit: a corrupt frame cannot loop.
    for (size_t frame = 0; frame < (base - limit) / sizeof(void*); ++frame) {
        if (Items.size() >= static_cast<size_t>(CallTraceMaxEntries)) break;
        const DWORD64 pc = context.Rip;
        if (pc == 0) break;
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(pc, &imageBase, nullptr);
        // Only a leaf function may lack unwind data, and no frame here is a leaf: the first is this
        // function's own, every other one made a call. Code without unwind data (generated, or
        // written without unwind directives) leaves its frame's layout unknown: the word at its
        // stack pointer need not be a return address.
        if (function == nullptr) break;
        void* handlerData = nullptr;
        DWORD64 establisherFrame = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, pc, function, &context, &handlerData, &establisherFrame,
                         nullptr);
        if (context.Rip == 0 || context.Rsp < limit || context.Rsp >= base) break;
        // The frame returned to: recorded from the first one whose stack lies at or above start.
        if (start != nullptr && context.Rsp <= from) continue;
        const TCodeAddress returnAddress = context.Rip;
        const TCodeAddress site = ReadCallSite(returnAddress);
        Add(site != 0 ? site : returnAddress);
    }
}

}  // namespace cm
