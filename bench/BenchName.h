// Every BENCH line names the build it measured: "BENCH <name>[<build>] <value> <target>", the
// build being win32, win64 or host (CORVANE_BENCH_BUILD, set by bench/CMakeLists.txt).
#pragma once

#include <string>

#ifndef CORVANE_BENCH_BUILD
#error "CORVANE_BENCH_BUILD is set by bench/CMakeLists.txt"
#endif

inline std::string BenchName(const std::string& name) { return name + "[" CORVANE_BENCH_BUILD "]"; }
