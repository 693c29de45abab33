// The processor-dependent seam: routines of separately built libraries called through
// arch::CallLibraryRoutine, whichever convention they were built with. On x86 a __stdcall routine
// pops its arguments and a __cdecl one leaves them: called the wrong way, the caller's stack
// pointer is off by the argument bytes after every call. On x64 both are one convention and the
// stub only calls through (this test checks the arguments and results there).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "cm/Objects/Architecture.h"

namespace cm::arch {
namespace {

// Results that depend on every argument and its place.
extern "C" {
__attribute__((noinline)) int __stdcall StdcallNone() { return 7; }
__attribute__((noinline)) int __stdcall StdcallOne(int a) { return 3 * a; }
__attribute__((noinline)) int __stdcall StdcallFive(int a, int b, int c, int d, int e) {
    return a + 2 * b + 3 * c + 4 * d + 5 * e;
}
__attribute__((noinline)) int __cdecl CdeclNone() { return 8; }
__attribute__((noinline)) int __cdecl CdeclOne(int a) { return 5 * a; }
__attribute__((noinline)) int __cdecl CdeclFive(int a, int b, int c, int d, int e) {
    return 5 * a + 4 * b + 3 * c + 2 * d + e;
}
__attribute__((noinline)) const char* __stdcall StdcallPointer(const char* text, int index) { return text + index; }
}

TEST(Architecture, LibraryRoutinesOfEitherConventionAreCalledRightly) {
    static const char text[] = "abcdef";
    struct Case {
        const char* Name;
        const void* Routine;
        std::vector<uintptr_t> Arguments;
        uintptr_t Expected;
    };
    const Case cases[] = {
        {"stdcall, none", reinterpret_cast<const void*>(&StdcallNone), {}, 7},
        {"stdcall, one", reinterpret_cast<const void*>(&StdcallOne), {11}, 33},
        {"stdcall, five", reinterpret_cast<const void*>(&StdcallFive), {1, 2, 3, 4, 5}, 55},
        {"cdecl, none", reinterpret_cast<const void*>(&CdeclNone), {}, 8},
        {"cdecl, one", reinterpret_cast<const void*>(&CdeclOne), {11}, 55},
        {"cdecl, five", reinterpret_cast<const void*>(&CdeclFive), {1, 2, 3, 4, 5}, 35},
        {"stdcall, pointer result", reinterpret_cast<const void*>(&StdcallPointer),
         {reinterpret_cast<uintptr_t>(text), 3}, reinterpret_cast<uintptr_t>(text + 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        // Locals of the caller that an unbalanced stack would overwrite or move under it.
        volatile uint32_t guard[8] = {0xC0DE0001, 0xC0DE0002, 0xC0DE0003, 0xC0DE0004,
                                      0xC0DE0005, 0xC0DE0006, 0xC0DE0007, 0xC0DE0008};
        uintptr_t result = 0;
        for (int i = 0; i < 1000; ++i) {
            const std::vector<uintptr_t>& a = c.Arguments;
            switch (a.size()) {
                case 0: result = CallLibraryRoutine(c.Routine, {}); break;
                case 1: result = CallLibraryRoutine(c.Routine, {a[0]}); break;
                case 2: result = CallLibraryRoutine(c.Routine, {a[0], a[1]}); break;
                default: result = CallLibraryRoutine(c.Routine, {a[0], a[1], a[2], a[3], a[4]}); break;
            }
            if (result != c.Expected) break;
        }
        if (c.Expected <= UINT32_MAX) {
            EXPECT_EQ(static_cast<uint32_t>(result), static_cast<uint32_t>(c.Expected));
        } else {
            EXPECT_EQ(result, c.Expected);
        }
        for (int i = 0; i < 8; ++i) EXPECT_EQ(guard[i], 0xC0DE0001u + static_cast<uint32_t>(i));
    }
}

}  // namespace
}  // namespace cm::arch
