// The per-thread switch of exception reports.
#include "cm/Objects/ExceptionReports.h"

#include <cstdint>

#include "cm/Objects/WinApi.h"

namespace cm {

namespace {

// A system thread-local slot rather than a compiler thread_local: the exception watch reads it
// from inside the system's exception dispatch, and the slot needs no runtime support there.
DWORD CounterSlot() {
    static const DWORD slot = ::TlsAlloc();
    return slot;
}

intptr_t Counter() {
    const DWORD lastError = ::GetLastError();  // TlsGetValue clears it; callers may be reporting it
    const auto value = reinterpret_cast<intptr_t>(::TlsGetValue(CounterSlot()));
    ::SetLastError(lastError);
    return value;
}

void AddToCounter(intptr_t delta) {
    const DWORD lastError = ::GetLastError();
    ::TlsSetValue(CounterSlot(), reinterpret_cast<void*>(Counter() + delta));
    ::SetLastError(lastError);
}

}  // namespace

void ExceptionReportsOff() noexcept { AddToCounter(1); }

void ExceptionReportsOn() noexcept { AddToCounter(-1); }

int NoExceptionReports() noexcept { return static_cast<int>(Counter()); }

}  // namespace cm
