// Call traces: the call-instruction patterns, the entry buffer, the text form, a live scan and
// where the x64 walk stops.
#include "diagnostics/CallTrace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cm/Objects/Strings.h"
#include "cm/Objects/WinApi.h"
#include "diagnostics/Logs.h"

#if defined(__x86_64__)
std::string gProbeText;  // the trace CallTraceProbe made
extern "C" __attribute__((noinline, used)) void CallTraceProbe() {
    gProbeText = cm::CallTraceText(nullptr, nullptr);
    __asm__ volatile("" ::: "memory");
}
// A routine written without unwind directives, so without unwind data, that calls CallTraceProbe.
// The word at its stack pointer during the call is no return address (0x1234): nothing tells a
// walker what such a routine keeps there.
extern "C" void CallTraceCallerWithoutUnwindData();
extern "C" const char CallTraceCallerWithoutUnwindDataReturn[];
__asm__(
    ".text\n"
    ".globl CallTraceCallerWithoutUnwindData\n"
    "CallTraceCallerWithoutUnwindData:\n"
    "    subq $40, %rsp\n"
    "    movq $0x1234, (%rsp)\n"
    "    call CallTraceProbe\n"
    ".globl CallTraceCallerWithoutUnwindDataReturn\n"
    "CallTraceCallerWithoutUnwindDataReturn:\n"
    "    addq $40, %rsp\n"
    "    ret\n");
#endif

namespace cm {
namespace {

TEST(CallTraceTest, CallSitesByInstructionForm) {
    struct Case {
        const char* form;
        std::vector<uint8_t> bytes;  // the bytes just before the return address, oldest first
        uint32_t site;               // offset back from the return address, 0: none
    };
    const Case cases[] = {
        {"call eax", {0, 0, 0, 0, 0xFF, 0xD0}, 2},
        {"call edi", {0, 0, 0, 0, 0xFF, 0xD7}, 2},
        {"call [eax]", {0, 0, 0, 0, 0xFF, 0x10}, 2},
        {"call [esi]", {0, 0, 0, 0, 0xFF, 0x16}, 2},
        {"[ebp] needs a displacement", {0, 0, 0, 0, 0xFF, 0x15}, 0},
        {"[abs32]", {0xFF, 0x15, 1, 2, 3, 4}, 6},
        {"[abs32] far form", {0xFF, 0x1D, 1, 2, 3, 4}, 6},
        {"[eax+8]", {0, 0, 0, 0xFF, 0x50, 0x08}, 3},
        {"[edi+8]", {0, 0, 0, 0xFF, 0x57, 0x08}, 3},
        {"rel32", {0, 0xE8, 1, 2, 3, 4}, 5},
        {"[eax+disp32]", {0xFF, 0x90, 1, 2, 3, 4}, 6},
        {"[edi+disp32]", {0xFF, 0x97, 1, 2, 3, 4}, 6},
        {"no call", {0x90, 0x90, 0x90, 0x90, 0x90, 0xC3}, 0},
        {"jmp eax", {0, 0, 0, 0, 0xFF, 0xE0}, 0},
    };
    constexpr TCodeAddress kReturn = 0x00401234;
    for (const Case& c : cases) {
        uint8_t before[6];
        for (int k = 1; k <= 6; ++k) before[k - 1] = c.bytes[6 - k];
        EXPECT_EQ(CallSiteOf(kReturn, before), c.site == 0 ? 0 : kReturn - c.site) << c.form;
    }
}

// A stack holds many words that point into data; bytes there that happen to look like a call make
// no call site. The same bytes in executable memory do.
TEST(CallTraceTest, CallShapedBytesAreACallSiteOnlyInExecutableMemory) {
    const uint8_t bytes[] = {0x90, 0x90, 0x90, 0xE8, 0x01, 0x02, 0x03, 0x04, 0x90, 0x90, 0x90, 0x90};
    constexpr size_t After = 8;  // just after the direct call at offset 3
    struct Case {
        const char* memory;
        DWORD protection;
        bool callSite;
    };
    const Case cases[] = {
        {"read-write data", PAGE_READWRITE, false},
        {"read-only data", PAGE_READONLY, false},
        {"code", PAGE_EXECUTE_READ, true},
        {"writable code", PAGE_EXECUTE_READWRITE, true},
    };
    for (const Case& c : cases) {
        auto* page = static_cast<uint8_t*>(::VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        ASSERT_NE(page, nullptr);
        std::memcpy(page, bytes, sizeof bytes);
        DWORD previous = 0;
        ASSERT_TRUE(::VirtualProtect(page, 0x1000, c.protection, &previous));
        const auto returnAddress = reinterpret_cast<TCodeAddress>(page + After);
        EXPECT_EQ(ReadCallSite(returnAddress), c.callSite ? returnAddress - 5 : 0) << c.memory;
        ::VirtualFree(page, 0, MEM_RELEASE);
    }
}

TEST(CallTraceTest, RepeatsAreCountedAndTheBufferIsBounded) {
    TCallTrace trace;
    for (uint32_t i = 0; i < CallTraceMaxRepeat + 1; ++i) trace.Add(0x401000);
    trace.Add(0x402000);
    trace.Add(0x401000);
    ASSERT_EQ(trace.Entries().size(), 4u);
    EXPECT_EQ(trace.Entries()[0].Count, CallTraceMaxRepeat);
    EXPECT_EQ(trace.Entries()[1].Count, 1u);
    EXPECT_EQ(trace.Entries()[1].Address, 0x401000u);
    EXPECT_EQ(trace.Entries()[3].Address, 0x401000u);

    TCallTrace full;
    for (uint32_t i = 0; i < 200; ++i) full.Add(0x400000 + i);
    ASSERT_EQ(full.Entries().size(), static_cast<size_t>(CallTraceMaxEntries));
    EXPECT_EQ(full.Entries().back().Address, 0x400000u + CallTraceMaxEntries - 1);
}

TEST(CallTraceTest, TextLeavesOutSharedLeadingDigits) {
    struct Case {
        std::vector<TCallTraceEntry> entries;
        const char* text;  // after the anchor, which has the architecture's width
    };
    const Case cases[] = {
        {{}, ")"},
        {{{0x00412A30, 3}, {0x00413B10, 1}}, "412A30*3,3B10)"},
        {{{0x7C801234, 1}, {0x00401000, 2}, {0x00401000, 1}}, "7C801234,00401000*2,)"},
    };
    const std::string anchor = sizeof(TCodeAddress) == 4 ? "0040ABCD" : "000000000040ABCD";
    for (const Case& c : cases)
        EXPECT_EQ(FormatCallTrace(0x0040ABCD, c.entries), "($CALLTRACE:" + anchor + ":" + c.text);
    if constexpr (sizeof(TCodeAddress) == 8) {
        // Addresses above 4 GB keep all their digits.
        const auto high = static_cast<TCodeAddress>(UINT64_C(0x00007FF612345678));
        EXPECT_EQ(FormatCallTrace(0x0040ABCD, {{high, 1}, {high - 0x678, 1}}),
                  "($CALLTRACE:" + anchor + ":7FF612345678,000)");
    }
}

// The entries of a trace text, with the left-out digits restored.
std::vector<TCodeAddress> Decode(const std::string& text) {
    std::vector<TCodeAddress> addresses;
    const size_t start = text.find(':', text.find(':') + 1) + 1;
    std::string previous(CallTraceAddressDigits, '0');
    size_t at = start;
    while (at < text.size() - 1) {
        size_t end = text.find_first_of(",)", at);
        std::string item = text.substr(at, end - at);
        item = item.substr(0, item.find('*'));
        const std::string full = previous.substr(0, CallTraceAddressDigits - item.size()) + item;
        addresses.push_back(static_cast<TCodeAddress>(std::stoull(full, nullptr, 16)));
        previous = full;
        at = end + 1;
    }
    return addresses;
}

TCodeAddress gReturnAddress = 0;

__attribute__((noinline)) std::string TraceFromHere(const void* first, const void* start = nullptr) {
    gReturnAddress = reinterpret_cast<TCodeAddress>(__builtin_return_address(0));
    std::string text = CallTraceText(first, start);
    __asm__ volatile("" ::: "memory");  // keeps the call above from becoming a tail call
    return text;
}

TEST(CallTraceTest, LiveScanFindsTheCallers) {
    const std::string text = TraceFromHere(reinterpret_cast<const void*>(0x00412A30));
    ASSERT_EQ(text.rfind("($CALLTRACE:" + HexDigits(CallTraceAnchor(), CallTraceAddressDigits) + ":", 0), 0u) << text;
    const std::vector<TCodeAddress> addresses = Decode(text);
    ASSERT_GE(addresses.size(), 2u) << text;
    EXPECT_EQ(addresses[0], 0x00412A30u);
    // The direct call to TraceFromHere in this test is one of the entries.
    bool found = false;
    for (TCodeAddress a : addresses) found = found || a == gReturnAddress - 5;
    EXPECT_TRUE(found) << text;
    // A start outside the stack walks from its limit, which finds at least as much from the same depth.
    EXPECT_GE(Decode(TraceFromHere(nullptr, reinterpret_cast<const void*>(0x10))).size(), addresses.size() - 1);
}

// The x64 walk follows the unwind data: at a frame without any it stops, after the call made from
// that frame, rather than taking the words it finds there for return addresses.
TEST(CallTraceTest, AFrameWithoutUnwindDataEndsTheWalk) {
#if defined(__x86_64__)
    CallTraceCallerWithoutUnwindData();
    const std::vector<TCodeAddress> addresses = Decode(gProbeText);
    ASSERT_GE(addresses.size(), 2u) << gProbeText;
    EXPECT_EQ(addresses.back(), reinterpret_cast<TCodeAddress>(CallTraceCallerWithoutUnwindDataReturn) - 5)
        << gProbeText;
#else
    GTEST_SKIP() << "the x86 walk scans every stack word and reads no unwind data";
#endif
}

}  // namespace
}  // namespace cm
