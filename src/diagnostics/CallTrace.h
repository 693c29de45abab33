// Call traces: the call sites found on the current thread's stack, in the compact text form the
// log and the exception reports carry. Windows only; the stack walk is per architecture
// (CallTrace_x86.cpp scans the stack for return addresses, CallTrace_x64.cpp asks the system's
// unwinder).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cm {

// A code address: 32 bits on x86, 64 on x64. Printed with CallTraceAddressDigits hex digits.
using TCodeAddress = uintptr_t;
constexpr int CallTraceAddressDigits = static_cast<int>(2 * sizeof(TCodeAddress));

struct TCallTraceEntry {
    TCodeAddress Address;  // the call instruction, not the return address
    uint32_t Count;        // how many times in a row it was found
};

// At most CallTraceMaxEntries entries; a repeat of the newest address counts up to CallTraceMaxRepeat.
class TCallTrace {
public:
    // Full: nothing happens. The newest entry's address again: its count grows while below the
    // repeat limit, else a new entry starts.
    void Add(TCodeAddress address);
    // Adds the call sites of the current thread's stack, from start (a stack position: when inside
    // the stack, else from the current position when start is null, else from the stack limit) to
    // its base.
    //  x86: every word that is a return address: the word must point into readable committed
    //       memory whose preceding bytes hold a call instruction. Reads through the system, so that
    //       a page freed meanwhile ends the scan instead of faulting.
    //  x64: the frames the system's unwinder finds (functions without unwind data end the walk),
    //       each as the call instruction before its return address where one is recognised.
    void ScanStack(const void* start);
    const std::vector<TCallTraceEntry>& Entries() const { return Items; }

private:
    std::vector<TCallTraceEntry> Items;
};

// "($CALLTRACE:" + anchor as hex digits + ":" + entries separated by "," + ")". Each entry is its
// address as upper-case hex digits without the leading characters it shares with the previous
// entry's form (all zeros before the first), then "*" + count when the count is above 1. Addresses
// have CallTraceAddressDigits digits: 8 on x86, 16 on x64.
std::string FormatCallTrace(TCodeAddress anchor, const std::vector<TCallTraceEntry>& entries);

// The address of the fixed empty routine of the log module against which readers relocate
// the addresses of a trace.
TCodeAddress CallTraceAnchor();

// The call-site address for the return address v given the bytes before it (before[k - 1] is the
// byte at v - k, k = 1..6), or 0 when no call instruction ends at v.
TCodeAddress CallSiteOf(TCodeAddress returnAddress, const uint8_t before[6]);

// The call site before returnAddress when readable memory there holds a recognised call
// instruction (read through the system: a page freed meanwhile gives 0, never a fault), else 0.
TCodeAddress ReadCallSite(TCodeAddress returnAddress);

}  // namespace cm
