# Cross-compilation to 64-bit Windows (x64) with mingw-w64, posix thread model: the sibling build
# for Windows installations without the 32-bit subsystem.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
