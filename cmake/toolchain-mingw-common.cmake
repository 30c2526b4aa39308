# Shared by the two Windows toolchains: mingw-w64 with posix threads (for std::thread), windres,
# static linking, and Wine as the cross-compiling emulator. The including file sets
# TOOLCHAIN_PREFIX, CMAKE_SYSTEM_PROCESSOR and TACTRA_WINE_NAMES.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLLs beside the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The Wine loader of this bitness: Debian keeps the 64-bit one out of PATH.
find_program(WINE_PROGRAM NAMES ${TACTRA_WINE_NAMES} PATHS /usr/lib/wine /usr/lib64/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
