# Shared by both mingw-w64 toolchain files: MINGW_PREFIX names the target triple.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   /usr/bin/${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/${MINGW_PREFIX}-windres)
set(CMAKE_AR           /usr/bin/${MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable imports only system DLLs: the language runtimes are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test executables run under Wine through this wrapper (private prefix in the build tree; the
# wrapper picks the Wine loader that fits the build's architecture).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
