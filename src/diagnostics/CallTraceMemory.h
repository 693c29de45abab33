// Reading candidate call sites of a call trace without faulting (Windows; used by both stack
// walks of diagnostics/CallTrace).
#pragma once

#include "diagnostics/CallTrace.h"

namespace cm {

// Remembers the last region the system described, since successive candidates often fall into
// the same module's code.
class TReadableMemory {
public:
    // True when every page of [address, address + size) is committed with a protection that
    // allows reading (not no-access, not a guard page).
    bool Check(TCodeAddress address, TCodeAddress size);
    // The call site before return address v (CallSiteOf over the bytes read through the system),
    // or 0. A return address lies just after a call instruction in executable memory: a value
    // whose preceding byte is not in executable memory (a pointer into data or the stack, most
    // words of a stack) is no return address, whatever bytes precede it, and is not read at all.
    // unreadable is set when the copy failed although the pages looked readable: the memory
    // changed under the walk.
    TCodeAddress CallSite(TCodeAddress v, bool& unreadable);

private:
    static constexpr TCodeAddress PageSize = 0x1000;
    // Describes the region holding page (one query per region met, kept for the next pages).
    bool Describe(TCodeAddress page);
    bool PageReadable(TCodeAddress page);
    bool PageExecutable(TCodeAddress page);
    // Copies size bytes at address (checked readable); false when the memory went away meanwhile.
    static bool CopyCode(TCodeAddress address, uint8_t* bytes, size_t size);

    TCodeAddress RegionStart = 0;
    TCodeAddress RegionSize = 0;
    bool RegionReadable = false;
    bool RegionExecutable = false;
};

}  // namespace cm
