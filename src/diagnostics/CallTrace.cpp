// Call traces: the entry buffer, call-instruction recognition and the text form. The stack walk
// itself is per architecture (CallTrace_x86.cpp, CallTrace_x64.cpp).
#include "diagnostics/CallTrace.h"

#include "cm/Objects/Strings.h"
#include "cm/Objects/WinApi.h"
#include "diagnostics/CallTraceMemory.h"
#include "diagnostics/Logs.h"

// The fixed routine the trace's anchor names. Kept out of line and apart from every other routine
// so that its address is one stable point of the module's map.
extern "C" __attribute__((noinline, used)) void CorvaneLogsCallTraceAnchor() { __asm__ volatile(""); }

namespace cm {

namespace {

// The bytes examined around a candidate return address v: from v - 6 up to v + 4.
constexpr TCodeAddress BytesBefore = 6;
constexpr TCodeAddress BytesAfter = 4;

bool InRange(uint8_t value, uint8_t low, uint8_t high) { return value >= low && value <= high; }

}  // namespace

bool TReadableMemory::Check(TCodeAddress address, TCodeAddress size) {
    for (TCodeAddress page = address & ~(PageSize - 1); page < address + size; page += PageSize) {
        if (!PageReadable(page)) return false;
        if (page + PageSize < page) break;  // top of the address space
    }
    return true;
}

bool TReadableMemory::Describe(TCodeAddress page) {
    if (page >= RegionStart && page - RegionStart < RegionSize) return true;
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(page), &info, sizeof info) == 0) return false;
    RegionStart = reinterpret_cast<TCodeAddress>(info.BaseAddress);
    RegionSize = info.RegionSize;
    const bool committed = info.State == MEM_COMMIT && info.Protect != 0;
    RegionReadable = committed && (info.Protect & PAGE_NOACCESS) == 0 && (info.Protect & PAGE_GUARD) == 0;
    RegionExecutable = RegionReadable && (info.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                                                          PAGE_EXECUTE_WRITECOPY)) != 0;
    return true;
}

bool TReadableMemory::PageReadable(TCodeAddress page) { return Describe(page) && RegionReadable; }

bool TReadableMemory::PageExecutable(TCodeAddress page) { return Describe(page) && RegionExecutable; }

namespace {

// The module that holds address, or null.
HMODULE ModuleAt(TCodeAddress address, DWORD flags) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | flags, reinterpret_cast<LPCSTR>(address),
                              &module))
        return nullptr;
    return module;
}

}  // namespace

bool TReadableMemory::CopyCode(TCodeAddress address, uint8_t* bytes, size_t size) {
    // Within one module, held loaded for the copy (another thread may free it meanwhile): read
    // directly. This is the common case and costs no call into the system's kernel; under Wine
    // a copy through the system is a round trip to its server that stops and inspects this
    // process from outside, which made the traces of a busy program tens of times slower.
    if (HMODULE module = ModuleAt(address, 0)) {
        const bool inside = ModuleAt(address + size - 1, GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) == module;
        if (inside)
            for (size_t i = 0; i < size; ++i) bytes[i] = reinterpret_cast<const volatile uint8_t*>(address)[i];
        ::FreeLibrary(module);
        if (inside) return true;
    }
    // Elsewhere (code made at run time, a range across modules): copied through the system, so
    // that a page unmapped by another thread since the check fails the copy rather than faulting
    // this thread.
    SIZE_T copied = 0;
    return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), bytes, size, &copied) &&
           copied == size;
}

TCodeAddress TReadableMemory::CallSite(TCodeAddress v, bool& unreadable) {
    unreadable = false;
    if (v < BytesBefore || v > ~static_cast<TCodeAddress>(0) - BytesAfter) return 0;
    // Checked before anything is read: the copy below costs a call into the system (under Wine a
    // round trip to its server), and most candidates of a stack scan point into data.
    if (!PageExecutable((v - 1) & ~(PageSize - 1))) return 0;
    if (!Check(v - BytesBefore, BytesBefore + BytesAfter)) return 0;
    uint8_t bytes[BytesBefore + BytesAfter];
    if (!CopyCode(v - BytesBefore, bytes, sizeof bytes)) {
        unreadable = true;
        return 0;
    }
    uint8_t before[BytesBefore];
    for (TCodeAddress k = 1; k <= BytesBefore; ++k) before[k - 1] = bytes[BytesBefore - k];
    return CallSiteOf(v, before);
}

TCodeAddress ReadCallSite(TCodeAddress returnAddress) {
    TReadableMemory memory;
    bool unreadable = false;
    return memory.CallSite(returnAddress, unreadable);
}

void TCallTrace::Add(TCodeAddress address) {
    if (Items.size() >= static_cast<size_t>(CallTraceMaxEntries)) return;
    if (!Items.empty() && Items.back().Address == address && Items.back().Count < CallTraceMaxRepeat) {
        ++Items.back().Count;
        return;
    }
    Items.push_back({address, 1});
}

TCodeAddress CallSiteOf(TCodeAddress v, const uint8_t before[6]) {
    auto B = [&](int k) { return before[k - 1]; };
    const uint8_t b1 = B(1);
    if (B(2) == 0xFF && (InRange(b1, 0x10, 0x14) || InRange(b1, 0x16, 0x1C) || InRange(b1, 0x1E, 0x1F) ||
                         InRange(b1, 0xD0, 0xDF)))
        return v - 2;  // call through a register or a register-addressed pointer
    if (B(6) == 0xFF && (B(5) == 0x15 || B(5) == 0x1D)) return v - 6;  // call through an absolute address
    if (B(3) == 0xFF && InRange(B(2), 0x50, 0x5F)) return v - 3;      // call with an 8-bit displacement
    if (B(5) == 0xE8) return v - 5;                                     // direct relative call
    if (B(6) == 0xFF && InRange(B(5), 0x90, 0x9F)) return v - 6;      // call with a 32-bit displacement
    return 0;
}

std::string FormatCallTrace(TCodeAddress anchor, const std::vector<TCallTraceEntry>& entries) {
    std::string text = "($CALLTRACE:" + HexDigits(anchor, CallTraceAddressDigits) + ":";
    std::string previous(CallTraceAddressDigits, '0');
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) text += ',';
        const std::string digits = HexDigits(entries[i].Address, CallTraceAddressDigits);
        size_t shared = 0;
        while (shared < digits.size() && digits[shared] == previous[shared]) ++shared;
        text += digits.substr(shared);
        if (entries[i].Count > 1) text += "*" + std::to_string(entries[i].Count);
        previous = digits;
    }
    return text + ")";
}

TCodeAddress CallTraceAnchor() { return reinterpret_cast<TCodeAddress>(&CorvaneLogsCallTraceAnchor); }

std::string CallTraceText(const void* first, const void* start) {
    try {
        TCallTrace trace;
        if (first != nullptr) trace.Add(reinterpret_cast<TCodeAddress>(first));
        trace.ScanStack(start);
        return FormatCallTrace(CallTraceAnchor(), trace.Entries());
    } catch (const std::exception& e) {
        return std::string("Failed to generate call trace: ") + e.what();
    }
}

}  // namespace cm
