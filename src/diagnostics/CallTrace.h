// Call traces: the call sites found on the current thread's stack, in the compact text form the
// log and the exception reports carry. Win32 (32-bit x86) only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cm {

struct TCallTraceEntry {
    uint32_t Address;  // the call instruction, not the return address
    uint32_t Count;    // how many times in a row it was found
};

// At most CallTraceMaxEntries entries; a repeat of the newest address counts up to CallTraceMaxRepeat.
class TCallTrace {
public:
    // Full: nothing happens. The newest entry's address again: its count grows while below the
    // repeat limit, else a new entry starts.
    void Add(uint32_t address);
    // Scans the current thread's stack upward from start (when inside the stack, else from the
    // current position when start is null, else from the stack limit) to its base, adding the call
    // site of every word that is a return address: the word must point into readable committed
    // memory whose preceding bytes hold a call instruction. Reads through the system, so that a
    // page freed meanwhile ends the scan instead of faulting.
    void ScanStack(const void* start);
    const std::vector<TCallTraceEntry>& Entries() const { return Items; }

private:
    std::vector<TCallTraceEntry> Items;
};

// "($CALLTRACE:" + anchor as 8 hex digits + ":" + entries separated by "," + ")". Each entry is
// its address as 8 upper-case hex digits without the leading characters it shares with the
// previous entry's form ("00000000" before the first), then "*" + count when the count is above 1.
std::string FormatCallTrace(uint32_t anchor, const std::vector<TCallTraceEntry>& entries);

// The address of the fixed empty routine of the log module against which readers relocate
// the addresses of a trace.
uint32_t CallTraceAnchor();

// The call-site address for the return address v given the bytes before it (before[k - 1] is the
// byte at v - k, k = 1..6), or 0 when no call instruction ends at v.
uint32_t CallSiteOf(uint32_t returnAddress, const uint8_t before[6]);

}  // namespace cm
