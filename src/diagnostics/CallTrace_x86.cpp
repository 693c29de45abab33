// The x86 stack walk of the call trace: a scan of every stack word for return addresses (frames
// of x86 code need not keep a frame chain, and there is no unwind data to follow).
#include "cm/Objects/Architecture.h"
#include "cm/Objects/WinApi.h"
#include "diagnostics/CallTrace.h"
#include "diagnostics/CallTraceMemory.h"
#include "diagnostics/Logs.h"

namespace cm {

void TCallTrace::ScanStack(const void* start) {
    // The thread information block gives the stack's committed bounds: reading any word between
    // them cannot fault.
    const NT_TIB* tib = arch::CurrentThreadBlock();
    const uintptr_t limit = reinterpret_cast<uintptr_t>(tib->StackLimit);
    const uintptr_t base = reinterpret_cast<uintptr_t>(tib->StackBase);
    uintptr_t position = start != nullptr ? reinterpret_cast<uintptr_t>(start)
                                          : reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (position < limit || position >= base) position = limit;
    position &= ~static_cast<uintptr_t>(3);

    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const uintptr_t lowest = reinterpret_cast<uintptr_t>(system.lpMinimumApplicationAddress);
    TReadableMemory memory;

    for (uintptr_t p = position; p + sizeof(uint32_t) <= base; p += sizeof(uint32_t)) {
        if (Items.size() >= static_cast<size_t>(CallTraceMaxEntries)) break;
        const uint32_t v = *reinterpret_cast<const volatile uint32_t*>(p);
        if (v < lowest) continue;
        bool unreadable = false;
        const TCodeAddress site = memory.CallSite(v, unreadable);
        if (unreadable) break;
        if (site != 0) Add(site);
    }
}

}  // namespace cm
