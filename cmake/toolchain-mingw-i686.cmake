# Cross-compilation to 32-bit Windows (x86) with mingw-w64, posix thread model: the shipped build.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
