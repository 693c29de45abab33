// Call traces from a scan of the current thread's stack.
#include "diagnostics/CallTrace.h"

#include "cm/Objects/Strings.h"
#include "cm/Objects/WinApi.h"
#include "diagnostics/Logs.h"

// The fixed routine the trace's anchor names. Kept out of line and apart from every other routine
// so that its address is one stable point of the module's map.
extern "C" __attribute__((noinline, used)) void CorvaneLogsCallTraceAnchor() { __asm__ volatile(""); }

namespace cm {

namespace {

constexpr uint32_t PageSize = 0x1000;
// The bytes examined around a candidate return address v: from v - 6 up to v + 4.
constexpr uint32_t BytesBefore = 6;
constexpr uint32_t BytesAfter = 4;

// The block's own linear address is kept at offset 0x18 of the FS segment on 32-bit x86 (read
// directly: the compiler's intrinsic for it trips its own array-bounds check).
const NT_TIB* CurrentThreadInformationBlock() {
    const NT_TIB* tib;
    __asm__("movl %%fs:0x18, %0" : "=r"(tib));
    return tib;
}

bool InRange(uint8_t value, uint8_t low, uint8_t high) { return value >= low && value <= high; }

// Remembers the last region the system described, since successive candidates often fall into
// the same module's code.
class TReadableMemory {
public:
    // True when every page of [address, address + size) is committed with a protection that
    // allows reading (not no-access, not a guard page).
    bool Check(uint32_t address, uint32_t size) {
        for (uint32_t page = address & ~(PageSize - 1); page < address + size; page += PageSize) {
            if (!PageReadable(page)) return false;
            if (page + PageSize < page) break;  // top of the address space
        }
        return true;
    }

private:
    bool PageReadable(uint32_t page) {
        if (!(page >= RegionStart && page - RegionStart < RegionSize)) {
            MEMORY_BASIC_INFORMATION info{};
            if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(page)), &info, sizeof info) == 0)
                return false;
            RegionStart = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.BaseAddress));
            RegionSize = static_cast<uint32_t>(info.RegionSize);
            RegionReadable = info.State == MEM_COMMIT && info.Protect != 0 && (info.Protect & PAGE_NOACCESS) == 0 &&
                             (info.Protect & PAGE_GUARD) == 0;
        }
        return RegionReadable;
    }

    uint32_t RegionStart = 0;
    uint32_t RegionSize = 0;
    bool RegionReadable = false;
};

}  // namespace

void TCallTrace::Add(uint32_t address) {
    if (Items.size() >= static_cast<size_t>(CallTraceMaxEntries)) return;
    if (!Items.empty() && Items.back().Address == address && Items.back().Count < CallTraceMaxRepeat) {
        ++Items.back().Count;
        return;
    }
    Items.push_back({address, 1});
}

uint32_t CallSiteOf(uint32_t v, const uint8_t before[6]) {
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

void TCallTrace::ScanStack(const void* start) {
    // The thread information block gives the stack's committed bounds: reading any word between
    // them cannot fault.
    const NT_TIB* tib = CurrentThreadInformationBlock();
    const uintptr_t limit = reinterpret_cast<uintptr_t>(tib->StackLimit);
    const uintptr_t base = reinterpret_cast<uintptr_t>(tib->StackBase);
    uintptr_t position = start != nullptr ? reinterpret_cast<uintptr_t>(start)
                                          : reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (position < limit || position >= base) position = limit;
    position &= ~static_cast<uintptr_t>(3);

    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const uint32_t lowest = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(system.lpMinimumApplicationAddress));
    TReadableMemory memory;
    const HANDLE self = GetCurrentProcess();

    for (uintptr_t p = position; p + sizeof(uint32_t) <= base; p += sizeof(uint32_t)) {
        if (Items.size() >= static_cast<size_t>(CallTraceMaxEntries)) break;
        const uint32_t v = *reinterpret_cast<const volatile uint32_t*>(p);
        if (v < lowest || v < BytesBefore || v > UINT32_MAX - BytesAfter) continue;
        if (!memory.Check(v - BytesBefore, BytesBefore + BytesAfter)) continue;
        // Copied through the system: a page unmapped by another thread since the check makes the
        // copy fail rather than fault this thread.
        uint8_t bytes[BytesBefore + BytesAfter];
        SIZE_T copied = 0;
        if (!ReadProcessMemory(self, reinterpret_cast<const void*>(static_cast<uintptr_t>(v - BytesBefore)), bytes,
                               sizeof bytes, &copied) ||
            copied != sizeof bytes)
            break;
        uint8_t before[BytesBefore];
        for (uint32_t k = 1; k <= BytesBefore; ++k) before[k - 1] = bytes[BytesBefore - k];
        const uint32_t site = CallSiteOf(v, before);
        if (site != 0) Add(site);
    }
}

std::string FormatCallTrace(uint32_t anchor, const std::vector<TCallTraceEntry>& entries) {
    std::string text = "($CALLTRACE:" + HexDigits(anchor, 8) + ":";
    std::string previous = "00000000";
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) text += ',';
        const std::string digits = HexDigits(entries[i].Address, 8);
        size_t shared = 0;
        while (shared < digits.size() && digits[shared] == previous[shared]) ++shared;
        text += digits.substr(shared);
        if (entries[i].Count > 1) text += "*" + std::to_string(entries[i].Count);
        previous = digits;
    }
    return text + ")";
}

uint32_t CallTraceAnchor() {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&CorvaneLogsCallTraceAnchor));
}

std::string CallTraceText(const void* first, const void* start) {
    try {
        TCallTrace trace;
        if (first != nullptr) trace.Add(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(first)));
        trace.ScanStack(start);
        return FormatCallTrace(CallTraceAnchor(), trace.Entries());
    } catch (const std::exception& e) {
        return std::string("Failed to generate call trace: ") + e.what();
    }
}

}  // namespace cm
